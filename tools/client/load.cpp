// load: simulated players that connect, join, walk to items, turn, fire,
// respawn and chat until the time is up; then a summary of what they saw.
// The sockets they play through are loadrun.cpp's.
#include <algorithm>
#include <chrono>

#include "load.hpp"
#include "server/server.hpp"

namespace {

int64_t CL_NOWUS() {
  using namespace std::chrono;
  return duration_cast<microseconds>(steady_clock::now().time_since_epoch()).count();
}

uint32_t CL_RAND(CL_BOT& B, uint32_t N) {
  return N == 0 ? 0 : uint32_t(B.RNG() % N);
}

// The entry of the bot's own slot in its newest state packet.
const CL_ENTRY* CL_SELF(const CL_BOT& B) {
  for (const CL_ENTRY& E : B.P.STATE.PLAYERS) {
    if (E.SLOT == B.P.STATE.SELF) {
      return &E;
    }
  }
  return nullptr;
}

// Chooses where to walk: mostly to an item that is present, else anywhere.
void CL_PLANWALK(CL_BOT& B, int CX, int CY) {
  B.PATH.clear();
  B.PATHI = 0;
  for (int TRY = 0; TRY < 8 && B.PATH.empty(); TRY++) {
    int GX, GY;
    const std::vector<uint8_t>& IT = B.P.STATE.ITEMS;
    if (!IT.empty() && CL_RAND(B, 3) != 0) {
      uint8_t I = IT[CL_RAND(B, uint32_t(IT.size()))];
      if (I < 1 || I > B.G.ITEMX.size()) {
        continue;
      }
      GX = B.G.ITEMX[I - 1] / MAPGRIDSIZE;
      GY = B.G.ITEMY[I - 1] / MAPGRIDSIZE;
    } else {
      GX = 1 + int(CL_RAND(B, MAXMAPGRIDI));
      GY = 1 + int(CL_RAND(B, MAXMAPGRIDI));
    }
    B.PATH = CL_PATH(B.G, CX, CY, GX, GY);
  }
}

// The next step along the bot's path; false when there is none to take.
bool CL_NEXTSTEP(CL_BOT& B, uint16_t X, uint16_t Y, uint16_t& MX, uint16_t& MY) {
  if (B.PATHI >= B.PATH.size()) {
    CL_PLANWALK(B, X / MAPGRIDSIZE, Y / MAPGRIDSIZE);
  }
  while (B.PATHI < B.PATH.size()) {
    int TX = B.PATH[B.PATHI].first * MAPGRIDSIZE + MAPGRIDHSIZE;
    int TY = B.PATH[B.PATHI].second * MAPGRIDSIZE + MAPGRIDHSIZE;
    if (X == TX && Y == TY) {
      B.PATHI++;
      continue;
    }
    if (CL_STEPTOWARD(B.G, X, Y, TX, TY, MX, MY)) {
      return true;
    }
    break; // blocked: find another way next time
  }
  B.PATH.clear();
  B.PATHI = 0;
  return false;
}

// Closes the log account of the bot's connection when it ends.
void CL_ENDSESSION(CL_BOT& B) {
  if (B.P.LOG.STARTED) {
    B.TAKENBEFORE += B.P.LOG.TAKEN;
    B.EXPECTEDBEFORE += uint16_t(B.P.LOG.LAST - B.P.LOG.FIRST) + 1u;
    B.RESENTBEFORE += B.P.LOG.RESENT;
  }
}

void CL_NOTE(CL_LOADRUN& L, const CL_BOT& B, const std::string& KIND, const std::string& DETAIL) {
  L.S.ANOMALYCOUNT++;
  if (L.S.ANOMALIES.size() < 20) {
    L.S.ANOMALIES.push_back({B.P.NAME, KIND, DETAIL});
  }
}

// Plays one tick for bot B on its newest state packet, and answers it.
void CL_PLAY(CL_LOADRUN& L, CL_BOT& B) {
  const CL_STATE& S = B.P.STATE;
  const CL_ENTRY* ME = CL_SELF(B);
  B.K++;
  if (L.RUNNING) {
    B.RUNSTATES++;
    B.INGAME += ME != nullptr && ME->STATE >= PS_DEAD ? 1 : 0;
    B.FREE += ME != nullptr && ME->STATE >= PS_LIVE && S.BOARD == 0 ? 1 : 0;
  }
  bool ALIVE = ME != nullptr && ME->STATE >= PS_LIVE;
  uint16_t X = ALIVE ? ME->X : 0, Y = ALIVE ? ME->Y : 0;
  if (!B.P.HAVEMAP) {
    CL_ANSWER(B.P, B.DIR, PLACT_MI, X, Y);
    return;
  }
  if (!B.HAVEGRID || B.GRIDTEXT != B.P.MAP.MAPTEXT) {
    B.GRIDTEXT = B.P.MAP.MAPTEXT;
    CL_LOADGRID(B.GRIDTEXT, B.G);
    B.HAVEGRID = true;
    B.PATH.clear();
    B.PATHI = 0;
  }
  // Items that went away from the cell the bot stands in: it took them.
  if (ALIVE) {
    for (uint8_t I : B.ITEMS) {
      if (I >= 1 && I <= B.G.ITEMX.size() &&
          std::find(S.ITEMS.begin(), S.ITEMS.end(), I) == S.ITEMS.end() &&
          B.G.ITEMX[I - 1] / MAPGRIDSIZE == X / MAPGRIDSIZE &&
          B.G.ITEMY[I - 1] / MAPGRIDSIZE == Y / MAPGRIDSIZE) {
        B.PICKUPS++;
      }
    }
  }
  B.ITEMS = S.ITEMS;
  // The move in flight: seen applied, given up, or lost.
  if (B.PENDING) {
    uint16_t AGE = uint16_t(S.TICK - B.PTICK);
    if (ALIVE && X == B.PMX && Y == B.PMY) {
      B.LATENCIES.push_back(AGE);
      B.PENDING = false;
    } else if (!ALIVE || S.BOARD > 0 || X != B.PX0 || Y != B.PY0) {
      B.PENDING = false; // died, respawned or the board came: no answer to expect
    } else if (AGE > FPS_NUM) {
      B.MOVESLOST++;
      B.PENDING = false;
      B.PATH.clear();
    }
  }
  uint8_t ACT = 0;
  uint16_t MX = X, MY = Y;
  if (!L.RUNNING) {
    CL_ANSWER(B.P, B.DIR, 0, MX, MY);
    return;
  }
  if (ME != nullptr && ME->STATE == PS_SPEC) {
    // Join; the toggle is refused while the game is full or within 90 ticks
    // of the last one, so ask again only now and then.
    if (!B.JOINED || B.K - B.LASTJOIN >= 100) {
      ACT = PLACT_SJ;
      B.JOINED = true;
      B.LASTJOIN = B.K;
    }
  } else if (ME != nullptr && ME->STATE == PS_DEAD) {
    ACT = PLACT_AR; // respawns once the wait is over
  } else if (ALIVE) {
    if (S.BOARD == 0) {
      if (!B.PENDING && CL_NEXTSTEP(B, X, Y, B.PMX, B.PMY)) {
        B.PENDING = true;
        B.PX0 = X;
        B.PY0 = Y;
        B.PTICK = S.TICK;
      }
      if (B.PENDING) {
        MX = B.PMX;
        MY = B.PMY;
      }
    }
    if (CL_RAND(B, 60) == 0) {
      B.TURN = -B.TURN;
    }
    B.DIR = uint16_t((B.DIR + 360 + B.TURN) % 360);
    uint32_t DICE = CL_RAND(B, 200);
    if (DICE < 12) {
      ACT = PLACT_AR;
    } else if (DICE == 12) {
      ACT = uint8_t(PLACT_G1 + CL_RAND(B, PLACT_G5));
    }
  }
  CL_ANSWER(B.P, B.DIR, ACT, MX, MY);
  // Chat lines are not data messages: the server takes one per 60 ticks.
  if (B.K >= B.NEXTCHAT) {
    CL_SENDRAW(B.P, CL_CHAT(B.P.NAME + " says hello #" + std::to_string(B.CHATSENT + 1)));
    B.CHATSENT++;
    B.NEXTCHAT = B.K + 100 + CL_RAND(B, 60);
  }
}

// Connects bot B again, as a new player.
void CL_REJOIN(CL_BOT& B, long NOW, bool WASIN) {
  if (WASIN) {
    B.RECONNECTS++;
  }
  CL_ENDSESSION(B);
  CL_SENDCONNECT(B.P, NOW);
  B.K = 0;
  B.NEXTCHAT = 20 + CL_RAND(B, 30);
  B.JOINED = false;
  B.PENDING = false;
  B.PATH.clear();
}

// True while bot B holds a slot, as far as it can tell.
bool CL_LIVE(const CL_BOT& B, long NOW) {
  return B.P.INGAME && NOW - B.P.HEARDAT < CL_SILENCEMS;
}

} // namespace

// Datagram D for bot B; ATUS is when it arrived in microseconds of a clock
// of the caller's choice (the same for every datagram of the run), or -1
// for now on the steady clock.
void CL_LOADDATAGRAM(CL_LOADRUN& L, CL_BOT& B, const std::string& D, long NOW, int64_t ATUS) {
  bool WASIN = B.P.INGAME;
  CL_EVENT E = CL_TAKE(B.P, D);
  if (!E.ANOMALY.empty()) {
    CL_NOTE(L, B, E.ANOMALY, E.DETAIL);
  }
  switch (E.KIND) {
  case CL_K_WVER:
    L.VERSIONFAIL = B.P.VERSION;
    break;
  case CL_K_FULL:
    if (!B.EVERIN) {
      B.REFUSED = true;
    }
    break;
  case CL_K_NOCON:
    if (NOW - B.P.CONNECTAT >= 500) {
      CL_REJOIN(B, NOW, WASIN);
    }
    break;
  case CL_K_LOG:
    B.EVERIN = true;
    if (!E.NEWLINES.empty()) {
      L.LASTLINE = NOW;
    }
    for (const std::string& LINE : E.NEWLINES) {
      uint8_t KIND = LINE.empty() ? 0 : uint8_t(LINE[0]);
      uint8_t A1 = LINE.size() > 1 ? uint8_t(LINE[1]) : 0;
      uint8_t A2 = LINE.size() > 2 ? uint8_t(LINE[2]) : 0;
      if (KIND == LOGMESSID_CHAT && A1 == B.P.STATE.SELF && B.P.HAVESTATE) {
        B.CHATSEEN++;
      } else if (KIND == LOGMESSID_KILL && A2 == B.P.STATE.SELF && B.P.HAVESTATE) {
        B.KILLS++;
      }
    }
    break;
  case CL_K_STATE:
    if (!B.EVERIN) {
      B.EVERIN = true;
      B.NEXTCHAT = 20 + CL_RAND(B, 30);
    }
    if (L.RUNNING) {
      // Its own time, as the system stamped its arrival or as it is taken
      // from the socket: datagrams waiting together would otherwise share
      // one time. The first packet of a connection
      // has no predecessor (a reconnect waits out a silence).
      int64_t T = ATUS >= 0 ? ATUS : CL_NOWUS();
      if (B.K > 0) {
        B.SPACINGS.push_back(uint32_t(std::min<int64_t>(T - B.LASTSTATEUS, UINT32_MAX)));
      }
      B.LASTSTATEUS = T;
    }
    CL_PLAY(L, B);
    break;
  default:
    break;
  }
}

// Names and seeds the players of a run whose sockets are open, and sends
// their connects.
void CL_LOADBEGIN(CL_LOADRUN& L, long NOW) {
  const CL_OPTIONS& O = *L.O;
  L.S.SERVER = L.T.TEXT;
  L.S.PLAYERS = O.PLAYERS;
  for (size_t I = 0; I < L.BOTS.size(); I++) {
    CL_BOT& B = L.BOTS[I];
    B.P.NAME = O.NAME + std::to_string(I + 1);
    B.RNG.seed(O.SEED * 7919u + uint32_t(I));
    B.DIR = uint16_t(CL_RAND(B, 360));
  }
  L.START = NOW;
  for (CL_BOT& B : L.BOTS) {
    CL_SENDCONNECT(B.P, NOW);
  }
  L.RUNEND = L.START + O.RUNMS;
}

// What a run does between two waits: sees whether it is over (false, with
// L.EXIT telling why when it failed), ends the play when the time is up, and
// connects again the players that need it.
bool CL_LOADSTEP(CL_LOADRUN& L, long NOW) {
  const CL_OPTIONS& O = *L.O;
  if (CL_STOPASKED && !L.STOPPED) {
    L.STOPPED = true;
    L.RUNEND = std::min(L.RUNEND, NOW);
  }
  if (L.VERSIONFAIL >= 0) {
    CL_ERROR(CL_VERSIONERROR(L.T, uint8_t(L.VERSIONFAIL)));
    L.EXIT = CL_EXIT_VERSION;
    return false;
  }
  int IN = 0, REFUSED = 0, GARBAGE = 0;
  for (CL_BOT& B : L.BOTS) {
    IN += B.EVERIN ? 1 : 0;
    REFUSED += B.REFUSED ? 1 : 0;
    GARBAGE += B.P.GARBAGE > 0 ? 1 : 0;
  }
  if (IN == 0 && REFUSED == O.PLAYERS) {
    CL_ERROR(CL_FULLERROR(L.T));
    L.EXIT = CL_EXIT_FULL;
    return false;
  }
  if (IN == 0 && (NOW - L.START >= O.TIMEOUTMS || L.BOTS[0].P.UNREACHABLE)) {
    CL_ERROR(GARBAGE > 0
                 ? L.T.TEXT + " sent datagrams that are not server packets (" +
                       L.BOTS[0].P.FIRSTGARBAGE + ")"
                 : "no answer from " + L.T.TEXT +
                       (L.BOTS[0].P.UNREACHABLE ? std::string(" (port unreachable)")
                                                : " within " + CL_SECONDSTEXT(O.TIMEOUTMS)));
    L.EXIT = GARBAGE > 0 ? CL_EXIT_FAIL : CL_EXIT_NOANSWER;
    return false;
  }
  if (L.RUNNING && NOW >= L.RUNEND) {
    // Time is up: stand still and let every bot catch up with the log,
    // so that what it received can be held against what was logged.
    L.RUNNING = false;
    L.S.SECONDS = (NOW - L.START) / 1000.0;
    L.DRAINSTART = NOW;
    L.LASTLINE = NOW;
  }
  if (!L.RUNNING) {
    bool LEVEL = true;
    const CL_BOT* REF = nullptr;
    for (const CL_BOT& B : L.BOTS) {
      if (CL_LIVE(B, NOW) && B.P.LOG.STARTED) {
        LEVEL = LEVEL && (REF == nullptr || B.P.LOG.LAST == REF->P.LOG.LAST);
        REF = &B;
      }
    }
    // Server bots go on logging kills meanwhile: after three seconds
    // the drain ends at the first moment every player holds the same
    // newest line, so a line still on its way is not taken for lost.
    bool QUIET = NOW - L.LASTLINE >= 600;
    long DRAINED = NOW - L.DRAINSTART;
    if (L.STOPPED || (LEVEL && (QUIET || DRAINED >= 3000)) || DRAINED >= 6000) {
      return false;
    }
  }
  for (CL_BOT& B : L.BOTS) {
    // A connect that brought nothing is asked again, once a second; a
    // bot that has been dropped connects again while the run lasts.
    if (!B.REFUSED && !B.P.INGAME && NOW - B.P.CONNECTAT >= 1000) {
      CL_SENDCONNECT(B.P, NOW);
    } else if (L.RUNNING && B.P.INGAME && !CL_LIVE(B, NOW)) {
      CL_REJOIN(B, NOW, true);
    }
  }
  return true;
}

// Ends a run: the players leave, and its figures are added up. The exit
// status of the run; its report goes to OUT, errors to standard error.
int CL_LOADEND(CL_LOADRUN& L, std::string& OUT) {
  const CL_OPTIONS& O = *L.O;
  long END = CL_NOWMS();
  if (L.S.SECONDS == 0) {
    L.S.SECONDS = (END - L.START) / 1000.0;
  }
  // The newest line any bot holds: every bot connected now should hold all
  // lines from its first one up to it. A bot dropped at the end is owed only
  // the lines up to its own last one.
  bool HAVEMAX = false;
  uint16_t MAXLINE = 0;
  for (const CL_BOT& B : L.BOTS) {
    if (CL_LIVE(B, END) && B.P.LOG.STARTED) {
      uint16_t AHEAD = uint16_t(B.P.LOG.LAST - MAXLINE);
      if (!HAVEMAX || (AHEAD != 0 && AHEAD < 32768)) {
        MAXLINE = B.P.LOG.LAST;
      }
      HAVEMAX = true;
    }
  }
  for (CL_BOT& B : L.BOTS) {
    bool LIVE = CL_LIVE(B, END);
    CL_LEAVE(B.P);
    CL_CLOSE(B.P);
    L.S.CONNECTED += B.EVERIN ? 1 : 0;
    L.S.REFUSED += B.REFUSED ? 1 : 0;
    L.S.STATES += B.RUNSTATES;
    L.S.SENT += B.P.SENT;
    L.S.RECEIVED += B.P.RECEIVED;
    L.S.LATENCIES.insert(L.S.LATENCIES.end(), B.LATENCIES.begin(), B.LATENCIES.end());
    L.S.MOVESLOST += B.MOVESLOST;
    L.S.SPACINGS.insert(L.S.SPACINGS.end(), B.SPACINGS.begin(), B.SPACINGS.end());
    L.S.LOGTAKEN += B.TAKENBEFORE + B.P.LOG.TAKEN;
    L.S.LOGEXPECTED += B.EXPECTEDBEFORE;
    if (B.P.LOG.STARTED) {
      uint16_t UPTO = LIVE ? MAXLINE : B.P.LOG.LAST;
      L.S.LOGEXPECTED += uint16_t(UPTO - B.P.LOG.FIRST) + 1u;
    }
    L.S.LOGRESENT += B.RESENTBEFORE + B.P.LOG.RESENT;
    L.S.CHATSENT += B.CHATSENT;
    L.S.CHATSEEN += B.CHATSEEN;
    L.S.KILLS += B.KILLS;
    L.S.PICKUPS += B.PICKUPS;
    L.S.RECONNECTS += B.RECONNECTS;
    L.S.STATESMISSING += B.P.MISSING;
    L.S.STATESLATE += B.P.LATE;
    // A player free to walk for two seconds has had time to.
    L.S.NEVERJOINED += B.EVERIN && B.INGAME == 0 ? 1 : 0;
    L.S.NEVERMOVED += B.FREE >= 2 * FPS_NUM && B.LATENCIES.empty() ? 1 : 0;
  }
  if (L.EXIT != CL_EXIT_OK) {
    return L.EXIT;
  }
  OUT = O.JSON ? CL_LOADJSON(L.S) : CL_LOADTEXT(L.S);
  if (L.S.ANOMALYCOUNT > 0) {
    return CL_EXIT_ANOMALY;
  }
  // With several servers an error names the one it is about.
  std::string WHO = O.SERVERS.size() > 1 ? L.T.TEXT + ": " : "";
  if (L.S.REFUSED > 0) {
    CL_ERROR(WHO + std::to_string(L.S.REFUSED) + " of " + std::to_string(L.S.PLAYERS) +
             " players were refused: " + CL_FULLERROR(L.T));
    return CL_EXIT_FULL;
  }
  // Players the server kept out of the game (a game full of bots), or that
  // stood in it unable to move (a map without a place to stand), saw no game
  // at all: the run says nothing about the server under play.
  if ((L.S.CONNECTED > 0 && L.S.NEVERJOINED == uint64_t(L.S.CONNECTED)) || L.S.NEVERMOVED > 0) {
    CL_ERROR(WHO + "the players could not play: " + CL_NOPLAYTEXT(L.S));
    return CL_EXIT_NOPLAY;
  }
  return CL_EXIT_OK;
}
