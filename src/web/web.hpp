// The HTTP side: a live page of the match, its status as JSON and as a
// stream of events, Prometheus metrics and a health check. Off unless the
// server was started with "-http".
//
// The game cycle stays single-threaded: after each cycle it publishes one
// status snapshot into a fixed buffer under a short lock, and the HTTP
// threads (the only threads of the server) read copies of that buffer, never
// the globals. Nothing here waits on a client of the page.
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
// Stops the HTTP threads; harmless when the side is off.
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
// Waits at most MS for a snapshot newer than SEQ; false on time-out or stop.
bool WEB_WAITNEWER(uint64_t SEQ, int MS);
// True once WEB_STOP began: streams end.
bool WEB_STOPPING();
// How late the game loop is, in milliseconds: how long ago the next cycle
// was due to start (0 or less while it is on time).
int64_t WEB_LATEMS();

// ---- the documents (render.cpp) ----

// The status JSON; WITHMAP adds the map text.
std::string WEB_STATUSJSON(const TSNAPSHOT& S, bool WITHMAP);
// The metrics in the Prometheus text format.
std::string WEB_METRICS(const TSNAPSHOT& S, const WEB_LOOPSTATS& L);

// ---- the page (page.cpp) ----

extern const char* const WEB_PAGE;
