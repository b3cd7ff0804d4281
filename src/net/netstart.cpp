// What both socket transports do alike when they open: the search for a free
// port and the start-up lines. Each transport links this beside its own file
// and supplies NET_BINDPORT and NET_BOUNDPORT.
#include "net/netstart.hpp"

#include "server/server.hpp"

bool NET_FAIL(const char* LINE) {
  NET_FAILLINE = LINE;
  SC_WRITELN(LINE);
  SC_WAITENTER();
  NET_STOP();
  return false;
}

bool NET_BINDFREEPORT() {
  // A taken port moves the server to the next one, up to 65535 and no
  // further (a strict start takes no other port). Port 0 lets the system
  // choose a free one.
  std::string WHY, FIRSTWHY;
  uint32_t TRY = NET_PORT;
  int R = NET_BINDPORT(uint16_t(TRY), FIRSTWHY);
  bool SEARCH = NET_PORT != 0 && SV_STRICT == 0;
  while (R == NET_BINDRETRY && SEARCH && TRY < 65535) {
    TRY++;
    R = NET_BINDPORT(uint16_t(TRY), WHY);
  }
  std::string WHERE = NET_IP.empty() ? "all addresses" : NET_IP;
  if (R != NET_BOUND) {
    std::string TRIED = TRY > NET_PORT
                            ? "ports " + std::to_string(NET_PORT) + " to " + std::to_string(TRY)
                            : "port " + std::to_string(NET_PORT);
    SC_ERROR("cannot bind UDP " + TRIED + " on " + WHERE + ": " + FIRSTWHY);
    return NET_FAIL("UDP initialization failed! [ bind() ]");
  }
  if (TRY != NET_PORT) {
    SC_WARN("UDP port " + std::to_string(NET_PORT) + " on " + WHERE + ": " + FIRSTWHY +
            "; took the next free port");
  }
  // The port line shows the port actually bound.
  uint16_t P = NET_BOUNDPORT();
  if (P != 0) {
    NET_PORT = P;
  }
  SC_WRITELN("UDP initialized! UDP port: " + std::to_string(NET_PORT));
  return true;
}
