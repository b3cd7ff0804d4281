// Signals while the HTTP side's threads run: a stop or a hang-up that lands
// in another thread leaves that thread's system call going.
#include <gtest/gtest.h>
#include <pthread.h>
#include <unistd.h>

#include <atomic>
#include <csignal>
#include <thread>

#include "server/server.hpp"

TEST(Signals, AHangUpOrAStopLeavesAnotherThreadsReadGoing) {
  SC_CATCHSTOP();
  for (int SIG : {SIGHUP, SIGTERM}) {
    SCOPED_TRACE(SIG);
    int P[2];
    ASSERT_EQ(pipe(P), 0);
    std::atomic<long> GOT{-2};
    std::thread T([&] {
      char C;
      GOT = long(read(P[0], &C, 1));
    });
    usleep(100000); // the thread is in its read by now (or the signal comes first: no harm)
    pthread_kill(T.native_handle(), SIG);
    usleep(50000);
    EXPECT_EQ(GOT, -2); // still reading: the signal did not end the read
    ASSERT_EQ(write(P[1], "x", 1), 1);
    T.join();
    EXPECT_EQ(GOT, 1);
    close(P[0]);
    close(P[1]);
  }
  EXPECT_TRUE(SC_HUPASKED());
  EXPECT_TRUE(SC_STOPASKED());
}
