// The I/O thread's side of hosting: one Asio io_context on one thread runs
// every request as a coroutine (the Agones loops, one worker per webhook
// URL). Not a door: nothing outside src/hosting includes it.
#pragma once

#include <boost/asio/awaitable.hpp>
#include <boost/asio/io_context.hpp>
#include <boost/asio/steady_timer.hpp>
#include <boost/beast/http/verb.hpp>
#include <cstdint>
#include <string>
#include <vector>

#include "hosting/inside.hpp"

// Whether this build can post over HTTPS (it was built with OpenSSL).
#ifdef BRASTOK_HOST_TLS
constexpr bool HOST_CANTLS = true;
#else
constexpr bool HOST_CANTLS = false;
#endif

// ---- requests (client.cpp) ----

struct HOST_URL {
  bool TLS;
  std::string HOST; // a name or an address (IPv6 without brackets)
  uint16_t PORT;
  std::string TARGET; // path and query, "/" at least
  std::string SHOWN;  // scheme and host only: what the console may show
};
// Reads an absolute http: or https: URL; false with the reason in ERR.
bool HOST_PARSEURL(const std::string& TEXT, HOST_URL& U, std::string& ERR);

// What one try of a request came to.
struct HOST_ANSWER {
  int STATUS;      // the HTTP status, or 0: no answer (refused, timed out, broken)
  int64_t RETRYMS; // the Retry-After the answer asked for, or -1
  bool PERMANENT;  // no answer, and none will come by trying again (the peer's
                   // certificate was refused)
  std::string WHY; // for the operator: the status line or the error
};
// One request with a JSON body over a new connection, the whole of it
// (resolve, connect, handshake, write, read) within TIMEOUTMS.
boost::asio::awaitable<HOST_ANSWER> HOST_REQUEST(const HOST_URL& U, boost::beast::http::verb VERB,
                                                 std::string BODY, int TIMEOUTMS);
// The TLS settings of every https: request: the system's certificate store
// (or SSL_CERT_FILE / SSL_CERT_DIR), the peer verified, host name checked.
void HOST_TLSOPEN();
void HOST_TLSCLOSE();

// ---- the I/O thread (io.cpp) ----

// The thread's io_context: exists from HOST_START to HOST_STOP.
extern boost::asio::io_context* HOST_IO;
// Set in the I/O thread once the stop began: loops end, idle workers leave.
extern bool HOST_STOPPING;
// When the stop's wait ends (HOST_NOWMS), once HOST_STOPPING.
extern int64_t HOST_STOPDEADLINE;
// Waits MS milliseconds. An idle wait (IDLE) ends early when bodies are
// queued or the stop begins; a retry's wait (not IDLE) never does, so a
// Retry-After is kept even at the stop.
boost::asio::awaitable<void> HOST_SLEEP(int64_t MS, bool IDLE);

// ---- Agones (agones.cpp) ----

constexpr uint16_t HOST_AGONESPORT = 9358; // when AGONES_SDK_HTTP_PORT is unset
constexpr int HOST_AGONESTIMEOUTMS = 2000; // one call to the sidecar
constexpr int HOST_HEALTHMS = 2000;        // between Health pings
constexpr int HOST_READYRETRYMS = 1000;    // between tries of Ready
constexpr int HOST_LABELMS = 1000;         // between two labels at most
// The loop is late, and Health stops, when its newest cycle ended longer ago
// than this: an idle loop still cycles every second.
constexpr int64_t HOST_STALLMS = 2000;
// Reads AGONES_SDK_HTTP_PORT; false with the reason in ERR.
bool HOST_AGONESPORTOF(uint16_t& PORT, std::string& ERR);
// Ready (retried), then the players label; Health, while the loop is on time.
boost::asio::awaitable<void> HOST_AGONESREADY(uint16_t PORT);
boost::asio::awaitable<void> HOST_AGONESHEALTH(uint16_t PORT);
// Shutdown, tried until the sidecar takes it or the stop's wait is over.
boost::asio::awaitable<void> HOST_AGONESSHUTDOWN(uint16_t PORT);

// ---- webhooks (webhook.cpp) ----

constexpr int HOST_WEBHOOKTIMEOUTMS = 5000; // one try
constexpr int HOST_TRIES = 5;               // tries of one delivery at most
constexpr int64_t HOST_BACKOFFMS = 1000;    // the first wait; doubled after each try
constexpr int64_t HOST_RETRYMAXMS = 60000;  // a longer Retry-After gives the delivery up
// Delivers the bodies queued for URL K, in order, until the stop.
boost::asio::awaitable<void> HOST_WEBHOOKWORKER(size_t K, HOST_URL U);
