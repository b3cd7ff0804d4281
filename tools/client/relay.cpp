// relay: a UDP relay between clients and a server that drops and delays
// datagrams, to see a server (and the tool) under a bad network. Each client
// gets its own socket toward the server, so the server sees one address and
// port per client, as without the relay.
#include <algorithm>
#include <queue>
#include <random>

#include "peer.hpp"

namespace {

// A client seen on the listening socket, and its socket toward the server.
struct CL_LEG {
  CL_ENDPOINT CLIENT;
  CL_SOCKET UP = CL_NOSOCKET;
  long HEARDAT = 0;
};

// A datagram held back until DUE.
struct CL_HELD {
  long DUE = 0;
  uint64_t ORDER = 0; // datagrams due at the same time leave in arrival order
  bool UP = false;    // toward the server
  size_t LEG = 0;
  std::string D;
  bool operator>(const CL_HELD& B) const { return DUE != B.DUE ? DUE > B.DUE : ORDER > B.ORDER; }
};

struct CL_WAY {
  uint64_t IN = 0, DROPPED = 0, OUT = 0;
  int64_t DELAYSUM = 0;
};

// A client silent this long gives its leg up.
constexpr long CL_LEGIDLEMS = 60000;

std::string CL_WAYTEXT(const char* NAME, const CL_WAY& W) {
  uint64_t KEPT = W.IN - W.DROPPED;
  return std::string(NAME) + ": " + std::to_string(W.IN) + " datagrams, " +
         std::to_string(W.DROPPED) + " dropped (" +
         CL_FIXED1(W.IN == 0 ? 0 : 100.0 * double(W.DROPPED) / double(W.IN)) + "%), mean delay " +
         CL_FIXED1(KEPT == 0 ? 0 : double(W.DELAYSUM) / double(KEPT)) + " ms\n";
}

} // namespace

int CL_RELAYCMD(const CL_OPTIONS& O) {
  CL_ENDPOINT SERVER;
  if (int R = CL_TARGETOF(O, SERVER); R != CL_EXIT_OK) {
    return R;
  }
  std::string ERR;
  bool BINDFAILED = false;
  CL_SOCKET LISTEN = CL_SOCKOPEN("", O.LISTENPORT, ERR, BINDFAILED);
  if (LISTEN == CL_NOSOCKET) {
    CL_ERROR("cannot listen on " + ERR);
    return BINDFAILED ? CL_EXIT_USAGE : CL_EXIT_FAIL;
  }
  CL_OUT("relay: port " + std::to_string(CL_SOCKPORT(LISTEN)) + " to " + SERVER.TEXT + ", loss " +
         CL_FIXED1(O.LOSS) + "%, delay " + std::to_string(O.DELAYMS) + " ms +- " +
         std::to_string(O.JITTERMS) + " ms\n");
  std::mt19937 RNG(O.SEED);
  const uint32_t LOSSMILLI = uint32_t(O.LOSS * 1000 + 0.5);
  std::vector<CL_LEG> LEGS;
  std::priority_queue<CL_HELD, std::vector<CL_HELD>, std::greater<>> HELD;
  CL_WAY WAYS[2]; // [0] toward the server, [1] toward the clients
  uint64_t ORDER = 0;

  // Drops or holds one datagram that came in.
  auto TAKE = [&](bool UP, size_t LEG, std::string D, long NOW) {
    CL_WAY& W = WAYS[UP ? 0 : 1];
    W.IN++;
    if (RNG() % 100000u < LOSSMILLI) {
      W.DROPPED++;
      return;
    }
    long DELAY = O.DELAYMS;
    if (O.JITTERMS > 0) {
      DELAY += long(RNG() % uint32_t(2 * O.JITTERMS + 1)) - O.JITTERMS;
    }
    DELAY = std::max(0L, DELAY);
    W.DELAYSUM += DELAY;
    HELD.push({NOW + DELAY, ORDER++, UP, LEG, std::move(D)});
  };

  while (!CL_STOPASKED) {
    long NOW = CL_NOWMS();
    while (!HELD.empty() && HELD.top().DUE <= NOW) {
      const CL_HELD& H = HELD.top();
      CL_LEG& L = LEGS[H.LEG];
      if (L.UP != CL_NOSOCKET &&
          (H.UP ? CL_SOCKSEND(L.UP, H.D) : CL_SOCKSENDTO(LISTEN, L.CLIENT, H.D)) == CL_IO_DONE) {
        WAYS[H.UP ? 0 : 1].OUT++;
      }
      HELD.pop();
    }
    for (CL_LEG& L : LEGS) {
      if (L.UP != CL_NOSOCKET && NOW - L.HEARDAT >= CL_LEGIDLEMS) {
        CL_SOCKCLOSE(L.UP);
        L.UP = CL_NOSOCKET;
      }
    }
    std::vector<CL_SOCKET> SS = {LISTEN};
    for (const CL_LEG& L : LEGS) {
      SS.push_back(L.UP);
    }
    long WAIT = HELD.empty() ? 100 : std::clamp(HELD.top().DUE - NOW, 0L, 100L);
    CL_SOCKWAIT(SS, int(WAIT));
    NOW = CL_NOWMS();
    std::string D;
    CL_ENDPOINT FROM;
    while (CL_SOCKRECVFROM(LISTEN, D, FROM) == CL_IO_DONE) {
      size_t K = 0;
      while (K < LEGS.size() && !(LEGS[K].UP != CL_NOSOCKET && LEGS[K].CLIENT.IP == FROM.IP &&
                                  LEGS[K].CLIENT.PORT == FROM.PORT)) {
        K++;
      }
      if (K == LEGS.size()) {
        CL_LEG L;
        L.CLIENT = FROM;
        L.UP = CL_SOCKOPEN("", 0, ERR, BINDFAILED);
        if (L.UP == CL_NOSOCKET || !CL_SOCKCONNECT(L.UP, SERVER, ERR)) {
          CL_SOCKCLOSE(L.UP);
          continue; // out of sockets: the datagram is lost
        }
        LEGS.push_back(L);
      }
      LEGS[K].HEARDAT = NOW;
      TAKE(true, K, D, NOW);
    }
    for (size_t K = 0; K < LEGS.size(); K++) {
      while (LEGS[K].UP != CL_NOSOCKET && CL_SOCKRECV(LEGS[K].UP, D) == CL_IO_DONE) {
        TAKE(false, K, D, NOW);
      }
    }
  }
  for (CL_LEG& L : LEGS) {
    CL_SOCKCLOSE(L.UP);
  }
  CL_SOCKCLOSE(LISTEN);
  CL_OUT("relay: " + std::to_string(LEGS.size()) + " clients\n" +
         CL_WAYTEXT("to the server", WAYS[0]) + CL_WAYTEXT("to the clients", WAYS[1]));
  return CL_EXIT_OK;
}
