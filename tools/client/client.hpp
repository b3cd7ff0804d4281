// brastok_client, the headless client for operators: its door. The exit
// statuses, the command line, the renderings of what the server reports
// (text and JSON), the map file, the bookkeeping of log lines and ticks, the
// walking rules of a simulated player, the figures of a load run, and one
// entry per command. Everything but the commands themselves works without a
// socket, so the tests check it directly.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "clientproto.hpp"
#include "server/state.hpp"

// ---- exit status ----

constexpr int CL_EXIT_OK = 0;
constexpr int CL_EXIT_FAIL = 1;     // garbage from the server, a file or socket failure
constexpr int CL_EXIT_USAGE = 2;    // bad command line, unknown host, bad port
constexpr int CL_EXIT_NOANSWER = 3; // nothing valid within the time-out
constexpr int CL_EXIT_VERSION = 4;  // the server speaks another protocol version
constexpr int CL_EXIT_FULL = 5;     // no free slot
constexpr int CL_EXIT_ANOMALY = 6;  // a load run saw protocol anomalies
constexpr int CL_EXIT_NOPLAY = 7;   // load players never joined the game or never moved
constexpr int CL_EXIT_INTERRUPTED = 130;

constexpr uint16_t CL_DEFAULTPORT = 35700;
constexpr int CL_MAXPLAYERS = 24;

// ---- command line ----

// A server as given: HOST[:PORT].
struct CL_SERVER {
  std::string HOST;
  uint16_t PORT = CL_DEFAULTPORT;
};

struct CL_OPTIONS {
  std::string COMMAND; // status, watch, map, load or relay
  std::string HOST;    // the first server
  uint16_t PORT = CL_DEFAULTPORT;
  std::vector<CL_SERVER> SERVERS; // status: every server, in the order given
  bool JSON = false;
  int TIMEOUTMS = 2000;
  bool SCORES = false;
  std::string OUTFILE; // map -o; "-" is standard output
  int PLAYERS = 0;     // load -n
  int RUNMS = 0;       // load -t
  std::string NAME;    // empty: the command's own default
  uint8_t TEAM = 0;
  std::string BIND; // local IPv4 address to send from; empty: any
  uint32_t SEED = 1;
  uint16_t LISTENPORT = 0; // relay: the port clients send to
  double LOSS = 0;         // relay: percent of datagrams dropped each way
  int DELAYMS = 0, JITTERMS = 0;
  bool HELP = false;
  bool VERSION = false;
  std::string HELPTEXT; // --help: the help of the tool or of its command
};

// HOST[:PORT]. False with a one-line reason when the text is not one.
bool CL_PARSEADDRESS(const std::string& TEXT, std::string& HOST, uint16_t& PORT, std::string& ERR);
// The whole command line after the program name. False with a one-line
// reason; --help and --version succeed without a command.
bool CL_PARSEARGS(const std::vector<std::string>& ARGS, CL_OPTIONS& O, std::string& ERR);
// A list of servers, one HOST[:PORT] a line; blank lines and everything
// from a '#' on are left out. False with a one-line reason.
bool CL_READSERVERS(const std::string& TEXT, const std::string& FILE, std::vector<CL_SERVER>& L,
                    std::string& ERR);
std::string CL_USAGE();
// The name a command connects with when --name is not given.
std::string CL_DEFAULTNAME(const std::string& COMMAND);

// ---- rendering ----

// A JSON string literal of raw bytes, read as Latin-1 (as the console shows
// them), control characters escaped.
std::string CL_JSONSTRING(const std::string& S);
// A number with one decimal, as the summaries print it.
std::string CL_FIXED1(double V);
const char* CL_STATENAME(uint8_t STATE);

// What status reports: the map information joined with the state packet of
// the same tick, without the asking client itself.
struct CL_PLAYERROW {
  uint8_t SLOT = 0, TEAM = 0, STATE = 0, SCORE = 0, PING = 0;
  std::string NAME;
  bool BOT = false;
};
struct CL_STATUSINFO {
  std::string SERVERNAME, MAPNAME;
  uint8_t SCORELIMIT = 0, TEAMPLAY = 0, MAXPLAYERS = 0;
  std::vector<CL_PLAYERROW> PLAYERS;
  int HUMANS = 0, BOTS = 0;
  long RTTMS = -1; // round trip in milliseconds; -1: not measured
};
// A player who connected through the protocol shows no sign of being a bot
// but its name: the server names its bots "BOT #N", after the team tag.
bool CL_BOTNAME(const std::string& NAME);
CL_STATUSINFO CL_MAKESTATUS(const CL_MAPINFO& M, const CL_STATE& S);
// What the answer to a status query reports; it holds no slot of the asker.
CL_STATUSINFO CL_QUERYSTATUS(const CL_QINFO& Q);
std::string CL_STATUSTEXT(const CL_STATUSINFO& I);
std::string CL_STATUSJSON(const CL_STATUSINFO& I);

// status of several servers: one row each, in the order given.
struct CL_FLEETROW {
  std::string ADDRESS;
  int STATUS = CL_EXIT_OK; // the exit status of this server alone
  std::string ERROR;       // what went wrong, when STATUS is not CL_EXIT_OK
  CL_STATUSINFO INFO;
};
std::string CL_FLEETTEXT(const std::vector<CL_FLEETROW>& ROWS);
std::string CL_FLEETJSON(const std::vector<CL_FLEETROW>& ROWS);

// The names a client knows, by slot: from the map information and from the
// connect lines of the log.
struct CL_NAMES {
  std::string NAME[MAXCLIENTS + 1];
  uint8_t TEAM[MAXCLIENTS + 1] = {};
  bool KNOWN[MAXCLIENTS + 1] = {};
};
void CL_NAMESFROMMAP(CL_NAMES& N, const CL_MAPINFO& M);
// Console text of one log line, the way the server's console shows it; a
// connect line first stores its name and team. A slot whose name was never
// learned shows as #N.
std::string CL_LOGTEXT(CL_NAMES& N, const std::string& LINE);
// The score table that watch --scores prints when the score board starts.
std::string CL_SCORETABLE(const CL_NAMES& N, const CL_STATE& S, uint8_t TEAMPLAY);

// ---- map file ----

// The map file of a map text: the six header characters on the first line,
// then one line per grid row (rows are separated by CR in the text). Loading
// the file with "-map" gives the same text back. False when the text has no
// whole header.
bool CL_MAPFILE(const std::string& TEXT, std::string& FILE, std::string& ERR);

// ---- log lines and ticks ----

// The log lines one connection has taken. Line numbers are 16-bit and wrap.
struct CL_LOGTRACK {
  bool STARTED = false;
  uint16_t FIRST = 0; // number of the first line taken
  uint16_t LAST = 0;  // number of the newest line held, the acknowledgement
  uint32_t TAKEN = 0; // distinct lines taken
  uint32_t RESENT = 0;
};
// Takes one log packet: the lines newer than those held go to NEW, in
// order. False when the packet skips lines the client never had (the lines
// are taken all the same, so the count goes on from there).
bool CL_TAKELOG(CL_LOGTRACK& T, const CL_LOG& L, std::vector<std::string>& NEW);
// True when tick NEXT does not lie before PREV, counting modulo 65536.
bool CL_TICKFORWARD(uint16_t PREV, uint16_t NEXT);

// ---- the grid, as a walking player needs it ----

struct CL_GRID {
  uint8_t CELL[66][66] = {};          // [x][y]: 0 free, 1 wall, 2 obstacle; ring 0/65 walls
  std::vector<uint16_t> ITEMX, ITEMY; // item places in text order, from index 1 at [0]
};
void CL_LOADGRID(const std::string& TEXT, CL_GRID& G);
// True when a request to move from (X, Y) to (MX, MY) is taken whole: near
// enough, and free of walls on both axes.
bool CL_MOVEAPPLIES(const CL_GRID& G, uint16_t X, uint16_t Y, uint16_t MX, uint16_t MY);
// A step from (X, Y) toward (TX, TY): at most 11 units along one axis, and
// only one the server takes whole. False when both axes are blocked.
bool CL_STEPTOWARD(const CL_GRID& G, uint16_t X, uint16_t Y, int TX, int TY, uint16_t& MX,
                   uint16_t& MY);
// Cells of a shortest walk from cell (CX, CY) to (GX, GY) over free cells,
// one axis at a time, the start left out; empty when there is none.
std::vector<std::pair<uint8_t, uint8_t>> CL_PATH(const CL_GRID& G, int CX, int CY, int GX, int GY);

// ---- figures of a load run ----

// The value at percentile P (0 < P <= 100) by nearest rank; 0 when empty.
uint32_t CL_PERCENTILE(std::vector<uint32_t> V, double P);

struct CL_ANOMALY {
  std::string PLAYER, KIND, DETAIL;
};
struct CL_LOADSUMMARY {
  std::string SERVER;
  int PLAYERS = 0, CONNECTED = 0, REFUSED = 0;
  double SECONDS = 0;
  uint64_t STATES = 0, SENT = 0, RECEIVED = 0;
  std::vector<uint32_t> LATENCIES; // ticks from a move request to seeing it
  std::vector<uint32_t> SPACINGS;  // microseconds between a player's state packets
  uint64_t MOVESLOST = 0;          // predicted free but never seen applied
  uint64_t LOGTAKEN = 0, LOGEXPECTED = 0, LOGRESENT = 0;
  uint64_t CHATSENT = 0, CHATSEEN = 0;
  uint64_t RECONNECTS = 0, KILLS = 0, PICKUPS = 0;
  uint64_t ANOMALYCOUNT = 0;
  std::vector<CL_ANOMALY> ANOMALIES;          // the first ones, for the report
  uint64_t STATESMISSING = 0, STATESLATE = 0; // what the network lost and reordered
  uint64_t NEVERJOINED = 0;                   // connected, but never in the game
  uint64_t NEVERMOVED = 0; // in the game for two seconds, but no move seen applied
};
// What a client saw of the network: "N state packets missing, N late, N log
// lines received more than once".
std::string CL_NETTEXT(uint64_t MISSING, uint64_t LATE, uint64_t REPEATED);
// "N never joined the game, N never saw a move applied".
std::string CL_NOPLAYTEXT(const CL_LOADSUMMARY& S);
std::string CL_LOADTEXT(const CL_LOADSUMMARY& S);
std::string CL_LOADJSON(const CL_LOADSUMMARY& S);

// ---- the commands ----

// Each runs its command to its end and returns the exit status. Results go
// to standard output, errors as one line each to standard error.
int CL_STATUSCMD(const CL_OPTIONS& O);
int CL_WATCHCMD(const CL_OPTIONS& O);
int CL_MAPCMD(const CL_OPTIONS& O);
int CL_LOADCMD(const CL_OPTIONS& O);
int CL_RELAYCMD(const CL_OPTIONS& O);
