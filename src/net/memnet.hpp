// The in-memory transport: datagrams queued "from" an address and port are
// what NET_RECEIVE returns, and every NET_SEND is recorded with its
// destination. Deterministic, no sockets, no sleeping. brastok_replay runs
// the server on it; the tests, the benchmarks and the fuzzers do too. It
// stands in for brastok_net_posix.cpp at link time.
#pragma once

#include <cstdint>
#include <deque>
#include <string>
#include <vector>

struct MEMNET_DGRAM {
  std::string IP;
  uint16_t PORT;
  std::string DATA;
  bool BAD = false; // a receive that fails (NET_RECV_BAD) in its place in the queue
};

// Datagrams waiting to be received, oldest first.
extern std::deque<MEMNET_DGRAM> MEMNET_IN;
// Datagrams sent, in order.
extern std::vector<MEMNET_DGRAM> MEMNET_OUT;
// Receives that fail (like a socket error) before the queue is read.
extern int MEMNET_FAILS;
// When true, NET_START fails as if no port could be bound, printing
// MEMNET_FAILLINE (the bind() line unless a replay says otherwise).
extern bool MEMNET_BINDFAILS;
extern std::string MEMNET_FAILLINE;
// When not 0, NET_START binds this port, whatever was asked (a replay: the
// port the recorded server was given).
extern uint16_t MEMNET_BOUNDPORT;

// When false, sends are only counted (benchmarks: no allocation per send).
extern bool MEMNET_RECORD;
extern uint64_t MEMNET_SENTN;
extern uint64_t MEMNET_SENTBYTES;
// Datagrams received again and again: each NET_INPUT drains the whole list,
// then finds nothing waiting; the next one starts from the top. Read after
// MEMNET_IN is empty. Benchmarks patch the bytes in place between cycles.
extern std::vector<MEMNET_DGRAM> MEMNET_REPLAY;

void MEMNET_RESET();
void MEMNET_PUSH(const std::string& IP, uint16_t PORT, const std::string& DATA);
// The datagrams sent to IP:PORT, in order.
std::vector<std::string> MEMNET_SENTTO(const std::string& IP, uint16_t PORT);
