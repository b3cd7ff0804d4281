// watch: every event-log line as it arrives, the way the server's console
// shows it, until Ctrl-C.
#include "peer.hpp"
#include "server/server.hpp"

int CL_WATCHCMD(const CL_OPTIONS& O) {
  CL_ENDPOINT T;
  if (int R = CL_TARGETOF(O, T); R != CL_EXIT_OK) {
    return R;
  }
  CL_PEER P;
  int R = CL_OPEN(P, O, T);
  if (R != CL_EXIT_OK) {
    CL_CLOSE(P);
    return R;
  }
  CL_NAMES NAMES;
  bool PRINTED = false;   // a line has been printed
  uint16_t PRINTEDAT = 0; // number of the newest line printed
  bool EVERIN = false;
  long START = CL_NOWMS();
  uint16_t BOARD = 0;
  // Lines wait for the map information, which names the players present.
  std::vector<std::pair<uint16_t, std::string>> PENDING;
  long PENDINGSINCE = 0;
  // The first line the server sends is the one logged before the watcher
  // connected: a stale event about players the watcher never saw, unless it
  // is one of the server's own messages.
  bool HAVEFIRST = false;
  uint16_t FIRSTLINE = 0;

  auto PRINT = [&](uint16_t NUM, const std::string& LINE) {
    if (PRINTED && uint16_t(NUM - PRINTEDAT) >= 32768) {
      return; // printed before this connection
    }
    if (PRINTED && uint16_t(NUM - PRINTEDAT) > 1) {
      CL_ERROR("(" + std::to_string(uint16_t(NUM - PRINTEDAT) - 1) +
               " lines missed while not connected)");
    }
    if (PRINTED && NUM == PRINTEDAT) {
      return;
    }
    PRINTED = true;
    PRINTEDAT = NUM;
    if (HAVEFIRST && NUM == FIRSTLINE && (LINE.empty() || uint8_t(LINE[0]) != LOGMESSID_SMSG)) {
      return;
    }
    std::string TEXT = CL_LOGTEXT(NAMES, LINE);
    if (!TEXT.empty()) {
      CL_OUT(SC_PRINTABLE(TEXT) + "\n");
    }
  };
  // The map information names the players of a later tick than the lines
  // that waited for it: a slot that one of those lines connects again held
  // another name before, which the client never learned.
  auto FLUSH = [&]() {
    for (const auto& [NUM, LINE] : PENDING) {
      uint8_t C = LINE.size() > 1 ? uint8_t(LINE[1]) : 0;
      if (!LINE.empty() && uint8_t(LINE[0]) == LOGMESSID_CCON && C >= 1 && C <= MAXCLIENTS) {
        NAMES.KNOWN[C] = false;
      }
    }
    for (const auto& [NUM, LINE] : PENDING) {
      PRINT(NUM, LINE);
    }
    PENDING.clear();
  };

  CL_SENDCONNECT(P, START);
  while (!CL_STOPASKED) {
    long NOW = CL_NOWMS();
    if (!EVERIN) {
      if (P.UNREACHABLE) {
        CL_ERROR("no answer from " + T.TEXT + " (port unreachable)");
        CL_CLOSE(P);
        return CL_EXIT_NOANSWER;
      }
      if (NOW - START >= O.TIMEOUTMS) {
        CL_ERROR(P.GARBAGE > 0
                     ? CL_GARBAGEERROR(T, P)
                     : "no answer from " + T.TEXT + " within " + CL_SECONDSTEXT(O.TIMEOUTMS));
        CL_CLOSE(P);
        return P.GARBAGE > 0 ? CL_EXIT_FAIL : CL_EXIT_NOANSWER;
      }
      if (NOW - P.CONNECTAT >= 500) {
        CL_SENDCONNECT(P, NOW);
      }
    } else if (NOW - P.HEARDAT >= CL_SILENCEMS && NOW - P.CONNECTAT >= 2 * CL_SILENCEMS) {
      // Dropped, or the server went away: knock, slowly, until it answers.
      if (P.INGAME) {
        CL_ERROR("no packets from " + T.TEXT + " for a second; connecting again");
      }
      P.UNREACHABLE = false;
      CL_SENDCONNECT(P, NOW);
    }
    if (!PENDING.empty() && NOW - PENDINGSINCE >= 1000) {
      FLUSH(); // no map information: print with the names known
    }
    CL_WAIT({&P}, 50);
    std::string D;
    while (CL_RECV(P, D)) {
      NOW = CL_NOWMS();
      bool WASIN = P.INGAME;
      CL_EVENT E = CL_TAKE(P, D);
      switch (E.KIND) {
      case CL_K_WVER:
        CL_ERROR(CL_VERSIONERROR(T, P.VERSION));
        CL_CLOSE(P);
        return CL_EXIT_VERSION;
      case CL_K_FULL:
        if (!EVERIN) {
          CL_ERROR(CL_FULLERROR(T));
          CL_CLOSE(P);
          return CL_EXIT_FULL;
        }
        break; // asked again later
      case CL_K_NOCON:
        // Dropped (a map change removes everybody): connect again.
        if (NOW - P.CONNECTAT >= 1000) {
          if (WASIN) {
            CL_ERROR("the server dropped this client; connecting again");
          }
          CL_SENDCONNECT(P, NOW);
        }
        break;
      case CL_K_MAP:
        CL_NAMESFROMMAP(NAMES, P.MAP);
        FLUSH();
        break;
      case CL_K_LOG: {
        if (!HAVEFIRST && !E.NEWLINES.empty()) {
          HAVEFIRST = true;
          FIRSTLINE = E.NEWFIRST;
        }
        EVERIN = true;
        if (PENDING.empty()) {
          PENDINGSINCE = NOW;
        }
        for (size_t K = 0; K < E.NEWLINES.size(); K++) {
          uint16_t NUM = uint16_t(E.NEWFIRST + K);
          // The first lines of a connection tell whether the server was
          // started again: its numbers then begin anew.
          uint16_t AHEAD = uint16_t(P.LOG.LAST - PRINTEDAT);
          if (P.LOG.TAKEN == E.NEWLINES.size() && K == 0 && PRINTED &&
              (AHEAD == 0 || AHEAD >= 32768)) {
            PRINTED = false;
          }
          if (P.HAVEMAP) {
            PRINT(NUM, E.NEWLINES[K]);
          } else {
            PENDING.push_back({NUM, E.NEWLINES[K]});
          }
        }
        break;
      }
      case CL_K_STATE: {
        EVERIN = true;
        uint8_t ACT = 0;
        // Ask for the map information until it comes; it repeats every 15
        // ticks while asked for.
        if (!P.HAVEMAP) {
          ACT = PLACT_MI;
        }
        CL_ANSWER(P, 0, ACT, 0, 0);
        if (O.SCORES && BOARD == 0 && P.STATE.BOARD > 0) {
          CL_OUT(CL_SCORETABLE(NAMES, P.STATE, P.HAVEMAP ? P.MAP.TEAMPLAY : 0));
        }
        BOARD = P.STATE.BOARD;
        break;
      }
      default:
        break;
      }
    }
  }
  FLUSH();
  CL_LEAVE(P);
  CL_CLOSE(P);
  CL_OUT("network: " + CL_NETTEXT(P.MISSING, P.LATE, P.REPEATED) + "\n");
  return CL_EXIT_OK;
}
