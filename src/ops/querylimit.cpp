// The status query's rate limit: the last OPS_QRATE queries of each sender
// address. Apart from the answer, so that resetting the state needs no
// transport.
#include "ops/ops.hpp"

// The last OPS_QRATE queries taken from one address: AT is a ring whose
// oldest time is at HEAD. A small open-addressed table, no allocation.
constexpr int OPS_QTABLE = 256;
struct TQLOG {
  uint32_t ADDR;
  uint8_t N; // times recorded, at most OPS_QRATE
  uint8_t HEAD;
  int64_t LAST;
  int64_t AT[OPS_QRATE];
};
static TQLOG OPS_QLOG[OPS_QTABLE];

void OPS_QRESET() {
  for (TQLOG& E : OPS_QLOG) {
    E = {};
  }
}

bool OPS_QALLOWED(uint32_t ADDR) {
  // The entry of this address among a few neighbouring places; a new address
  // takes a free place, or else the one least recently used.
  constexpr int PROBES = 4;
  uint32_t H = (ADDR * 2654435761u) >> 24; // 0..255
  TQLOG* E = nullptr;
  TQLOG* SPARE = nullptr;
  for (int K = 0; K < PROBES && E == nullptr; K++) {
    TQLOG& T = OPS_QLOG[(H + uint32_t(K)) % OPS_QTABLE];
    if (T.N > 0 && T.ADDR == ADDR) {
      E = &T;
    } else if (SPARE == nullptr || T.N == 0 || (SPARE->N > 0 && T.LAST < SPARE->LAST)) {
      SPARE = &T;
    }
  }
  if (E == nullptr) {
    E = SPARE;
    *E = {};
    E->ADDR = ADDR;
  }
  if (E->N == OPS_QRATE && SV_NOWMS - E->AT[E->HEAD] < 1000) {
    return false;
  }
  E->AT[E->HEAD] = SV_NOWMS;
  E->HEAD = uint8_t((E->HEAD + 1) % OPS_QRATE);
  E->N = uint8_t(E->N < OPS_QRATE ? E->N + 1 : OPS_QRATE);
  E->LAST = SV_NOWMS;
  return true;
}
