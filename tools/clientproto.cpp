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

std::string CL_QUERY(uint32_t COOKIE) {
  NET_CLEARBUFFER();
  NET_WRITEBYTE(SVMPMSG_QUERY);
  NET_WRITEWORD(uint16_t(COOKIE & 0xFFFFu));
  NET_WRITEWORD(uint16_t(COOKIE >> 16));
  return CL_BUILT();
}

// Parsing reads the datagram from the codec's buffer. The codec's readers
// give 0 past the end of the buffer without moving, so a datagram that fills
// the whole buffer could seem to hold fields it lacks: every field is
// checked against the datagram's length before it is read.
static size_t CL_LEN = 0;
static bool CL_FITS = true;

// Loads a datagram into the buffer for reading; false when it cannot be one.
static bool CL_LOAD(const std::string& D, uint8_t ID) {
  if (D.empty() || D.size() > size_t(MAXBUFFER) || uint8_t(D[0]) != ID) {
    return false;
  }
  NET_LOADBUFFER(D.data(), D.size());
  NET_BUFP = 2;
  CL_LEN = D.size();
  CL_FITS = true;
  return true;
}

// True when N more bytes lie inside the datagram.
static bool CL_HAS(size_t N) {
  CL_FITS = CL_FITS && size_t(NET_BUFP) - 1 + N <= CL_LEN;
  return CL_FITS;
}
static uint8_t CL_BYTE() {
  return CL_HAS(1) ? NET_READBYTE() : 0;
}
static uint16_t CL_WORD() {
  return CL_HAS(2) ? NET_READWORD() : 0;
}
// Read here rather than by the codec, whose strings never reach the last
// byte of the buffer.
static std::string CL_STRING() {
  if (!CL_HAS(1) || !CL_HAS(1 + size_t(NET_BUF[NET_BUFP]))) {
    return {};
  }
  size_t N = NET_BUF[NET_BUFP];
  std::string S(reinterpret_cast<const char*>(&NET_BUF[NET_BUFP + 1]), N);
  NET_BUFP = uint16_t(NET_BUFP + 1 + N);
  return S;
}

// Every field was inside the datagram, and nothing follows the last one.
static bool CL_EXACT() {
  return CL_FITS && size_t(NET_BUFP) - 1 == CL_LEN;
}

bool CL_PARSESTATE(const std::string& D, CL_STATE& S) {
  if (!CL_LOAD(D, CLMPMSG_SHAP)) {
    return false;
  }
  S = {};
  S.TICK = CL_WORD();
  S.BOARD = CL_WORD();
  uint8_t N = CL_BYTE();
  for (int I = 0; I < N && CL_FITS; I++) {
    CL_ENTRY E;
    E.SLOT = CL_BYTE();
    E.STATE = CL_BYTE();
    E.PING = CL_BYTE();
    if (E.STATE >= PS_DEAD) {
      E.SCORE = CL_BYTE();
    }
    if (E.STATE >= PS_LIVE) {
      E.X = CL_WORD();
      E.Y = CL_WORD();
      E.DIR = CL_WORD();
    }
    if (E.STATE == PS_ATTA) {
      E.GUN = CL_BYTE();
    }
    S.PLAYERS.push_back(E);
  }
  uint8_t NI = CL_BYTE();
  for (int I = 0; I < NI && CL_FITS; I++) {
    S.ITEMS.push_back(CL_BYTE());
  }
  S.SELF = CL_BYTE();
  S.HITS = CL_BYTE();
  S.ARMOR = CL_BYTE();
  S.AMMO1 = CL_BYTE();
  S.AMMO2 = CL_BYTE();
  S.GUN = CL_BYTE();
  return CL_EXACT();
}

bool CL_PARSEMAP(const std::string& D, CL_MAPINFO& M) {
  if (!CL_LOAD(D, CLMPMSG_MAP)) {
    return false;
  }
  M = {};
  M.LOGBASE = CL_WORD();
  size_t END = D.find('\0', 3);
  if (!CL_FITS || END == std::string::npos) {
    return false;
  }
  M.MAPTEXT = D.substr(3, END - 3);
  NET_BUFP = uint16_t(END + 2); // past the text and its 0 byte
  M.MAPNAME = CL_STRING();
  M.SERVERNAME = CL_STRING();
  M.SCORELIMIT = CL_BYTE();
  M.TEAMPLAY = CL_BYTE();
  M.MAXPLAYERS = CL_BYTE();
  uint8_t N = CL_BYTE();
  for (int I = 0; I < N && CL_FITS; I++) {
    CL_LISTED P;
    P.SLOT = CL_BYTE();
    P.TEAM = CL_BYTE();
    P.NAME = CL_STRING();
    M.PLAYERS.push_back(P);
  }
  return CL_EXACT();
}

bool CL_PARSELOG(const std::string& D, CL_LOG& L) {
  if (!CL_LOAD(D, CLMPMSG_LOGL)) {
    return false;
  }
  L = {};
  L.LAST = CL_WORD();
  uint8_t N = CL_BYTE();
  for (int I = 0; I < N && CL_FITS; I++) {
    L.LINES.push_back(CL_STRING());
  }
  return CL_EXACT();
}

bool CL_PARSEQCHAL(const std::string& D, uint32_t& COOKIE) {
  if (!CL_LOAD(D, CLMPMSG_QCHAL)) {
    return false;
  }
  uint32_t LO = CL_WORD();
  uint32_t HI = CL_WORD();
  COOKIE = LO | HI << 16;
  return CL_EXACT();
}

bool CL_PARSEQINFO(const std::string& D, CL_QINFO& Q) {
  if (!CL_LOAD(D, CLMPMSG_QINFO)) {
    return false;
  }
  Q = {};
  Q.FORMAT = CL_BYTE();
  Q.VERSION = CL_BYTE();
  Q.SERVERNAME = CL_STRING();
  Q.SERVERVERSION = CL_STRING();
  Q.MAPNAME = CL_STRING();
  Q.MAPENTRY = CL_BYTE();
  Q.SCORELIMIT = CL_BYTE();
  Q.MAXPLAYERS = CL_BYTE();
  Q.TEAMPLAY = CL_BYTE();
  Q.BOTSWANTED = CL_BYTE();
  Q.HUMANS = CL_BYTE();
  Q.BOTS = CL_BYTE();
  Q.SPECTATORS = CL_BYTE();
  Q.TICK = CL_WORD();
  uint8_t N = CL_BYTE();
  for (int I = 0; I < N && CL_FITS; I++) {
    CL_QPLAYER P;
    P.SLOT = CL_BYTE();
    P.NAME = CL_STRING();
    P.TEAM = CL_BYTE();
    P.SCORE = CL_BYTE();
    P.PING = CL_BYTE();
    P.FLAGS = CL_BYTE();
    Q.PLAYERS.push_back(P);
  }
  return CL_EXACT();
}
