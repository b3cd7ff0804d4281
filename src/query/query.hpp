// The slotless queries: a monitor or a server list asks on the game's port
// without taking a slot. Two protocols, one cookie and one rate limit:
//
// The status query, the game's own:
//   query      SVMPMSG_QUERY, cookie (u32)          5 bytes, more are ignored
//   challenge  CLMPMSG_QCHAL, cookie (u32)          5 bytes
//   answer     CLMPMSG_QINFO, the status            at most QRY_MAXANSWER bytes
//
// The standard query (A2S, as server lists, gamedig and LinuxGSM speak it):
// datagrams that begin with four 0xFF bytes, little-endian integers,
// zero-terminated UTF-8 strings.
//   A2S_INFO    -1, 'T', "Source Engine Query\0" [, challenge]   25 or 29 bytes
//   A2S_PLAYER  -1, 'U', challenge                               9 bytes
//   A2S_RULES   -1, 'V', challenge                               9 bytes
//   challenge   -1, 'A', challenge                               9 bytes
//   answers     -1, 'I' / 'D' / 'E', ...           at most QRY_A2SMAX bytes
//
// A request whose cookie is not the sender's is answered with the challenge
// that holds it, so an answer goes only to an address that has shown it
// receives what is sent to it, and the challenge is never larger than the
// request. The game's clients never send these ids.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "status/status.hpp"

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

// The period of the cookies' secret at the clock's time MS.
int64_t QRY_PERIODOF(int64_t MS);
// How many bytes of the datagram of N bytes in NET_BUF a query's handling
// reads: all that a recording must keep of it for the replay to answer the
// same. 0 when it is no query.
size_t QRY_READS(size_t N);

// ---- the standard query, A2S (a2s.cpp) ----

constexpr uint8_t QRY_A2S_INFO = 0x54;      // 'T'
constexpr uint8_t QRY_A2S_PLAYER = 0x55;    // 'U'
constexpr uint8_t QRY_A2S_RULES = 0x56;     // 'V'
constexpr uint8_t QRY_S2C_CHALLENGE = 0x41; // 'A'
constexpr uint8_t QRY_S2A_INFO = 0x49;      // 'I'
constexpr uint8_t QRY_S2A_PLAYER = 0x44;    // 'D'
constexpr uint8_t QRY_S2A_RULES = 0x45;     // 'E'
// What A2S_INFO carries after its type byte.
constexpr char QRY_A2SINFOTEXT[] = "Source Engine Query";
constexpr size_t QRY_A2SINFOSIZE = 4 + 1 + sizeof QRY_A2SINFOTEXT; // 25, without a challenge
constexpr size_t QRY_A2SREADS = QRY_A2SINFOSIZE + 4; // the most of a request ever read
constexpr size_t QRY_A2SCHALSIZE = 9;                // the challenge, and the smallest request
// An answer is one datagram: no split answers, which a forged sender could
// use to draw several datagrams for one. What would not fit is left out.
constexpr size_t QRY_A2SMAX = 1400;
// What A2S_INFO says this is.
constexpr const char* QRY_A2SFOLDER = "brastok";
constexpr const char* QRY_A2SGAME = "Brastok";

// The datagram in NET_BUF begins with four 0xFF bytes: it is the standard
// query's, whatever follows.
bool QRY_ISA2S();
// Handles the A2S datagram in NET_BUF from IP:PORT: the challenge, the
// answer, or nothing (an unknown or short request, or one over the rate).
void QRY_A2S(const std::string& IP, uint16_t PORT);
// The challenge of an IPv4 address and port in a period: the status query's
// cookie, never -1, which asks for a challenge.
uint32_t QRY_A2SCOOKIE(uint32_t ADDR, uint16_t PORT, int64_t PERIOD);
// The snapshot an answer is written from, taken for each answer.
extern TSNAPSHOT QRY_SNAP;

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
