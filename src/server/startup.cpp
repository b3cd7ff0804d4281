// Start-up: the command line, its bounds, and the start-up sequence.
#include <algorithm>

#include "clients/clients.hpp"
#include "hosting/hosting.hpp"
#include "maps/maps.hpp"
#include "net/net.hpp"
#include "ops/ops.hpp"
#include "server/server.hpp"

bool SV_READNUMBER(const std::string& S, uint32_t& VALUE) {
  VALUE = 0;
  if (S.size() > 255) {
    return false;
  }
  size_t P = 0;
  while (P < S.size() && (S[P] == ' ' || S[P] == '\t')) {
    P++;
  }
  if (P < S.size() && S[P] == '+') {
    P++;
  }
  uint32_t BASE = 10;
  if (P < S.size()) {
    char C = S[P];
    if (C == '$' || C == 'x' || C == 'X') {
      BASE = 16;
      P++;
    } else if (C == '%') {
      BASE = 2;
      P++;
    } else if (C == '&') {
      BASE = 8;
      P++;
    } else if (C == '0' && P + 1 < S.size() && (S[P + 1] == 'x' || S[P + 1] == 'X')) {
      BASE = 16;
      P += 2;
    }
  }
  if (P >= S.size()) {
    return false;
  }
  uint64_t V = 0;
  for (; P < S.size(); P++) {
    char C = S[P];
    uint32_t D;
    if (C >= '0' && C <= '9') {
      D = uint32_t(C - '0');
    } else if (C >= 'a' && C <= 'f') {
      D = uint32_t(C - 'a' + 10);
    } else if (C >= 'A' && C <= 'F') {
      D = uint32_t(C - 'A' + 10);
    } else {
      return false;
    }
    if (D >= BASE) {
      return false;
    }
    V = V * BASE + D;
    if (V > 0xFFFFFFFFu) {
      return false;
    }
  }
  VALUE = uint32_t(V);
  return true;
}

// Larger values wrap: only the low bits are kept.
uint16_t S2W(const std::string& S) {
  uint32_t V;
  SV_READNUMBER(S, V);
  return uint16_t(V & 0xFFFF);
}

uint8_t S2B(const std::string& S) {
  uint32_t V;
  SV_READNUMBER(S, V);
  return uint8_t(V & 0xFF);
}

std::string B2S(uint8_t I) {
  return std::to_string(unsigned(I));
}

std::string B2SYN(uint8_t I) {
  return I == 0 ? "no" : "yes";
}

// The value of a numeric option, wrapped to the width of its setting (MASK).
// An unreadable value counts as 0, like the server always took it; a value
// the setting cannot hold as given (it wraps, or SV_CHECKVARS will bound it)
// is warned about with the value it ends as.
static uint32_t SV_OPTNUMBER(const std::string& KEY, const std::string& VALUE, uint32_t MASK,
                             uint32_t LO, uint32_t HI) {
  uint32_t V;
  bool READABLE = SV_READNUMBER(VALUE, V);
  uint32_t TAKEN = std::clamp(V & MASK, LO, HI);
  if (!READABLE) {
    SC_WARN("option " + KEY + ": \"" + VALUE + "\" is not a number, taken as " +
            std::to_string(TAKEN));
  } else if (TAKEN != V) {
    SC_WARN("option " + KEY + ": " + VALUE + " is outside " + std::to_string(LO) + " to " +
            std::to_string(HI) + ", taken as " + std::to_string(TAKEN));
  }
  return V & MASK;
}

void SV_STARTPARAMS(const std::vector<std::string>& ARGS) {
  // -strict and -mapdir hold for the whole command line, whatever their
  // place: every warning of a strict start is an error, and every -map is
  // looked up in the one folder.
  for (size_t P = 1; P < ARGS.size(); P += 2) {
    if (ARGS[P - 1] == "-strict") {
      SV_STRICT = S2B(ARGS[P]);
    } else if (ARGS[P - 1] == "-mapdir") {
      SV_MAPDIR = ARGS[P];
    }
  }
  SC_WARNFATAL = SV_STRICT != 0;
  // Keys and values pair by position; every occurrence is applied in order.
  for (size_t P = 1; P < ARGS.size(); P += 2) {
    const std::string& KEY = ARGS[P - 1];
    const std::string& VALUE = ARGS[P];
    if (KEY == "-port") {
      NET_PORT = uint16_t(SV_OPTNUMBER(KEY, VALUE, 0xFFFF, 0, 65535));
    } else if (KEY == "-score") {
      SV_SCORELIMIT = uint8_t(SV_OPTNUMBER(KEY, VALUE, 0xFF, 1, 255));
    } else if (KEY == "-maxplayers") {
      SV_MAXPLAYERS = uint8_t(SV_OPTNUMBER(KEY, VALUE, 0xFF, 2, MAXCLIENTS));
    } else if (KEY == "-map") {
      MAPFROMFILE(VALUE);
    } else if (KEY == "-name") {
      SV_NAME = VALUE;
    } else if (KEY == "-teams") {
      SV_TEAMPLAY = uint8_t(SV_OPTNUMBER(KEY, VALUE, 0xFF, 0, 255));
    } else if (KEY == "-botteams") {
      SV_BOTTEAMS = uint8_t(SV_OPTNUMBER(KEY, VALUE, 0xFF, 1, MAXTEAMS));
    } else if (KEY == "-bots") {
      SV_BOTCOUNT = uint8_t(SV_OPTNUMBER(KEY, VALUE, 0xFF, 0, MAXCLIENTS));
    } else if (KEY == "-ip") {
      uint32_t A;
      if (NET_READIPV4(VALUE, A)) {
        NET_IP = VALUE;
      } else {
        SC_WARN("option -ip: \"" + VALUE + "\" is not an IPv4 address, ignored");
      }
    } else if (KEY == "-botfill") {
      SV_BOTFILL = uint8_t(SV_OPTNUMBER(KEY, VALUE, 0xFF, 0, 255));
    } else if (KEY == "-strict") {
      SV_STRICT = uint8_t(SV_OPTNUMBER(KEY, VALUE, 0xFF, 0, 255));
    } else if (KEY == "-http") {
      OPS_HTTP.SET(VALUE);
      OPS_KEEPLOG = !VALUE.empty(); // the HTTP side shows the newest lines
    } else if (KEY == "-agones") {
      HOST_AGONES = uint8_t(SV_OPTNUMBER(KEY, VALUE, 0xFF, 0, 1) != 0);
    } else if (KEY == "-webhook") {
      HOST_WEBHOOKADD(VALUE);
    } else if (KEY == "-banfile") {
      OPS_BANFILE(VALUE);
    } else if (KEY == "-log" || KEY == "-record") {
      // The edge's files, opened before start-up (OPS_START).
    } else if (KEY != "-mapdir") {
      SC_WARN("unrecognised option ignored: " + KEY + " " + VALUE);
    }
  }
  if (ARGS.size() % 2 == 1) {
    SC_WARN("option without a value ignored: " + ARGS.back());
  }
  SC_WARNFATAL = false; // later warnings (a map loaded by a command) are only warnings
  SV_CHECKVARS();
}

void SV_CHECKVARS() {
  if (SV_MAXPLAYERS < 2) {
    SV_MAXPLAYERS = 2;
  }
  if (SV_MAXPLAYERS > MAXCLIENTS) {
    SV_MAXPLAYERS = MAXCLIENTS;
  }
  if (SV_BOTCOUNT > MAXCLIENTS) {
    SV_BOTCOUNT = MAXCLIENTS;
  }
  if (SV_SCORELIMIT < 1) {
    SV_SCORELIMIT = 1;
  }
  if (SV_BOTTEAMS < 1) {
    SV_BOTTEAMS = 1;
  }
  if (SV_BOTTEAMS > MAXTEAMS) {
    SV_BOTTEAMS = MAXTEAMS;
  }
}

bool GAMESTART(const std::vector<std::string>& ARGS) {
  SC_CLEAR();
  SV_CLEARLOG();
  DEFAULTMAPS();
  uint32_t WARNED = SC_WARNINGS;
  SV_STARTPARAMS(ARGS);
  // A strict start stops at its first warnings, all of them shown.
  if (SV_STRICT != 0 && SC_WARNINGS != WARNED) {
    return false;
  }
  if (!NET_START()) {
    return false;
  }
  SV_ADDMSG(char(LOGMESSID_SMSG) + SV_NAME + ", v" + B2S(PVER));
  SV_ADDMSG(char(LOGMESSID_SMSG) + std::string("Playerlimit: ") + B2S(SV_MAXPLAYERS) +
            ", scorelimit: " + B2S(SV_SCORELIMIT) + ", teamplay: " + B2SYN(SV_TEAMPLAY));
  SV_LOADCURMAP(1);
  return true;
}

std::string SV_VERSIONTEXT() {
  return "Brastok Server, protocol version " + B2S(PVER);
}

std::string SV_HELPTEXT() {
  return "Usage: brastok_server [KEY VALUE]...\n"
         "Brastok dedicated server: one UDP port, 24 client slots, a 30 ms game cycle.\n"
         "\n"
         "Options (pairs by position; a later pair wins, every -map adds a map):\n"
         "  -port N        UDP port; the next free one above it when taken, 0 for any\n"
         "                 free port (default 35700)\n"
         "  -score N       score that ends a map, 1 to 255 (default 20)\n"
         "  -maxplayers N  most clients in the game at once, 2 to 24 (default 10)\n"
         "  -map NAME      adds DIR/NAME.brsk to the map list, up to 24 maps\n"
         "                 (default: the built-in map)\n"
         "  -name TEXT     server name (default \"Brastok Server\")\n"
         "  -teams N       0: every player for himself; otherwise team play (default 0)\n"
         "  -bots N        server-side bots wanted, 0 to 24 (default 0)\n"
         "  -botteams N    teams the bots are spread over, 1 to 4 (default 4)\n"
         "  -botfill N     not 0: bots leave to make room for humans (default 0)\n"
         "  -ip ADDRESS    local IPv4 address to listen on (default: all)\n"
         "  -mapdir DIR    folder of the -map files (default maps)\n"
         "  -strict N      not 0: a start-up that would warn fails instead (default 0)\n"
         "  -http [ADDR:]PORT  serves the live page, status, metrics and health over\n"
         "                 HTTP on ADDR (default 127.0.0.1); off by default\n"
         "  -banfile FILE  keeps the ban list in FILE: read at start, rewritten on change\n"
         "  -log FILE      appends one JSON object per event to FILE (SIGHUP reopens it)\n"
         "  -record FILE   records everything the server reads, for brastok_replay FILE\n"
         "  -agones N      1: reports to the Agones SDK sidecar (Ready, Health, a players\n"
         "                 label, Shutdown) on AGONES_SDK_HTTP_PORT (default 0: off)\n"
         "  -webhook URL   posts the start, match ends, kicks, bans and the stop as JSON\n"
         "                 to URL, http: or https: (may repeat)\n"
         "\n"
         "Numbers may be written in hexadecimal ($1F, 0x1F), binary (%101) or octal (&17).\n"
         "Commands on standard input, one a line: type help for the list.\n"
         "Stop the server with Ctrl-C (SIGINT), SIGTERM or the command quit; SIGHUP does\n"
         "not stop it.\n";
}
