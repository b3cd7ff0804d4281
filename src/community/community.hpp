// The players' own say: chat commands, votes and the end-of-match map vote
// (with -votes 1), and the operator's mute (always).
//
// A chat line that begins with "!" and names a known command is a command,
// not chat; every answer is a server notice, a line of the event log that
// every client receives (the protocol has no private message), so answers
// are short. Everything is keyed on the sender's address, not its slot or
// port: reconnecting resets no limit, casts no second ballot and lifts no
// mute. Times are SV_NOWMS, which the main loop reads once a cycle and a
// recording keeps, so a replay decides every vote as it was decided.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <unordered_map>
#include <vector>

constexpr int64_t COM_VOTEMS = 30000;    // a vote is open this long
constexpr int64_t COM_CALLMS = 60000;    // one vote started per address in this time
constexpr uint32_t COM_KICKMINUTES = 10; // a kicked address stays out this long
constexpr int COM_KICKHUMANS = 3;        // a vote kick needs this many voters present
constexpr int COM_MAPCHOICES = 3;        // maps offered by the end-of-match vote

// ---- chat (chat.cpp) ----

// A chat line of slot CID before it becomes an event-log line: true when it
// was taken here (a command, or the line of a muted address), and so is not
// logged. Without -votes and without mutes nothing is taken.
bool COM_CHAT(uint8_t CID, const std::string& TEXT);
// The distinct addresses of the humans holding a slot, spectators included:
// the voters. One person with several connections from one address has one
// ballot, and counts once.
std::vector<std::string> COM_VOTERS();

// ---- the player's votes (votes.cpp) ----

// What a vote asks.
constexpr uint8_t COM_NOVOTE = 0;
constexpr uint8_t COM_KICKVOTE = 1;
constexpr uint8_t COM_MAPVOTE = 2;
constexpr uint8_t COM_NEXTVOTE = 3;
struct TVOTE {
  uint8_t KIND;        // COM_NOVOTE while none runs
  std::string WHAT;    // as the notices say it: "kick Bob", "map yard", "next map"
  std::string IP;      // kick: the address kicked, whoever holds it then
  std::string NAME;    // kick: the name, for the ban's comment
  uint8_t ENTRY;       // map: the map-list entry
  std::string MAPNAME; // map: its name, checked again when the vote passes
  int64_t ENDMS;       // SV_NOWMS at which it closes
  std::unordered_map<std::string, bool> BALLOTS; // address: yes (true) or no
};
extern TVOTE COM_VOTE;
// For each address, the SV_NOWMS of the last vote it started.
extern std::unordered_map<std::string, int64_t> COM_CALLED;

// "!votekick SLOT", "!votemap NAME", "!votenext" from slot CID.
void COM_VOTEKICK(uint8_t CID, const std::string& ARG);
void COM_VOTEMAP(uint8_t CID, const std::string& ARG);
void COM_VOTENEXT(uint8_t CID, const std::string& ARG);
// "!yes" and "!no".
void COM_YES(uint8_t CID, const std::string& ARG);
void COM_NO(uint8_t CID, const std::string& ARG);
// Each played tick: a vote whose time is up, or that the voters present
// have decided, ends.
void COM_TICK();

// ---- the end-of-match map vote (mapvote.cpp) ----

// The maps offered (entries and names, checked again at the end) and each
// address's choice, 1 to N.
struct TMAPVOTE {
  int N; // maps offered; 0 while no map vote is open
  uint8_t ENTRY[COM_MAPCHOICES];
  std::string NAME[COM_MAPCHOICES];
  std::unordered_map<std::string, int> BALLOTS;
};
extern TMAPVOTE COM_MAPS;
// The map-list entries loaded last, newest (the current map) first; 0 for
// none yet.
extern uint8_t COM_PLAYED[3];

// The score board begins: the offer, when the map list holds three maps or
// more.
void COM_SCOREBOARD();
// "!1", "!2", "!3" from slot CID: CHOICE is 1 to COM_MAPS.N.
void COM_MAPBALLOT(uint8_t CID, int CHOICE);
// The rotation would play entry N next: the entry the map vote chose
// instead, or N.
uint8_t COM_NEXTMAP(uint8_t N);

// ---- notices, and votes without a result (cancel.cpp) ----

// A server notice: one event-log line of kind LOGMESSID_SMSG.
void COM_NOTICE(const std::string& TEXT);
// Ends the running vote without a result, with a notice; false when none
// runs.
bool COM_CANCELVOTE();
// Closes the map vote without a result, with a notice; false when none is
// open.
bool COM_CANCELMAPVOTE();
// Map-list entry I is loaded: it joins COM_PLAYED, and a vote still running
// (about a game that is over) is cancelled, the map vote closed.
void COM_MAPLOADED(uint8_t I);

// ---- mute (mute.cpp) ----

// A muted address: until when (SV_NOWMS; INT64_MAX until unmuted) and the
// name it was muted under, for the list.
struct TMUTE {
  int64_t UNTILMS;
  std::string NAME;
};
// Sorted by address, so the list reads the same every time.
extern std::map<std::string, TMUTE> COM_MUTED;
// Mutes IP for MINUTES (0: until unmuted or the server stops); the answer.
std::string COM_MUTE(const std::string& IP, uint32_t MINUTES, const std::string& NAME);
// Lifts the mute of IP: false when it was not muted.
bool COM_UNMUTE(const std::string& IP);
// Whether IP is muted now; a mute whose time is up is dropped here.
bool COM_ISMUTED(const std::string& IP);
// One line per muted address, with the time left.
std::vector<std::string> COM_MUTELIST();

// ---- start values (state.cpp) ----

// No vote, no map vote, no history, no mutes (SV_RESETSTATE, through
// HOOK_RESET).
void COM_RESET();
