// The command line: one table of every option, the game's and the edge's
// alike. The reading, the warnings and --help come from it, and the manual
// page's list is checked against it. An option is one row and its use: a
// setting it fills, or a step done where it stands.
#include <algorithm>

#include "hooks.hpp"
#include "maps/maps.hpp"
#include "net/net.hpp"
#include "server/server.hpp"

// -map NAME adds the file to the map list where it stands: the maps are
// played in the order given.
static void SV_OPTMAP(const std::string& VALUE) {
  MAPFROMFILE(VALUE);
}

static void SV_OPTIP(const std::string& VALUE) {
  uint32_t A;
  if (NET_READIPV4(VALUE, A)) {
    NET_IP = VALUE;
  } else {
    SC_WARN("option -ip: \"" + VALUE + "\" is not an IPv4 address, ignored");
  }
}

const TOPTION SV_OPTIONS[] = {
    {.NAME = "-port",
     .ARG = "N",
     .HELP = "UDP port; the next free one above it when taken, 0 for any\nfree port (default %D)",
     .DEFAULT = "35700",
     .HI = 65535,
     .WORD = &NET_PORT},
    {.NAME = "-score",
     .ARG = "N",
     .HELP = "score that ends a map, %B (default %D)",
     .DEFAULT = "20",
     .LO = 1,
     .HI = 255,
     .BYTE = &SV_SCORELIMIT},
    {.NAME = "-maxplayers",
     .ARG = "N",
     .HELP = "most clients in the game at once, %B (default %D)",
     .DEFAULT = "10",
     .LO = 2,
     .HI = MAXCLIENTS,
     .BYTE = &SV_MAXPLAYERS},
    {.NAME = "-map",
     .ARG = "NAME",
     .HELP = "adds DIR/NAME.brsk to the map list, up to 24 maps\n(default: %D)",
     .DEFAULT = "the built-in map",
     .RUN = SV_OPTMAP},
    {.NAME = "-name",
     .ARG = "TEXT",
     .HELP = "server name (default \"%D\")",
     .DEFAULT = "Brastok Server",
     .TEXT = &SV_NAME},
    {.NAME = "-teams",
     .ARG = "N",
     .HELP = "0: every player for himself; otherwise team play (default %D)",
     .DEFAULT = "0",
     .HI = 255,
     .BYTE = &SV_TEAMPLAY},
    {.NAME = "-bots",
     .ARG = "N",
     .HELP = "server-side bots wanted, %B (default %D)",
     .DEFAULT = "0",
     .HI = MAXCLIENTS,
     .BYTE = &SV_BOTCOUNT},
    {.NAME = "-botteams",
     .ARG = "N",
     .HELP = "teams the bots are spread over, %B (default %D)",
     .DEFAULT = "4",
     .LO = 1,
     .HI = MAXTEAMS,
     .BYTE = &SV_BOTTEAMS},
    {.NAME = "-botfill",
     .ARG = "N",
     .HELP = "not 0: bots leave to make room for humans (default %D)",
     .DEFAULT = "0",
     .HI = 255,
     .BYTE = &SV_BOTFILL},
    {.NAME = "-ip",
     .ARG = "ADDRESS",
     .HELP = "local IPv4 address to listen on (default: %D)",
     .DEFAULT = "all",
     .RUN = SV_OPTIP},
    {.NAME = "-mapdir",
     .ARG = "DIR",
     .HELP = "folder of the -map files (default %D)",
     .DEFAULT = "maps",
     .WHOLE = true,
     .TEXT = &SV_MAPDIR},
    {.NAME = "-strict",
     .ARG = "N",
     .HELP = "not 0: a start-up that would warn fails instead (default %D)",
     .DEFAULT = "0",
     .HI = 255,
     .WHOLE = true,
     .BYTE = &SV_STRICT},
    {.NAME = "-http",
     .ARG = "[ADDR:]PORT",
     .HELP = "serves the live page, status, metrics and health over\nHTTP on ADDR (default "
             "127.0.0.1); %D by default",
     .DEFAULT = "off",
     .TEXT = &OPT_HTTP},
    {.NAME = "-httpcert",
     .ARG = "FILE",
     .HELP =
         "with -httpkey: the HTTP port also speaks TLS (https), with\nthis certificate chain (PEM)",
     .TEXT = &OPT_HTTPCERT},
    {.NAME = "-httpkey",
     .ARG = "FILE",
     .HELP = "the private key (PEM) of the -httpcert certificate",
     .TEXT = &OPT_HTTPKEY},
    {.NAME = "-admins",
     .ARG = "FILE",
     .HELP = "turns the admin API on (/api, /admin) for the admins in FILE,\none \"NAME ROLE "
             "sha256:HEX\" a line; read at start and on SIGHUP",
     .RUN = HOOK_ADMINSFILE},
    {.NAME = "-banfile",
     .ARG = "FILE",
     .HELP = "keeps the ban list in FILE: read at start, rewritten on change",
     .RUN = HOOK_BANFILE},
    {.NAME = "-log",
     .ARG = "FILE",
     .HELP = "appends one JSON object per event to FILE (SIGHUP reopens it)",
     .WHOLE = true,
     .TEXT = &OPT_LOG},
    {.NAME = "-record",
     .ARG = "FILE",
     .HELP = "records everything the server reads, for brastok_replay FILE",
     .WHOLE = true,
     .TEXT = &OPT_RECORD},
    {.NAME = "-recordmax",
     .ARG = "N",
     .HELP = "the recording stops at N MiB, %B (default %D)",
     .DEFAULT = "1024",
     .LO = 1,
     .HI = 1048576,
     .WHOLE = true,
     .LONG = &OPT_RECORDMAX},
    {.NAME = "-agones",
     .ARG = "N",
     .HELP = "1: reports to the Agones SDK sidecar (Ready, Health, a players\nlabel, "
             "Shutdown) on AGONES_SDK_HTTP_PORT, %B (default %D: off)",
     .DEFAULT = "0",
     .HI = 1,
     .BYTE = &OPT_AGONES},
    {.NAME = "-webhook",
     .ARG = "URL",
     .HELP = "posts the start, match ends, kicks, bans and the stop as JSON\nto URL, http: or "
             "https: (may repeat, up to 8 URLs)",
     .RUN = HOOK_WEBHOOK},
    {.NAME = "-votes",
     .ARG = "N",
     .HELP =
         "not 0: players' chat commands (!help): votes to kick, to\nchange the map, and a map vote "
         "after each match (default %D)",
     .DEFAULT = "0",
     .HI = 255,
     .BYTE = &OPT_VOTES},
};
const size_t SV_NOPTIONS = sizeof SV_OPTIONS / sizeof SV_OPTIONS[0];

// The widest value an option's setting holds.
static uint32_t SV_OPTMASK(const TOPTION& O) {
  return O.BYTE != nullptr ? 0xFFu : O.WORD != nullptr ? 0xFFFFu : 0xFFFFFFFFu;
}

static bool SV_OPTISNUMBER(const TOPTION& O) {
  return O.BYTE != nullptr || O.WORD != nullptr || O.LONG != nullptr;
}

static void SV_OPTSET(const TOPTION& O, uint32_t V) {
  if (O.BYTE != nullptr) {
    *O.BYTE = uint8_t(V);
  } else if (O.WORD != nullptr) {
    *O.WORD = uint16_t(V);
  } else if (O.LONG != nullptr) {
    *O.LONG = V;
  }
}

// The value of a numeric option: wrapped to the width of its setting, then
// held within its bounds. An unreadable value counts as 0, like the server
// always took it; a value the setting cannot hold as given is warned about
// with the value it ends as (unless QUIET).
static uint32_t SV_OPTNUMBER(const TOPTION& O, const std::string& VALUE, bool QUIET) {
  uint32_t V;
  bool READABLE = SV_READNUMBER(VALUE, V);
  uint32_t TAKEN = std::clamp(V & SV_OPTMASK(O), O.LO, O.HI);
  if (QUIET) {
    return TAKEN;
  }
  if (!READABLE) {
    SC_WARN("option " + std::string(O.NAME) + ": \"" + VALUE + "\" is not a number, taken as " +
            std::to_string(TAKEN));
  } else if (TAKEN != V) {
    SC_WARN("option " + std::string(O.NAME) + ": " + VALUE + " is outside " + std::to_string(O.LO) +
            " to " + std::to_string(O.HI) + ", taken as " + std::to_string(TAKEN));
  }
  return TAKEN;
}

const TOPTION* SV_FINDOPTION(const std::string& KEY) {
  for (const TOPTION& O : SV_OPTIONS) {
    if (KEY == O.NAME) {
      return &O;
    }
  }
  return nullptr;
}

bool SV_STARTPARAMS(const std::vector<std::string>& ARGS) {
  // Keys and values pair by position. The whole-line options (-strict,
  // -mapdir, the edge's files) hold for the whole command line, whatever
  // their place, the last of each winning: every warning of a strict start
  // is an error, every -map is looked up in the one folder, and the edge's
  // files are open before anything else is read.
  for (size_t P = 1; P < ARGS.size(); P += 2) {
    const TOPTION* O = SV_FINDOPTION(ARGS[P - 1]);
    if (O == nullptr || !O->WHOLE) {
      continue;
    }
    if (O->TEXT != nullptr) {
      *O->TEXT = ARGS[P];
    } else {
      SV_OPTSET(*O, SV_OPTNUMBER(*O, ARGS[P], true));
    }
  }
  SC_WARNFATAL = SV_STRICT != 0;
  if (!HOOK_OPENFILES(ARGS)) {
    SC_WARNFATAL = false;
    return false;
  }
  // Every occurrence of the others is applied in order; the whole-line
  // numbers are read again for their warnings.
  for (size_t P = 1; P < ARGS.size(); P += 2) {
    const std::string& KEY = ARGS[P - 1];
    const std::string& VALUE = ARGS[P];
    const TOPTION* O = SV_FINDOPTION(KEY);
    if (O == nullptr) {
      SC_WARN("unrecognised option ignored: " + KEY + " " + VALUE);
    } else if (SV_OPTISNUMBER(*O)) {
      SV_OPTSET(*O, SV_OPTNUMBER(*O, VALUE, false));
    } else if (O->WHOLE) {
      // taken before the others
    } else if (O->TEXT != nullptr) {
      *O->TEXT = VALUE;
    } else if (O->RUN != nullptr) {
      O->RUN(VALUE);
    }
  }
  if (ARGS.size() % 2 == 1) {
    SC_WARN("option without a value ignored: " + ARGS.back());
  }
  SC_WARNFATAL = false; // later warnings (a map loaded by a command) are only warnings
  SV_CHECKVARS();
  return true;
}

std::string SV_OPTIONHELP(const TOPTION& O) {
  std::string H = O.HELP;
  const std::pair<const char*, std::string> FILL[] = {
      {"%D", O.DEFAULT}, {"%B", std::to_string(O.LO) + " to " + std::to_string(O.HI)}};
  for (const auto& [KEY, TEXT] : FILL) {
    for (size_t AT = H.find(KEY); AT != std::string::npos; AT = H.find(KEY, AT + TEXT.size())) {
      H.replace(AT, 2, TEXT);
    }
  }
  return H;
}

std::string SV_HELPTEXT() {
  std::string T = "Usage: brastok_server [KEY VALUE]...\n"
                  "Brastok dedicated server: one UDP port, 24 client slots, a 30 ms game cycle.\n"
                  "\n"
                  "Options (pairs by position; a later pair wins, every -map adds a map):\n";
  for (const TOPTION& O : SV_OPTIONS) {
    // The name and its value in a column of their own, the help beside it.
    std::string HEAD = std::string(O.NAME) + " " + O.ARG;
    HEAD.resize(std::max<size_t>(HEAD.size(), 13), ' ');
    std::string H = SV_OPTIONHELP(O);
    for (size_t AT = H.find('\n'); AT != std::string::npos; AT = H.find('\n', AT + 1)) {
      H.insert(AT + 1, 17, ' ');
    }
    T += "  " + HEAD + "  " + H + "\n";
  }
  return T + "\n"
             "Numbers may be written in hexadecimal ($1F, 0x1F), binary (%101) or octal (&17).\n"
             "Commands on standard input, one a line: type help for the list.\n"
             "brastok_server -newadmin NAME ROLE prints a new admin token (ROLE: moderator or\n"
             "admin) and the line of the -admins file that lets it in.\n"
             "Stop the server with Ctrl-C (SIGINT), SIGTERM or the command quit; SIGHUP does\n"
             "not stop it.\n";
}
