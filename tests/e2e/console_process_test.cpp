// The built server with commands on standard input, and the cadence of its
// cycles while nobody plays.
#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <chrono>

#include "clientproto.hpp"
#include "process.hpp"
#include "support/testpaths.hpp"
#include "udpsocket.hpp"

static const std::string SERVER = BRASTOK_SERVER_BIN;

TEST(ConsoleProcess, CommandsThroughAPipe) {
  TSCRATCH DIR;
  TPROCESS P({SERVER, "-port", "0", "-bots", "1"}, DIR.PATH(), true);
  std::string L;
  ASSERT_TRUE(P.READLINE(L));
  int PORT = PORTOFLINE(L);
  ASSERT_GT(PORT, 0) << L;
  ASSERT_TRUE(P.READLINE(L));
  ASSERT_TRUE(P.READLINE(L));
  TUDPSOCKET C;
  C.SENDTO(uint16_t(PORT), CL_CONNECT("Alex", 0));
  ASSERT_TRUE(P.READLINE(L));
  EXPECT_EQ(L, "Alex connected!");
  ASSERT_TRUE(P.READLINE(L));
  EXPECT_EQ(L, "BOT #1 connected!");
  ASSERT_TRUE(P.READLINE(L));
  EXPECT_EQ(L, "BOT #1 has joined the game!");
  // One write: the server reads every line in the same cycle.
  ASSERT_TRUE(P.WRITEIN("status\nsay hello all\nkick 2\nbans\nfrobnicate\nquit\nsay never\n"));
  // Each line: how it begins and how it ends (the pings and the tick vary).
  std::vector<std::pair<std::string, std::string>> WANT = {
      {"slot 1 \"Alex\" team 0 spectator score 0 ping ", " 127.0.0.1:" + std::to_string(C.PORT())},
      {"slot 2 \"BOT #1\" team 0 alive score 0 ping ", " bot"},
      {"map \"DefMap\" entry 1, tick ",
       ", scoreboard 0, players 1/10, clients 2/24, scorelimit 20, bots 1, teamplay no"},
      {"hello all", ""},
      {"BOT #1 disconnected!", ""},
      {"no bans", ""},
  };
  for (const auto& [BEGIN, END] : WANT) {
    ASSERT_TRUE(P.READLINE(L)) << BEGIN;
    EXPECT_EQ(L.substr(0, BEGIN.size()), BEGIN);
    EXPECT_TRUE(L.size() >= BEGIN.size() + END.size() && L.ends_with(END)) << L;
  }
  EXPECT_EQ(P.WAIT(3000), 0);
  EXPECT_FALSE(P.READLINE(L, 100)) << L;
  EXPECT_EQ(P.ERRTEXT(), "error: unknown command: frobnicate (help lists the commands)\n");
}

// With nobody playing, a stream of datagrams one millisecond apart is
// answered at most once per 30 ms cycle, not once per datagram.
TEST(ConsoleProcess, IdleCyclesKeepTheirCadence) {
  TSCRATCH DIR;
  TPROCESS P({SERVER, "-port", "0"}, DIR.PATH());
  std::string L;
  ASSERT_TRUE(P.READLINE(L));
  int PORT = PORTOFLINE(L);
  ASSERT_GT(PORT, 0) << L;
  TUDPSOCKET C;
  // Data from an unknown sender is answered "not connected" in the cycle
  // that reads it: each batch of answers is one cycle.
  const std::string DATA = CL_DATA(0, 0, 0, 0, 0, 0);
  int ANSWERS = 0;
  int BATCHES = 0;
  long T0 = NOWMS();
  for (int I = 0; I < 400; I++) {
    C.SENDTO(uint16_t(PORT), DATA);
    usleep(1000);
    int N = 0;
    std::string R;
    while (C.RECV(R, 0)) {
      N++;
    }
    ANSWERS += N;
    BATCHES += N > 0 ? 1 : 0;
  }
  long MS = NOWMS() - T0;
  std::string R;
  while (C.RECV(R, 200)) {
    ANSWERS++;
  }
  EXPECT_GT(ANSWERS, 300);
  // A batch may straddle two reads now and then: some room above one per 30 ms.
  EXPECT_LE(BATCHES, MS / 30 * 3 / 2 + 5) << ANSWERS << " answers in " << MS << " ms";
  std::printf("idle cadence: %d answers in %d batches over %ld ms\n", ANSWERS, BATCHES, MS);
  EXPECT_EQ(P.STOP(SIGTERM), 0);
}
