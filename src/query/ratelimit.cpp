// The status query's rate limit: the last QRY_RATE queries of each sender
// address.
#include "query/query.hpp"
#include "server/state.hpp"

bool QRY_ALLOWED(uint32_t ADDR) {
  // The entry of this address among a few neighbouring places; a new address
  // takes a free place, or else the one least recently used.
  constexpr int PROBES = 4;
  uint32_t H = (ADDR * 2654435761u) >> 24; // 0..255
  TQLOG* E = nullptr;
  TQLOG* SPARE = nullptr;
  for (int K = 0; K < PROBES && E == nullptr; K++) {
    TQLOG& T = QRY_LOG[(H + uint32_t(K)) % QRY_TABLE];
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
  if (E->N == QRY_RATE && SV_NOWMS - E->AT[E->HEAD] < 1000) {
    return false;
  }
  E->AT[E->HEAD] = SV_NOWMS;
  E->HEAD = uint8_t((E->HEAD + 1) % QRY_RATE);
  E->N = uint8_t(E->N < QRY_RATE ? E->N + 1 : QRY_RATE);
  E->LAST = SV_NOWMS;
  return true;
}
