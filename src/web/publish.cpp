// The published snapshot: written by the game loop once per cycle, read by
// the HTTP threads. The loop fills its own copy without any lock, then
// copies it into the shared one under a lock held only for that copy.
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <mutex>

#include "web/web.hpp"

bool WEB_ON; // set by WEB_START once the port is bound

static OPS_SNAPSHOT WEB_WORK;   // the loop's own: only the loop touches it
static WEB_LOOPSTATS WEB_LOOP;  // the loop's own
static OPS_SNAPSHOT WEB_SHARED; // guarded by WEB_MX
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
  OPS_TAKESNAPSHOT(WEB_WORK);
  std::lock_guard<std::mutex> LOCK(WEB_MX);
  std::memcpy(&WEB_SHARED, &WEB_WORK, sizeof WEB_SHARED);
  WEB_SHAREDLOOP = WEB_LOOP;
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
  OPS_TAKESNAPSHOT(WEB_WORK);
  {
    // Readers hold the lock only for a copy of the same size.
    std::lock_guard<std::mutex> LOCK(WEB_MX);
    std::memcpy(&WEB_SHARED, &WEB_WORK, sizeof WEB_SHARED);
    WEB_SHAREDLOOP = WEB_LOOP;
  }
  WEB_CV.notify_all();
  WEB_DUEMS = WEB_NOWMS() + WAITMS;
}

void WEB_READ(OPS_SNAPSHOT& S, WEB_LOOPSTATS& L) {
  std::lock_guard<std::mutex> LOCK(WEB_MX);
  std::memcpy(&S, &WEB_SHARED, sizeof S);
  L = WEB_SHAREDLOOP;
}

bool WEB_WAITNEWER(uint64_t SEQ, int MS) {
  std::unique_lock<std::mutex> LOCK(WEB_MX);
  return WEB_CV.wait_for(LOCK, std::chrono::milliseconds(MS), [SEQ] {
    return WEB_STOP_ || WEB_SHARED.SEQ != SEQ;
  }) && !WEB_STOP_;
}

bool WEB_STOPPING() {
  return WEB_STOP_;
}

int64_t WEB_LATEMS() {
  return WEB_NOWMS() - WEB_DUEMS;
}
