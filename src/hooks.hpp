// The seams between the game core and its edge.
//
// The core (server/, net/, clients/, maps/, game/, bots/) includes this
// header and no other of the edge. Every point where it calls out to what
// operators, watchers and hosts use around the game is one plain call
// declared here, grouped by the part of the core that makes it; each does
// nothing while its feature is off. What each one does is in hooks.cpp, in
// hooks_net.cpp for the network's (they need a transport), in hooks_game.cpp
// for those that reach the players' votes (which act through the console's
// commands, and so reach the whole game) and in hooks_main.cpp for the main
// loop's (only the server program runs them). A new seam is one more
// declaration in its group and one definition there.
//
// Beside the seams, the command line's settings that only the edge reads:
// plain values the options table (server/options.cpp) fills, defined with
// the core's globals in server/state.cpp, and read by each room as it starts.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// ---- settings of the edge, from the command line (server/options.cpp) ----

extern std::string OPT_HTTP;     // -http: "PORT" or "ADDRESS:PORT"; empty while off
extern std::string OPT_LOG;      // -log FILE: the JSON event log; empty: none
extern std::string OPT_RECORD;   // -record FILE: the recording; empty: none
extern uint32_t OPT_RECORDMAX;   // -recordmax N: the most MiB the recording takes
extern uint8_t OPT_AGONES;       // -agones N: 1 reports the lifecycle to the Agones sidecar
extern uint8_t OPT_VOTES;        // -votes N: not 0, the players' chat commands and votes
extern std::string OPT_HTTPCERT; // -httpcert FILE: the HTTP side's TLS certificate chain (PEM)
extern std::string OPT_HTTPKEY;  // -httpkey FILE: its private key (PEM)

// ---- the main loop (server/brastok_server.cpp; hooks_main.cpp) ----

// "brastok_server -newadmin NAME ROLE" (ARGS, the whole command line):
// prints a new admin token and the line of the admins file that lets it in;
// the exit status.
int HOOK_NEWADMIN(const std::vector<std::string>& ARGS);

// First of all, before the clocks are read and the start-up runs: what the
// edge takes from the system once (the query cookies' seed).
void HOOK_START();
// main() has just read SV_NOWMS and SV_UTCMS (before the start-up and before
// each cycle).
void HOOK_CLOCKS();
// The start-up is over (OK: GAMESTART's result): the recording of the
// start-up, then the HTTP side, hosting (Agones, webhooks) and the console
// come up. False when the server must not run (the start-up failed, or the
// HTTP side or hosting could not).
bool HOOK_STARTED(bool OK);
// Right before each game cycle.
void HOOK_CYCLEBEGIN();
// Right after each game cycle: the console's commands, hosting's marks of
// the cycle, the end of the cycle's recording, a log file to reopen after
// SIGHUP, the publishing of the status.
void HOOK_CYCLEEND();
// What an idle wait should also wake for besides datagrams (the console's
// file descriptor), or -1.
int HOOK_WAITFD();
// The loop has ended: the edge's threads stop (hosting posts the stop and
// asks Agones for Shutdown first, waiting at most 2 seconds).
void HOOK_STOP();

// ---- the game cycle (server/cycle.cpp) ----

// Each tick played, after the score board's countdown: the players' votes
// end when their time is up.
void HOOK_TICK();

// ---- the start-up and the state (server/startup.cpp, options.cpp, state.cpp) ----

// The options that hold for the whole command line are read (OPT_LOG,
// OPT_RECORD): the edge opens its files before the rest of the start-up reads
// anything. ARGS is the command line. False stops the start (the reason is
// on standard error).
bool HOOK_OPENFILES(const std::vector<std::string>& ARGS);
// "-banfile PATH", where it stands on the command line: the ban file is read.
void HOOK_BANFILE(const std::string& PATH);
// "-webhook URL", where it stands: one more URL the hosting room posts its
// events to (a warning past the most it takes).
void HOOK_WEBHOOK(const std::string& URL);
// "-admins PATH", where it stands on the command line: the admins file is
// read.
void HOOK_ADMINSFILE(const std::string& PATH);
// SV_RESETSTATE: every room's state back to its start value.
void HOOK_RESET();

// ---- datagrams (net/input.cpp) ----

// A result of NET_RECEIVE (a length, NET_RECV_NONE or NET_RECV_BAD), right
// after it: the datagram is in NET_BUF, its sender in NET_LASTINIP and
// NET_LASTINPORT.
void HOOK_RECEIVED(int32_t R);
// Before anything reads a datagram from IP: true to drop it unread.
bool HOOK_BANNED(const std::string& IP);
// A datagram whose id the game does not use, from IP:PORT: true when the
// edge took it (it is not the game's to count as dropped).
bool HOOK_FOREIGN(const std::string& IP, uint16_t PORT);

// ---- slots (clients/slots.cpp) ----

// SLOT has just been claimed, by a client or a bot (PLAYER_CLAIM).
void HOOK_CLAIMED(uint8_t SLOT);
// A chat line of slot CID, cut to its length and past the cool-down, before
// it becomes an event-log line: true when the edge took it (a player's
// command, or a muted address's line), and it is not logged.
bool HOOK_CHAT(uint8_t CID, const std::string& TEXT);

// ---- the game (game/) ----

// The score board begins: a match is over (SV_SCORELIMITHIT).
void HOOK_SCOREBOARD();

// ---- the event log (clients/log.cpp) ----

// Every new event-log line, right after the console printed it.
void HOOK_LOGLINE(const std::string& LINE);

// ---- maps (maps/) ----

// The text of a file the server reads (a map, the ban file): the one way
// files come in. False when PATH is not a regular file that can be read.
bool HOOK_READTEXT(const std::string& PATH, std::string& TEXT);
// Map-list entry I is loaded as the current map (as the load begins).
void HOOK_MAPLOADED(uint8_t I);
// SV_MAPNEXT's rotation would play entry N next: the entry to play (N, or
// the map the players voted for).
uint8_t HOOK_NEXTMAP(uint8_t N);
