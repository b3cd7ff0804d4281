// The HTTP side of the Windows server: there is none. Debian's cpp-httplib
// is a library built for Linux, with no Windows build to link, so the
// Windows server links this in place of http.cpp. A start with -http stops
// with a warning rather than run without what the operator asked for.
#include "server/server.hpp"
#include "web/web.hpp"

bool WEB_START() {
  if (OPT_HTTP.empty()) {
    return true;
  }
  SC_WARN("option -http: this Windows build has no HTTP side");
  return false;
}

void WEB_STOP() {}
