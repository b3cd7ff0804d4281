// The operator's files: the JSON event log (-log), the recorder (-record),
// the one way files come in (the file-text seam) and what a replay needs of
// them. Nothing is written while no file is open.
#pragma once

#include <cstdint>
#include <cstdio>
#include <deque>
#include <string>
#include <string_view>
#include <vector>

// ---- the files the command line names (files.cpp) ----

// Opens what the command line asks of the edge (OPT_LOG, OPT_RECORD), right
// after the whole-line options are read and before anything else of the
// start-up is: the first server lines, the first map load and every file
// read are in them. ARGS is the command line, for the recording. False after
// one line on standard error: the server must not start. A replay opens
// nothing.
bool REC_OPENFILES(const std::vector<std::string>& ARGS);
// Opens a file of the edge with the fopen MODE, not inherited by children
// and unbuffered. NEW creates a file that does not exist yet (null, errno
// EEXIST, when one does), readable by its owner only where the system allows
// (a recording holds addresses).
std::FILE* REC_OPENFILE(const std::string& PATH, const char* MODE, bool NEW);
// Writes TEXT and flushes it; false when any of it could not be written
// (errno tells why). What a short write (a full disk) left of TEXT is cut
// off the file again, so it ends where it ended before; where that cannot be
// done, *BROKEN is set. The file stays usable for the next try.
bool REC_WRITEFILE(std::FILE* F, std::string_view TEXT, bool* BROKEN = nullptr);

// ---- the JSON event-log file (jsonlog.cpp) ----

// One JSON object per line for every event-log line and every map load.
extern std::string REC_LOGPATH;
extern std::FILE* REC_LOGF;
// A write error is reported once per opened file, not once per line.
extern bool REC_LOGFAILED;
// A short write left a piece of a record that could not be cut off: the next
// record starts on a line of its own.
extern bool REC_LOGBROKEN;
// Opens PATH for appending; false with the reason in ERR.
bool REC_LOGOPEN(const std::string& PATH, std::string& ERR);
// Closes and opens the file again under its name (after SIGHUP: logrotate
// has moved it away).
void REC_LOGREOPEN();
void REC_LOGCLOSE();
// The record of one event-log line (the log's hook calls it).
void REC_JSONLOG(const std::string& LINE);
// The record of a map load of map-list entry I (the map loader's hook).
void REC_JSONMAP(uint8_t I);
// The record of a command run: by ADMIN ("console" for the console), from
// ADDRESS (empty for the console), and whether it succeeded.
void REC_JSONADMIN(const std::string& ADMIN, const std::string& ADDRESS, const std::string& COMMAND,
                   bool OK);

// ---- the recorder (record.cpp, recordnet.cpp) ----
//
// -record FILE keeps everything the server reads from outside, where it reads
// it: the command line, the files, the datagrams, the console lines, the
// clocks and the seed of the query cookies. brastok_replay runs it again.
// The format is described at the top of record.cpp.

extern const char* const REC_MAGIC;
constexpr int REC_VERSION = 1;
// The name the recording is written to: the -record FILE, or a new name
// beside it when FILE exists (a recording never overwrites a file).
extern std::string REC_RECORDPATH;
extern std::FILE* REC_RECF;
// The entries of the start-up or the cycle being gathered.
extern std::string REC_RECBUF;
// The clocks as last recorded: entries hold what changed since.
extern int64_t REC_RECNOW;
extern int64_t REC_RECUTC;
// Bytes written to the recording, and the most it may take (-recordmax):
// the recording stops, with one warning, before a block would pass it.
extern uint64_t REC_RECSIZE;
extern uint64_t REC_RECLIMIT;
// Creates a new file for the recording, writes the format line and notes the
// command line and the clocks: PATH when no file has that name, or else PATH
// with the UTC time inserted before its extension
// ("match-20261207T115203Z.rec"), which a note on standard error names. At
// most OPT_RECORDMAX MiB are recorded. False with the reason in ERR.
bool REC_RECORDOPEN(const std::string& PATH, const std::vector<std::string>& ARGS,
                    std::string& ERR);
void REC_RECORDCLOSE();
// The end of the start-up (OK: GAMESTART's result): the seed and the
// socket's start, then the start-up goes to the file.
void REC_RECORDSTART(bool OK);
// SV_NOWMS and SV_UTCMS, as main() has just read them.
void REC_RECORDCLOCKS();
// A console command line (ADM_RUNCOMMAND calls it).
void REC_RECORDLINE(const std::string& LINE);
// A command line of the admin API, with who sent it from where
// (ADM_RUNAPI calls it).
void REC_RECORDAPI(const std::string& ADMIN, const std::string& ADDRESS, const std::string& LINE);
// A result of NET_RECEIVE in NET_INPUT, with the sender and the bytes the
// server's handling of it can depend on: of a datagram from a banned sender,
// or from one without a slot that is neither a connect nor a query, only its
// first byte; of a query, the bytes the query reads.
void REC_RECEIVED(int32_t R);
// The end of a cycle: what it read goes to the file in one write.
void REC_RECORDFLUSH();
// A console line printed by a part of the server that a replay does not run
// (the HTTP side's start): the replay prints it as it was.
void REC_RECORDOUTPUT(const std::string& LINE);
// Starts an entry TAG in the block being gathered and returns the buffer to
// add its fields to; null while nothing is recorded.
std::string* REC_ENTRY(char TAG);

// The first byte of the 'N' entry: REC_STARTED, or the code of the line the
// socket's start failed with. A recording of an older server holds 0 for any
// failure.
struct TRECSTART {
  uint8_t CODE;
  const char* LINE;
};
constexpr uint8_t REC_STARTED = 1;
constexpr int REC_NSTARTS = 4;
extern const TRECSTART REC_STARTS[REC_NSTARTS];

// ---- the one way files come in (record.cpp) ----

// The text of a file the server reads (a map, the ban file). False when PATH
// is not a regular file that can be read. A replay serves the texts the
// recorded server read instead.
bool REC_READTEXT(const std::string& PATH, std::string& TEXT);
struct TRECFILE {
  std::string PATH;
  bool FOUND;
  std::string TEXT;
};
// Set by a replay: REC_READTEXT serves REC_REPLAYFILES, in order, and
// nothing writes files.
extern bool REC_REPLAYING;
extern std::deque<TRECFILE> REC_REPLAYFILES;

// ---- the format's numbers and texts (format.cpp) ----
//
// The writers append to B; the readers take their value off the front of B
// and return false when B ends first or holds what no writer writes. The
// recorder and the replay read the format with these and nothing else.
void REC_PUTVARINT(std::string& B, uint64_t V);
void REC_PUTSIGNED(std::string& B, int64_t V);
void REC_PUTTEXT(std::string& B, std::string_view S);
bool REC_GETVARINT(std::string_view& B, uint64_t& V);
bool REC_GETSIGNED(std::string_view& B, int64_t& V);
bool REC_GETTEXT(std::string_view& B, std::string& S);
// The most bytes a varint takes.
constexpr size_t REC_MAXVARINT = 10;

// ---- start values (state.cpp) ----

// Closes the files and puts the record's state back to its start value
// (SV_RESETSTATE, through HOOK_RESET).
void REC_RESET();
