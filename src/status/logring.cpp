// The newest event-log lines as the console rendered them, kept for the
// snapshot. The log's hook feeds them; nothing here reaches for the network,
// so the client tool can link the event log alone.
#include "clients/clients.hpp"
#include "hooks.hpp"
#include "status/status.hpp"

void STATUS_ONLOG(const std::string& LINE) {
  if (!STATUS_KEEPLOG && OPT_HTTP.empty()) {
    return;
  }
  // Rendered now, while the slots it names still hold their names.
  TSNAPLOG& L = STATUS_LOGRING[STATUS_LOGNEXT];
  L.LINE = SV_LOGI;
  L.TEXT.SET(SC_LOGTEXT(LINE));
  STATUS_LOGNEXT = (STATUS_LOGNEXT + 1) % STATUS_LOGLINES;
  if (STATUS_LOGCOUNT < STATUS_LOGLINES) {
    STATUS_LOGCOUNT++;
  }
  STATUS_LOGSEQ++;
}
