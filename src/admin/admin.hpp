// The admin console: the command table, the reading of standard input, the
// ban list with its file, and the admins of the admin API with the commands
// it queues.
//
// Each line on standard input is one command. The main loop polls standard
// input once per cycle, after the cycle, and hands every whole line to
// ADM_RUNCOMMAND: that is the one door of console input, so a recorder sees
// every line there and a replay feeds them back the same way. Answers are
// console lines (SC_WRITELN); a refused command is one "error: " line on
// standard error (SC_ERROR) and changes nothing.
#pragma once

#include <array>
#include <cstdint>
#include <deque>
#include <mutex>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "status/status.hpp"

// ---- the commands (commands.cpp) ----

// The words after a command's name.
using TWORDS = std::vector<std::string>;
// One entry of the command table. ROLE is the least role that may run it
// through the admin API: "moderator" for the commands that look after the
// players, "admin" for the rest (an admin runs every command, the console
// too).
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
// Runs one command line typed on the console: it is recorded, run, and
// attributed to the console.
void ADM_RUNCOMMAND(const std::string& LINE);
// Runs one command line the server made itself (a vote that passed): not
// recorded, since a replay makes it again from what it did record.
void ADM_EXECUTE(const std::string& LINE);
// Runs one command line for ADMIN of the admin API, from ADDRESS: its
// answer lines go to ANSWER, in order, each as the console would show it
// ("error: " lines included); true when it printed no "error: " line.
bool ADM_RUNAPI(const std::string& ADMIN, const std::string& ADDRESS, const std::string& LINE,
                std::vector<std::string>& ANSWER);
// The command a line names by its first word, or null. Reads only the
// table: any thread may ask.
const TCOMMAND* ADM_FINDCOMMAND(std::string_view LINE);
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

// ---- the admins of the admin API (admins.cpp) ----

// Roles, each allowed what the ones below it are: a command's ROLE names the
// least one. 0: no role.
constexpr uint8_t ADM_MODERATOR = 1;
constexpr uint8_t ADM_ADMIN = 2;
uint8_t ADM_ROLEOF(std::string_view NAME);
const char* ADM_ROLENAME(uint8_t ROLE);
// Whether ROLE may run command C.
bool ADM_MAYRUN(uint8_t ROLE, const TCOMMAND& C);

// One admin: a name, a role, and the SHA-256 of its token (the server never
// holds a token itself).
struct TADMIN {
  std::string NAME;
  uint8_t ROLE;
  std::array<uint8_t, 32> DIGEST;
};
// The admins file (-admins), empty while the admin API is off.
extern std::string ADM_ADMINSPATH;
// The admins in force. The game thread replaces the list and the HTTP
// thread looks tokens up in it: both under ADM_ADMINSMX.
extern std::vector<TADMIN> ADM_ADMINS;
extern std::mutex ADM_ADMINSMX;
// The admins of a file's TEXT, one "NAME ROLE sha256:HEX" a line ('#'
// starts a comment); each line that is none is warned about with its number
// and left out.
std::vector<TADMIN> ADM_ADMINSPARSE(const std::string& TEXT, const std::string& PATH);
// Reads the admins file at start (the "-admins" option), as every file of
// the start-up is read, and turns the admin API on.
void ADM_ADMINSFILE(const std::string& PATH);
// Reads it again (SIGHUP). A file that cannot be read leaves the list as it
// was, with a warning.
void ADM_ADMINSRELOAD();
// The admin whose token this is: true with WHO filled; any thread.
bool ADM_AUTH(std::string_view TOKEN, TADMIN& WHO);
// What "-newadmin NAME ROLE" prints: a new token, and the line of the
// admins file that lets it in. The exit status.
int ADM_NEWADMIN(const std::string& NAME, const std::string& ROLE);
// An admin's name: 1 to 32 letters, digits, '.', '_' or '-'; never
// "console", which stands for the console in the records.
bool ADM_GOODNAME(std::string_view NAME);

// ---- the system's cryptography (crypto.cpp: OpenSSL, or Windows' CNG) ----

bool ADM_SHA256(std::string_view TEXT, std::array<uint8_t, 32>& DIGEST);
// N bytes from the system's cryptographic random generator.
bool ADM_RANDOMBYTES(uint8_t* B, size_t N);
// Whether two digests are equal, in a time that does not depend on where
// they differ.
bool ADM_SAMEDIGEST(const std::array<uint8_t, 32>& A, const std::array<uint8_t, 32>& B);

// ---- commands of the admin API, queued for the game thread (api.cpp) ----

// A command the HTTP thread queued: who asked, from where, and the line.
struct TADMJOB {
  uint64_t ID;
  std::string ADMIN, ADDRESS, LINE;
};
// Its answer, for the HTTP thread: RAN is false when the server stopped
// before the command could run.
struct TADMDONE {
  uint64_t ID;
  bool RAN, OK;
  std::vector<std::string> LINES;
};
// Commands waiting at most; the API answers 503 beyond.
constexpr size_t ADM_MAXJOBS = 64;
extern std::deque<TADMJOB> ADM_JOBS;
extern std::vector<TADMDONE> ADM_DONE;
extern std::mutex ADM_JOBSMX; // both queues
// Queues a command and wakes the game thread (any thread); false when
// ADM_MAXJOBS wait already.
bool ADM_QUEUE(TADMJOB JOB);
// The game thread, after the console's lines: runs every queued command
// and leaves its answer in ADM_DONE.
void ADM_RUNQUEUED();
// Takes the answers made since the last call (any thread).
void ADM_TAKEDONE(std::vector<TADMDONE>& OUT);

// ---- who did what (api.cpp) ----

// One command run, console's or API's: the admin ("console" for the
// console), the client's address (empty for the console), the line, and
// whether it succeeded.
struct TADMRECORD {
  std::string ADMIN, ADDRESS, COMMAND;
  bool OK;
};
// Records a command run: the JSON log's "admin" record and, while
// ADM_RECORDSON (the HTTP side runs), one more record for its event streams.
void ADM_ATTRIBUTE(const std::string& ADMIN, const std::string& ADDRESS, const std::string& LINE,
                   bool OK);
extern bool ADM_RECORDSON;
// The records for the event streams, oldest first, at most ADM_MAXRECORDS
// (the oldest go first), under ADM_JOBSMX: the HTTP thread takes them
// (ADM_TAKERECORDS).
constexpr size_t ADM_MAXRECORDS = 64;
extern std::deque<TADMRECORD> ADM_RECORDS;
void ADM_TAKERECORDS(std::vector<TADMRECORD>& OUT);

// ---- start values (state.cpp) ----

// Puts the console's, the ban list's and the admin API's state back to its
// start value: standard input not read, no bans, no file, no admins, no
// queued command (SV_RESETSTATE, through HOOK_RESET).
void ADM_RESET();
