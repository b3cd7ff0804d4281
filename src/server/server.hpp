// Server core: start-up, command line, the game cycle and the console.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "server/state.hpp"

// ---- start-up (startup.cpp) ----

// The whole start-up: console, event log, map list, command line, socket,
// the two server lines, the first map. False when the socket could not be
// opened; the failure has then been printed.
bool GAMESTART(const std::vector<std::string>& ARGS);
// ---- the command line (options.cpp) ----

// One option of the command line: its name, the value it takes, its --help
// text, its default, and its use: a number held within LO to HI, a text, or
// a step done where the option stands.
struct TOPTION {
  const char* NAME; // "-port"
  const char* ARG;  // how --help names its value: "N"
  // --help text; a '\n' starts a continuation line, %D stands for DEFAULT
  // and %B for "LO to HI".
  const char* HELP;
  const char* DEFAULT = ""; // as --help and the manual page say it
  uint32_t LO = 0, HI = 0;  // bounds of a number
  // Holds for the whole command line, wherever it stands: read before the
  // other options, the last one winning.
  bool WHOLE = false;
  // The setting it fills (one of them), or the step done where it stands.
  uint8_t* BYTE = nullptr;
  uint16_t* WORD = nullptr;
  uint32_t* LONG = nullptr;
  std::string* TEXT = nullptr;
  void (*RUN)(const std::string& VALUE) = nullptr;
};
extern const TOPTION SV_OPTIONS[];
extern const size_t SV_NOPTIONS;
// The option named KEY, or null.
const TOPTION* SV_FINDOPTION(const std::string& KEY);
// An option's --help text with its default and bounds filled in.
std::string SV_OPTIONHELP(const TOPTION& O);
// Reads the key/value pairs of the command line into the settings. False
// when a file of the edge the command line names could not be opened (the
// reason is on standard error): the server must not start.
bool SV_STARTPARAMS(const std::vector<std::string>& ARGS);
// Forces the settings into their bounds.
void SV_CHECKVARS();

// Text to number. Both read an unsigned integer in decimal, or in hexadecimal
// ("$", "x", "X", "0x", "0X"), binary ("%") or octal ("&"); unreadable text
// gives 0, larger values keep their low bits.
uint16_t S2W(const std::string& S);
uint8_t S2B(const std::string& S);
// The same reading, telling whether the text was a number at all.
bool SV_READNUMBER(const std::string& S, uint32_t& VALUE);
std::string B2S(uint8_t I);
std::string B2SYN(uint8_t I);

// Text for `--help` (options.cpp) and `--version`.
std::string SV_HELPTEXT();
std::string SV_VERSIONTEXT();

// ---- the game cycle (cycle.cpp) ----

void GAMECYCLE();
void SV_OTHER();
// Human clients holding a slot: the game runs only while there is one.
int SV_HUMANS();

// ---- the console (console.cpp): the only place that writes stdout ----

// Clears the console window, when standard output is a terminal.
void SC_CLEAR();
// Prints one console line at once. Bytes that a terminal would act on are
// shown escaped (see SC_PRINTABLE).
void SC_WRITELN(const std::string& S);
// One warning line on standard error ("error: " in a strict start), counted
// in SC_WARNINGS.
void SC_WARN(const std::string& S);
// One error line on standard error: why a start failed.
void SC_ERROR(const std::string& S);
// One "note: " line on standard error: what the operator should know that is
// no warning (a strict start does not fail on it).
void SC_NOTE(const std::string& S);
extern uint32_t SC_WARNINGS;
// Set while a strict start reads its command line: its warnings are errors.
extern bool SC_WARNFATAL;
// Waits for the operator to press Enter, when the console is a terminal.
void SC_WAITENTER();
// Console text of raw bytes: printable ASCII as it is, bytes 160 to 255 as
// their Latin-1 characters in UTF-8, every other byte as \xNN.
std::string SC_PRINTABLE(const std::string& S);
// MS (milliseconds since 1970, UTC) as 2026-12-07T13:00:00Z, or with
// MILLIS as 2026-12-07T13:00:00.128Z.
std::string SC_UTCTEXT(int64_t MS, bool MILLIS);
// The wall clock now, in milliseconds since 1970 (UTC).
int64_t SC_UTCNOWMS();

// Tests read the console through these: when set, lines are appended there
// instead of being written (warnings and errors without their prefix).
extern std::vector<std::string>* SC_CAPTURE;
extern std::vector<std::string>* SC_WARNCAPTURE;
// The answer of a command run for somebody other than the console (the
// admin API): while set, its lines go there instead, in order, warnings and
// errors with their prefix ("error: ") unless SC_WARNCAPTURE takes them;
// event-log lines still reach the console.
extern std::vector<std::string>* SC_ANSWER;
// "error: " lines printed (SC_ERROR): a command failed when it printed one.
extern uint32_t SC_ERRORS;

// Sleeps the given milliseconds; returns early only when a stop was asked.
void SC_SLEEP(int MS);
// Milliseconds of a monotonic clock.
int64_t SC_NOWMS();
// Milliseconds since the Unix epoch, UTC.
int64_t SC_UTCMS();
// SIGINT and SIGTERM ask the main loop to stop after the current cycle;
// SIGHUP only raises a flag.
void SC_CATCHSTOP();
bool SC_STOPASKED();
// True once after each SIGHUP: the flag is cleared by reading it.
bool SC_HUPASKED();
// Blocks SIGINT, SIGTERM and SIGHUP: every thread but the game's calls it first.
void SC_BLOCKSTOPSIGNALS();
