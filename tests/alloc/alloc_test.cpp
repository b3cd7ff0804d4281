// A tick in which nothing new happens (no log line) allocates nothing, at full
// load, on the built-in map and on the open 64-by-64 map.
#include <gtest/gtest.h>

#include "alloc/countnew.hpp"
#include "server/server.hpp"
#include "support/fullload.hpp"

TEST(Allocation, SteadyStateTicksAllocateNothing) {
  for (bool OPEN : {false, true}) {
    SCOPED_TRACE(OPEN ? "open map" : "built-in map");
    FULLLOAD_START(OPEN, 500);
    int QUIET = 0;
    int EVENTS = 0;
    for (int T = 0; T < 3000; T++) {
      uint16_t LOGI = SV_LOGI;
      uint64_t BEFORE = COUNTNEW_ALLOCS;
      FULLLOAD_TICK();
      if (SV_LOGI == LOGI) {
        QUIET++;
        ASSERT_EQ(COUNTNEW_ALLOCS - BEFORE, 0u) << "tick " << SV_PINGVAR;
      } else {
        EVENTS++;
      }
    }
    EXPECT_GT(QUIET, 1000);
    EXPECT_GT(EVENTS, 0); // the bots do fight
  }
  SC_CAPTURE = nullptr;
  SC_WARNCAPTURE = nullptr;
}
