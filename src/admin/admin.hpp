// The admin console: the command table, the reading of standard input, and
// the ban list with its file.
//
// Each line on standard input is one command. The main loop polls standard
// input once per cycle, after the cycle, and hands every whole line to
// ADM_RUNCOMMAND: that is the one door of console input, so a recorder sees
// every line there and a replay feeds them back the same way. Answers are
// console lines (SC_WRITELN); a refused command is one "error: " line on
// standard error (SC_ERROR) and changes nothing.
#pragma once

#include <cstdint>
#include <string>
#include <unordered_map>
#include <vector>

#include "status/status.hpp"

// ---- the commands (commands.cpp) ----

// The words after a command's name.
using TWORDS = std::vector<std::string>;
// One entry of the command table. ROLE is who may run it: "moderator" for
// the commands that look after the players (a moderator runs these only),
// "admin" for the rest (an admin runs every command).
struct TCOMMAND {
  const char* NAME;
  int MINARGS, MAXARGS; // words after the name; -1: the rest of the line is one
  const char* ROLE;
  void (*RUN)(const TWORDS& A);
  const char* USAGE;
  const char* HELP;
};
extern const TCOMMAND ADM_COMMANDS[];
extern const size_t ADM_NCOMMANDS;
// Runs one command line that came from outside (the console): it is
// recorded, then run.
void ADM_RUNCOMMAND(const std::string& LINE);
// Runs one command line the server made itself (a vote that passed): not
// recorded, since a replay makes it again from what it did record.
void ADM_EXECUTE(const std::string& LINE);
// The snapshot the status command prints from.
extern TSNAPSHOT ADM_SNAP;

// ---- standard input (console.cpp) ----

// Reads what standard input holds now, without waiting, and runs every whole
// line. Once standard input has ended, is closed or cannot be read, it is no
// longer read and this does nothing.
void ADM_CONSOLE();
// Cuts the N bytes read from standard input into lines and runs each whole
// line (a line too long is refused whole); the start of a line not ended yet
// waits for the rest. Nothing after "quit" is run.
void ADM_TAKEINPUT(const char* BUF, size_t N);
// The file descriptor an idle wait should also wake for (standard input
// while it is read and can be read now), or -1.
int ADM_CONSOLEFD();
// Standard input is read only after this (the server turns it on once it has
// started; tests drive ADM_RUNCOMMAND themselves).
extern bool ADM_STDINON;
// Standard input has ended, was closed or cannot be read: it is left alone
// from then on and the server runs on without it.
extern bool ADM_STDINDONE;
// Whether standard input is a terminal: -1 until first asked.
extern int ADM_STDINTTY;
// The start of a line not ended yet, and whether the line being read is too
// long and skipped until its end.
extern std::string ADM_PENDING;
extern bool ADM_SKIPPING;
// The line being typed at a Windows console, handed out whole on Enter.
extern std::string ADM_TYPED;
// A longer line is refused whole: no command needs it.
constexpr size_t ADM_MAXLINE = 4096;

// ---- the ban list and its file (bans.cpp) ----

// One line of the ban file: an entry, or a line kept as it stands.
struct TBAN {
  bool ENTRY;      // false: a line kept as it stands
  std::string RAW; // the line as it is written to the file
  uint32_t NET;
  uint8_t BITS;
  bool TIMED;
  int64_t UNTILUTC; // as written in the file
  int64_t UNTILMS;  // the same moment on SV_NOWMS's clock: what ends the ban
};
// The lines of the ban file, in its order; how many of them are entries.
extern std::vector<TBAN> ADM_BANLINES;
extern int ADM_BANENTRIES;
// The ban file (-banfile), empty for none.
extern std::string ADM_BANPATH;
// False when the file exists but could not be read: then it is never
// overwritten, so nothing the operator wrote is lost.
extern bool ADM_BANWRITABLE;
// The entries in force by network: for each (prefix length << 32 | network)
// the SV_NOWMS at which its ban ends (INT64_MAX: never), and the prefix
// lengths in use as bits. Built anew after every change of the list.
extern std::unordered_map<uint64_t, int64_t> ADM_BANINDEX;
extern uint64_t ADM_BANBITS;

// True when datagrams from this dotted IPv4 address are to be dropped unread.
// Nothing to check, and nothing costs, while the list is empty.
bool ADM_BANNED(const std::string& IP);
// Reads the ban file at start (the "-banfile" option); later changes rewrite it.
void ADM_BANFILE(const std::string& PATH);
// Bans ADDRESS[/BITS] for MINUTES (0: for good), replacing a ban of the
// same address or range: the answer line, or empty text when WHAT is no
// address or range. COMMENT goes into the file.
std::string ADM_BANADD(const std::string& WHAT, uint32_t MINUTES, const std::string& COMMENT);
// ADM_BANADD, then ADM_BANSAVE, with the answer on the console (or an error
// line when the file could not keep it), then every slot the ban covers is
// freed. False, with nothing done, when WHAT is no address or range.
bool ADM_BANKICK(const std::string& WHAT, uint32_t MINUTES, const std::string& COMMENT);
// Lifts the ban of exactly ADDRESS[/BITS]: empty text, or why it could not.
std::string ADM_BANREMOVE(const std::string& WHAT);
// Rewrites the ban file after a change, when there is one: empty text, or
// why it was not written (the list in memory holds all the same).
std::string ADM_BANSAVE();
// One line per ban in force, with the time left.
std::vector<std::string> ADM_BANLIST();

// ---- start values (state.cpp) ----

// Puts the console's and the ban list's state back to its start value:
// standard input not read, no bans, no file (SV_RESETSTATE, through
// HOOK_RESET).
void ADM_RESET();
