// The command line, read by CLI11: one subcommand per command, each with the
// options that apply to it. CLI11 finds the options and their values and
// writes the help; the values are checked here, so that every refusal names
// the option and what it takes, in one line.
#include <CLI/CLI.hpp>

#include <cerrno>
#include <cstring>
#include <fstream>
#include <sstream>

#include "client.hpp"
#include "clients/clients.hpp"
#include "socket.hpp"

// Whole decimal number within LO..HI, nothing else in the text.
static bool CL_READINT(const std::string& S, uint64_t LO, uint64_t HI, uint64_t& V) {
  if (S.empty() || S.size() > 10) {
    return false;
  }
  V = 0;
  for (char C : S) {
    if (C < '0' || C > '9') {
      return false;
    }
    V = V * 10 + uint64_t(C - '0');
  }
  return V >= LO && V <= HI;
}

// A decimal number as "12" or "0.5" (at most three decimals), in thousandths
// within LO..HI: seconds to milliseconds, percent to thousandths of a percent.
static bool CL_READMILLI(const std::string& S, int LO, int HI, int& MS) {
  size_t DOT = S.find('.');
  std::string WHOLE = S.substr(0, DOT);
  std::string FRAC = DOT == std::string::npos ? "" : S.substr(DOT + 1);
  uint64_t W = 0, F = 0;
  if (!CL_READINT(WHOLE, 0, 1000000, W)) {
    return false;
  }
  if (DOT != std::string::npos) {
    if (FRAC.empty() || FRAC.size() > 3 || !CL_READINT(FRAC, 0, 999, F)) {
      return false;
    }
    while (FRAC.size() < 3) {
      FRAC += '0';
      F *= 10;
    }
  }
  uint64_t T = W * 1000 + F;
  if (T < uint64_t(LO) || T > uint64_t(HI)) {
    return false;
  }
  MS = int(T);
  return true;
}

bool CL_PARSEADDRESS(const std::string& TEXT, std::string& HOST, uint16_t& PORT, std::string& ERR) {
  if (TEXT.empty()) {
    ERR = "missing server address (HOST or HOST:PORT)";
    return false;
  }
  size_t COLON = TEXT.find(':');
  if (COLON != std::string::npos && TEXT.find(':', COLON + 1) != std::string::npos) {
    ERR = "bad server address '" + TEXT + "': only IPv4 addresses and host names are supported";
    return false;
  }
  std::string H = TEXT.substr(0, COLON);
  if (H.empty()) {
    ERR = "bad server address '" + TEXT + "': no host";
    return false;
  }
  for (char C : H) {
    bool OK = (C >= 'a' && C <= 'z') || (C >= 'A' && C <= 'Z') || (C >= '0' && C <= '9') ||
              C == '.' || C == '-' || C == '_';
    if (!OK) {
      ERR = "bad host name '" + H + "'";
      return false;
    }
  }
  uint16_t P = CL_DEFAULTPORT;
  if (COLON != std::string::npos) {
    std::string PT = TEXT.substr(COLON + 1);
    uint64_t V = 0;
    if (!CL_READINT(PT, 1, 65535, V)) {
      ERR = "bad port '" + PT + "' (1 to 65535)";
      return false;
    }
    P = uint16_t(V);
  }
  HOST = H;
  PORT = P;
  return true;
}

bool CL_READSERVERS(const std::string& TEXT, const std::string& FILE, std::vector<CL_SERVER>& L,
                    std::string& ERR) {
  std::istringstream IN(TEXT);
  std::string LINE;
  for (int N = 1; std::getline(IN, LINE); N++) {
    LINE = LINE.substr(0, LINE.find('#'));
    size_t A = LINE.find_first_not_of(" \t\r");
    if (A == std::string::npos) {
      continue;
    }
    LINE = LINE.substr(A, LINE.find_last_not_of(" \t\r") + 1 - A);
    CL_SERVER SV;
    if (!CL_PARSEADDRESS(LINE, SV.HOST, SV.PORT, ERR)) {
      ERR = FILE + ":" + std::to_string(N) + ": " + ERR;
      return false;
    }
    L.push_back(SV);
  }
  return true;
}

// relay LISTEN_PORT HOST:PORT.
static bool CL_RELAYARGS(const std::vector<std::string>& ADDRS, CL_OPTIONS& O, std::string& ERR) {
  uint64_t P = 0;
  if (ADDRS.size() != 2) {
    ERR = "relay needs LISTEN_PORT and HOST:PORT";
    return false;
  }
  if (!CL_READINT(ADDRS[0], 0, 65535, P)) {
    ERR = "bad LISTEN_PORT '" + ADDRS[0] + "' (0 to 65535; 0: any free port)";
    return false;
  }
  O.LISTENPORT = uint16_t(P);
  if (!CL_PARSEADDRESS(ADDRS[1], O.HOST, O.PORT, ERR)) {
    return false;
  }
  O.SERVERS = {{O.HOST, O.PORT}};
  return true;
}

std::string CL_DEFAULTNAME(const std::string& COMMAND) {
  return COMMAND;
}

namespace {

const char* const CL_COMMANDS[] = {"status", "watch", "map", "load", "relay"};

const char* const CL_ABOUT[] = {
    "print the server's settings and players, then leave",
    "print every event-log line as it arrives, until Ctrl-C",
    "save the current map as a map file (\"-\": standard output)",
    "N simulated players (1 to 24) on each server play for S seconds",
    "relay datagrams between clients and a server, losing and delaying some",
};

// What each command takes after its options.
const char* const CL_ADDRESSHELP[] = {
    "the servers, HOST[:PORT] each",
    "the server, HOST[:PORT]",
    "the server, HOST[:PORT]",
    "the server, HOST[:PORT]; several: one process plays on all of them",
    "LISTEN_PORT, then the server as HOST:PORT",
};

// One option: its name, whether it takes a value, the commands it applies
// to and its help.
struct CL_OPT {
  const char* NAME;
  const char* VALUE; // the value's name in the help; nullptr: a flag
  const char* COMMANDS;
  const char* HELP;
};

const CL_OPT CL_OPTS[] = {
    {"--json", nullptr, "status load", "one JSON object instead of text"},
    {"--scores", nullptr, "watch", "print the score table when the score board starts"},
    {"--timeout", "S", "status watch map load", "seconds to wait for the server (default 2)"},
    {"-o", "FILE", "map", "the map file to write (\"-\": standard output)"},
    {"-n", "N", "load", "simulated players, 1 to 24"},
    {"-t", "S", "load", "seconds to play"},
    {"--name", "NAME", "status watch map load",
     "name to connect with (load: prefix of the numbered names)"},
    {"--team", "N", "status watch map load", "team to ask for, 0 to 3 (default 0)"},
    {"--bind", "ADDR", "status watch map load", "local IPv4 address to send from"},
    {"--seed", "N", "load relay", "seed of the players' or the relay's choices (default 1)"},
    {"--file", "FILE", "status", "also the servers listed in FILE, one HOST[:PORT] a line"},
    {"--loss", "PERCENT", "relay", "datagrams dropped each way, in percent (default 0)"},
    {"--delay", "MS", "relay", "milliseconds each datagram is held (default 0)"},
    {"--jitter", "MS", "relay", "the delay varies by up to this much either way (default 0)"},
};

bool CL_APPLIES(const CL_OPT& F, const std::string& COMMAND) {
  return (std::string(" ") + F.COMMANDS + " ").find(" " + COMMAND + " ") != std::string::npos;
}

const CL_OPT* CL_FINDOPT(const std::string& ARG) {
  std::string NAME = ARG.substr(0, ARG.find('='));
  for (const CL_OPT& F : CL_OPTS) {
    if (NAME == F.NAME) {
      return &F;
    }
  }
  return nullptr;
}

const char CL_EXITHELP[] =
    "exit status: 0 success, 1 failure or garbage from the server, 2 bad command\n"
    "line or address, 3 no answer, 4 wrong protocol version, 5 server full,\n"
    "6 load run found protocol anomalies, 7 load players never joined the game or\n"
    "never moved";

// The options as read, before they are checked.
struct CL_RAW {
  std::vector<std::string> ADDRS;
  std::string VALUE[std::size(CL_OPTS)];
  bool FLAG[std::size(CL_OPTS)] = {};
  bool VERSION = false;
};

// The whole command line's parser, its values bound to R.
void CL_BUILD(CLI::App& APP, CL_RAW& R) {
  APP.description("a headless client to check, watch and load-test a Brastok server\n"
                  "(brastok_client COMMAND [OPTIONS] HOST[:PORT], default port 35700)");
  APP.name("brastok_client");
  APP.add_flag("--version", R.VERSION, "print the protocol version and leave");
  APP.footer(CL_EXITHELP);
  for (size_t C = 0; C < std::size(CL_COMMANDS); C++) {
    CLI::App* SUB = APP.add_subcommand(CL_COMMANDS[C], CL_ABOUT[C]);
    SUB->allow_extras(); // reported below, with the commands they belong to
    SUB->footer(CL_EXITHELP);
    SUB->add_option("address", R.ADDRS, CL_ADDRESSHELP[C]);
    for (size_t K = 0; K < std::size(CL_OPTS); K++) {
      const CL_OPT& F = CL_OPTS[K];
      if (!CL_APPLIES(F, CL_COMMANDS[C])) {
        continue;
      }
      CLI::Option* OPT = F.VALUE == nullptr ? SUB->add_flag(F.NAME, R.FLAG[K], F.HELP)
                                            : SUB->add_option(F.NAME, R.VALUE[K], F.HELP);
      if (F.VALUE != nullptr) {
        OPT->type_name(F.VALUE);
      }
    }
  }
}

} // namespace

std::string CL_USAGE() {
  CLI::App APP;
  CL_RAW R;
  CL_BUILD(APP, R);
  return APP.help();
}

bool CL_PARSEARGS(const std::vector<std::string>& ARGS, CL_OPTIONS& O, std::string& ERR) {
  O = CL_OPTIONS{};
  CLI::App APP;
  CL_RAW R;
  CL_BUILD(APP, R);
  if (!ARGS.empty() && (ARGS[0] == "--help" || ARGS[0] == "-h")) {
    O.HELP = true;
    O.HELPTEXT = APP.help();
    return true;
  }
  if (!ARGS.empty() && ARGS[0] == "--version") {
    O.VERSION = true;
    return true;
  }
  if (ARGS.empty()) {
    ERR = "missing command (status, watch, map, load or relay); see --help";
    return false;
  }
  O.COMMAND = ARGS[0];
  CLI::App* SUB = nullptr;
  for (const char* C : CL_COMMANDS) {
    if (O.COMMAND == C) {
      SUB = APP.get_subcommand(C);
    }
  }
  if (SUB == nullptr) {
    ERR = "unknown command '" + O.COMMAND + "' (status, watch, map, load or relay)";
    return false;
  }
  std::vector<std::string> REV(ARGS.rbegin(), ARGS.rend()); // CLI11 reads from the back
  try {
    APP.parse(REV);
  } catch (const CLI::CallForHelp&) {
    O.HELP = true;
    O.HELPTEXT = SUB->help();
    return true;
  } catch (const CLI::ArgumentMismatch& E) {
    // "--timeout: 1 required TEXT missing"
    std::string W = E.what();
    ERR = "option " + W.substr(0, W.find(':')) + " needs a value";
    return false;
  } catch (const CLI::ParseError& E) {
    ERR = E.what();
    return false;
  }
  for (const std::string& A : SUB->remaining()) {
    if (A.size() > 1 && A[0] == '-') {
      const CL_OPT* F = CL_FINDOPT(A);
      ERR = F != nullptr ? "option " + std::string(F->NAME) + " does not apply to " + O.COMMAND
                         : "unknown option '" + A + "'";
      return false;
    }
    R.ADDRS.push_back(A); // a value of an option of another command
  }
  // The values, in the order of the table.
  for (size_t K = 0; K < std::size(CL_OPTS); K++) {
    const std::string A = CL_OPTS[K].NAME;
    const std::string& V = R.VALUE[K];
    const CLI::Option* OPT = SUB->get_option_no_throw(A);
    bool GIVEN = OPT != nullptr && OPT->count() > 0;
    if (!GIVEN) {
      continue;
    }
    uint64_t N = 0;
    if (A == "--json") {
      O.JSON = true;
    } else if (A == "--scores") {
      O.SCORES = true;
    } else if (A == "--timeout") {
      if (!CL_READMILLI(V, 1, 3600 * 1000, O.TIMEOUTMS)) {
        ERR = "bad --timeout '" + V + "' (seconds above 0, at most 3600)";
        return false;
      }
    } else if (A == "-o") {
      if (V.empty()) {
        ERR = "option -o needs a file name";
        return false;
      }
      O.OUTFILE = V;
    } else if (A == "-n") {
      if (!CL_READINT(V, 1, CL_MAXPLAYERS, N)) {
        ERR = "bad -n '" + V + "' (players, 1 to 24)";
        return false;
      }
      O.PLAYERS = int(N);
    } else if (A == "-t") {
      if (!CL_READMILLI(V, 1, 86400 * 1000, O.RUNMS)) {
        ERR = "bad -t '" + V + "' (seconds above 0, at most 86400)";
        return false;
      }
    } else if (A == "--name") {
      O.NAME = V;
    } else if (A == "--team") {
      if (!CL_READINT(V, 0, MAXTEAMS - 1, N)) {
        ERR = "bad --team '" + V + "' (0 to 3)";
        return false;
      }
      O.TEAM = uint8_t(N);
    } else if (A == "--bind") {
      if (!CL_ISIPV4(V)) {
        ERR = "bad --bind '" + V + "' (an IPv4 address such as 127.0.0.2)";
        return false;
      }
      O.BIND = V;
    } else if (A == "--seed") {
      if (!CL_READINT(V, 0, 4294967295u, N)) {
        ERR = "bad --seed '" + V + "' (0 to 4294967295)";
        return false;
      }
      O.SEED = uint32_t(N);
    } else if (A == "--file") {
      std::ifstream F(V, std::ios::binary);
      std::stringstream TEXT;
      TEXT << F.rdbuf();
      if (!F) {
        ERR = "cannot read --file '" + V + "': " + std::strerror(errno);
        return false;
      }
      if (!CL_READSERVERS(TEXT.str(), V, O.SERVERS, ERR)) {
        return false;
      }
    } else if (A == "--loss") {
      int MILLI = 0;
      if (!CL_READMILLI(V, 0, 100000, MILLI)) {
        ERR = "bad --loss '" + V + "' (percent, 0 to 100)";
        return false;
      }
      O.LOSS = MILLI / 1000.0;
    } else if (A == "--delay" || A == "--jitter") {
      if (!CL_READINT(V, 0, 60000, N)) {
        ERR = "bad " + A + " '" + V + "' (milliseconds, 0 to 60000)";
        return false;
      }
      (A == "--delay" ? O.DELAYMS : O.JITTERMS) = int(N);
    }
  }
  if (O.COMMAND == "relay") {
    return CL_RELAYARGS(R.ADDRS, O, ERR);
  }
  // status asks every server given, those of the command line first.
  std::vector<CL_SERVER> GIVEN;
  for (const std::string& A : R.ADDRS) {
    CL_SERVER SV;
    if (!CL_PARSEADDRESS(A, SV.HOST, SV.PORT, ERR)) {
      return false;
    }
    GIVEN.push_back(SV);
  }
  O.SERVERS.insert(O.SERVERS.begin(), GIVEN.begin(), GIVEN.end());
  if (O.SERVERS.empty()) {
    ERR = "missing server address (HOST or HOST:PORT)";
    return false;
  }
  if (O.SERVERS.size() > 1 && O.COMMAND != "status" && O.COMMAND != "load") {
    ERR = "more than one server address ('" + R.ADDRS[0] + "' and '" + R.ADDRS[1] + "')";
    return false;
  }
  O.HOST = O.SERVERS[0].HOST;
  O.PORT = O.SERVERS[0].PORT;
  if (O.COMMAND == "map" && O.OUTFILE.empty()) {
    ERR = "map needs -o FILE";
    return false;
  }
  if (O.COMMAND == "load" && (O.PLAYERS == 0 || O.RUNMS == 0)) {
    ERR = "load needs -n PLAYERS and -t SECONDS";
    return false;
  }
  // The server keeps 20 characters of a name; a load player adds its number.
  size_t MAXNAME = O.COMMAND == "load" ? PLAYERMAXNAME - 2 : PLAYERMAXNAME;
  if (O.NAME.size() > MAXNAME) {
    ERR = "--name is longer than " + std::to_string(MAXNAME) + " characters";
    return false;
  }
  if (O.NAME.empty()) {
    O.NAME = CL_DEFAULTNAME(O.COMMAND);
  }
  return true;
}
