// The HTTP side: a live page of the match, its status as JSON and as a
// stream of events, Prometheus metrics and a health check. Off unless the
// server was started with "-http".
//
// The game cycle stays single-threaded: after each cycle it publishes one
// status snapshot into a fixed buffer under a short lock, and the HTTP side
// (one I/O thread serving every connection asynchronously, the only other
// thread of the server) reads copies of that buffer, never the globals.
// Nothing here waits on a client of the page, and the game cycle wakes
// nobody: the event streams look for a new snapshot by themselves.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "hooks.hpp"
#include "record/record.hpp"
#include "status/status.hpp"

// ---- what the main loop calls (publish.cpp, http.cpp) ----

// Starts serving on OPT_HTTP ("PORT" or "ADDRESS:PORT") and prints the line
// "HTTP initialized! http://ADDRESS:PORT/". True when OPT_HTTP is empty (the
// side stays off) or the port was bound; false after a warning otherwise.
bool WEB_START();
// Stops the HTTP side at once, whatever its clients do; harmless when it is
// off.
void WEB_STOP();
// Starts and ends publishing (WEB_START and WEB_STOP call them; benchmarks
// publish without a port).
void WEB_OPEN();
void WEB_CLOSE();
// Right before a game cycle: the cycle's start, for its duration.
void WEB_CYCLEBEGIN();
// Right after a game cycle: publishes the snapshot, counts the cycle's
// duration, and notes that the next cycle is due within WAITMS.
void WEB_PUBLISH(int WAITMS);
// Right after the game thread ran the admin API's queued commands: hands
// their answers to the I/O thread (api.cpp).
void WEB_APIANSWERS();
// Right after a game cycle: the I/O thread hears of what the cycle has for
// the browsers' sessions (verdicts, datagrams) (play.cpp).
void WEB_PLAYNEWS();

// ---- the published picture (publish.cpp) ----

// Upper bounds of the cycle-duration histogram, in seconds.
constexpr int WEB_NBUCKETS = 10;
constexpr double WEB_BUCKETS[WEB_NBUCKETS] = {0.0001, 0.00025, 0.0005, 0.001, 0.0025,
                                              0.005,  0.01,    0.025,  0.05,  0.1};

// How the main loop fares: cycle durations, and its start.
struct WEB_LOOPSTATS {
  uint64_t CYCLES;                    // cycles published
  uint64_t BUCKETS[WEB_NBUCKETS + 1]; // cycles per bucket, the last one beyond them all
  double SECONDS;                     // their durations added
  int64_t STARTUNIX;                  // wall-clock start, seconds since 1970
};

// Copies the newest published snapshot and loop figures.
void WEB_READ(TSNAPSHOT& S, WEB_LOOPSTATS& L);
// The SEQ of the newest published snapshot, without copying it.
uint64_t WEB_NEWESTSEQ();
// Milliseconds of a monotonic clock.
int64_t WEB_NOWMS();
// How late the game loop is, in milliseconds: how long ago the next cycle
// was due to start (0 or less while it is on time).
int64_t WEB_LATEMS();

// ---- the documents (render.cpp) ----

// Set by WEB_START when the HTTP side listens on an address other than
// loopback: the documents then show no more of a player than a game client
// is sent of the others (see WEB_STATUSJSON).
extern bool WEB_PUBLIC;

// The status JSON; WITHMAP adds the map text. With PUBLIC a slot shows only
// what the state packet tells every client: no health or armour, the score
// from dead on, the position and facing of the living, the weapon of one
// firing. FORADMIN (the admin API's) adds each human's address and the map
// list.
std::string WEB_STATUSJSON(const TSNAPSHOT& S, bool WITHMAP, bool PUBLIC, bool FORADMIN = false);
// What changed from snapshot A to the later snapshot B, as the JSON of a
// "delta" event (see the README's HTTP section); empty text when nothing
// shown changed. False when B cannot be told as a change of A (a new map, a
// log emptied): then the whole status goes out instead.
bool WEB_DELTAJSON(const TSNAPSHOT& A, const TSNAPSHOT& B, bool PUBLIC, std::string& OUT);
// What the HTTP side counts of its connections (its I/O thread keeps it).
struct WEB_HTTPSTATS {
  uint64_t OPEN;    // connections open now
  uint64_t STREAMS; // of them, event streams
  uint64_t PLAYS;   // of them, game sessions (/play/ws), waiting or open
  // Connections closed by the server, by reason: closed at once because
  // their address held its share of the places, or every place was held by
  // one in use; closed to make room for a new one; a request not whole in
  // time, or an answer not taken in time; a request too large; an event
  // stream or a game session whose reader fell behind.
  uint64_t ADDRCAP, CONNCAP, MADEROOM, TIMEOUT, TOOLARGE, SLOWREADER;
};
extern WEB_HTTPSTATS WEB_HTTP;

// The metrics in the Prometheus text format.
std::string WEB_METRICS(const TSNAPSHOT& S, const WEB_LOOPSTATS& L, const WEB_HTTPSTATS& H);

// ---- the page (page.cpp) ----

extern const char* const WEB_PAGE;
// The browser game (made from src/web/play/ by embed.cmake).
extern const char* const WEB_PLAYPAGE;
