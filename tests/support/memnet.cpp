#include "support/memnet.hpp"

#include <cstring>

#include "net/net.hpp"
#include "server/server.hpp"

std::deque<MEMNET_DGRAM> MEMNET_IN;
std::vector<MEMNET_DGRAM> MEMNET_OUT;
int MEMNET_FAILS = 0;
bool MEMNET_BINDFAILS = false;

static MEMNET_DGRAM MEMNET_LAST;

void MEMNET_RESET() {
  MEMNET_IN.clear();
  MEMNET_OUT.clear();
  MEMNET_FAILS = 0;
  MEMNET_BINDFAILS = false;
  MEMNET_LAST = {};
}

void MEMNET_PUSH(const std::string& IP, uint16_t PORT, const std::string& DATA) {
  MEMNET_IN.push_back({IP, PORT, DATA});
}

std::vector<std::string> MEMNET_SENTTO(const std::string& IP, uint16_t PORT) {
  std::vector<std::string> R;
  for (const MEMNET_DGRAM& D : MEMNET_OUT) {
    if (D.IP == IP && D.PORT == PORT) {
      R.push_back(D.DATA);
    }
  }
  return R;
}

bool NET_START() {
  if (MEMNET_BINDFAILS) {
    SC_WRITELN("UDP initialization failed! [ bind() ]");
    return false;
  }
  if (NET_PORT == 0) {
    NET_PORT = 40000; // what the system would have chosen
  }
  SC_WRITELN("UDP initialized! UDP port: " + std::to_string(NET_PORT));
  return true;
}

void NET_STOP() {}

void NET_SEND(const std::string& IP, uint16_t PORT) {
  MEMNET_OUT.push_back(
      {IP, PORT, std::string(reinterpret_cast<const char*>(&NET_BUF[1]), size_t(NET_BUFP - 1))});
}

int32_t NET_RECEIVE() {
  NET_CLEARBUFFER();
  if (MEMNET_FAILS > 0) {
    MEMNET_FAILS--;
    return NET_RECV_BAD;
  }
  if (MEMNET_IN.empty()) {
    return NET_RECV_NONE;
  }
  MEMNET_LAST = std::move(MEMNET_IN.front());
  MEMNET_IN.pop_front();
  if (MEMNET_LAST.DATA.size() > size_t(MAXBUFFER)) {
    return NET_RECV_BAD;
  }
  std::memcpy(&NET_BUF[1], MEMNET_LAST.DATA.data(), MEMNET_LAST.DATA.size());
  return int32_t(MEMNET_LAST.DATA.size());
}

std::string NET_LASTINIP() {
  return MEMNET_LAST.IP;
}

uint16_t NET_LASTINPORT() {
  return MEMNET_LAST.PORT;
}
