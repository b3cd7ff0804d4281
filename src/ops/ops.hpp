// The operator's side of the server: what operators and their tools use,
// leaning on the core. The core calls in at a few named points (grep for
// OPS_), each one plain call that does nothing when its feature is off.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "server/state.hpp"

// ---- the slotless status query (query.cpp) ----
//
// A monitor or a server list asks on the game's port without taking a slot:
//   query      SVMPMSG_QUERY, cookie (u32)          5 bytes, more are ignored
//   challenge  CLMPMSG_QCHAL, cookie (u32)          5 bytes
//   answer     CLMPMSG_QINFO, the status            at most OPS_QMAXANSWER bytes
// A query whose cookie is not the sender's is answered with the challenge
// that holds it, so the status goes only to an address that has shown it
// receives what is sent to it, and the challenge is never larger than the
// query. The game's clients never send these ids.

constexpr uint8_t SVMPMSG_QUERY = 120;
constexpr uint8_t CLMPMSG_QCHAL = 121;
constexpr uint8_t CLMPMSG_QINFO = 122;
constexpr uint8_t OPS_QFORMAT = 1;        // layout of the answer
constexpr size_t OPS_QSIZE = 5;           // the query and the challenge
constexpr size_t OPS_QMAXANSWER = 1200;   // fits one datagram on any path
constexpr int64_t OPS_QPERIODMS = 300000; // the cookies' secret changes this often
constexpr int OPS_QRATE = 10;             // query datagrams per address per second

// Seeds the secret of every period. main() draws it at start; tests and a
// replay set it, so the cookies of a replay are the recorded ones.
extern uint64_t OPS_QSEED;

// Handles the datagram in NET_BUF from IP:PORT when it is a query, and then
// returns true; false (nothing read, nothing changed) for any other datagram.
bool OPS_QUERY(const std::string& IP, uint16_t PORT);
// The cookie of an IPv4 address (host order) and port in a period of
// OPS_QPERIODMS: a keyed hash, never 0.
uint32_t OPS_QCOOKIE(uint32_t ADDR, uint16_t PORT, int64_t PERIOD);
// Forgets every address's recent queries.
void OPS_QRESET();
