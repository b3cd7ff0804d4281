// The slotless status query: a monitor or a server list asks on the game's
// port without taking a slot.
//   query      SVMPMSG_QUERY, cookie (u32)          5 bytes, more are ignored
//   challenge  CLMPMSG_QCHAL, cookie (u32)          5 bytes
//   answer     CLMPMSG_QINFO, the status            at most QRY_MAXANSWER bytes
// A query whose cookie is not the sender's is answered with the challenge
// that holds it, so the status goes only to an address that has shown it
// receives what is sent to it, and the challenge is never larger than the
// query. The game's clients never send these ids.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

constexpr uint8_t SVMPMSG_QUERY = 120;
constexpr uint8_t CLMPMSG_QCHAL = 121;
constexpr uint8_t CLMPMSG_QINFO = 122;
constexpr uint8_t QRY_FORMAT = 1;        // layout of the answer
constexpr size_t QRY_SIZE = 5;           // the query and the challenge
constexpr size_t QRY_MAXANSWER = 1200;   // fits one datagram on any path
constexpr int64_t QRY_PERIODMS = 300000; // the cookies' secret changes this often
constexpr int QRY_RATE = 10;             // query datagrams per address per second

// ---- the query and its answer (query.cpp) ----

// Seeds the secret of every period. The server draws it at start; tests and
// a replay set it, so the cookies of a replay are the recorded ones.
extern uint64_t QRY_SEED;

// Handles the datagram in NET_BUF from IP:PORT when it is a query, and then
// returns true; false (nothing read, nothing changed) for any other datagram.
bool QRY_QUERY(const std::string& IP, uint16_t PORT);
// The cookie of an IPv4 address (host order) and port in a period of
// QRY_PERIODMS: a keyed hash, never 0.
uint32_t QRY_COOKIE(uint32_t ADDR, uint16_t PORT, int64_t PERIOD);

// ---- the rate limit (ratelimit.cpp) ----

// The last QRY_RATE queries taken from one address: AT is a ring whose
// oldest time is at HEAD. A small open-addressed table, no allocation.
constexpr int QRY_TABLE = 256;
struct TQLOG {
  uint32_t ADDR;
  uint8_t N; // times recorded, at most QRY_RATE
  uint8_t HEAD;
  int64_t LAST;
  int64_t AT[QRY_RATE];
};
extern TQLOG QRY_LOG[QRY_TABLE];
// Records a query from the IPv4 address ADDR (host order) at SV_NOWMS, or
// returns false when ADDR has had QRY_RATE taken within the last second.
bool QRY_ALLOWED(uint32_t ADDR);

// ---- start values (state.cpp) ----

// Forgets every address's recent queries (SV_RESETSTATE, through HOOK_RESET).
// The seed stays: it is drawn once, at start.
void QRY_RESET();
