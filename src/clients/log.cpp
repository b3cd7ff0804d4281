// The event log: every game event as one numbered line, kept for delivery to
// the clients and printed on the console.
#include "clients/clients.hpp"
#include "hooks.hpp"
#include "server/server.hpp"

void SV_CLEARLOG() {
  for (int K = 0; K <= MAXLOG; K++) {
    SV_LOG[K].clear();
  }
  SV_LOGI = 0;
}

void SV_ADDMSG(const std::string& MSG) {
  SV_LOGI = uint16_t(SV_LOGI + 1); // 65535 is followed by 0
  // Not a ring: the newest line is always entry 0 and the oldest falls out.
  for (int K = MAXLOG - 1; K >= 0; K--) {
    SV_LOG[K + 1] = std::move(SV_LOG[K]);
  }
  SV_LOG[0] = MSG;
  SV_STATS.LOGLINES++;
  // Printed at once, while the slots it names still hold their names.
  SC_LOGMESS(MSG);
  HOOK_LOGLINE(SV_LOG[0]);
}

std::string SV_LOGLINE(std::initializer_list<uint8_t> BYTES) {
  std::string S;
  for (uint8_t B : BYTES) {
    S += char(B);
  }
  return S;
}

// The name of a slot named by a log line. Lines come from the server itself
// with slots in range; a byte outside them renders as no name rather than
// reading past the table.
static std::string SC_SLOTNAME(uint8_t C, const void*) {
  if (C < 1 || C > MAXCLIENTS) {
    return {};
  }
  return SV_CLIENTSLIST[C].NAME;
}

static uint8_t SC_ARG(const std::string& ST, size_t I) {
  return I < ST.size() ? uint8_t(ST[I]) : 0;
}

std::string SC_LOGTEXT(const std::string& ST) {
  return SC_LOGTEXT(ST, SC_SLOTNAME, nullptr);
}

std::string SC_LOGTEXT(const std::string& ST, SC_NAMEOF NAMEOF, const void* CTX) {
  if (ST.empty()) {
    return {};
  }
  uint8_t C = SC_ARG(ST, 1);
  std::string REST = ST.size() > 2 ? ST.substr(2) : std::string();
  switch (uint8_t(ST[0])) {
  case LOGMESSID_CCON:
    return NAMEOF(C, CTX) + STR_CCON;
  case LOGMESSID_CDCON:
    return NAMEOF(C, CTX) + STR_DCON;
  case LOGMESSID_COUT:
    return NAMEOF(C, CTX) + STR_COUT;
  case LOGMESSID_CHAT:
    return NAMEOF(C, CTX) + ": " + REST;
  case LOGMESSID_KILL: {
    const char* GUN = C >= 1 && C <= NUMGUNS ? GUNS_NAME[C] : "";
    return NAMEOF(SC_ARG(ST, 2), CTX) + " > " + GUN + " > " + NAMEOF(SC_ARG(ST, 3), CTX);
  }
  case LOGMESSID_ENTER:
    return NAMEOF(C, CTX) + STR_CENT;
  case LOGMESSID_LEAVE:
    return NAMEOF(C, CTX) + STR_CLEV;
  case LOGMESSID_SCORE:
    return NAMEOF(C, CTX) + STR_CWIN;
  case LOGMESSID_TSCORE:
    return std::string(C < MAXTEAMS ? TEAMNAME[C] : "") + STR_TEAM + STR_CWIN;
  case LOGMESSID_SMSG:
    return ST.substr(1);
  default:
    return {};
  }
}

void SC_LOGMESS(const std::string& ST) {
  // A connect line carries the team and the name; the slot takes them (again:
  // on the server the connect has stored them already).
  if (!ST.empty() && uint8_t(ST[0]) == LOGMESSID_CCON) {
    uint8_t C = SC_ARG(ST, 1);
    if (C >= 1 && C <= MAXCLIENTS) {
      SV_CLIENTSLIST[C].TEAM = SC_ARG(ST, 2);
      SV_CLIENTSLIST[C].NAME = ST.size() > 3 ? ST.substr(3, PLAYERMAXNAME) : std::string();
    }
  }
  std::string TEXT = SC_LOGTEXT(ST);
  if (!TEXT.empty()) {
    // An event is the console's even while a command answers somebody else.
    std::vector<std::string>* ANSWER = SC_ANSWER;
    SC_ANSWER = nullptr;
    SC_WRITELN(TEXT);
    SC_ANSWER = ANSWER;
  }
}
