// Start-up: numbers of the command line, the bounds of the settings, and
// the start-up sequence. The options themselves are in options.cpp.
#include <algorithm>

#include "clients/clients.hpp"
#include "maps/maps.hpp"
#include "net/net.hpp"
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
  if (!SV_STARTPARAMS(ARGS)) {
    return false; // a file of the edge could not be opened: said why
  }
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
