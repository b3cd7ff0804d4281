// The status's own state and its start values.
#include "status/status.hpp"

bool STATUS_KEEPLOG = false;
TSNAPLOG STATUS_LOGRING[STATUS_LOGLINES];
int STATUS_LOGNEXT = 0;
int STATUS_LOGCOUNT = 0;
uint64_t STATUS_LOGSEQ = 1;
int64_t STATUS_CLAIMEDMS[MAXCLIENTS + 1];

void STATUS_ONCLAIM(uint8_t SLOT) {
  if (SLOT >= 1 && SLOT <= MAXCLIENTS) {
    STATUS_CLAIMEDMS[SLOT] = SV_NOWMS;
  }
}

void STATUS_RESET() {
  STATUS_KEEPLOG = false;
  STATUS_LOGNEXT = 0;
  STATUS_LOGCOUNT = 0;
  STATUS_LOGSEQ++; // never back to a value a snapshot may hold
  for (int64_t& T : STATUS_CLAIMEDMS) {
    T = 0;
  }
}
