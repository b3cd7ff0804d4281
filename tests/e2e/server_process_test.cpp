// The built server as a process on 127.0.0.1: start-up lines, port search,
// failure status, clean stop.
#include <gtest/gtest.h>
#include <signal.h>

#include "process.hpp"
#include "support/testpaths.hpp"
#include "udpsocket.hpp"

static const std::string SERVER = BRASTOK_SERVER_BIN;

TEST(ServerProcess, StartsWithThreeLinesAndStopsCleanly) {
  for (int SIG : {SIGINT, SIGTERM}) {
    TSCRATCH DIR;
    TPROCESS P({SERVER, "-port", "0"}, DIR.PATH());
    std::string L1, L2, L3;
    ASSERT_TRUE(P.READLINE(L1));
    ASSERT_TRUE(P.READLINE(L2));
    ASSERT_TRUE(P.READLINE(L3));
    EXPECT_GT(PORTOFLINE(L1), 0) << L1; // the port actually bound
    EXPECT_EQ(L2, "Brastok Server, v29");
    EXPECT_EQ(L3, "Playerlimit: 10, scorelimit: 20, teamplay: no");
    usleep(100000);
    EXPECT_TRUE(P.RUNNING());
    EXPECT_EQ(P.STOP(SIG, 3000), 0);
    EXPECT_EQ(P.ERRTEXT(), "");
  }
}

TEST(ServerProcess, TakenPortMovesToTheNextFreeOne) {
  TUDPSOCKET HOLD(0, true);
  ASSERT_TRUE(HOLD.OK());
  TSCRATCH DIR;
  TPROCESS P({SERVER, "-port", std::to_string(HOLD.PORT())}, DIR.PATH());
  std::string L;
  ASSERT_TRUE(P.READLINE(L));
  EXPECT_GT(PORTOFLINE(L), HOLD.PORT()) << L;
  EXPECT_EQ(P.STOP(SIGTERM), 0);
}

TEST(ServerProcess, NoFreePortFailsWithNonZeroStatus) {
  TUDPSOCKET HOLD(65535, true); // if another program holds it, the result is the same
  TSCRATCH DIR;
  TPROCESS P({SERVER, "-port", "65535"}, DIR.PATH());
  std::string L;
  ASSERT_TRUE(P.READLINE(L));
  EXPECT_EQ(L, "UDP initialization failed! [ bind() ]");
  EXPECT_EQ(P.WAIT(5000), 1);
  EXPECT_FALSE(P.READLINE(L, 500)); // nothing logged after the failure
}

TEST(ServerProcess, HelpVersionAndWarnings) {
  TSCRATCH DIR;
  {
    TPROCESS P({SERVER, "--help"}, DIR.PATH());
    std::string TEXT, L;
    while (P.READLINE(L, 2000)) {
      TEXT += L + "\n";
    }
    EXPECT_EQ(P.WAIT(), 0);
    for (const char* OPT :
         {"-port", "-score", "-maxplayers", "-map", "-name", "-teams", "-bots", "-botteams"}) {
      EXPECT_NE(TEXT.find(OPT), std::string::npos) << OPT;
    }
  }
  {
    TPROCESS P({SERVER, "--version"}, DIR.PATH());
    std::string L;
    ASSERT_TRUE(P.READLINE(L));
    EXPECT_NE(L.find("29"), std::string::npos);
    EXPECT_EQ(P.WAIT(), 0);
  }
  {
    DIR.WRITEMAP("arena", "446202\n  AA  \n 1@2 \n");
    TPROCESS P({SERVER, "-port", "0", "-map", "nothere", "-map", "arena", "-colour", "red"},
               DIR.PATH());
    std::string L;
    ASSERT_TRUE(P.READLINE(L));
    EXPECT_GT(PORTOFLINE(L), 0);
    EXPECT_EQ(P.STOP(SIGTERM), 0);
    std::string ERR = P.ERRTEXT();
    EXPECT_NE(ERR.find("maps/nothere.brsk"), std::string::npos) << ERR;
    EXPECT_NE(ERR.find("-colour"), std::string::npos) << ERR;
    EXPECT_EQ(ERR.find("arena"), std::string::npos) << ERR;
  }
}

TEST(ServerProcess, BindFailureSaysWhyAndStrictTakesNoOtherPort) {
  TUDPSOCKET HOLD(0, true);
  ASSERT_TRUE(HOLD.OK());
  std::string PORT = std::to_string(HOLD.PORT());
  TUDPSOCKET HOLDLAST(65535, true); // if another program holds it, the result is the same
  struct {
    std::vector<std::string> ARGS;
    std::string REASON;
  } CASES[] = {
      {{"-port", "65535"}, "cannot bind UDP port 65535 on all addresses: Address already in use"},
      {{"-port", PORT, "-strict", "1"},
       "cannot bind UDP port " + PORT + " on all addresses: Address already in use"},
      {{"-port", "0", "-ip", "192.0.2.1"},
       "cannot bind UDP port 0 on 192.0.2.1: Cannot assign requested address"},
  };
  for (const auto& C : CASES) {
    SCOPED_TRACE(C.REASON);
    TSCRATCH DIR;
    std::vector<std::string> ARGV = {SERVER};
    ARGV.insert(ARGV.end(), C.ARGS.begin(), C.ARGS.end());
    TPROCESS P(ARGV, DIR.PATH());
    std::string L;
    ASSERT_TRUE(P.READLINE(L));
    EXPECT_EQ(L, "UDP initialization failed! [ bind() ]");
    EXPECT_EQ(P.WAIT(5000), 1);
    EXPECT_EQ(P.ERRTEXT(), "error: " + C.REASON + "\n");
  }
}

TEST(ServerProcess, HangUpDoesNotStopIt) {
  TSCRATCH DIR;
  TPROCESS P({SERVER, "-port", "0"}, DIR.PATH());
  std::string L;
  ASSERT_TRUE(P.READLINE(L));
  ASSERT_TRUE(P.READLINE(L));
  ASSERT_TRUE(P.READLINE(L));
  kill(P.PID(), SIGHUP);
  usleep(200000);
  EXPECT_TRUE(P.RUNNING());
  EXPECT_EQ(P.STOP(SIGTERM, 3000), 0);
  EXPECT_EQ(P.ERRTEXT(), "");
}

TEST(ServerProcess, ListensOnTheAddressGivenOnly) {
  TSCRATCH DIR;
  TPROCESS P({SERVER, "-port", "0", "-ip", "127.0.0.2"}, DIR.PATH());
  std::string L;
  ASSERT_TRUE(P.READLINE(L));
  uint16_t PORT = uint16_t(PORTOFLINE(L));
  TUDPSOCKET C;
  std::string R;
  C.SENDTO("127.0.0.1", PORT, std::string(1, char(104))); // a data message without a slot
  EXPECT_FALSE(C.RECV(R, 300));
  C.SENDTO("127.0.0.2", PORT, std::string(1, char(104)));
  ASSERT_TRUE(C.RECV(R, 2000));
  EXPECT_EQ(R, std::string(1, char(111))); // "no connection"
  EXPECT_EQ(P.STOP(SIGTERM), 0);
}

TEST(ServerProcess, AnswersTheStatusQueryWithoutASlot) {
  TSCRATCH DIR;
  TPROCESS P({SERVER, "-port", "0", "-name", "Arena"}, DIR.PATH());
  std::string L;
  ASSERT_TRUE(P.READLINE(L));
  uint16_t PORT = uint16_t(PORTOFLINE(L));
  TUDPSOCKET C, OTHER;
  std::string CHAL, R;
  C.SENDTO(PORT, std::string({char(120), 0, 0, 0, 0}));
  ASSERT_TRUE(C.RECV(CHAL));
  ASSERT_EQ(CHAL.size(), 5u);
  EXPECT_EQ(uint8_t(CHAL[0]), 121);
  OTHER.SENDTO(PORT, char(120) + CHAL.substr(1)); // the cookie is not this port's
  ASSERT_TRUE(OTHER.RECV(R));
  EXPECT_EQ(R.size(), 5u);
  C.SENDTO(PORT, char(120) + CHAL.substr(1));
  ASSERT_TRUE(C.RECV(R));
  EXPECT_EQ(R.substr(0, 9), std::string({char(122), 1, 29, 5}) + "Arena");
  EXPECT_EQ(P.STOP(SIGTERM), 0);
  ASSERT_TRUE(P.READLINE(L));
  ASSERT_TRUE(P.READLINE(L));
  EXPECT_FALSE(P.READLINE(L, 200)); // no line for the query
}

TEST(ServerProcess, WarnsOfValuesItCannotHoldAndOfUnplayableMaps) {
  TSCRATCH DIR;
  DIR.WRITEMAP("walls", "446202\nAAAA\nAAAA\n");
  // Maps from a folder of their own, whatever the working directory.
  TPROCESS P({SERVER, "-port", "0", "-maxplayers", "258", "-score", "300", "-mapdir",
              DIR.PATH() + "/maps", "-map", "walls"},
             "/");
  std::string L1, L2, L3;
  ASSERT_TRUE(P.READLINE(L1));
  ASSERT_TRUE(P.READLINE(L2));
  ASSERT_TRUE(P.READLINE(L3));
  EXPECT_EQ(L3, "Playerlimit: 2, scorelimit: 44, teamplay: no"); // as before
  EXPECT_EQ(P.STOP(SIGTERM), 0);
  std::string MAP = DIR.PATH() + "/maps/walls.brsk";
  EXPECT_EQ(P.ERRTEXT(), "warning: option -maxplayers: 258 is outside 2 to 24, taken as 2\n"
                         "warning: option -score: 300 is outside 1 to 255, taken as 44\n"
                         "warning: map file " +
                             MAP + " has no spawn point (@) where it is played\n" +
                             "warning: map file " + MAP + " has no free cell where it is played\n");
}
