// One client's view of the protocol: its socket to the server, what the
// server has told it in the present connection, and the messages a
// well-made game client sends. Every client of the tool answers each state
// packet with exactly one data message that echoes the tick and acknowledges
// the newest log line it holds, and connects again when the server says it
// holds no slot.
#pragma once

#include "client.hpp"
#include "socket.hpp"

// Output: results to standard output, errors as one line to standard error.
void CL_ERROR(const std::string& S);
void CL_OUT(const std::string& S);
// "2 s", "0.5 s".
std::string CL_SECONDSTEXT(int MS);

// The server the command talks to, resolved; CL_EXIT_OK or the exit status
// of the failure, already reported.
int CL_TARGETOF(const CL_OPTIONS& O, CL_ENDPOINT& T);

// A UDP socket connected to the server: the kernel drops datagrams from
// anybody else, and a closed port shows as a refused receive.
struct CL_PEER {
  CL_SOCKET FD = CL_NOSOCKET;
  // A peer that shares an unconnected socket with others (load with several
  // servers) queues what it sends to TO in OUTBOX, for its owner to send
  // with the rest of the round; the owner closes the socket too.
  std::vector<CL_DGRAM>* OUTBOX = nullptr;
  CL_ENDPOINT TO;
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
  // What the network did, over every connection: state packets lost (gaps
  // in the tick counter), state packets overtaken by newer ones, and log
  // lines received more than once.
  uint64_t MISSING = 0, LATE = 0, REPEATED = 0;
  // Bit K: the state packet K ticks before the newest one came.
  uint64_t SEENTICKS = 0;
  std::string FIRSTGARBAGE;
};

// Opens the peer's socket; the result is an exit status, CL_EXIT_OK when open.
// What went wrong goes to ERRTEXT, or to standard error when it is null.
int CL_OPEN(CL_PEER& P, const CL_OPTIONS& O, const CL_ENDPOINT& T, std::string* ERRTEXT = nullptr);
void CL_CLOSE(CL_PEER& P);
void CL_SENDRAW(CL_PEER& P, const std::string& D);
// Sends a connect and forgets what the previous connection was told.
void CL_SENDCONNECT(CL_PEER& P, long NOW);
// The one data message owed for the newest state packet; nothing when none
// is owed, so a client never sends more data messages than it got states.
void CL_ANSWER(CL_PEER& P, uint16_t DIR, uint8_t ACT, uint16_t MX, uint16_t MY);
// Disconnects, when connected.
void CL_LEAVE(CL_PEER& P);
// The next datagram waiting on the peer's socket; false when none.
bool CL_RECV(CL_PEER& P, std::string& D);
// Waits at most MS for any of the peers' sockets to hold a datagram.
void CL_WAIT(const std::vector<CL_PEER*>& PS, int MS);

// A client holding a slot gets a state packet every tick. When none came for
// this long, the server has dropped it: a map change removes every client
// and then, with no human left, sends nothing at all, so a client that only
// answers state packets would never hear that it holds no slot. It connects
// again instead; a connect from an address that still holds its slot is
// ignored by the server, so this is safe when the silence had another cause.
constexpr long CL_SILENCEMS = 1000;

enum CL_KIND {
  CL_K_STATE,
  CL_K_LATE,
  CL_K_MAP,
  CL_K_LOG,
  CL_K_NOCON,
  CL_K_WVER,
  CL_K_FULL,
  CL_K_BAD
};

struct CL_EVENT {
  CL_KIND KIND = CL_K_BAD;
  std::vector<std::string> NEWLINES; // CL_K_LOG: the lines not held before
  uint16_t NEWFIRST = 0;             // number of the first of them
  // A protocol anomaly this datagram showed (empty: none).
  std::string ANOMALY, DETAIL;
};

// Reads one datagram from the server into the peer's view of the game.
CL_EVENT CL_TAKE(CL_PEER& P, const std::string& D);

std::string CL_VERSIONERROR(const CL_ENDPOINT& T, uint8_t V);
std::string CL_FULLERROR(const CL_ENDPOINT& T);
// "HOST:PORT sent N datagram(s) that are not server packets (...)".
std::string CL_GARBAGEERROR(const CL_ENDPOINT& T, const CL_PEER& P);

// ---- one look at a server: status and map ----

// A look connects, asks for the map information and takes the state packet
// of the same tick, then leaves again. A status look first asks with the
// slotless query, which takes no slot and shows on no console, and connects
// only when the server does not answer it (an older server).
struct CL_LOOKAT {
  CL_ENDPOINT T;
  CL_PEER P;
  bool QUERY = false;    // ask with the query first
  bool QUERYING = false; // the query phase runs
  uint32_t COOKIE = 0;
  int QUERIES = 0;  // queries sent
  long QSENTAT = 0; // when the newest query went out
  long QPHASEEND = 0;
  long START = 0, END = 0;
  bool GOTMAP = false;
  CL_MAPINFO M;
  CL_STATE S;
  CL_STATUSINFO INFO;    // what the look found
  int RESULT = -1;       // the exit status, once the look is over
  std::string ERROR;     // what went wrong, without the address
  std::string FULLERROR; // the same as one line on its own
};

// Starts a look at T; a look that cannot start is over at once.
void CL_LOOKSTART(CL_LOOKAT& L, const CL_OPTIONS& O, const CL_ENDPOINT& T, bool QUERY, long NOW);
// Runs the looks to their end, all at once.
void CL_LOOKALL(std::vector<CL_LOOKAT>& LS, const CL_OPTIONS& O);
// One look at the server of the command line; CL_EXIT_OK or the exit status
// of the failure, already reported.
int CL_LOOK(const CL_OPTIONS& O, bool QUERY, CL_LOOKAT& L);
