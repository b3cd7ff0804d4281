#include "peer.hpp"

#include <algorithm>
#include <cstdio>

#include "server/server.hpp"

void CL_ERROR(const std::string& S) {
  std::string L = "brastok_client: " + S + "\n";
  std::fwrite(L.data(), 1, L.size(), stderr);
  std::fflush(stderr);
}

void CL_OUT(const std::string& S) {
  std::fwrite(S.data(), 1, S.size(), stdout);
  std::fflush(stdout);
}

std::string CL_SECONDSTEXT(int MS) {
  return MS % 1000 == 0 ? std::to_string(MS / 1000) + " s" : CL_FIXED1(MS / 1000.0) + " s";
}

int CL_TARGETOF(const CL_OPTIONS& O, CL_ENDPOINT& T) {
  std::string ERR;
  if (!CL_RESOLVE(O.HOST, O.PORT, T, ERR)) {
    CL_ERROR(ERR);
    return CL_EXIT_USAGE;
  }
  return CL_EXIT_OK;
}

int CL_OPEN(CL_PEER& P, const CL_OPTIONS& O, const CL_ENDPOINT& T, std::string* ERRTEXT) {
  std::string ERR;
  bool BINDFAILED = false;
  int R = CL_EXIT_OK;
  P.FD = CL_SOCKOPEN(O.BIND, 0, ERR, BINDFAILED);
  if (P.FD == CL_NOSOCKET) {
    ERR = BINDFAILED ? "cannot send from " + ERR : ERR;
    R = BINDFAILED ? CL_EXIT_USAGE : CL_EXIT_FAIL;
  } else if (!CL_SOCKCONNECT(P.FD, T, ERR)) {
    ERR = "cannot reach " + T.TEXT + ": " + ERR;
    R = CL_EXIT_FAIL;
  }
  if (R != CL_EXIT_OK) {
    if (ERRTEXT != nullptr) {
      *ERRTEXT = ERR;
    } else {
      CL_ERROR(ERR);
    }
    CL_CLOSE(P);
    return R;
  }
  P.NAME = O.NAME;
  P.TEAM = O.TEAM;
  return CL_EXIT_OK;
}

void CL_CLOSE(CL_PEER& P) {
  if (P.OUTBOX == nullptr) {
    CL_SOCKCLOSE(P.FD);
  }
  P.FD = CL_NOSOCKET;
}

void CL_SENDRAW(CL_PEER& P, const std::string& D) {
  if (P.OUTBOX != nullptr) {
    P.OUTBOX->push_back({P.TO, D, 0});
    P.SENT++;
    return;
  }
  // A lost datagram is what UDP allows; the protocol repeats what matters.
  CL_IORESULT R = CL_SOCKSEND(P.FD, D);
  if (R == CL_IO_DONE) {
    P.SENT++;
  } else if (R == CL_IO_REFUSED) {
    P.UNREACHABLE = true;
  }
}

// Sends a connect and forgets what the previous connection was told.
void CL_SENDCONNECT(CL_PEER& P, long NOW) {
  CL_SENDRAW(P, CL_CONNECT(P.NAME, P.TEAM));
  P.CONNECTAT = NOW;
  P.INGAME = false;
  P.HAVESTATE = false;
  P.OWED = false;
  P.HAVEMAP = false;
  P.LOG = CL_LOGTRACK{};
}

// The one data message owed for the newest state packet; nothing when none
// is owed, so a client never sends more data messages than it got states.
void CL_ANSWER(CL_PEER& P, uint16_t DIR, uint8_t ACT, uint16_t MX, uint16_t MY) {
  if (!P.OWED) {
    return;
  }
  P.OWED = false;
  CL_SENDRAW(P, CL_DATA(P.STATE.TICK, DIR, ACT, MX, MY, P.LOG.STARTED ? P.LOG.LAST : 0));
}

void CL_LEAVE(CL_PEER& P) {
  if (P.FD != CL_NOSOCKET && P.INGAME) {
    CL_SENDRAW(P, CL_DISCONNECT());
    P.INGAME = false;
  }
}

bool CL_RECV(CL_PEER& P, std::string& D) {
  CL_IORESULT R = CL_SOCKRECV(P.FD, D);
  if (R == CL_IO_REFUSED) {
    P.UNREACHABLE = true;
  }
  if (R != CL_IO_DONE) {
    return false;
  }
  P.RECEIVED++;
  return true;
}

static std::string CL_HEX(uint8_t B) {
  char T[8];
  std::snprintf(T, sizeof T, "0x%02x", B);
  return T;
}

// Reads one datagram from the server into the peer's view of the game.
CL_EVENT CL_TAKE(CL_PEER& P, const std::string& D) {
  CL_EVENT E;
  uint8_t ID = D.empty() ? 0 : uint8_t(D[0]);
  std::string SIZE = std::to_string(D.size()) + " bytes";
  auto BADLENGTH = [&](const char* WHAT) {
    E.KIND = CL_K_BAD;
    E.ANOMALY = "bad length";
    E.DETAIL = std::string(WHAT) + " of " + SIZE + " does not parse to its length";
  };
  P.INGAME = P.INGAME || ID == CLMPMSG_SHAP || ID == CLMPMSG_MAP || ID == CLMPMSG_LOGL;
  switch (ID) {
  case CLMPMSG_SHAP: {
    CL_STATE S;
    if (!CL_PARSESTATE(D, S)) {
      BADLENGTH("state packet");
      break;
    }
    E.KIND = CL_K_STATE;
    if (P.HAVESTATE) {
      // Only the newest state counts: one that is not newer than the state
      // held was overtaken on the way (or repeated), and a game client
      // simply passes it by. A gap in the tick counter is packets lost.
      uint16_t AHEAD = uint16_t(S.TICK - P.STATE.TICK);
      if (AHEAD == 0 || !CL_TICKFORWARD(P.STATE.TICK, S.TICK)) {
        // A packet of a gap counted as missing came after all.
        uint16_t BEHIND = uint16_t(P.STATE.TICK - S.TICK);
        if (BEHIND > 0 && BEHIND < 64 && (P.SEENTICKS >> BEHIND & 1) == 0) {
          P.SEENTICKS |= uint64_t(1) << BEHIND;
          P.MISSING--;
        }
        E.KIND = CL_K_LATE;
        P.LATE++;
        break;
      }
      P.MISSING += uint16_t(AHEAD - 1);
      P.SEENTICKS = AHEAD < 64 ? P.SEENTICKS << AHEAD : 0;
    } else {
      P.SEENTICKS = 0;
    }
    P.SEENTICKS |= 1;
    P.STATE = S;
    P.HAVESTATE = true;
    P.OWED = true;
    break;
  }
  case CLMPMSG_MAP:
    if (!CL_PARSEMAP(D, P.MAP)) {
      BADLENGTH("map packet");
      break;
    }
    E.KIND = CL_K_MAP;
    P.HAVEMAP = true;
    break;
  case CLMPMSG_LOGL: {
    CL_LOG L;
    if (!CL_PARSELOG(D, L)) {
      BADLENGTH("log packet");
      break;
    }
    E.KIND = CL_K_LOG;
    uint16_t HELD = P.LOG.LAST;
    uint32_t RESENT = P.LOG.RESENT;
    if (!CL_TAKELOG(P.LOG, L, E.NEWLINES)) {
      E.ANOMALY = "log order";
      E.DETAIL = "lines " + std::to_string(uint16_t(L.LAST - L.LINES.size() + 1)) + " to " +
                 std::to_string(L.LAST) + " after line " + std::to_string(HELD);
    }
    E.NEWFIRST = uint16_t(P.LOG.LAST - E.NEWLINES.size() + 1);
    P.REPEATED += P.LOG.RESENT - RESENT;
    break;
  }
  case CLMPMSG_NOCON:
    if (D.size() != 1) {
      BADLENGTH("no-slot reply");
      break;
    }
    E.KIND = CL_K_NOCON;
    break;
  case CLMPMSG_WVER:
    if (D.size() != 2) {
      BADLENGTH("wrong-version reply");
      break;
    }
    E.KIND = CL_K_WVER;
    P.VERSION = uint8_t(D[1]);
    break;
  case CLMPMSG_SVFULL:
    if (D.size() != 1) {
      BADLENGTH("server-full reply");
      break;
    }
    E.KIND = CL_K_FULL;
    break;
  default:
    E.KIND = CL_K_BAD;
    E.ANOMALY = "unknown packet";
    E.DETAIL = "id " + CL_HEX(ID) + ", " + SIZE;
    break;
  }
  if (E.KIND != CL_K_BAD) {
    P.HEARDAT = CL_NOWMS();
  }
  if (E.KIND == CL_K_BAD) {
    if (P.GARBAGE++ == 0) {
      P.FIRSTGARBAGE = E.ANOMALY + ": " + E.DETAIL;
    }
  }
  return E;
}

void CL_WAIT(const std::vector<CL_PEER*>& PS, int MS) {
  std::vector<CL_SOCKET> SS;
  for (CL_PEER* P : PS) {
    SS.push_back(P->FD);
  }
  CL_SOCKWAIT(SS, MS);
}

std::string CL_VERSIONERROR(const CL_ENDPOINT& T, uint8_t V) {
  return T.TEXT + " speaks protocol version " + std::to_string(V) + "; this client speaks " +
         std::to_string(PVER);
}

std::string CL_GARBAGEERROR(const CL_ENDPOINT& T, const CL_PEER& P) {
  return T.TEXT + " sent " + std::to_string(P.GARBAGE) +
         " datagram(s) that are not server packets (" + P.FIRSTGARBAGE + ")";
}

std::string CL_FULLERROR(const CL_ENDPOINT& T) {
  return T.TEXT + " is full: all " + std::to_string(MAXCLIENTS) + " slots are taken";
}
