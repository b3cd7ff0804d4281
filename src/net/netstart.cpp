// What both socket transports do alike when they open: the search for a free
// port and the start-up lines. Each transport links this beside its own file
// and supplies NET_BINDPORT and NET_BOUNDPORT.
#include "net/netstart.hpp"

#include "server/server.hpp"

bool NET_FAIL(const char* LINE) {
  SC_WRITELN(LINE);
  SC_WAITENTER();
  NET_STOP();
  return false;
}

bool NET_BINDFREEPORT() {
  // A taken port moves the server to the next one, up to 65535 and no
  // further. Port 0 lets the system choose a free one.
  bool BOUND = false;
  if (NET_PORT == 0) {
    BOUND = NET_BINDPORT(0);
  } else {
    for (uint32_t P = NET_PORT; P <= 65535 && !BOUND; P++) {
      BOUND = NET_BINDPORT(uint16_t(P));
    }
  }
  if (!BOUND) {
    return NET_FAIL("UDP initialization failed! [ bind() ]");
  }
  // The port line shows the port actually bound.
  uint16_t P = NET_BOUNDPORT();
  if (P != 0) {
    NET_PORT = P;
  }
  SC_WRITELN("UDP initialized! UDP port: " + std::to_string(NET_PORT));
  return true;
}
