// The commands of brastok_client over UDP. Every client here behaves like a
// well-made game client: it answers each state packet with exactly one data
// message that echoes the tick and acknowledges the newest log line it holds,
// and connects again when the server says it holds no slot.
#include "clientrun.hpp"

#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <random>

#include "server/server.hpp"

namespace {

volatile std::sig_atomic_t CL_STOPASKED = 0;

void CL_ONSTOP(int) {
  CL_STOPASKED = 1;
}

long CL_NOWMS() {
  using namespace std::chrono;
  return long(duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count());
}

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

// ---- the socket of one client ----

struct CL_TARGET {
  sockaddr_in ADDR{};
  std::string TEXT; // HOST:PORT as given
};

// A UDP socket connected to the server: the kernel drops datagrams from
// anybody else, and a closed port shows as a refused receive.
struct CL_PEER {
  int FD = -1;
  std::string NAME;
  uint8_t TEAM = 0;
  bool INGAME = false; // a server packet came since the last connect
  long CONNECTAT = 0;
  long HEARDAT = 0; // when the last server packet came
  bool UNREACHABLE = false;
  // What the server has told in the present connection.
  bool HAVESTATE = false;
  CL_STATE STATE;
  bool OWED = false; // a data message is owed for the newest state packet
  bool HAVEMAP = false;
  CL_MAPINFO MAP;
  CL_LOGTRACK LOG;
  uint8_t VERSION = 0; // the version a wrong-version reply carried
  uint64_t SENT = 0, RECEIVED = 0, GARBAGE = 0;
  std::string FIRSTGARBAGE;
};

bool CL_RESOLVE(const CL_OPTIONS& O, CL_TARGET& T, std::string& ERR) {
  addrinfo HINTS{};
  HINTS.ai_family = AF_INET;
  HINTS.ai_socktype = SOCK_DGRAM;
  addrinfo* RES = nullptr;
  int R = getaddrinfo(O.HOST.c_str(), nullptr, &HINTS, &RES);
  if (R != 0 || RES == nullptr) {
    ERR = "unknown host '" + O.HOST + "' (" + gai_strerror(R) + ")";
    return false;
  }
  std::memcpy(&T.ADDR, RES->ai_addr, sizeof T.ADDR);
  freeaddrinfo(RES);
  T.ADDR.sin_port = htons(O.PORT);
  T.TEXT = O.HOST + ":" + std::to_string(O.PORT);
  return true;
}

// Opens the peer's socket; the result is an exit status, CL_EXIT_OK when open.
int CL_OPEN(CL_PEER& P, const CL_OPTIONS& O, const CL_TARGET& T) {
  P.FD = socket(AF_INET, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
  if (P.FD < 0) {
    CL_ERROR(std::string("cannot open a UDP socket: ") + std::strerror(errno));
    return CL_EXIT_FAIL;
  }
  sockaddr_in LOCAL{};
  LOCAL.sin_family = AF_INET;
  LOCAL.sin_addr.s_addr = htonl(INADDR_ANY);
  if (!O.BIND.empty()) {
    inet_pton(AF_INET, O.BIND.c_str(), &LOCAL.sin_addr);
  }
  if (bind(P.FD, reinterpret_cast<sockaddr*>(&LOCAL), sizeof LOCAL) != 0) {
    CL_ERROR("cannot send from " + (O.BIND.empty() ? std::string("any address") : O.BIND) + ": " +
             std::strerror(errno));
    return CL_EXIT_USAGE;
  }
  if (connect(P.FD, reinterpret_cast<const sockaddr*>(&T.ADDR), sizeof T.ADDR) != 0) {
    CL_ERROR("cannot reach " + T.TEXT + ": " + std::strerror(errno));
    return CL_EXIT_FAIL;
  }
  P.NAME = O.NAME;
  P.TEAM = O.TEAM;
  return CL_EXIT_OK;
}

void CL_CLOSE(CL_PEER& P) {
  if (P.FD >= 0) {
    close(P.FD);
    P.FD = -1;
  }
}

void CL_SENDRAW(CL_PEER& P, const std::string& D) {
  // A lost datagram is what UDP allows; the protocol repeats what matters.
  if (send(P.FD, D.data(), D.size(), 0) >= 0) {
    P.SENT++;
  } else if (errno == ECONNREFUSED) {
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
  if (P.FD >= 0 && P.INGAME) {
    CL_SENDRAW(P, CL_DISCONNECT());
    P.INGAME = false;
  }
}

// The next datagram waiting on the peer's socket; false when none.
bool CL_RECV(CL_PEER& P, std::string& D) {
  char BUF[65536];
  ssize_t N = recv(P.FD, BUF, sizeof BUF, 0);
  if (N < 0) {
    if (errno == ECONNREFUSED) {
      P.UNREACHABLE = true;
    }
    return false;
  }
  D.assign(BUF, size_t(N));
  P.RECEIVED++;
  return true;
}

// A client holding a slot gets a state packet every tick. When none came for
// this long, the server has dropped it: a map change removes every client
// and then, with no human left, sends nothing at all, so a client that only
// answers state packets would never hear that it holds no slot. It connects
// again instead; a connect from an address that still holds its slot is
// ignored by the server, so this is safe when the silence had another cause.
constexpr long CL_SILENCEMS = 1000;

enum CL_KIND { CL_K_STATE, CL_K_MAP, CL_K_LOG, CL_K_NOCON, CL_K_WVER, CL_K_FULL, CL_K_BAD };

struct CL_EVENT {
  CL_KIND KIND = CL_K_BAD;
  std::vector<std::string> NEWLINES; // CL_K_LOG: the lines not held before
  uint16_t NEWFIRST = 0;             // number of the first of them
  // A protocol anomaly this datagram showed (empty: none).
  std::string ANOMALY, DETAIL;
};

std::string CL_HEX(uint8_t B) {
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
    if (P.HAVESTATE && !CL_TICKFORWARD(P.STATE.TICK, S.TICK)) {
      E.ANOMALY = "tick backwards";
      E.DETAIL = "tick " + std::to_string(S.TICK) + " after " + std::to_string(P.STATE.TICK);
    }
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
    if (!CL_TAKELOG(P.LOG, L, E.NEWLINES)) {
      E.ANOMALY = "log order";
      E.DETAIL = "lines " + std::to_string(uint16_t(L.LAST - L.LINES.size() + 1)) + " to " +
                 std::to_string(L.LAST) + " after line " + std::to_string(HELD);
    }
    E.NEWFIRST = uint16_t(P.LOG.LAST - E.NEWLINES.size() + 1);
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

// Waits at most MS for any of the sockets to hold a datagram.
void CL_WAIT(const std::vector<CL_PEER*>& PS, int MS) {
  std::vector<pollfd> F;
  for (CL_PEER* P : PS) {
    if (P->FD >= 0) {
      F.push_back({P->FD, POLLIN, 0});
    }
  }
  // A signal ends the wait early; the caller looks at the stop flag.
  (void)poll(F.data(), F.size(), std::max(MS, 0));
}

std::string CL_VERSIONERROR(const CL_TARGET& T, uint8_t V) {
  return T.TEXT + " speaks protocol version " + std::to_string(V) + "; this client speaks " +
         std::to_string(PVER);
}

std::string CL_FULLERROR(const CL_TARGET& T) {
  return T.TEXT + " is full: all " + std::to_string(MAXCLIENTS) + " slots are taken";
}

// ---- status and map: one look at the map information ----

// Connects, asks for the map information and waits for the state packet of
// the same tick; leaves again. CL_EXIT_OK with both filled in, or the exit
// status of the failure, already reported.
int CL_LOOK(const CL_OPTIONS& O, const CL_TARGET& T, CL_MAPINFO& M, CL_STATE& S) {
  CL_PEER P;
  int R = CL_OPEN(P, O, T);
  if (R != CL_EXIT_OK) {
    CL_CLOSE(P);
    return R;
  }
  long START = CL_NOWMS();
  long END = START + O.TIMEOUTMS;
  CL_SENDCONNECT(P, START);
  bool GOTMAP = false;
  R = -1;
  while (R < 0) {
    long NOW = CL_NOWMS();
    if (CL_STOPASKED) {
      R = CL_EXIT_INTERRUPTED;
      break;
    }
    if (P.UNREACHABLE) {
      CL_ERROR("no answer from " + T.TEXT + " (port unreachable)");
      R = CL_EXIT_NOANSWER;
      break;
    }
    if (NOW >= END) {
      if (P.GARBAGE > 0) {
        CL_ERROR(T.TEXT + " sent " + std::to_string(P.GARBAGE) +
                 " datagram(s) that are not server packets (" + P.FIRSTGARBAGE + ")");
        R = CL_EXIT_FAIL;
      } else if (P.INGAME) {
        CL_ERROR(T.TEXT + " sent no map information within " + CL_SECONDSTEXT(O.TIMEOUTMS));
        R = CL_EXIT_NOANSWER;
      } else {
        CL_ERROR("no answer from " + T.TEXT + " within " + CL_SECONDSTEXT(O.TIMEOUTMS));
        R = CL_EXIT_NOANSWER;
      }
      break;
    }
    // A connect can be lost like any datagram: ask again now and then.
    if (!P.INGAME && NOW - P.CONNECTAT >= 500) {
      CL_SENDCONNECT(P, NOW);
    }
    CL_WAIT({&P}, int(std::min(50L, END - NOW)));
    std::string D;
    while (R < 0 && CL_RECV(P, D)) {
      CL_EVENT E = CL_TAKE(P, D);
      switch (E.KIND) {
      case CL_K_WVER:
        CL_ERROR(CL_VERSIONERROR(T, P.VERSION));
        R = CL_EXIT_VERSION;
        break;
      case CL_K_FULL:
        CL_ERROR(CL_FULLERROR(T));
        R = CL_EXIT_FULL;
        break;
      case CL_K_NOCON:
        if (NOW - P.CONNECTAT >= 500) {
          CL_SENDCONNECT(P, NOW);
        }
        break;
      case CL_K_MAP:
        M = P.MAP;
        GOTMAP = true;
        break;
      case CL_K_STATE:
        // The state packet that follows the map information belongs to the
        // same tick: the pair is one picture of the game.
        if (GOTMAP) {
          S = P.STATE;
          R = CL_EXIT_OK;
        } else {
          CL_ANSWER(P, 0, PLACT_MI, 0, 0);
        }
        break;
      default:
        break;
      }
    }
  }
  CL_LEAVE(P);
  CL_CLOSE(P);
  return R;
}

int CL_STATUS(const CL_OPTIONS& O, const CL_TARGET& T) {
  CL_MAPINFO M;
  CL_STATE S;
  int R = CL_LOOK(O, T, M, S);
  if (R != CL_EXIT_OK) {
    return R;
  }
  CL_STATUSINFO I = CL_MAKESTATUS(M, S);
  CL_OUT(O.JSON ? CL_STATUSJSON(I) : CL_STATUSTEXT(I));
  return CL_EXIT_OK;
}

int CL_MAPCMD(const CL_OPTIONS& O, const CL_TARGET& T) {
  CL_MAPINFO M;
  CL_STATE S;
  int R = CL_LOOK(O, T, M, S);
  if (R != CL_EXIT_OK) {
    return R;
  }
  std::string FILE, ERR;
  if (!CL_MAPFILE(M.MAPTEXT, FILE, ERR)) {
    CL_ERROR("cannot save map '" + SC_PRINTABLE(M.MAPNAME) + "': " + ERR);
    return CL_EXIT_FAIL;
  }
  if (O.OUTFILE == "-") {
    CL_OUT(FILE);
    return CL_EXIT_OK;
  }
  std::ofstream F(O.OUTFILE, std::ios::binary | std::ios::trunc);
  F << FILE;
  F.close();
  if (!F) {
    CL_ERROR("cannot write " + O.OUTFILE + ": " + std::strerror(errno));
    return CL_EXIT_FAIL;
  }
  size_t ROWS = size_t(std::count(FILE.begin(), FILE.end(), '\n')) - 1;
  CL_OUT("map " + SC_PRINTABLE(M.MAPNAME) + ": " + std::to_string(ROWS) + " rows written to " +
         O.OUTFILE + "\n");
  return CL_EXIT_OK;
}

// ---- watch ----

int CL_WATCH(const CL_OPTIONS& O, const CL_TARGET& T) {
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
                     ? T.TEXT + " sent " + std::to_string(P.GARBAGE) +
                           " datagram(s) that are not server packets (" + P.FIRSTGARBAGE + ")"
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
  return CL_EXIT_OK;
}

// ---- load ----

// One simulated player.
struct CL_BOT {
  CL_PEER P;
  std::mt19937 RNG;
  bool REFUSED = false;
  bool EVERIN = false;
  std::string GRIDTEXT;
  CL_GRID G;
  bool HAVEGRID = false;
  // Walking: a path of cells, and the one move request in flight.
  std::vector<std::pair<uint8_t, uint8_t>> PATH;
  size_t PATHI = 0;
  bool PENDING = false;
  uint16_t PMX = 0, PMY = 0, PX0 = 0, PY0 = 0, PTICK = 0;
  uint16_t DIR = 0;
  int TURN = 7;
  uint32_t K = 0; // state packets in this connection
  uint32_t NEXTCHAT = 0, LASTJOIN = 0;
  bool JOINED = false;
  std::vector<uint8_t> ITEMS; // items present in the last state packet
  // Log lines of the connections that ended.
  uint64_t TAKENBEFORE = 0, EXPECTEDBEFORE = 0, RESENTBEFORE = 0;
  uint64_t CHATSENT = 0, CHATSEEN = 0, KILLS = 0, PICKUPS = 0, RECONNECTS = 0;
  uint64_t RUNSTATES = 0; // state packets while the run lasted
  std::vector<uint32_t> LATENCIES;
  uint64_t MOVESLOST = 0;
};

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

struct CL_LOADRUN {
  const CL_OPTIONS* O = nullptr;
  std::vector<CL_BOT> BOTS;
  CL_LOADSUMMARY S;
  bool RUNNING = true; // false while draining at the end
  bool STOPPED = false;
  long LASTLINE = 0; // when a bot last took a new log line
  int VERSIONFAIL = -1;
};

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

void CL_LOADDATAGRAM(CL_LOADRUN& L, CL_BOT& B, const std::string& D, long NOW) {
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
    CL_PLAY(L, B);
    break;
  default:
    break;
  }
}

int CL_LOAD(const CL_OPTIONS& O, const CL_TARGET& T) {
  CL_LOADRUN L;
  L.O = &O;
  L.S.SERVER = T.TEXT;
  L.S.PLAYERS = O.PLAYERS;
  L.BOTS.resize(size_t(O.PLAYERS));
  for (int I = 0; I < O.PLAYERS; I++) {
    CL_BOT& B = L.BOTS[size_t(I)];
    int R = CL_OPEN(B.P, O, T);
    if (R != CL_EXIT_OK) {
      for (CL_BOT& C : L.BOTS) {
        CL_CLOSE(C.P);
      }
      return R;
    }
    B.P.NAME = O.NAME + std::to_string(I + 1);
    B.RNG.seed(O.SEED * 7919u + uint32_t(I));
    B.DIR = uint16_t(CL_RAND(B, 360));
  }
  std::vector<CL_PEER*> PS;
  for (CL_BOT& B : L.BOTS) {
    PS.push_back(&B.P);
  }
  long START = CL_NOWMS();
  for (CL_BOT& B : L.BOTS) {
    CL_SENDCONNECT(B.P, START);
  }
  long RUNEND = START + O.RUNMS;
  long DRAINSTART = 0;
  int EXIT = CL_EXIT_OK;
  for (;;) {
    long NOW = CL_NOWMS();
    if (CL_STOPASKED && !L.STOPPED) {
      L.STOPPED = true;
      RUNEND = std::min(RUNEND, NOW);
    }
    if (L.VERSIONFAIL >= 0) {
      CL_ERROR(CL_VERSIONERROR(T, uint8_t(L.VERSIONFAIL)));
      EXIT = CL_EXIT_VERSION;
      break;
    }
    int IN = 0, REFUSED = 0, GARBAGE = 0;
    for (CL_BOT& B : L.BOTS) {
      IN += B.EVERIN ? 1 : 0;
      REFUSED += B.REFUSED ? 1 : 0;
      GARBAGE += B.P.GARBAGE > 0 ? 1 : 0;
    }
    if (IN == 0 && REFUSED == O.PLAYERS) {
      CL_ERROR(CL_FULLERROR(T));
      EXIT = CL_EXIT_FULL;
      break;
    }
    if (IN == 0 && (NOW - START >= O.TIMEOUTMS || L.BOTS[0].P.UNREACHABLE)) {
      CL_ERROR(GARBAGE > 0
                   ? T.TEXT + " sent datagrams that are not server packets (" +
                         L.BOTS[0].P.FIRSTGARBAGE + ")"
                   : "no answer from " + T.TEXT +
                         (L.BOTS[0].P.UNREACHABLE ? std::string(" (port unreachable)")
                                                  : " within " + CL_SECONDSTEXT(O.TIMEOUTMS)));
      EXIT = GARBAGE > 0 ? CL_EXIT_FAIL : CL_EXIT_NOANSWER;
      break;
    }
    if (L.RUNNING && NOW >= RUNEND) {
      // Time is up: stand still and let every bot catch up with the log,
      // so that what it received can be held against what was logged.
      L.RUNNING = false;
      L.S.SECONDS = (NOW - START) / 1000.0;
      DRAINSTART = NOW;
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
      bool QUIET = NOW - L.LASTLINE >= 600;
      if (L.STOPPED || (LEVEL && QUIET) || NOW - DRAINSTART >= 3000) {
        break;
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
    CL_WAIT(PS, 20);
    NOW = CL_NOWMS();
    for (CL_BOT& B : L.BOTS) {
      std::string D;
      while (CL_RECV(B.P, D)) {
        CL_LOADDATAGRAM(L, B, D, NOW);
      }
    }
  }
  long END = CL_NOWMS();
  if (L.S.SECONDS == 0) {
    L.S.SECONDS = (END - START) / 1000.0;
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
  }
  if (EXIT != CL_EXIT_OK) {
    return EXIT;
  }
  CL_OUT(O.JSON ? CL_LOADJSON(L.S) : CL_LOADTEXT(L.S));
  if (L.S.ANOMALYCOUNT > 0) {
    return CL_EXIT_ANOMALY;
  }
  if (L.S.REFUSED > 0) {
    CL_ERROR(std::to_string(L.S.REFUSED) + " of " + std::to_string(L.S.PLAYERS) +
             " players were refused: " + CL_FULLERROR(T));
    return CL_EXIT_FULL;
  }
  return CL_EXIT_OK;
}

} // namespace

int CL_RUN(const CL_OPTIONS& O) {
  struct sigaction SA {};
  SA.sa_handler = CL_ONSTOP;
  sigemptyset(&SA.sa_mask);
  SA.sa_flags = 0; // no SA_RESTART: a wait must end at once
  sigaction(SIGINT, &SA, nullptr);
  sigaction(SIGTERM, &SA, nullptr);

  CL_TARGET T;
  std::string ERR;
  if (!CL_RESOLVE(O, T, ERR)) {
    CL_ERROR(ERR);
    return CL_EXIT_USAGE;
  }
  if (O.COMMAND == "status") {
    return CL_STATUS(O, T);
  }
  if (O.COMMAND == "map") {
    return CL_MAPCMD(O, T);
  }
  if (O.COMMAND == "watch") {
    return CL_WATCH(O, T);
  }
  return CL_LOAD(O, T);
}
