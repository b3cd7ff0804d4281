#include "clientproto.hpp"

#include <cstring>

#include "net/net.hpp"

static std::string CL_BUILT() {
  return std::string(reinterpret_cast<const char*>(&NET_BUF[1]), size_t(NET_BUFP - 1));
}

std::string CL_CONNECT(const std::string& NAME, uint8_t TEAM, uint8_t VERSION) {
  NET_CLEARBUFFER();
  NET_WRITEBYTE(SVMPMSG_CCON);
  NET_WRITEBYTE(VERSION);
  NET_WRITESTRING(NAME);
  NET_WRITEBYTE(TEAM);
  return CL_BUILT();
}

std::string CL_DISCONNECT() {
  return std::string(1, char(SVMPMSG_CDCON));
}

std::string CL_DATA(uint16_t ECHO, uint16_t DIR, uint8_t ACT, uint16_t MX, uint16_t MY,
                    uint16_t ACK) {
  NET_CLEARBUFFER();
  NET_WRITEBYTE(SVMPMSG_CDAT);
  NET_WRITEWORD(ECHO);
  NET_WRITEWORD(DIR);
  NET_WRITEBYTE(ACT);
  NET_WRITEWORD(MX);
  NET_WRITEWORD(MY);
  NET_WRITEWORD(ACK);
  return CL_BUILT();
}

std::string CL_CHAT(const std::string& TEXT) {
  NET_CLEARBUFFER();
  NET_WRITEBYTE(SVMPMSG_CCHAT);
  NET_WRITESTRING(TEXT);
  return CL_BUILT();
}

// Loads a datagram into the buffer for reading; false when it cannot be one.
static bool CL_LOAD(const std::string& D, uint8_t ID) {
  if (D.empty() || D.size() > size_t(MAXBUFFER) || uint8_t(D[0]) != ID) {
    return false;
  }
  NET_CLEARBUFFER();
  std::memcpy(&NET_BUF[1], D.data(), D.size());
  NET_BUFP = 2;
  return true;
}

// A read past the datagram's end shows as a cursor beyond its length.
static bool CL_EXACT(const std::string& D) {
  return size_t(NET_BUFP - 1) == D.size();
}
static bool CL_WITHIN(const std::string& D) {
  return size_t(NET_BUFP - 1) <= D.size();
}

bool CL_PARSESTATE(const std::string& D, CL_STATE& S) {
  if (!CL_LOAD(D, CLMPMSG_SHAP)) {
    return false;
  }
  S = {};
  S.TICK = NET_READWORD();
  S.BOARD = NET_READWORD();
  uint8_t N = NET_READBYTE();
  for (int I = 0; I < N; I++) {
    CL_ENTRY E;
    E.SLOT = NET_READBYTE();
    E.STATE = NET_READBYTE();
    E.PING = NET_READBYTE();
    if (E.STATE >= PS_DEAD) {
      E.SCORE = NET_READBYTE();
    }
    if (E.STATE >= PS_LIVE) {
      E.X = NET_READWORD();
      E.Y = NET_READWORD();
      E.DIR = NET_READWORD();
    }
    if (E.STATE == PS_ATTA) {
      E.GUN = NET_READBYTE();
    }
    if (!CL_WITHIN(D)) {
      return false;
    }
    S.PLAYERS.push_back(E);
  }
  uint8_t NI = NET_READBYTE();
  for (int I = 0; I < NI; I++) {
    S.ITEMS.push_back(NET_READBYTE());
  }
  S.SELF = NET_READBYTE();
  S.HITS = NET_READBYTE();
  S.ARMOR = NET_READBYTE();
  S.AMMO1 = NET_READBYTE();
  S.AMMO2 = NET_READBYTE();
  S.GUN = NET_READBYTE();
  return CL_EXACT(D);
}

bool CL_PARSEMAP(const std::string& D, CL_MAPINFO& M) {
  if (!CL_LOAD(D, CLMPMSG_MAP)) {
    return false;
  }
  M = {};
  M.LOGBASE = NET_READWORD();
  size_t END = D.find('\0', 3);
  if (D.size() < 3 || END == std::string::npos) {
    return false;
  }
  M.MAPTEXT = D.substr(3, END - 3);
  NET_BUFP = uint16_t(END + 2); // past the text and its 0 byte
  M.MAPNAME = NET_READSTRING();
  M.SERVERNAME = NET_READSTRING();
  M.SCORELIMIT = NET_READBYTE();
  M.TEAMPLAY = NET_READBYTE();
  M.MAXPLAYERS = NET_READBYTE();
  uint8_t N = NET_READBYTE();
  for (int I = 0; I < N; I++) {
    CL_LISTED P;
    P.SLOT = NET_READBYTE();
    P.TEAM = NET_READBYTE();
    P.NAME = NET_READSTRING();
    if (!CL_WITHIN(D)) {
      return false;
    }
    M.PLAYERS.push_back(P);
  }
  return CL_EXACT(D);
}

bool CL_PARSELOG(const std::string& D, CL_LOG& L) {
  if (!CL_LOAD(D, CLMPMSG_LOGL)) {
    return false;
  }
  L = {};
  L.LAST = NET_READWORD();
  uint8_t N = NET_READBYTE();
  for (int I = 0; I < N; I++) {
    L.LINES.push_back(NET_READSTRING());
    if (!CL_WITHIN(D)) {
      return false;
    }
  }
  return CL_EXACT(D);
}
