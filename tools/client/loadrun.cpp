// load: how a run meets its sockets. One server: each player with a socket
// of its own connected to it. Many servers from one process: the players
// share a few sockets, and every round takes and sends its datagrams with as
// few system calls as the system allows. What the players do is in load.cpp.
#include <algorithm>
#include <chrono>
#include <thread>
#include <unordered_map>

#include "load.hpp"

namespace {

// Players on one server, each with a socket of its own connected to it.
int CL_LOADONE(const CL_OPTIONS& O) {
  CL_LOADRUN L;
  L.O = &O;
  if (int R = CL_TARGETOF(O, L.T); R != CL_EXIT_OK) {
    return R;
  }
  L.BOTS.resize(size_t(O.PLAYERS));
  for (CL_BOT& B : L.BOTS) {
    int R = CL_OPEN(B.P, O, L.T);
    if (R != CL_EXIT_OK) {
      for (CL_BOT& C : L.BOTS) {
        CL_CLOSE(C.P);
      }
      return R;
    }
  }
  std::vector<CL_PEER*> PS;
  for (CL_BOT& B : L.BOTS) {
    PS.push_back(&B.P);
  }
  CL_LOADBEGIN(L, CL_NOWMS());
  while (CL_LOADSTEP(L, CL_NOWMS())) {
    CL_WAIT(PS, 20);
    long NOW = CL_NOWMS();
    for (CL_BOT& B : L.BOTS) {
      std::string D;
      while (CL_RECV(B.P, D)) {
        CL_LOADDATAGRAM(L, B, D, NOW, -1);
      }
    }
  }
  std::string OUT;
  int R = CL_LOADEND(L, OUT);
  CL_OUT(OUT);
  return R;
}

// Players on many servers from one process. The players share a few
// unconnected sockets (at most CL_PERSOCKET each, never two of one server on
// one socket), every datagram of a round is taken and sent with as few
// system calls as the system allows, and a round lasts at least
// CL_ROUNDMS, so each takes the datagrams of many servers. A state packet's
// time is when the system stamped its arrival, not when the round read it,
// so the spacing measured is the servers' alone.
constexpr size_t CL_PERSOCKET = 64;
constexpr long CL_ROUNDMS = 2;

int CL_LOADMANY(const CL_OPTIONS& O) {
  size_t N = O.SERVERS.size();
  size_t P = size_t(O.PLAYERS);
  std::vector<CL_LOADRUN> RUNS(N);
  for (size_t K = 0; K < N; K++) {
    std::string ERR;
    RUNS[K].O = &O;
    if (!CL_RESOLVE(O.SERVERS[K].HOST, O.SERVERS[K].PORT, RUNS[K].T, ERR)) {
      CL_ERROR(ERR);
      return CL_EXIT_USAGE;
    }
  }
  size_t G = std::max(P, (N * P + CL_PERSOCKET - 1) / CL_PERSOCKET);
  std::vector<CL_SOCKET> SOCKS;
  std::vector<std::vector<CL_DGRAM>> OUTS(G);
  auto CLOSEALL = [&SOCKS] {
    for (CL_SOCKET S : SOCKS) {
      CL_SOCKCLOSE(S);
    }
  };
  for (size_t I = 0; I < G; I++) {
    std::string ERR;
    bool BINDFAILED = false;
    CL_SOCKET S = CL_SOCKOPEN(O.BIND, 0, ERR, BINDFAILED);
    if (S == CL_NOSOCKET) {
      CL_ERROR(BINDFAILED ? "cannot send from " + ERR : ERR);
      CLOSEALL();
      return BINDFAILED ? CL_EXIT_USAGE : CL_EXIT_FAIL;
    }
    CL_SOCKSHARED(S);
    SOCKS.push_back(S);
  }
  // Who a datagram is for: its socket and its sender.
  std::unordered_map<uint64_t, std::pair<size_t, size_t>> WHO;
  auto KEY = [](size_t SOCK, const CL_ENDPOINT& E) {
    return uint64_t(SOCK) << 48 | uint64_t(E.IP) << 16 | E.PORT;
  };
  long START = CL_NOWMS();
  for (size_t K = 0; K < N; K++) {
    CL_LOADRUN& L = RUNS[K];
    L.BOTS.resize(P);
    for (size_t I = 0; I < P; I++) {
      size_t SOCK = (K * P + I) % G;
      CL_PEER& PEER = L.BOTS[I].P;
      PEER.FD = SOCKS[SOCK];
      PEER.OUTBOX = &OUTS[SOCK];
      PEER.TO = L.T;
      PEER.TEAM = O.TEAM;
      if (!WHO.emplace(KEY(SOCK, L.T), std::make_pair(K, I)).second) {
        CL_ERROR("the server " + L.T.TEXT + " is given twice");
        CLOSEALL();
        return CL_EXIT_USAGE;
      }
    }
    CL_LOADBEGIN(L, START);
  }
  std::vector<bool> OVER(N, false);
  std::vector<int> EXITS(N, CL_EXIT_OK);
  std::vector<std::string> OUTTEXT(N);
  std::vector<CL_DGRAM> IN;
  size_t LEFT = N;
  for (;;) {
    long ROUND = CL_NOWMS();
    for (size_t K = 0; K < N; K++) {
      if (!OVER[K] && !CL_LOADSTEP(RUNS[K], ROUND)) {
        OVER[K] = true;
        EXITS[K] = CL_LOADEND(RUNS[K], OUTTEXT[K]);
        LEFT--;
      }
    }
    for (size_t I = 0; I < G; I++) {
      CL_SOCKSENDMANY(SOCKS[I], OUTS[I]);
      OUTS[I].clear();
    }
    if (LEFT == 0) {
      break;
    }
    long AWAKE = CL_NOWMS() - ROUND;
    if (AWAKE < CL_ROUNDMS) {
      std::this_thread::sleep_for(std::chrono::milliseconds(CL_ROUNDMS - AWAKE));
    }
    CL_SOCKWAIT(SOCKS, 20);
    long NOW = CL_NOWMS();
    for (size_t I = 0; I < G; I++) {
      IN.clear();
      CL_SOCKRECVMANY(SOCKS[I], IN, 4096);
      for (const CL_DGRAM& D : IN) {
        auto F = WHO.find(KEY(I, D.PEER));
        if (F == WHO.end() || OVER[F->second.first]) {
          continue; // from nobody a player talks to, or for a run that ended
        }
        CL_LOADRUN& L = RUNS[F->second.first];
        CL_BOT& B = L.BOTS[F->second.second];
        B.P.RECEIVED++;
        CL_LOADDATAGRAM(L, B, D.DATA, NOW, D.ATUS);
      }
    }
  }
  CLOSEALL();
  int EXIT = CL_EXIT_OK;
  for (size_t K = 0; K < N; K++) {
    CL_OUT(OUTTEXT[K]);
    EXIT = EXIT == CL_EXIT_OK ? EXITS[K] : EXIT;
  }
  return EXIT;
}

} // namespace

int CL_LOADCMD(const CL_OPTIONS& O) {
  return O.SERVERS.size() > 1 ? CL_LOADMANY(O) : CL_LOADONE(O);
}
