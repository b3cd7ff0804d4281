// The query's state and its start values.
#include "query/query.hpp"

uint64_t QRY_SEED = 0;
TQLOG QRY_LOG[QRY_TABLE];
TSNAPSHOT QRY_SNAP;

void QRY_RESET() {
  for (TQLOG& E : QRY_LOG) {
    E = {};
  }
  QRY_SNAP.SEQ = 0; // the next one is taken whole
}
