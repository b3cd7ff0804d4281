#include "net/memnet.hpp"

#include <cstring>

#include "net/net.hpp"
#include "server/server.hpp"

static const char* const MEMNET_BINDLINE = "UDP initialization failed! [ bind() ]";

std::deque<MEMNET_DGRAM> MEMNET_IN;
std::vector<MEMNET_DGRAM> MEMNET_OUT;
int MEMNET_FAILS = 0;
bool MEMNET_BINDFAILS = false;
std::string MEMNET_FAILLINE = MEMNET_BINDLINE;
uint16_t MEMNET_BOUNDPORT = 0;
bool MEMNET_RECORD = true;
uint64_t MEMNET_SENTN = 0;
uint64_t MEMNET_SENTBYTES = 0;
std::vector<MEMNET_DGRAM> MEMNET_REPLAY;

static size_t MEMNET_REPLAYAT = 0;
static const MEMNET_DGRAM* MEMNET_FROM = nullptr;

static MEMNET_DGRAM MEMNET_LAST;

void MEMNET_RESET() {
  MEMNET_IN.clear();
  MEMNET_OUT.clear();
  MEMNET_FAILS = 0;
  MEMNET_BINDFAILS = false;
  MEMNET_FAILLINE = MEMNET_BINDLINE;
  MEMNET_BOUNDPORT = 0;
  MEMNET_LAST = {};
  MEMNET_RECORD = true;
  MEMNET_SENTN = 0;
  MEMNET_SENTBYTES = 0;
  MEMNET_REPLAY.clear();
  MEMNET_REPLAYAT = 0;
  MEMNET_FROM = nullptr;
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
    NET_FAILLINE = MEMNET_FAILLINE;
    SC_WRITELN(MEMNET_FAILLINE);
    return false;
  }
  if (MEMNET_BOUNDPORT != 0) {
    NET_PORT = MEMNET_BOUNDPORT;
  } else if (NET_PORT == 0) {
    NET_PORT = 40000; // what the system would have chosen
  }
  SC_WRITELN("UDP initialized! UDP port: " + std::to_string(NET_PORT));
  return true;
}

void NET_STOP() {}

void NET_SEND(const std::string& IP, uint16_t PORT) {
  MEMNET_SENTN++;
  MEMNET_SENTBYTES += uint64_t(NET_BUFP - 1);
  if (MEMNET_RECORD) {
    MEMNET_OUT.push_back(
        {IP, PORT, std::string(reinterpret_cast<const char*>(&NET_BUF[1]), size_t(NET_BUFP - 1))});
  }
}

int32_t NET_RECEIVE() {
  NET_CLEARBUFFER();
  if (MEMNET_FAILS > 0) {
    MEMNET_FAILS--;
    return NET_RECV_BAD;
  }
  if (!MEMNET_IN.empty()) {
    MEMNET_LAST = std::move(MEMNET_IN.front());
    MEMNET_IN.pop_front();
    MEMNET_FROM = &MEMNET_LAST;
  } else if (MEMNET_REPLAYAT < MEMNET_REPLAY.size()) {
    MEMNET_FROM = &MEMNET_REPLAY[MEMNET_REPLAYAT++];
  } else {
    MEMNET_REPLAYAT = 0;
    return NET_RECV_NONE;
  }
  const std::string& D = MEMNET_FROM->DATA;
  if (MEMNET_FROM->BAD || D.size() > size_t(MAXBUFFER)) {
    return NET_RECV_BAD;
  }
  NET_LOADBUFFER(D.data(), D.size());
  return int32_t(D.size());
}

void NET_WAIT(int, int) {}

void NET_WAKE() {}

void NET_FLUSH() {}

std::string NET_LASTINIP() {
  return MEMNET_FROM != nullptr ? MEMNET_FROM->IP : std::string();
}

uint16_t NET_LASTINPORT() {
  return MEMNET_FROM != nullptr ? MEMNET_FROM->PORT : 0;
}
