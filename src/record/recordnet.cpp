// The recorder's entries about the network, in a file of their own: they
// read the transport and the query's seed, which programs that link the core
// without a transport (the client tool) never reach.
#include <algorithm>

#include "hooks.hpp"
#include "net/net.hpp"
#include "query/query.hpp"
#include "record/record.hpp"

// Whether IP:PORT holds a slot (a lookup that changes nothing).
static bool REC_HOLDSSLOT(const std::string& IP, uint16_t PORT) {
  for (int I = 1; I <= MAXCLIENTS; I++) {
    const TCLIENT& C = SV_CLIENTSLIST[I];
    if (C.EXIST && !C.BOT && C.PORT == PORT && C.IP == IP) {
      return true;
    }
  }
  return false;
}

// How many of the datagram's N bytes its handling can depend on, read
// before it is handled. A banned sender's datagram is dropped unread, a
// query (the status query or A2S) is read no further than its request, and a
// datagram from a sender without a slot that is neither a connect nor a
// query is handled by its first byte alone: a flood of junk records a few
// bytes a datagram, and the replay handles it just the same.
static size_t REC_NEEDED(size_t N, uint16_t PORT) {
  std::string IP = NET_LASTINIP();
  uint8_t MID = NET_BUF[1];
  if (N == 0 || HOOK_BANNED(IP)) {
    return std::min<size_t>(N, 1);
  }
  if (MID == SVMPMSG_CCON || REC_HOLDSSLOT(IP, PORT)) {
    return N;
  }
  return std::max<size_t>(QRY_READS(N), 1);
}

void REC_RECEIVED(int32_t R) {
  if (R == NET_RECV_NONE) {
    return;
  }
  std::string* B = REC_ENTRY(R < 0 ? 'B' : 'D');
  if (B == nullptr || R < 0) {
    return;
  }
  // The sender as four address bytes: the transport gives it as text.
  uint32_t A = 0;
  uint32_t PART = 0;
  for (char C : NET_LASTINIP()) {
    if (C == '.') {
      A = (A << 8) | PART;
      PART = 0;
    } else {
      PART = PART * 10 + uint32_t(C - '0');
    }
  }
  A = (A << 8) | PART;
  for (int K = 3; K >= 0; K--) {
    *B += char(uint8_t(A >> (8 * K)));
  }
  uint16_t PORT = NET_LASTINPORT();
  *B += char(uint8_t(PORT));
  *B += char(uint8_t(PORT >> 8));
  REC_PUTTEXT(*B, std::string_view(reinterpret_cast<const char*>(&NET_BUF[1]),
                                   REC_NEEDED(size_t(R), PORT)));
}

void REC_RECORDSTART(bool OK) {
  std::string* B = REC_ENTRY('Q');
  if (B == nullptr) {
    return;
  }
  for (int K = 0; K < 8; K++) {
    *B += char(uint8_t(QRY_SEED >> (8 * K)));
  }
  // Which line a failed start printed: a replay prints the same.
  uint8_t CODE = REC_STARTED;
  if (!OK) {
    CODE = 0;
    for (const TRECSTART& S : REC_STARTS) {
      CODE = NET_FAILLINE == S.LINE ? S.CODE : CODE;
    }
  }
  *B += 'N';
  *B += char(CODE);
  *B += char(uint8_t(NET_PORT));
  *B += char(uint8_t(NET_PORT >> 8));
  REC_RECORDFLUSH();
}
