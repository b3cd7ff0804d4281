// The slotless status query: a challenge cookie bound to the sender's address
// and port, then the answer, for at most QRY_RATE query datagrams per
// address and second. Nothing here touches a slot or logs a line.
#include <algorithm>

#include "net/net.hpp"
#include "query/query.hpp"

// ---- cookies ----

static uint64_t QRY_ROTL(uint64_t X, int B) {
  return (X << B) | (X >> (64 - B));
}

static void QRY_SIPROUNDS(uint64_t (&V)[4], int N) {
  for (int K = 0; K < N; K++) {
    V[0] += V[1];
    V[1] = QRY_ROTL(V[1], 13) ^ V[0];
    V[0] = QRY_ROTL(V[0], 32);
    V[2] += V[3];
    V[3] = QRY_ROTL(V[3], 16) ^ V[2];
    V[0] += V[3];
    V[3] = QRY_ROTL(V[3], 21) ^ V[0];
    V[2] += V[1];
    V[1] = QRY_ROTL(V[1], 17) ^ V[2];
    V[2] = QRY_ROTL(V[2], 32);
  }
}

// SipHash-2-4 of one 8-byte message under the key (K0, K1): a keyed hash
// whose outputs tell nothing of the key, so a cookie for one address says
// nothing about the cookie of another.
static uint64_t QRY_SIPHASH(uint64_t K0, uint64_t K1, uint64_t M) {
  uint64_t V[4] = {K0 ^ 0x736f6d6570736575ull, K1 ^ 0x646f72616e646f6dull,
                   K0 ^ 0x6c7967656e657261ull, K1 ^ 0x7465646279746573ull};
  V[3] ^= M;
  QRY_SIPROUNDS(V, 2);
  V[0] ^= M;
  const uint64_t LAST = uint64_t(8) << 56; // the length byte of the final block
  V[3] ^= LAST;
  QRY_SIPROUNDS(V, 2);
  V[0] ^= LAST;
  V[2] ^= 0xFF;
  QRY_SIPROUNDS(V, 4);
  return V[0] ^ V[1] ^ V[2] ^ V[3];
}

uint32_t QRY_COOKIE(uint32_t ADDR, uint16_t PORT, int64_t PERIOD) {
  // The period's secret, from the seed: a leaked secret is worth a few
  // minutes at most.
  uint64_t K0 = QRY_SIPHASH(QRY_SEED, 0, uint64_t(PERIOD));
  uint64_t K1 = QRY_SIPHASH(QRY_SEED, 1, uint64_t(PERIOD));
  uint32_t C = uint32_t(QRY_SIPHASH(K0, K1, (uint64_t(ADDR) << 16) | PORT));
  return C != 0 ? C : 1; // 0 is the cookie of a first query
}

// ---- the answer ----

static void QRY_WRITEU32(uint32_t V) {
  NET_WRITEWORD(uint16_t(V & 0xFFFF));
  NET_WRITEWORD(uint16_t(V >> 16));
}

// The status, in NET_BUF. At most 174 bytes before the slots and 27 per slot
// (a name holds at most PLAYERMAXNAME bytes): 822 for 24 slots, well within
// QRY_MAXANSWER.
static void QRY_WRITEANSWER() {
  static_assert(3 + 64 + 32 + 64 + 8 + 3 + MAXCLIENTS * (1 + 1 + PLAYERMAXNAME + 4) <=
                QRY_MAXANSWER);
  uint8_t SPECTATORS = 0;
  for (int I = 1; I <= MAXCLIENTS; I++) {
    const TCLIENT& C = SV_CLIENTSLIST[I];
    SPECTATORS = uint8_t(SPECTATORS + (C.EXIST && !C.BOT && !C.PLAY ? 1 : 0));
  }
  bool MAPSET = SV_MAP.NUM >= 1 && SV_MAP.NUM <= MAXMAPLIST;
  NET_CLEARBUFFER();
  NET_WRITEBYTE(CLMPMSG_QINFO);
  NET_WRITEBYTE(QRY_FORMAT);
  NET_WRITEBYTE(PVER);
  NET_WRITESTRING(SV_NAME.substr(0, 63));
  NET_WRITESTRING(std::string(SV_VERSION).substr(0, 31));
  NET_WRITESTRING(MAPSET ? SV_MAPL[SV_MAP.NUM].NAME.substr(0, 63) : std::string());
  NET_WRITEBYTE(SV_MAP.NUM);
  NET_WRITEBYTE(SV_SCORELIMIT);
  NET_WRITEBYTE(SV_MAXPLAYERS);
  NET_WRITEBYTE(SV_TEAMPLAY);
  NET_WRITEBYTE(SV_BOTCOUNT);
  NET_WRITEBYTE(uint8_t(SV_CURCLIENTS - SV_BOTC));
  NET_WRITEBYTE(SV_BOTC);
  NET_WRITEBYTE(SPECTATORS);
  NET_WRITEWORD(SV_PINGVAR);
  NET_WRITEBYTE(SV_CURCLIENTS);
  for (int I = 1; I <= MAXCLIENTS; I++) {
    const TCLIENT& C = SV_CLIENTSLIST[I];
    if (!C.EXIST) {
      continue;
    }
    NET_WRITEBYTE(uint8_t(I));
    NET_WRITESTRING(C.NAME.substr(0, PLAYERMAXNAME));
    NET_WRITEBYTE(C.TEAM);
    NET_WRITEBYTE(C.SCORE);
    NET_WRITEBYTE(C.PING);
    uint8_t ST = PLAYER_STATE(uint8_t(I));
    NET_WRITEBYTE(uint8_t((C.BOT ? 1 : 0) | (C.PLAY ? 2 : 0) | (ST >= PS_LIVE ? 4 : 0)));
  }
}

int64_t QRY_PERIODOF(int64_t MS) {
  // Periods count down from the clock's zero as well: floor division.
  return MS / QRY_PERIODMS - (MS % QRY_PERIODMS < 0 ? 1 : 0);
}

size_t QRY_READS(size_t N) {
  if (N > 0 && NET_BUF[1] == SVMPMSG_QUERY) {
    return std::min(N, QRY_SIZE);
  }
  // Of a datagram that begins with 0xFF the handling reads up to four bytes
  // to tell whether it is A2S, and no more than QRY_A2SREADS of a request.
  return N > 0 && NET_BUF[1] == 0xFF ? std::min(N, QRY_A2SREADS) : 0;
}

bool QRY_QUERY(const std::string& IP, uint16_t PORT) {
  if (QRY_ISA2S()) {
    QRY_A2S(IP, PORT);
    return true;
  }
  if (NET_BUF[1] != SVMPMSG_QUERY) {
    return false;
  }
  // NET_LOADBUFFER leaves NET_BUFEND one past the datagram's last byte.
  uint32_t ADDR = 0;
  NET_READIPV4(IP, ADDR); // a sender's address is always dotted IPv4 text
  if (size_t(NET_BUFEND - 1) < QRY_SIZE || !QRY_ALLOWED(ADDR)) {
    return true; // dropped without a reply
  }
  NET_BUFP = 2;
  uint32_t GOT = NET_READWORD();
  GOT |= uint32_t(NET_READWORD()) << 16;
  int64_t PERIOD = QRY_PERIODOF(SV_NOWMS);
  uint32_t COOKIE = QRY_COOKIE(ADDR, PORT, PERIOD);
  if (GOT != COOKIE && GOT != QRY_COOKIE(ADDR, PORT, PERIOD - 1)) {
    NET_CLEARBUFFER();
    NET_WRITEBYTE(CLMPMSG_QCHAL);
    QRY_WRITEU32(COOKIE);
  } else {
    QRY_WRITEANSWER();
  }
  NET_COUNTSENT();
  NET_SEND(IP, PORT);
  return true;
}
