// The status: one picture of the match for everything that shows the server
// to operators and watchers. The console's `status`, the JSON status, the
// live page and the metrics all read it; nothing else copies the globals.
// The counters it carries are the core's (SV_STATS); the newest event-log
// lines it shows are kept here, fed by the log's hook.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>

#include "server/state.hpp"

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

constexpr int STATUS_LOGLINES = 20; // newest event-log lines kept
constexpr size_t STATUS_TEXT = 255; // bytes kept of a name or a line

struct TSNAPSLOT {
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
  int64_t CLAIMEDMS; // SV_NOWMS when the slot was claimed
};

struct TSNAPITEM {
  uint16_t X, Y;
  char KIND; // '0'..'9'
  bool PRESENT;
};

struct TSNAPLOG {
  uint16_t LINE;             // its event-log line number
  TFIXSTR<STATUS_TEXT> TEXT; // as the console renders it, bytes unescaped
};

// A fixed-size record: taking one allocates nothing, and it can be copied
// between threads as it is.
struct TSNAPSHOT {
  uint64_t SEQ;    // snapshots taken since start
  int64_t TAKENMS; // SV_NOWMS when it was taken
  uint32_t CYCLES; // SV_CYCLES
  TFIXSTR<STATUS_TEXT> NAME;
  TFIXSTR<STATUS_TEXT> MAPNAME;    // as the map list names it ("DefMap" for the built-in map)
  uint8_t MAPNUM;                  // its map-list entry
  uint32_t MAPLOADS;               // maps loaded since start: a change means a new map text
  TFIXSTR<MAXMAPBUFFER> MAPTEXT;   // the map text: six header characters, then rows ended by '\r'
  TFIXSTR<64> MAPLIST[MAXMAPLIST]; // the map list's names by entry ("-": free), as of MAPLOADS
  uint8_t SCORELIMIT, MAXPLAYERS, TEAMPLAY, BOTCOUNT, BOTTEAMS;
  uint16_t PINGVAR;    // tick counter
  uint16_t SCOREBOARD; // score-board countdown, 0 while playing
  uint8_t CURCLIENTS, CURPLAYERS, BOTC;
  uint8_t HUMANS, SPECTATORS; // human slots; human slots not in the game
  uint8_t NSLOTS;
  TSNAPSLOT SLOTS[MAXCLIENTS]; // occupied slots, ascending
  uint8_t NITEMS;
  TSNAPITEM ITEMS[MAXMAPITEMS];
  uint8_t NLOG;
  TSNAPLOG LOG[STATUS_LOGLINES]; // oldest first
  uint64_t LOGSEQ;               // STATUS_LOGSEQ when LOG was copied
  TCOUNTERS STATS;
};

// ---- the snapshot (snapshot.cpp) ----

// Fills S from the globals; allocates nothing.
void STATUS_TAKE(TSNAPSHOT& S);

// ---- the newest event-log lines (logring.cpp) ----

// Keeps the newest lines rendered for the snapshot: while this is set, or
// while the HTTP side (-http) is asked for, which shows them.
extern bool STATUS_KEEPLOG;
// The ring of the newest rendered lines: STATUS_LOGNEXT is where the next
// one goes, STATUS_LOGCOUNT how many it holds.
extern TSNAPLOG STATUS_LOGRING[STATUS_LOGLINES];
extern int STATUS_LOGNEXT;
extern int STATUS_LOGCOUNT;
// Changes of the ring: a line added, or the ring emptied. It starts at 1, so
// that a snapshot not yet taken differs from it.
extern uint64_t STATUS_LOGSEQ;
// A new event-log line (the log's hook).
void STATUS_ONLOG(const std::string& LINE);

// ---- when each slot was claimed (state.cpp) ----

// SV_NOWMS when each slot (1 to MAXCLIENTS) was last claimed: how long its
// holder has been on the server. The slot hook sets it.
extern int64_t STATUS_CLAIMEDMS[MAXCLIENTS + 1];
void STATUS_ONCLAIM(uint8_t SLOT);

// ---- text for watchers (text.cpp) ----

// Text as UTF-8: well-formed UTF-8 stays, every other byte is read as
// Latin-1.
std::string STATUS_UTF8TEXT(std::string_view S);

// ---- start values (state.cpp) ----

// Puts the status's own state back to its start value (SV_RESETSTATE, through
// HOOK_RESET).
void STATUS_RESET();
