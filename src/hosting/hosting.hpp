// Hosting: what orchestrators and community channels hear from the server.
//
//   -agones 1      the lifecycle goes to the Agones SDK sidecar over its REST
//                  interface on 127.0.0.1 (port AGONES_SDK_HTTP_PORT, 9358 when
//                  unset): Ready once the UDP port is bound, Health every 2 s
//                  while the game loop is on time, the label "players" when
//                  the number of humans changes, Shutdown before the exit.
//   -webhook URL   a JSON body is posted to URL (http: or https:) when the
//                  server starts, a match ends, an operator kicks or bans, and
//                  the server stops. Its "content" line makes a Discord
//                  webhook URL work as it is.
//
// The game thread only ever copies a body into a bounded queue under a short
// lock; one I/O thread does every request. Nothing here waits on a socket in
// the game thread, and with both options off every call returns at once.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>
#include <vector>

// ---- the command line ----

// Not 0: report the lifecycle to the Agones sidecar ("-agones N").
extern uint8_t HOST_AGONES;
// The "-webhook" URLs, in the order given (at most HOST_MAXWEBHOOKS).
extern std::vector<std::string> HOST_WEBHOOKS;
constexpr size_t HOST_MAXWEBHOOKS = 8;
// Adds one "-webhook" URL; a warning when there are too many already. The
// URL is checked by HOST_START.
void HOST_WEBHOOKADD(const std::string& URL);

// ---- what main() calls (io.cpp) ----

// After the UDP port is bound: checks the settings, starts the I/O thread,
// asks Agones for Ready and posts the start. True, and nothing started, when
// both options are off. False after one error line (a URL that is no http:
// or https: URL, https: in a build without TLS, a bad AGONES_SDK_HTTP_PORT):
// then nothing runs and the server must not start.
bool HOST_START();
// After each game cycle: the loop is on time (the Agones health pings go on)
// and the number of humans (the Agones label). Prints what the I/O thread
// has to tell the operator (a webhook given up), as warnings.
void HOST_CYCLE();
// On quit or a stop signal, before the exit: posts the stop, asks Agones for
// Shutdown and waits at most HOST_STOPWAITMS for what is queued; what is
// still undelivered then is counted as dropped. Harmless when not started.
void HOST_STOP();
constexpr int HOST_STOPWAITMS = 2000;

// ---- events the core reports (events.cpp) ----

// Every new event-log line, right after the console printed it: a win line
// (a player's or a team's) ends the match, and the slots still hold the
// match's scores.
void HOST_ONLOG(const std::string& LINE);
// An operator kicks SLOT (an occupied slot), before it is freed.
void HOST_ONKICK(uint8_t SLOT);
// An operator's ban was taken: WHAT is the address or range, MINUTES 0 for
// good, NAME the player's name when the ban named a slot (else empty).
void HOST_ONBAN(const std::string& WHAT, uint32_t MINUTES, const std::string& NAME);

// ---- what the metrics show ----

// Webhook deliveries (one body to one URL) since start. They only grow.
struct HOST_COUNTERS {
  std::atomic<uint64_t> SENT;    // answered with 2xx
  std::atomic<uint64_t> FAILED;  // given up: a 4xx other than 429, a 3xx, a
                                 // certificate refused, or every try failed
  std::atomic<uint64_t> DROPPED; // never delivered: the queue was full, or
                                 // still queued when the stop's wait ran out
};
extern HOST_COUNTERS HOST_STATS;
// Deliveries one URL may have waiting; one more is dropped.
constexpr size_t HOST_QUEUEMAX = 32;

// Puts the room back to its start value: options off, counters 0. Only while
// the I/O thread is not running (SV_RESETSTATE).
void HOST_RESET();
