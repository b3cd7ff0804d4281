// Start-up: the command line, its bounds, and the start-up sequence.
#include "clients/clients.hpp"
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

// The value of a numeric option; an unreadable one is warned about and
// counts as 0, like the server always took it.
static uint32_t SV_OPTNUMBER(const std::string& KEY, const std::string& VALUE) {
  uint32_t V;
  if (!SV_READNUMBER(VALUE, V)) {
    SC_WARN("option " + KEY + ": \"" + VALUE + "\" is not a number, taken as 0");
  }
  return V;
}

void SV_STARTPARAMS(const std::vector<std::string>& ARGS) {
  // Keys and values pair by position; every occurrence is applied in order.
  for (size_t P = 1; P < ARGS.size(); P += 2) {
    const std::string& KEY = ARGS[P - 1];
    const std::string& VALUE = ARGS[P];
    if (KEY == "-port") {
      NET_PORT = uint16_t(SV_OPTNUMBER(KEY, VALUE) & 0xFFFF);
    } else if (KEY == "-score") {
      SV_SCORELIMIT = uint8_t(SV_OPTNUMBER(KEY, VALUE) & 0xFF);
    } else if (KEY == "-maxplayers") {
      SV_MAXPLAYERS = uint8_t(SV_OPTNUMBER(KEY, VALUE) & 0xFF);
    } else if (KEY == "-map") {
      MAPFROMFILE(VALUE);
    } else if (KEY == "-name") {
      SV_NAME = VALUE;
    } else if (KEY == "-teams") {
      SV_TEAMPLAY = uint8_t(SV_OPTNUMBER(KEY, VALUE) & 0xFF);
    } else if (KEY == "-botteams") {
      SV_BOTTEAMS = uint8_t(SV_OPTNUMBER(KEY, VALUE) & 0xFF);
    } else if (KEY == "-bots") {
      SV_BOTCOUNT = uint8_t(SV_OPTNUMBER(KEY, VALUE) & 0xFF);
    } else if (KEY == "-http") {
      OPS_HTTP.SET(VALUE);
      OPS_KEEPLOG = !VALUE.empty(); // the HTTP side shows the newest lines
    } else if (KEY == "-banfile") {
      OPS_BANFILE(VALUE);
    } else if (KEY == "-log" || KEY == "-record") {
      // The edge's files, opened before start-up (OPS_START).
    } else {
      SC_WARN("unrecognised option ignored: " + KEY + " " + VALUE);
    }
  }
  if (ARGS.size() % 2 == 1) {
    SC_WARN("option without a value ignored: " + ARGS.back());
  }
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
  SV_STARTPARAMS(ARGS);
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
         "  -map NAME      adds maps/NAME.brsk to the map list, up to 24 maps\n"
         "                 (default: the built-in map)\n"
         "  -name TEXT     server name (default \"Brastok Server\")\n"
         "  -teams N       0: every player for himself; otherwise team play (default 0)\n"
         "  -bots N        server-side bots wanted, 0 to 24 (default 0)\n"
         "  -botteams N    teams the bots are spread over, 1 to 4 (default 4)\n"
         "  -http [ADDR:]PORT  serves the live page, status, metrics and health over\n"
         "                 HTTP on ADDR (default 127.0.0.1); off by default\n"
         "  -banfile FILE  keeps the ban list in FILE: read at start, rewritten on change\n"
         "  -log FILE      appends one JSON object per event to FILE (SIGHUP reopens it)\n"
         "  -record FILE   records everything the server reads, for brastok_replay FILE\n"
         "\n"
         "Numbers may be written in hexadecimal ($1F, 0x1F), binary (%101) or octal (&17).\n"
         "Commands on standard input, one a line: type help for the list.\n"
         "Stop the server with Ctrl-C (SIGINT), SIGTERM or the command quit.\n";
}
