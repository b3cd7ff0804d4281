// The recorder's entries about the network, in a file of their own: they
// read the transport and the query's seed, which programs that link the core
// without a transport (the client tool) never reach.
#include "net/net.hpp"
#include "query/query.hpp"
#include "record/record.hpp"

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
  REC_PUTTEXT(*B, std::string_view(reinterpret_cast<const char*>(&NET_BUF[1]), size_t(R)));
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
