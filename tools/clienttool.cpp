#include "clienttool.hpp"

#include <arpa/inet.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <deque>

#include "clients/clients.hpp"
#include "server/server.hpp"

// ---- command line ----

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

// Seconds as "12" or "0.5" (at most three decimals), to milliseconds within
// 1..HIMS.
static bool CL_READSECONDS(const std::string& S, int HIMS, int& MS) {
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
  if (T < 1 || T > uint64_t(HIMS)) {
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

std::string CL_USAGE() {
  return "usage: brastok_client COMMAND [OPTIONS] HOST[:PORT]   (default port 35700)\n"
         "\n"
         "commands:\n"
         "  status            print the server's settings and players, then leave\n"
         "  watch             print every event-log line as it arrives, until Ctrl-C\n"
         "  map -o FILE       save the current map as a map file (\"-\": standard output)\n"
         "  load -n N -t S    N simulated players (1 to 24) play for S seconds\n"
         "\n"
         "options:\n"
         "  --json            status, load: one JSON object instead of text\n"
         "  --scores          watch: print the score table when the score board starts\n"
         "  --timeout S       seconds to wait for the server (default 2)\n"
         "  --name NAME       name to connect with (load: prefix of the numbered names)\n"
         "  --team N          team to ask for, 0 to 3 (default 0)\n"
         "  --bind ADDR       local IPv4 address to send from\n"
         "  --seed N          load: seed of the players' choices (default 1)\n"
         "  --help, --version\n"
         "\n"
         "exit status: 0 success, 1 failure or garbage from the server, 2 bad command\n"
         "line or address, 3 no answer, 4 wrong protocol version, 5 server full,\n"
         "6 load run found protocol anomalies\n";
}

std::string CL_DEFAULTNAME(const std::string& COMMAND) {
  return COMMAND;
}

bool CL_PARSEARGS(const std::vector<std::string>& ARGS, CL_OPTIONS& O, std::string& ERR) {
  O = CL_OPTIONS{};
  struct TOPT {
    const char* NAME;
    bool VALUE;
    const char* COMMANDS; // commands it applies to
  };
  static const TOPT OPTS[] = {
      {"--json", false, "status load"},
      {"--scores", false, "watch"},
      {"--timeout", true, "status watch map load"},
      {"-o", true, "map"},
      {"-n", true, "load"},
      {"-t", true, "load"},
      {"--name", true, "status watch map load"},
      {"--team", true, "status watch map load"},
      {"--bind", true, "status watch map load"},
      {"--seed", true, "load"},
  };
  size_t I = 0;
  if (I < ARGS.size() && (ARGS[I] == "--help" || ARGS[I] == "-h")) {
    O.HELP = true;
    return true;
  }
  if (I < ARGS.size() && ARGS[I] == "--version") {
    O.VERSION = true;
    return true;
  }
  if (I >= ARGS.size()) {
    ERR = "missing command (status, watch, map or load); see --help";
    return false;
  }
  O.COMMAND = ARGS[I++];
  if (O.COMMAND != "status" && O.COMMAND != "watch" && O.COMMAND != "map" && O.COMMAND != "load") {
    ERR = "unknown command '" + O.COMMAND + "' (status, watch, map or load)";
    return false;
  }
  bool HAVEADDR = false, HAVEN = false, HAVET = false, HAVEO = false;
  for (; I < ARGS.size(); I++) {
    const std::string& A = ARGS[I];
    if (A == "--help" || A == "-h") {
      O.HELP = true;
      return true;
    }
    if (A.size() > 1 && A[0] == '-') {
      const TOPT* F = nullptr;
      for (const TOPT& T : OPTS) {
        if (A == T.NAME) {
          F = &T;
        }
      }
      if (F == nullptr) {
        ERR = "unknown option '" + A + "'";
        return false;
      }
      std::string CMDS = std::string(" ") + F->COMMANDS + " ";
      if (CMDS.find(" " + O.COMMAND + " ") == std::string::npos) {
        ERR = "option " + A + " does not apply to " + O.COMMAND;
        return false;
      }
      std::string V;
      if (F->VALUE) {
        if (I + 1 >= ARGS.size()) {
          ERR = "option " + A + " needs a value";
          return false;
        }
        V = ARGS[++I];
      }
      uint64_t N = 0;
      if (A == "--json") {
        O.JSON = true;
      } else if (A == "--scores") {
        O.SCORES = true;
      } else if (A == "--timeout") {
        if (!CL_READSECONDS(V, 3600 * 1000, O.TIMEOUTMS)) {
          ERR = "bad --timeout '" + V + "' (seconds above 0, at most 3600)";
          return false;
        }
      } else if (A == "-o") {
        if (V.empty()) {
          ERR = "option -o needs a file name";
          return false;
        }
        O.OUTFILE = V;
        HAVEO = true;
      } else if (A == "-n") {
        if (!CL_READINT(V, 1, CL_MAXPLAYERS, N)) {
          ERR = "bad -n '" + V + "' (players, 1 to 24)";
          return false;
        }
        O.PLAYERS = int(N);
        HAVEN = true;
      } else if (A == "-t") {
        if (!CL_READSECONDS(V, 86400 * 1000, O.RUNMS)) {
          ERR = "bad -t '" + V + "' (seconds above 0, at most 86400)";
          return false;
        }
        HAVET = true;
      } else if (A == "--name") {
        O.NAME = V;
      } else if (A == "--team") {
        if (!CL_READINT(V, 0, MAXTEAMS - 1, N)) {
          ERR = "bad --team '" + V + "' (0 to 3)";
          return false;
        }
        O.TEAM = uint8_t(N);
      } else if (A == "--bind") {
        in_addr IN{};
        if (inet_pton(AF_INET, V.c_str(), &IN) != 1) {
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
      }
      continue;
    }
    if (HAVEADDR) {
      ERR = "more than one server address ('" + O.HOST + "' and '" + A + "')";
      return false;
    }
    if (!CL_PARSEADDRESS(A, O.HOST, O.PORT, ERR)) {
      return false;
    }
    HAVEADDR = true;
  }
  if (!HAVEADDR) {
    ERR = "missing server address (HOST or HOST:PORT)";
    return false;
  }
  if (O.COMMAND == "map" && !HAVEO) {
    ERR = "map needs -o FILE";
    return false;
  }
  if (O.COMMAND == "load" && (!HAVEN || !HAVET)) {
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

// ---- rendering ----

std::string CL_JSONSTRING(const std::string& S) {
  static const char HEX[] = "0123456789abcdef";
  std::string R = "\"";
  for (unsigned char C : S) {
    if (C == '"' || C == '\\') {
      R += '\\';
      R += char(C);
    } else if (C == '\n') {
      R += "\\n";
    } else if (C == '\t') {
      R += "\\t";
    } else if (C == '\r') {
      R += "\\r";
    } else if (C < 0x20 || (C >= 0x7F && C < 0xA0)) {
      R += "\\u00";
      R += HEX[C >> 4];
      R += HEX[C & 15];
    } else if (C >= 0xA0) {
      // Latin-1, as the console shows it, in UTF-8.
      R += char(0xC0 | (C >> 6));
      R += char(0x80 | (C & 0x3F));
    } else {
      R += char(C);
    }
  }
  return R + "\"";
}

std::string CL_FIXED1(double V) {
  char B[64];
  std::snprintf(B, sizeof B, "%.1f", V);
  return B;
}

const char* CL_STATENAME(uint8_t STATE) {
  switch (STATE) {
  case PS_SPEC:
    return "spectator";
  case PS_DEAD:
    return "dead";
  case PS_LIVE:
    return "alive";
  case PS_ATTA:
    return "firing";
  default:
    return "unknown";
  }
}

CL_STATUSINFO CL_MAKESTATUS(const CL_MAPINFO& M, const CL_STATE& S) {
  CL_STATUSINFO I;
  I.SERVERNAME = M.SERVERNAME;
  I.MAPNAME = M.MAPNAME;
  I.SCORELIMIT = M.SCORELIMIT;
  I.TEAMPLAY = M.TEAMPLAY;
  I.MAXPLAYERS = M.MAXPLAYERS;
  for (const CL_LISTED& P : M.PLAYERS) {
    if (P.SLOT == S.SELF) {
      continue;
    }
    CL_PLAYERROW R;
    R.SLOT = P.SLOT;
    R.TEAM = P.TEAM;
    R.NAME = P.NAME;
    for (const CL_ENTRY& E : S.PLAYERS) {
      if (E.SLOT == P.SLOT) {
        R.STATE = E.STATE;
        R.SCORE = E.SCORE;
        R.PING = E.PING;
      }
    }
    I.PLAYERS.push_back(R);
  }
  return I;
}

static std::string CL_PAD(const std::string& S, size_t W, bool RIGHT) {
  if (S.size() >= W) {
    return S;
  }
  std::string F(W - S.size(), ' ');
  return RIGHT ? F + S : S + F;
}

std::string CL_STATUSTEXT(const CL_STATUSINFO& I) {
  std::string T;
  T += "server:       " + SC_PRINTABLE(I.SERVERNAME) + "\n";
  T += "map:          " + SC_PRINTABLE(I.MAPNAME) + "\n";
  T += "score limit:  " + std::to_string(I.SCORELIMIT) + "\n";
  T += "team play:    " + std::string(I.TEAMPLAY != 0 ? "yes" : "no") + "\n";
  T += "player limit: " + std::to_string(I.MAXPLAYERS) + "\n";
  T += "players:      " + std::to_string(I.PLAYERS.size()) + "\n";
  if (!I.PLAYERS.empty()) {
    T += "  slot  team  state      score  ping  name\n";
    for (const CL_PLAYERROW& R : I.PLAYERS) {
      T += "  " + CL_PAD(std::to_string(R.SLOT), 4, true) + "  " +
           CL_PAD(std::to_string(R.TEAM), 4, true) + "  " +
           CL_PAD(CL_STATENAME(R.STATE), 9, false) + "  " +
           CL_PAD(std::to_string(R.SCORE), 5, true) + "  " +
           CL_PAD(std::to_string(R.PING), 4, true) + "  " + SC_PRINTABLE(R.NAME) + "\n";
    }
  }
  return T;
}

std::string CL_STATUSJSON(const CL_STATUSINFO& I) {
  std::string J = "{\"server\":" + CL_JSONSTRING(I.SERVERNAME) +
                  ",\"map\":" + CL_JSONSTRING(I.MAPNAME) +
                  ",\"scorelimit\":" + std::to_string(I.SCORELIMIT) +
                  ",\"teamplay\":" + (I.TEAMPLAY != 0 ? "true" : "false") +
                  ",\"maxplayers\":" + std::to_string(I.MAXPLAYERS) + ",\"players\":[";
  for (size_t K = 0; K < I.PLAYERS.size(); K++) {
    const CL_PLAYERROW& R = I.PLAYERS[K];
    J += std::string(K > 0 ? "," : "") + "{\"slot\":" + std::to_string(R.SLOT) +
         ",\"name\":" + CL_JSONSTRING(R.NAME) + ",\"team\":" + std::to_string(R.TEAM) +
         ",\"state\":\"" + CL_STATENAME(R.STATE) + "\",\"score\":" + std::to_string(R.SCORE) +
         ",\"ping\":" + std::to_string(R.PING) + "}";
  }
  return J + "]}\n";
}

void CL_NAMESFROMMAP(CL_NAMES& N, const CL_MAPINFO& M) {
  for (const CL_LISTED& P : M.PLAYERS) {
    if (P.SLOT >= 1 && P.SLOT <= MAXCLIENTS) {
      N.NAME[P.SLOT] = P.NAME;
      N.TEAM[P.SLOT] = P.TEAM;
      N.KNOWN[P.SLOT] = true;
    }
  }
}

// A slot the client has no name for shows as #N.
static std::string CL_SLOTNAME(uint8_t C, const void* CTX) {
  const CL_NAMES& N = *static_cast<const CL_NAMES*>(CTX);
  if (C >= 1 && C <= MAXCLIENTS && N.KNOWN[C]) {
    return N.NAME[C];
  }
  return "#" + std::to_string(C);
}

std::string CL_LOGTEXT(CL_NAMES& N, const std::string& LINE) {
  // A connect line tells the new client's name and team.
  if (LINE.size() >= 2 && uint8_t(LINE[0]) == LOGMESSID_CCON) {
    uint8_t C = uint8_t(LINE[1]);
    if (C >= 1 && C <= MAXCLIENTS) {
      N.TEAM[C] = LINE.size() > 2 ? uint8_t(LINE[2]) : 0;
      N.NAME[C] = LINE.size() > 3 ? LINE.substr(3, PLAYERMAXNAME) : std::string();
      N.KNOWN[C] = true;
    }
  }
  return SC_LOGTEXT(LINE, CL_SLOTNAME, &N);
}

std::string CL_SCORETABLE(const CL_NAMES& N, const CL_STATE& S, uint8_t TEAMPLAY) {
  std::vector<CL_ENTRY> ROWS;
  for (const CL_ENTRY& E : S.PLAYERS) {
    if (E.STATE >= PS_DEAD) {
      ROWS.push_back(E);
    }
  }
  std::stable_sort(ROWS.begin(), ROWS.end(),
                   [](const CL_ENTRY& A, const CL_ENTRY& B) { return A.SCORE > B.SCORE; });
  std::string T = "Score board\n";
  for (const CL_ENTRY& E : ROWS) {
    T += "  " + CL_PAD(std::to_string(E.SCORE), 3, true) + "  " +
         SC_PRINTABLE(CL_SLOTNAME(E.SLOT, &N)) + "\n";
  }
  if (TEAMPLAY != 0) {
    int SUM[MAXTEAMS] = {};
    bool HAS[MAXTEAMS] = {};
    for (const CL_ENTRY& E : ROWS) {
      uint8_t TM = E.SLOT <= MAXCLIENTS ? N.TEAM[E.SLOT] % MAXTEAMS : 0;
      SUM[TM] += E.SCORE;
      HAS[TM] = true;
    }
    std::vector<int> ORDER;
    for (int K = 0; K < MAXTEAMS; K++) {
      if (HAS[K]) {
        ORDER.push_back(K);
      }
    }
    std::stable_sort(ORDER.begin(), ORDER.end(), [&](int A, int B) { return SUM[A] > SUM[B]; });
    for (int K : ORDER) {
      T += "  " + CL_PAD(std::to_string(SUM[K]), 3, true) + "  " + TEAMNAME[K] + " team\n";
    }
  }
  return T;
}

// ---- map file ----

bool CL_MAPFILE(const std::string& TEXT, std::string& FILE, std::string& ERR) {
  if (TEXT.size() < 6) {
    ERR = "the map text (" + std::to_string(TEXT.size()) +
          " characters) is too short for its six-character header";
    return false;
  }
  if (TEXT.find('\n') != std::string::npos) {
    ERR = "the map text holds a line feed, which a map file cannot carry";
    return false;
  }
  // Each row becomes a line; the server reads each line back with a CR after
  // it and turns the last CR into the end of the text, so every CR returns.
  FILE = TEXT.substr(0, 6) + "\n";
  std::string ROWS = TEXT.substr(6);
  size_t AT = 0;
  for (;;) {
    size_t CR = ROWS.find('\r', AT);
    FILE += ROWS.substr(AT, CR == std::string::npos ? std::string::npos : CR - AT) + "\n";
    if (CR == std::string::npos) {
      break;
    }
    AT = CR + 1;
  }
  return true;
}

// ---- log lines and ticks ----

bool CL_TAKELOG(CL_LOGTRACK& T, const CL_LOG& L, std::vector<std::string>& NEW) {
  uint16_t N = uint16_t(L.LINES.size());
  if (!T.STARTED) {
    if (N == 0) {
      return true;
    }
    T.STARTED = true;
    T.FIRST = uint16_t(L.LAST - N + 1);
    T.LAST = L.LAST;
    T.TAKEN += N;
    NEW.insert(NEW.end(), L.LINES.begin(), L.LINES.end());
    return true;
  }
  // How many of the packet's lines lie beyond the newest one held: none when
  // it repeats lines that were not yet acknowledged, or comes late.
  uint16_t AHEAD = uint16_t(L.LAST - T.LAST);
  if (AHEAD == 0 || AHEAD >= 32768) {
    T.RESENT += N;
    return true;
  }
  if (AHEAD <= N) {
    NEW.insert(NEW.end(), L.LINES.end() - AHEAD, L.LINES.end());
    T.RESENT += uint32_t(N - AHEAD);
    T.TAKEN += AHEAD;
    T.LAST = L.LAST;
    return true;
  }
  // Lines between the newest held and the packet's first were skipped.
  NEW.insert(NEW.end(), L.LINES.begin(), L.LINES.end());
  T.TAKEN += N;
  T.LAST = L.LAST;
  return false;
}

bool CL_TICKFORWARD(uint16_t PREV, uint16_t NEXT) {
  return uint16_t(NEXT - PREV) < 32768;
}

// ---- the grid ----

void CL_LOADGRID(const std::string& TEXT, CL_GRID& G) {
  G = CL_GRID{};
  for (int A = 0; A <= MAXMAPGRIDO; A++) {
    for (int B = 0; B <= MAXMAPGRIDO; B++) {
      bool RING = A == 0 || B == 0 || A == MAXMAPGRIDO || B == MAXMAPGRIDO;
      G.CELL[A][B] = RING ? CG_B : CG_N;
    }
  }
  int X = 1, Y = 1;
  for (size_t P = 6; P < TEXT.size() && TEXT[P] != 0; P++) {
    char C = TEXT[P];
    if (C == '\r') {
      X = 1;
      Y++;
    } else if (X <= MAXMAPGRIDI) {
      G.CELL[X][Y] = MAP_BWALLS(C) ? CG_B : MAP_PWALLS(C) ? CG_P : CG_N;
      if (MAP_ITEMS(C) && G.ITEMX.size() < size_t(MAXMAPITEMS)) {
        G.ITEMX.push_back(uint16_t(X * MAPGRIDSIZE + MAPGRIDHSIZE));
        G.ITEMY.push_back(uint16_t(Y * MAPGRIDSIZE + MAPGRIDHSIZE));
      }
      X++;
    }
    if (Y > MAXMAPGRIDI) {
      break;
    }
  }
}

static uint8_t CL_CELLAT(const CL_GRID& G, uint16_t PX, uint16_t PY) {
  int CX = PX / MAPGRIDSIZE, CY = PY / MAPGRIDSIZE;
  if (CX >= 1 && CX <= MAXMAPGRIDI && CY >= 1 && CY <= MAXMAPGRIDI) {
    return G.CELL[CX][CY];
  }
  return CG_B;
}

static bool CL_SQUAREFREE(const CL_GRID& G, uint16_t X, uint16_t Y) {
  uint16_t XL = uint16_t(X - PLAYERWWIDTH), XH = uint16_t(X + PLAYERWWIDTH);
  uint16_t YL = uint16_t(Y - PLAYERWWIDTH), YH = uint16_t(Y + PLAYERWWIDTH);
  return CL_CELLAT(G, XL, YL) == CG_N && CL_CELLAT(G, XL, YH) == CG_N &&
         CL_CELLAT(G, XH, YH) == CG_N && CL_CELLAT(G, XH, YL) == CG_N;
}

bool CL_MOVEAPPLIES(const CL_GRID& G, uint16_t X, uint16_t Y, uint16_t MX, uint16_t MY) {
  int64_t DX = int64_t(MX) - X, DY = int64_t(MY) - Y;
  // The server's distance estimate takes exactly the offsets within 11 units.
  if (DX * DX + DY * DY >= (PLAYERSPEED + 1) * (PLAYERSPEED + 1)) {
    return false;
  }
  // One axis after the other, as the server moves.
  return CL_SQUAREFREE(G, MX, Y) && CL_SQUAREFREE(G, MX, MY);
}

bool CL_STEPTOWARD(const CL_GRID& G, uint16_t X, uint16_t Y, int TX, int TY, uint16_t& MX,
                   uint16_t& MY) {
  int DX = std::clamp(TX - int(X), -PLAYERSPEED, PLAYERSPEED);
  int DY = std::clamp(TY - int(Y), -PLAYERSPEED, PLAYERSPEED);
  // Line up on the shorter axis first, so steps follow the cell centres.
  bool XFIRST = DY == 0 || (DX != 0 && std::abs(TX - int(X)) <= std::abs(TY - int(Y)));
  for (int PASS = 0; PASS < 2; PASS++) {
    bool ALONGX = (PASS == 0) == XFIRST;
    int SX = ALONGX ? DX : 0, SY = ALONGX ? 0 : DY;
    if (SX == 0 && SY == 0) {
      continue;
    }
    uint16_t NX = uint16_t(int(X) + SX), NY = uint16_t(int(Y) + SY);
    if (CL_MOVEAPPLIES(G, X, Y, NX, NY)) {
      MX = NX;
      MY = NY;
      return true;
    }
  }
  return false;
}

std::vector<std::pair<uint8_t, uint8_t>> CL_PATH(const CL_GRID& G, int CX, int CY, int GX, int GY) {
  auto INSIDE = [](int A) { return A >= 1 && A <= MAXMAPGRIDI; };
  std::vector<std::pair<uint8_t, uint8_t>> PATH;
  if (!INSIDE(CX) || !INSIDE(CY) || !INSIDE(GX) || !INSIDE(GY) || G.CELL[GX][GY] != CG_N ||
      (CX == GX && CY == GY)) {
    return PATH;
  }
  // Breadth-first from the goal, so each cell knows its next step to it.
  static const int DX[4] = {1, -1, 0, 0}, DY[4] = {0, 0, 1, -1};
  int16_t NEXT[66][66];
  for (auto& ROW : NEXT) {
    std::fill(std::begin(ROW), std::end(ROW), int16_t(-1));
  }
  std::deque<std::pair<int, int>> Q;
  NEXT[GX][GY] = int16_t(GX * 66 + GY);
  Q.push_back({GX, GY});
  while (!Q.empty() && NEXT[CX][CY] < 0) {
    auto [X, Y] = Q.front();
    Q.pop_front();
    for (int K = 0; K < 4; K++) {
      int NX = X + DX[K], NY = Y + DY[K];
      if (INSIDE(NX) && INSIDE(NY) && NEXT[NX][NY] < 0 &&
          (G.CELL[NX][NY] == CG_N || (NX == CX && NY == CY))) {
        NEXT[NX][NY] = int16_t(X * 66 + Y);
        Q.push_back({NX, NY});
      }
    }
  }
  if (NEXT[CX][CY] < 0) {
    return PATH;
  }
  int X = CX, Y = CY;
  while (X != GX || Y != GY) {
    int N = NEXT[X][Y];
    X = N / 66;
    Y = N % 66;
    PATH.push_back({uint8_t(X), uint8_t(Y)});
  }
  return PATH;
}

// ---- figures of a load run ----

uint32_t CL_PERCENTILE(std::vector<uint32_t> V, double P) {
  if (V.empty()) {
    return 0;
  }
  std::sort(V.begin(), V.end());
  size_t RANK = size_t(std::ceil(P / 100.0 * double(V.size())));
  RANK = std::clamp(RANK, size_t(1), V.size());
  return V[RANK - 1];
}

static std::string CL_TICKS(uint32_t N) {
  return std::to_string(N) + (N == 1 ? " tick" : " ticks");
}

static double CL_PERPLAYERSECOND(const CL_LOADSUMMARY& S) {
  if (S.CONNECTED == 0 || S.SECONDS <= 0) {
    return 0;
  }
  return double(S.STATES) / S.CONNECTED / S.SECONDS;
}

std::string CL_LOADTEXT(const CL_LOADSUMMARY& S) {
  std::string T;
  T += "load run:       " + std::to_string(S.PLAYERS) + " players on " + S.SERVER + " for " +
       CL_FIXED1(S.SECONDS) + " s\n";
  T += "players:        " + std::to_string(S.CONNECTED) + " connected, " +
       std::to_string(S.REFUSED) + " refused, " + std::to_string(S.RECONNECTS) + " reconnects\n";
  T += "state packets:  " + CL_FIXED1(CL_PERPLAYERSECOND(S)) + " per player per second (" +
       std::to_string(S.STATES) + " in all)\n";
  T += "datagrams:      " + std::to_string(S.SENT) + " sent, " + std::to_string(S.RECEIVED) +
       " received\n";
  if (S.LATENCIES.empty()) {
    T += "input latency:  no move seen applied (" + std::to_string(S.MOVESLOST) + " not applied)\n";
  } else {
    T += "input latency:  median " + CL_TICKS(CL_PERCENTILE(S.LATENCIES, 50)) +
         ", 99th percentile " + CL_TICKS(CL_PERCENTILE(S.LATENCIES, 99)) + " (" +
         std::to_string(S.LATENCIES.size()) + " moves, " + std::to_string(S.MOVESLOST) +
         " not applied)\n";
  }
  T += "log lines:      " + std::to_string(S.LOGTAKEN) + " received of " +
       std::to_string(S.LOGEXPECTED) + " expected (" + std::to_string(S.LOGRESENT) + " resent)\n";
  T += "chat:           " + std::to_string(S.CHATSENT) + " sent, " + std::to_string(S.CHATSEEN) +
       " seen back\n";
  T += "game:           " + std::to_string(S.KILLS) + " kills, " + std::to_string(S.PICKUPS) +
       " pick-ups\n";
  if (S.ANOMALYCOUNT == 0) {
    T += "anomalies:      none\n";
  } else {
    T += "anomalies:      " + std::to_string(S.ANOMALYCOUNT) + "\n";
    for (const CL_ANOMALY& A : S.ANOMALIES) {
      T += "  " + SC_PRINTABLE(A.PLAYER) + ": " + A.KIND + ": " + A.DETAIL + "\n";
    }
    if (S.ANOMALIES.size() < S.ANOMALYCOUNT) {
      T += "  (" + std::to_string(S.ANOMALYCOUNT - S.ANOMALIES.size()) + " more)\n";
    }
  }
  return T;
}

std::string CL_LOADJSON(const CL_LOADSUMMARY& S) {
  auto N = [](uint64_t V) { return std::to_string(V); };
  std::string LAT = "{\"samples\":" + N(S.LATENCIES.size());
  if (S.LATENCIES.empty()) {
    LAT += ",\"median\":null,\"p99\":null";
  } else {
    LAT += ",\"median\":" + N(CL_PERCENTILE(S.LATENCIES, 50)) +
           ",\"p99\":" + N(CL_PERCENTILE(S.LATENCIES, 99));
  }
  LAT += ",\"not_applied\":" + N(S.MOVESLOST) + "}";
  std::string J = "{\"server\":" + CL_JSONSTRING(S.SERVER) + ",\"players\":" + N(S.PLAYERS) +
                  ",\"connected\":" + N(S.CONNECTED) + ",\"refused\":" + N(S.REFUSED) +
                  ",\"reconnects\":" + N(S.RECONNECTS) + ",\"seconds\":" + CL_FIXED1(S.SECONDS) +
                  ",\"state_packets\":" + N(S.STATES) +
                  ",\"state_packets_per_player_per_second\":" + CL_FIXED1(CL_PERPLAYERSECOND(S)) +
                  ",\"datagrams_sent\":" + N(S.SENT) + ",\"datagrams_received\":" + N(S.RECEIVED) +
                  ",\"input_latency_ticks\":" + LAT +
                  ",\"log_lines\":{\"received\":" + N(S.LOGTAKEN) +
                  ",\"expected\":" + N(S.LOGEXPECTED) + ",\"resent\":" + N(S.LOGRESENT) +
                  "},\"chat\":{\"sent\":" + N(S.CHATSENT) + ",\"seen\":" + N(S.CHATSEEN) +
                  "},\"kills\":" + N(S.KILLS) + ",\"pickups\":" + N(S.PICKUPS) +
                  ",\"anomaly_count\":" + N(S.ANOMALYCOUNT) + ",\"anomalies\":[";
  for (size_t K = 0; K < S.ANOMALIES.size(); K++) {
    const CL_ANOMALY& A = S.ANOMALIES[K];
    J += std::string(K > 0 ? "," : "") + "{\"player\":" + CL_JSONSTRING(A.PLAYER) +
         ",\"kind\":" + CL_JSONSTRING(A.KIND) + ",\"detail\":" + CL_JSONSTRING(A.DETAIL) + "}";
  }
  return J + "]}\n";
}
