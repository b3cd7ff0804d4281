// What the room's two halves share: the game thread's side (events.cpp:
// bodies, the queue, the marks of each cycle) and the I/O thread's side
// (io.cpp, agones.cpp, webhook.cpp, client.cpp). Not a door: nothing outside
// src/hosting includes it.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>
#include <vector>

#include "hosting/hosting.hpp"

// True while the I/O thread runs (HOST_START to HOST_STOP): only then are
// events made into bodies and queued. Game thread only.
extern bool HOST_ON;

// ---- the webhook queue (events.cpp) ----

// Empties the queues and makes one per webhook URL (HOST_START).
void HOST_QUEUEOPEN();
// Game thread: copies BODY into the queue of every URL (counting a full one's
// as dropped) and wakes the I/O thread.
void HOST_ENQUEUE(const std::string& BODY);
// I/O thread: takes the oldest body queued for URL K, which is then in
// flight until HOST_DONE(K); false when none waits.
bool HOST_TAKE(size_t K, std::string& BODY);
void HOST_DONE(size_t K);
// After the I/O thread ended: counts every body still queued or in flight as
// dropped and empties the queues.
void HOST_QUEUECLOSE();
// Wakes the I/O thread for new bodies; set by HOST_START, called by
// HOST_ENQUEUE outside the lock.
extern void (*HOST_NOTIFY)();

// ---- the marks of each cycle (events.cpp) ----

// Milliseconds of a steady clock: the one clock of the room.
int64_t HOST_NOWMS();
// When the newest cycle ended, and the humans holding a slot then.
extern std::atomic<int64_t> HOST_CYCLEMS;
extern std::atomic<int> HOST_HUMANS;
// I/O thread: a warning for the operator, printed by the next HOST_CYCLE.
void HOST_NOTE(const std::string& TEXT);
// Game thread: the warnings noted since the last call.
std::vector<std::string> HOST_TAKENOTES();

// ---- bodies (events.cpp) ----

std::string HOST_STARTBODY();
std::string HOST_STOPBODY();
// A URL as the console may show it: scheme and host, never the path, which
// for most webhook services holds the secret.
std::string HOST_URLSHOWN(const std::string& URL);
