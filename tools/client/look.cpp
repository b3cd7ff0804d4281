// One look at a server, for status and map: the server's settings, players
// and map, taken without playing. Many looks run at once, each on its own
// socket, for the status of several servers.
#include <algorithm>

#include "peer.hpp"
#include "server/server.hpp"

// How often a lost query or connect is asked again.
constexpr long CL_QUERYEVERYMS = 200;
constexpr long CL_CONNECTEVERYMS = 500;

static void CL_LOOKFAIL(CL_LOOKAT& L, int STATUS, const std::string& SHORT,
                        const std::string& FULL) {
  if (L.RESULT < 0) {
    L.RESULT = STATUS;
    L.ERROR = SHORT;
    L.FULLERROR = FULL;
  }
}

static void CL_SENDQUERY(CL_LOOKAT& L, long NOW) {
  CL_SENDRAW(L.P, CL_QUERY(L.COOKIE));
  L.QUERIES++;
  L.QSENTAT = NOW;
}

// The server answered no query: it is an older one, so connect.
static void CL_STOPQUERY(CL_LOOKAT& L, long NOW) {
  L.QUERYING = false;
  CL_SENDCONNECT(L.P, NOW);
}

void CL_LOOKSTART(CL_LOOKAT& L, const CL_OPTIONS& O, const CL_ENDPOINT& T, bool QUERY, long NOW) {
  L.T = T;
  L.QUERY = QUERY;
  L.START = NOW;
  L.END = NOW + O.TIMEOUTMS;
  int R = CL_OPEN(L.P, O, T, &L.ERROR);
  if (R != CL_EXIT_OK) {
    CL_LOOKFAIL(L, R, L.ERROR, L.ERROR);
    return;
  }
  if (QUERY) {
    // Half the time-out for the query, at most a second; the connect that
    // follows on an older server then has the rest.
    L.QUERYING = true;
    L.QPHASEEND = NOW + std::min(1000L, long(O.TIMEOUTMS) / 2);
    CL_SENDQUERY(L, NOW);
  } else {
    CL_SENDCONNECT(L.P, NOW);
  }
}

// A datagram of the query: true when it was one.
static bool CL_LOOKQUERY(CL_LOOKAT& L, const std::string& D, long NOW) {
  uint8_t ID = D.empty() ? 0 : uint8_t(D[0]);
  if (ID != CLMPMSG_QCHAL && ID != CLMPMSG_QINFO) {
    return false;
  }
  if (!L.QUERYING) {
    return true; // a late answer to a query given up on
  }
  uint32_t COOKIE = 0;
  CL_QINFO Q;
  if (CL_PARSEQCHAL(D, COOKIE)) {
    L.COOKIE = COOKIE;
    CL_SENDQUERY(L, NOW);
  } else if (CL_PARSEQINFO(D, Q)) {
    if (Q.VERSION != PVER) {
      CL_LOOKFAIL(L, CL_EXIT_VERSION,
                  "speaks protocol version " + std::to_string(Q.VERSION) + "; this client speaks " +
                      std::to_string(PVER),
                  CL_VERSIONERROR(L.T, Q.VERSION));
      return true;
    }
    L.INFO = CL_QUERYSTATUS(Q);
    L.INFO.RTTMS = NOW - L.QSENTAT;
    L.RESULT = CL_EXIT_OK;
  } else {
    // Not what the query's answer looks like: the connect will tell more.
    CL_STOPQUERY(L, NOW);
  }
  return true;
}

// Reads one datagram into the look.
static void CL_LOOKTAKE(CL_LOOKAT& L, const std::string& D, long NOW) {
  if (CL_LOOKQUERY(L, D, NOW)) {
    return;
  }
  CL_PEER& P = L.P;
  CL_EVENT E = CL_TAKE(P, D);
  switch (E.KIND) {
  case CL_K_WVER:
    CL_LOOKFAIL(L, CL_EXIT_VERSION,
                "speaks protocol version " + std::to_string(P.VERSION) + "; this client speaks " +
                    std::to_string(PVER),
                CL_VERSIONERROR(L.T, P.VERSION));
    break;
  case CL_K_FULL:
    CL_LOOKFAIL(L, CL_EXIT_FULL, "full: all " + std::to_string(MAXCLIENTS) + " slots are taken",
                CL_FULLERROR(L.T));
    break;
  case CL_K_NOCON:
    if (!L.QUERYING && NOW - P.CONNECTAT >= CL_CONNECTEVERYMS) {
      CL_SENDCONNECT(P, NOW);
    }
    break;
  case CL_K_MAP:
    L.M = P.MAP;
    L.GOTMAP = true;
    break;
  case CL_K_STATE:
    // The state packet that follows the map information belongs to the
    // same tick: the pair is one picture of the game.
    if (L.INFO.RTTMS < 0) {
      L.INFO.RTTMS = NOW - P.CONNECTAT; // from the connect to the first state
    }
    if (L.GOTMAP) {
      L.S = P.STATE;
      long RTT = L.INFO.RTTMS;
      L.INFO = CL_MAKESTATUS(L.M, L.S);
      L.INFO.RTTMS = RTT;
      L.RESULT = CL_EXIT_OK;
    } else {
      CL_ANSWER(P, 0, PLACT_MI, 0, 0);
    }
    break;
  default:
    break;
  }
}

// Time-outs and repeats of one look.
static void CL_LOOKTIME(CL_LOOKAT& L, const CL_OPTIONS& O, long NOW) {
  CL_PEER& P = L.P;
  const std::string WITHIN = " within " + CL_SECONDSTEXT(O.TIMEOUTMS);
  if (P.UNREACHABLE) {
    CL_LOOKFAIL(L, CL_EXIT_NOANSWER, "no answer (port unreachable)",
                "no answer from " + L.T.TEXT + " (port unreachable)");
  } else if (NOW >= L.END) {
    if (P.GARBAGE > 0) {
      CL_LOOKFAIL(L, CL_EXIT_FAIL, CL_GARBAGEERROR(L.T, P).substr(L.T.TEXT.size() + 1),
                  CL_GARBAGEERROR(L.T, P));
    } else if (P.INGAME) {
      CL_LOOKFAIL(L, CL_EXIT_NOANSWER, "no map information" + WITHIN,
                  L.T.TEXT + " sent no map information" + WITHIN);
    } else {
      CL_LOOKFAIL(L, CL_EXIT_NOANSWER, "no answer" + WITHIN, "no answer from " + L.T.TEXT + WITHIN);
    }
  } else if (L.QUERYING && NOW >= L.QPHASEEND) {
    CL_STOPQUERY(L, NOW);
  } else if (L.QUERYING && NOW - L.QSENTAT >= CL_QUERYEVERYMS) {
    CL_SENDQUERY(L, NOW); // lost on the way, or its answer was
  } else if (!L.QUERYING && !P.INGAME && NOW - P.CONNECTAT >= CL_CONNECTEVERYMS) {
    CL_SENDCONNECT(P, NOW); // a connect can be lost like any datagram
  }
}

void CL_LOOKALL(std::vector<CL_LOOKAT>& LS, const CL_OPTIONS& O) {
  for (;;) {
    long NOW = CL_NOWMS();
    std::vector<CL_PEER*> OPEN;
    long WAIT = 50;
    for (CL_LOOKAT& L : LS) {
      if (L.RESULT < 0 && CL_STOPASKED) {
        CL_LOOKFAIL(L, CL_EXIT_INTERRUPTED, "interrupted", "interrupted");
      }
      if (L.RESULT < 0) {
        CL_LOOKTIME(L, O, NOW);
      }
      if (L.RESULT < 0) {
        OPEN.push_back(&L.P);
        WAIT = std::min(WAIT, L.END - NOW);
      }
    }
    if (OPEN.empty()) {
      break;
    }
    CL_WAIT(OPEN, int(WAIT));
    NOW = CL_NOWMS();
    for (CL_LOOKAT& L : LS) {
      std::string D;
      while (L.RESULT < 0 && CL_RECV(L.P, D)) {
        CL_LOOKTAKE(L, D, NOW);
      }
    }
  }
  for (CL_LOOKAT& L : LS) {
    CL_LEAVE(L.P);
    CL_CLOSE(L.P);
  }
}

int CL_LOOK(const CL_OPTIONS& O, bool QUERY, CL_LOOKAT& L) {
  CL_ENDPOINT T;
  int R = CL_TARGETOF(O, T);
  if (R != CL_EXIT_OK) {
    return R;
  }
  std::vector<CL_LOOKAT> LS(1);
  CL_LOOKSTART(LS[0], O, T, QUERY, CL_NOWMS());
  CL_LOOKALL(LS, O);
  L = LS[0];
  if (L.RESULT != CL_EXIT_OK && L.RESULT != CL_EXIT_INTERRUPTED) {
    CL_ERROR(L.FULLERROR);
  }
  return L.RESULT;
}
