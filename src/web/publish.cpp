// The published snapshot: written by the game loop once per cycle, read by
// the HTTP side. Two buffers: the loop fills the back one without any
// lock while readers copy the front one under the lock, then it swaps them
// under the lock. A reader never sees a buffer being filled, and the loop
// never copies a whole snapshot.
#include <atomic>
#include <chrono>
#include <cstring>
#include <mutex>

#include "web/web.hpp"

bool WEB_ON; // set by WEB_START once the port is bound

static TSNAPSHOT WEB_BUF[2];
static int WEB_FRONT;          // the buffer readers copy; changed under WEB_MX
static uint64_t WEB_SEQ;       // snapshots published
static WEB_LOOPSTATS WEB_LOOP; // the loop's own
static WEB_LOOPSTATS WEB_SHAREDLOOP;
static std::mutex WEB_MX;
static std::atomic<uint64_t> WEB_SHAREDSEQ; // the front buffer's SEQ
static std::atomic<int64_t> WEB_DUE;        // when the next cycle is due to start
static std::chrono::steady_clock::time_point WEB_T0;

int64_t WEB_NOWMS() {
  using namespace std::chrono;
  return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

// Fills the back buffer and makes it the front one.
static void WEB_SWAP() {
  TSNAPSHOT& BACK = WEB_BUF[1 - WEB_FRONT];
  STATUS_TAKE(BACK);
  BACK.SEQ = ++WEB_SEQ; // one count over both buffers, not each its own
  {
    std::lock_guard<std::mutex> LOCK(WEB_MX);
    WEB_FRONT = 1 - WEB_FRONT;
    WEB_SHAREDLOOP = WEB_LOOP;
  }
  WEB_SHAREDSEQ = BACK.SEQ;
  // No wake-up call: the event streams look by themselves, so they cost the
  // loop nothing.
}

void WEB_OPEN() {
  WEB_LOOP = {};
  WEB_LOOP.STARTUNIX = std::chrono::duration_cast<std::chrono::seconds>(
                           std::chrono::system_clock::now().time_since_epoch())
                           .count();
  // The first cycle follows at once; a second of grace covers the start.
  WEB_DUE = WEB_NOWMS() + 1000;
  WEB_ON = true;
  // The HTTP threads may read before the first cycle: give them a picture.
  WEB_SWAP();
}

void WEB_CLOSE() {
  WEB_ON = false;
}

void WEB_CYCLEBEGIN() {
  if (WEB_ON) {
    WEB_T0 = std::chrono::steady_clock::now();
  }
}

void WEB_PUBLISH(int WAITMS) {
  if (!WEB_ON) {
    return;
  }
  double SEC = std::chrono::duration<double>(std::chrono::steady_clock::now() - WEB_T0).count();
  int B = 0;
  while (B < WEB_NBUCKETS && SEC > WEB_BUCKETS[B]) {
    B++;
  }
  WEB_LOOP.BUCKETS[B]++;
  WEB_LOOP.CYCLES++;
  WEB_LOOP.SECONDS += SEC;
  WEB_SWAP();
  WEB_DUE = WEB_NOWMS() + WAITMS;
}

void WEB_READ(TSNAPSHOT& S, WEB_LOOPSTATS& L) {
  // The loop waits for this copy at most, when it swaps.
  std::lock_guard<std::mutex> LOCK(WEB_MX);
  std::memcpy(&S, &WEB_BUF[WEB_FRONT], sizeof S);
  L = WEB_SHAREDLOOP;
}

uint64_t WEB_NEWESTSEQ() {
  return WEB_SHAREDSEQ;
}

int64_t WEB_LATEMS() {
  return WEB_NOWMS() - WEB_DUE;
}
