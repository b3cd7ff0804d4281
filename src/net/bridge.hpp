// Datagram peers that are not UDP sockets: the HTTP side's WebSocket
// sessions (the browser game). Each session is one more client address, the
// browser's IPv4 address with its connection's TCP source port, and its
// datagrams enter and leave the game through the transport like UDP ones,
// in the same per-cycle cap, so the recorder sees them and every rule holds.
//
// Two threads meet here, and only here: the HTTP side's I/O thread fills the
// queue in and takes each session's queue out; the game thread (inside the
// transport) does the opposite. Every lock is held for a copy or a swap, so
// the game thread never waits on a socket.
//
// No two peers ever share an address: while a session holds IP:PORT, UDP
// datagrams from that IP:PORT are not delivered (they would be taken for the
// session's), and a session is refused while a UDP client holds a slot
// under its IP:PORT, or another session holds it.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <string>
#include <vector>

// The game thread's answer to a new session.
enum : uint8_t {
  NET_PEERWAIT,   // not decided yet
  NET_PEERLIVE,   // accepted: it holds its address
  NET_PEERBANNED, // its address is banned
  NET_PEERINUSE,  // a UDP client or another session holds its address
  NET_PEERGONE,   // no such session (ended, or the bridge is off)
};

// Datagrams of one session waiting for the game thread; beyond, the I/O
// thread drops what the session sends, as a full socket buffer would.
constexpr uint32_t NET_PEERINMAX = 64;
// Datagrams of all sessions waiting for the game thread.
constexpr uint32_t NET_BRIDGEINMAX = 1024;
// Datagrams of one session the I/O thread has not taken yet: a browser that
// stops reading is closed once its queue holds more (about a second of
// state packets).
constexpr size_t NET_PEEROUTMAX = 32;

// ---- the HTTP side's I/O thread ----

// Turns the bridge on before the I/O thread starts, and off (dropping every
// session) after it has ended. Off, the transports never look here.
void NET_BRIDGEON();
void NET_BRIDGEOFF();
// A new session from IPV4:PORT (host order): its id. The game thread
// decides at its next cycle, and tells through the news.
uint64_t NET_PEEROPEN(uint32_t IPV4, uint16_t PORT);
// One datagram of N bytes from session ID; false when it was dropped (the
// session's share of the queue is full).
bool NET_PEERIN(uint64_t ID, const void* DATA, size_t N);
// Session ID has ended: the game thread frees its address, and its slot as
// a disconnect message would.
void NET_PEERCLOSE(uint64_t ID);
// Set by the game thread when a session has news (a verdict, datagrams to
// send, or a queue past its bound); NET_BRIDGENEWS clears it.
extern std::atomic<bool> NET_BRIDGEHASNEWS;
// Moves the ids of the sessions with news into IDS.
void NET_BRIDGENEWS(std::vector<uint64_t>& IDS);
// The verdict on session ID; KILL is set when it must be closed (its reader
// fell behind). With TAKEOUT its waiting datagrams are moved to the end of
// OUT.
uint8_t NET_PEERTAKE(uint64_t ID, bool TAKEOUT, std::deque<std::string>& OUT, bool& KILL);

// ---- the game thread, inside the transports ----

// Whether the bridge is on: a plain flag written before the I/O thread
// starts and after it ends.
extern bool NET_BRIDGEUP;
// The next datagram from a session into NET_BUF: its length, with its
// sender in IPV4 and PORT; NET_RECV_NONE when none waits. A session that
// ended and still held a slot comes as a disconnect message from its
// address.
int32_t NET_BRIDGERECEIVE(uint32_t& IPV4, uint16_t& PORT);
// Whether a session holds IPV4:PORT: a UDP datagram from there is not
// delivered, and a send to there goes to the session.
bool NET_BRIDGEOWNS(uint32_t IPV4, uint16_t PORT);
// Queues the N bytes at DATA for the session at IPV4:PORT (it owns it).
void NET_BRIDGESEND(uint32_t IPV4, uint16_t PORT, const uint8_t* DATA, size_t N);
// Hands the cycle's datagrams and verdicts to the I/O thread (NET_FLUSH).
void NET_BRIDGEFLUSH();
// Before an idle wait: false when something waits already (do not wait).
// Until NET_BRIDGEWAITEND, the I/O thread ends the wait with NET_WAKE when
// anything comes.
bool NET_BRIDGEWAITBEGIN();
void NET_BRIDGEWAITEND();
