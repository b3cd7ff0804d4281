// The newest event-log lines as the console rendered them, kept for the
// snapshot, and the count of maps loaded. The core feeds both; nothing here
// reaches for the network, so the client tool can link the event log alone.
#include "clients/clients.hpp"
#include "hosting/hosting.hpp"
#include "ops/ops.hpp"

bool OPS_KEEPLOG;
uint32_t OPS_MAPLOADS;
OPS_COUNTERS OPS_STATS;
TFIXSTR<OPS_SNAPTEXT> OPS_HTTP;

// The newest rendered lines, a ring: OPS_LOGNEXT is where the next one goes.
OPS_SNAPLOG OPS_LOGRING[OPS_SNAPLOGLINES];
int OPS_LOGNEXT;
int OPS_LOGCOUNT;
uint64_t OPS_LOGSEQ = 1;

void OPS_ONLOG(const std::string& LINE) {
  OPS_JSONLOG(LINE);
  HOST_ONLOG(LINE);
  if (!OPS_KEEPLOG) {
    return;
  }
  // Rendered now, while the slots it names still hold their names.
  OPS_SNAPLOG& L = OPS_LOGRING[OPS_LOGNEXT];
  L.LINE = SV_LOGI;
  L.TEXT.SET(SC_LOGTEXT(LINE));
  OPS_LOGNEXT = (OPS_LOGNEXT + 1) % OPS_SNAPLOGLINES;
  if (OPS_LOGCOUNT < OPS_SNAPLOGLINES) {
    OPS_LOGCOUNT++;
  }
  OPS_LOGSEQ++;
}

void OPS_RESETSNAPSHOT() {
  OPS_KEEPLOG = false;
  OPS_MAPLOADS = 0;
  OPS_STATS = {};
  OPS_HTTP.LEN = 0;
  OPS_LOGNEXT = 0;
  OPS_LOGCOUNT = 0;
  OPS_LOGSEQ++; // never back to a value a snapshot may hold
}
