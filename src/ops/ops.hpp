// The operator's edge of the server: what hosts and watchers use around the
// game core. The core calls in at a few named points only, each a plain call
// that does nothing while its feature is off.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <deque>
#include <string>
#include <string_view>
#include <vector>

#include "server/state.hpp"

// ---- the status snapshot (snapshot.cpp) ----
//
// One picture of the match, taken in one place: the console's `status`, the
// JSON status, the live page and the metrics all read it. It is a fixed-size
// record, so taking one allocates nothing and it can be copied between
// threads as it is.

// Text of at most N bytes, held in place.
template <size_t N>
struct TFIXSTR {
  uint16_t LEN;
  char S[N];
  void SET(std::string_view V) {
    LEN = uint16_t(V.size() < N ? V.size() : N);
    std::memcpy(S, V.data(), LEN);
  }
  std::string_view VIEW() const { return std::string_view(S, LEN); }
};

constexpr int OPS_SNAPLOGLINES = 20; // newest event-log lines kept
constexpr size_t OPS_SNAPTEXT = 255; // bytes kept of a name or a line

struct OPS_SNAPSLOT {
  uint8_t SLOT;
  TFIXSTR<PLAYERMAXNAME> NAME;
  TFIXSTR<15> IP; // "0.0.0.0" for a bot
  uint16_t PORT;
  bool BOT;
  uint8_t STATE; // PS_SPEC, PS_DEAD, PS_LIVE or PS_ATTA
  uint8_t TEAM;
  uint8_t SCORE;
  uint8_t PING;
  uint16_t X, Y, DIR;
  uint8_t HITS, ARMOR, GUN;
};

struct OPS_SNAPITEM {
  uint16_t X, Y;
  char KIND; // '0'..'9'
  bool PRESENT;
};

struct OPS_SNAPLOG {
  uint16_t LINE;              // its event-log line number
  TFIXSTR<OPS_SNAPTEXT> TEXT; // as the console renders it, bytes unescaped
};

// What the server has counted since start, for the metrics. The core bumps
// these with one plain statement where each thing happens; they only ever
// grow, and wrap after 2^64.
struct OPS_COUNTERS {
  uint64_t DGIN, BYTESIN;   // datagrams received (dropped ones too), their bytes
  uint64_t DGOUT, BYTESOUT; // datagrams sent, their bytes
  // Datagrams dropped before any handler acted on them, by reason.
  uint64_t DROPEMPTY, DROPOVERSIZED, DROPBUDGET, DROPNOSLOT, DROPCONNLIMIT, DROPBANNED;
  // Connect messages from senders without a slot, by outcome (a connect over
  // the limit counts in DROPCONNLIMIT).
  uint64_t CONNOK, CONNWRONGVER, CONNFULL;
  uint64_t KILLS[NUMGUNS + 1]; // kills by the killer's weapon, 1 to NUMGUNS
  uint64_t LOGLINES;           // event-log lines
  uint64_t TICKS;              // ticks played (the tick counter wraps, this does not)
};
extern OPS_COUNTERS OPS_STATS;
// Counts the datagram in NET_BUF as sent; called right before NET_SEND.
inline void OPS_COUNTSENT() {
  OPS_STATS.DGOUT++;
  OPS_STATS.BYTESOUT += uint16_t(NET_BUFP - 1);
}

struct OPS_SNAPSHOT {
  uint64_t SEQ;    // snapshots taken since start
  int64_t TAKENMS; // SV_NOWMS when it was taken
  uint32_t CYCLES; // SV_CYCLES
  TFIXSTR<OPS_SNAPTEXT> NAME;
  TFIXSTR<OPS_SNAPTEXT> MAPNAME; // as the map list names it ("DefMap" for the built-in map)
  uint8_t MAPNUM;                // its map-list entry
  uint32_t MAPLOADS;             // maps loaded since start: a change means a new map text
  TFIXSTR<MAXMAPBUFFER> MAPTEXT; // the map text: six header characters, then rows ended by '\r'
  uint8_t SCORELIMIT, MAXPLAYERS, TEAMPLAY, BOTCOUNT, BOTTEAMS;
  uint16_t PINGVAR;    // tick counter
  uint16_t SCOREBOARD; // score-board countdown, 0 while playing
  uint8_t CURCLIENTS, CURPLAYERS, BOTC;
  uint8_t HUMANS, SPECTATORS; // human slots; human slots not in the game
  uint8_t NSLOTS;
  OPS_SNAPSLOT SLOTS[MAXCLIENTS]; // occupied slots, ascending
  uint8_t NITEMS;
  OPS_SNAPITEM ITEMS[MAXMAPITEMS];
  uint8_t NLOG;
  OPS_SNAPLOG LOG[OPS_SNAPLOGLINES]; // oldest first
  uint64_t LOGSEQ;                   // OPS_LOGSEQ when LOG was copied
  OPS_COUNTERS STATS;
};

// Fills S from the globals; allocates nothing.
void OPS_TAKESNAPSHOT(OPS_SNAPSHOT& S);
// Keeps the newest event-log lines rendered for the snapshot. Off until
// something that shows them (the HTTP side) turns it on.
extern bool OPS_KEEPLOG;
// Maps loaded since start; the map loader counts them.
extern uint32_t OPS_MAPLOADS;
// The HTTP side's "-http" value: "PORT" or "ADDRESS:PORT"; empty while off.
// Fixed text: the start values are set before any string could be built.
extern TFIXSTR<OPS_SNAPTEXT> OPS_HTTP;
// The ring of the newest rendered lines (logring.cpp): OPS_LOGNEXT is where
// the next one goes, OPS_LOGCOUNT how many it holds.
extern OPS_SNAPLOG OPS_LOGRING[OPS_SNAPLOGLINES];
extern int OPS_LOGNEXT;
extern int OPS_LOGCOUNT;
// Changes of the ring: a line added, or the ring emptied. It starts at 1, so
// that a snapshot not yet taken differs from it.
extern uint64_t OPS_LOGSEQ;

// ---- hooks the core calls ----

// Every new event-log line, right after the console printed it.
void OPS_ONLOG(const std::string& LINE);

// Puts the edge's own state back to its start value (SV_RESETSTATE calls it).
void OPS_RESETSNAPSHOT();

// ---- the admin console (console.cpp, commands.cpp) ----
//
// Each line on standard input is one command. The main loop polls standard
// input once per cycle, after the cycle, and hands every whole line to
// OPS_RUNCOMMAND: that is the one door of console input, so a recorder sees
// every line there and a replay feeds them back the same way. Answers are
// console lines (SC_WRITELN); a refused command is one "error: " line on
// standard error (SC_ERROR) and changes nothing.

// Runs one command line.
void OPS_RUNCOMMAND(const std::string& LINE);
// Reads what standard input holds now, without waiting, and runs every whole
// line. Once standard input has ended, is closed or cannot be read, it is no
// longer read and this does nothing.
void OPS_CONSOLE();
// The file descriptor an idle wait should also wake for (standard input
// while it is read and can be read now), or -1.
int OPS_CONSOLEFD();
// Set by "quit": the main loop stops as on SIGTERM.
extern bool OPS_QUITASKED;
// Standard input is read only after this (main() turns it on; tests drive
// OPS_RUNCOMMAND themselves).
extern bool OPS_STDINON;

// ---- the ban list and its file (bans.cpp) ----

// True when datagrams from this dotted IPv4 address are to be dropped unread.
// Nothing to check, and nothing costs, while the list is empty.
bool OPS_BANNED(const std::string& IP);
// Reads the ban file at start (the "-banfile" option); later changes rewrite it.
void OPS_BANFILE(const std::string& PATH);
// Bans ADDRESS[/BITS] for MINUTES (0: for good), replacing a ban of the
// same address or range, and rewrites the file: the answer line, or empty
// text when WHAT is no address or range. COMMENT goes into the file.
std::string OPS_BANADD(const std::string& WHAT, uint32_t MINUTES, const std::string& COMMENT);
// Lifts the ban of exactly ADDRESS[/BITS]: empty text, or why it could not.
std::string OPS_BANREMOVE(const std::string& WHAT);
// One line per ban in force, with the time left.
std::vector<std::string> OPS_BANLIST();
// Puts the ban list back to its start value: empty, no file.
void OPS_RESETBANS();

// ---- files of the edge, opened before start-up (files.cpp) ----

// Opens what the command line asks of the edge (-log FILE, -record FILE),
// before GAMESTART reads anything. False after one line on standard error: the server must
// not start.
bool OPS_START(const std::vector<std::string>& ARGS);

// ---- the JSON event-log file (jsonlog.cpp) ----

// One JSON object per line for every event-log line and every map load.
// Nothing is written while no file is open.
extern std::string OPS_LOGPATH;
// Opens PATH for appending; false with the reason in ERR.
bool OPS_LOGOPEN(const std::string& PATH, std::string& ERR);
// Closes and opens the file again under its name (after SIGHUP: logrotate
// has moved it away).
void OPS_LOGREOPEN();
void OPS_LOGCLOSE();
// The record of one event-log line (OPS_ONLOG calls it).
void OPS_JSONLOG(const std::string& LINE);
// The record of a map load of map-list entry I (the map loader calls it).
void OPS_JSONMAP(uint8_t I);
// Opens a file of the edge with the fopen MODE, not inherited by children
// and unbuffered. PRIVATE creates or truncates it for writing, readable by
// its owner only where the system allows (a recording holds addresses).
std::FILE* OPS_OPENFILE(const std::string& PATH, const char* MODE, bool PRIVATE);
// Writes TEXT and flushes it; false when any of it could not be written
// (errno tells why). The file stays usable for the next try.
bool OPS_WRITEFILE(std::FILE* F, std::string_view TEXT);
// Text as UTF-8: well-formed UTF-8 stays, every other byte is read as
// Latin-1.
std::string OPS_UTF8TEXT(std::string_view S);

// ---- the recorder (record.cpp) ----
//
// -record FILE keeps everything the server reads from outside, where it reads
// it: the command line, the files, the datagrams, the console lines, the
// clocks and the seed of the query cookies. brastok_replay runs it again.
// The format is described at the top of record.cpp.

extern const char* const OPS_RECMAGIC;
constexpr int OPS_RECVERSION = 1;
extern std::string OPS_RECORDPATH;
// Creates PATH, writes the format line and notes the command line; false
// with the reason in ERR.
bool OPS_RECORDOPEN(const std::string& PATH, const std::vector<std::string>& ARGS,
                    std::string& ERR);
void OPS_RECORDCLOSE();
// The end of the start-up (OK: GAMESTART's result): the seed and the port
// bound, then the start-up goes to the file.
void OPS_RECORDSTART(bool OK);
// SV_NOWMS and SV_UTCMS, as main() has just read them.
void OPS_RECORDCLOCKS();
// A console command line (OPS_RUNCOMMAND calls it).
void OPS_RECORDLINE(const std::string& LINE);
// A result of NET_RECEIVE in NET_INPUT, with the sender and the bytes.
void OPS_ONRECEIVE(int32_t R);
// The end of a cycle: what it read goes to the file in one write.
void OPS_RECORDFLUSH();
// A console line printed by a part of the server that a replay does not run
// (the HTTP side's start): the replay prints it as it was.
void OPS_RECORDOUTPUT(const std::string& LINE);
// Starts an entry TAG in the block being gathered and returns the buffer to
// add its fields to; null while nothing is recorded.
std::string* OPS_RECENTRY(char TAG);

// The text of a file the server reads (a map, the ban file): the one way
// files come in. False when PATH is not a regular file that can be read. A
// replay serves the texts the recorded server read instead.
bool OPS_READTEXT(const std::string& PATH, std::string& TEXT);
struct OPS_RECFILE {
  std::string PATH;
  bool FOUND;
  std::string TEXT;
};
// Set by a replay: OPS_READTEXT serves OPS_REPLAYFILES, in order, and
// nothing writes files.
extern bool OPS_REPLAYING;
extern std::deque<OPS_RECFILE> OPS_REPLAYFILES;

// The record's numbers and texts, for the replay to read back: each takes
// its value off the front of B, false when B ends first.
void OPS_PUTVARINT(std::string& B, uint64_t V);
void OPS_PUTSIGNED(std::string& B, int64_t V);
void OPS_PUTTEXT(std::string& B, std::string_view S);
bool OPS_GETVARINT(std::string_view& B, uint64_t& V);
bool OPS_GETSIGNED(std::string_view& B, int64_t& V);
bool OPS_GETTEXT(std::string_view& B, std::string& S);

// ---- the slotless status query (query.cpp) ----
//
// A monitor or a server list asks on the game's port without taking a slot:
//   query      SVMPMSG_QUERY, cookie (u32)          5 bytes, more are ignored
//   challenge  CLMPMSG_QCHAL, cookie (u32)          5 bytes
//   answer     CLMPMSG_QINFO, the status            at most OPS_QMAXANSWER bytes
// A query whose cookie is not the sender's is answered with the challenge
// that holds it, so the status goes only to an address that has shown it
// receives what is sent to it, and the challenge is never larger than the
// query. The game's clients never send these ids.

constexpr uint8_t SVMPMSG_QUERY = 120;
constexpr uint8_t CLMPMSG_QCHAL = 121;
constexpr uint8_t CLMPMSG_QINFO = 122;
constexpr uint8_t OPS_QFORMAT = 1;        // layout of the answer
constexpr size_t OPS_QSIZE = 5;           // the query and the challenge
constexpr size_t OPS_QMAXANSWER = 1200;   // fits one datagram on any path
constexpr int64_t OPS_QPERIODMS = 300000; // the cookies' secret changes this often
constexpr int OPS_QRATE = 10;             // query datagrams per address per second

// Seeds the secret of every period. main() draws it at start; tests and a
// replay set it, so the cookies of a replay are the recorded ones.
extern uint64_t OPS_QSEED;

// Handles the datagram in NET_BUF from IP:PORT when it is a query, and then
// returns true; false (nothing read, nothing changed) for any other datagram.
bool OPS_QUERY(const std::string& IP, uint16_t PORT);
// The cookie of an IPv4 address (host order) and port in a period of
// OPS_QPERIODMS: a keyed hash, never 0.
uint32_t OPS_QCOOKIE(uint32_t ADDR, uint16_t PORT, int64_t PERIOD);
// Records a query from the IPv4 address ADDR (host order) at SV_NOWMS, or
// returns false when ADDR has had OPS_QRATE taken within the last second
// (querylimit.cpp).
bool OPS_QALLOWED(uint32_t ADDR);
// Forgets every address's recent queries (SV_RESETSTATE calls it).
void OPS_QRESET();

// ---- bot fill (botfill.cpp) ----
//
// With -botfill the bots wanted are a fill, not a fixed number: a human who
// finds every slot taken, or the game full, takes the place of the newest
// bot, and bots come back, one per tick, only where there is room in the
// game. Without it these calls change nothing.

// The slot of the newest bot, the last to claim its slot (only among the
// bots in the game when PLAYING), or 0 when there is none.
uint8_t OPS_NEWESTBOT(bool PLAYING);
// Frees the newest bot's slot when a human connects and every slot is
// taken (the connect handler, before it claims a slot).
void OPS_BOTFILLSLOT();
// Makes room in the game for the human spectator in slot PID who asks to
// join, by removing the newest bot in the game when the player limit is
// reached (the join rule, before it checks the limit).
void OPS_BOTFILLPLAY(uint8_t PID);
// Whether a bot may be added now: always without bot fill; with it, only
// while the humans in the game and the bots are fewer than the player limit
// (the bot control, before it adds a bot).
bool OPS_BOTFILLROOM();
