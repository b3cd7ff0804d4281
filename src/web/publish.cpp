// The published snapshot: written by the game loop once per cycle, read by
// the HTTP threads. Two buffers: the loop fills the back one without any
// lock while readers copy the front one under the lock, then it swaps them
// under the lock. A reader never sees a buffer being filled, and the loop
// never copies a whole snapshot.
#include <atomic>
#include <chrono>
#include <condition_variable>
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
static std::condition_variable WEB_CV;
static std::atomic<bool> WEB_STOP_;
static std::atomic<int64_t> WEB_DUEMS; // when the next cycle is due to start
static std::chrono::steady_clock::time_point WEB_T0;

static int64_t WEB_NOWMS() {
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
  // No wake-up call: streams look when the next cycle is due (see
  // WEB_WAITNEWER), so waking them costs the loop nothing.
}

void WEB_OPEN() {
  WEB_LOOP = {};
  WEB_LOOP.STARTUNIX = std::chrono::duration_cast<std::chrono::seconds>(
                           std::chrono::system_clock::now().time_since_epoch())
                           .count();
  // The first cycle follows at once; a second of grace covers the start.
  WEB_DUEMS = WEB_NOWMS() + 1000;
  WEB_STOP_ = false;
  WEB_ON = true;
  // The HTTP threads may read before the first cycle: give them a picture.
  WEB_SWAP();
}

void WEB_CLOSE() {
  WEB_ON = false;
  {
    std::lock_guard<std::mutex> LOCK(WEB_MX);
    WEB_STOP_ = true;
  }
  WEB_CV.notify_all();
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
  WEB_DUEMS = WEB_NOWMS() + WAITMS;
}

void WEB_READ(TSNAPSHOT& S, WEB_LOOPSTATS& L) {
  // The loop waits for this copy at most, when it swaps.
  std::lock_guard<std::mutex> LOCK(WEB_MX);
  std::memcpy(&S, &WEB_BUF[WEB_FRONT], sizeof S);
  L = WEB_SHAREDLOOP;
}

bool WEB_WAITNEWER(uint64_t SEQ, int MS) {
  // A waiter sleeps until a millisecond after the next cycle is due, then
  // looks every millisecond; only a stop wakes it early.
  using namespace std::chrono;
  const steady_clock::time_point END = steady_clock::now() + milliseconds(MS);
  std::unique_lock<std::mutex> LOCK(WEB_MX);
  while (!WEB_STOP_ && WEB_BUF[WEB_FRONT].SEQ == SEQ) {
    steady_clock::time_point NOW = steady_clock::now();
    if (NOW >= END) {
      return false;
    }
    steady_clock::time_point LOOK{milliseconds(WEB_DUEMS + 1)};
    LOOK = std::min(END, std::max(LOOK, NOW + milliseconds(1)));
    WEB_CV.wait_until(LOCK, LOOK);
  }
  return !WEB_STOP_;
}

bool WEB_STOPPING() {
  return WEB_STOP_;
}

int64_t WEB_LATEMS() {
  return WEB_NOWMS() - WEB_DUEMS;
}
