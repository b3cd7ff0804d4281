// brastok_replay in process: recordings it must not trust, and a start that
// failed. A whole match recorded by the built server and replayed by the
// built tool is in e2e/replay_test.cpp.
#include <sstream>

#include "record/record.hpp"
#include "replay.hpp"
#include "support/testserver.hpp"

class ReplayTest : public TScratchServerTest {
protected:
  std::vector<std::string> SAID; // what the replay said of the file

  void SetUp() override {
    TScratchServerTest::SetUp();
    RP_CAPTURE = &SAID;
  }
  void TearDown() override {
    RP_CAPTURE = nullptr;
    TScratchServerTest::TearDown();
  }
  int REPLAY(const std::string& FILE) {
    std::istringstream IN(FILE);
    return RP_REPLAY(IN, FILE.size(), "x.rec", false);
  }
};

// A block: its length, then its entries.
static std::string BLOCK(const std::string& ENTRIES) {
  std::string B;
  REC_PUTVARINT(B, ENTRIES.size());
  return B + ENTRIES;
}

static std::string CLOCKS(int64_t NOW, int64_t UTC) {
  std::string E = "T";
  REC_PUTSIGNED(E, NOW);
  REC_PUTSIGNED(E, UTC);
  return E;
}

TEST_F(ReplayTest, DamagedRecordingsAreRefusedWithoutTrustingThem) {
  const std::string HEAD = "brastok-record 1\n";
  const std::string START = BLOCK(std::string("A\0", 2) + CLOCKS(5000, 1796644800000));
  std::string HUGE; // a block of 4 GiB, in a file of 22 bytes
  REC_PUTVARINT(HUGE, uint64_t(4) << 30);
  struct {
    const char* WHAT;
    std::string FILE;
    std::string SAYS;
  } CASES[] = {
      {"a length past the end of the file", HEAD + HUGE + "xx", "ends before its start-up"},
      {"a length of more than 64 bits", HEAD + std::string(10, '\xff') + "\x7f",
       "ends before its start-up"},
      {"a cycle cut short", HEAD + START + BLOCK(CLOCKS(30, 30)).substr(0, 3),
       "cut short or damaged: cycle 1 runs past the end of the file; replayed up to cycle 0"},
      {"clocks whose sum overflows", HEAD + BLOCK(CLOCKS(INT64_MAX, 0) + CLOCKS(INT64_MAX, 0)),
       "its start-up is damaged"},
      {"more receives than a cycle takes", HEAD + START + BLOCK(std::string(2000, 'B')),
       "cycle 1 is damaged"},
      {"an unknown start of the socket", HEAD + BLOCK(std::string("N\x07\0\0", 4)),
       "its start-up is damaged"},
      {"a format line with escapes", "brastok-record \x1b[2J\n", "version \\x1B[2J;"},
  };
  for (const auto& C : CASES) {
    SCOPED_TRACE(C.WHAT);
    SAID.clear();
    EXPECT_EQ(REPLAY(C.FILE), RP_EXIT_FILE);
    ASSERT_EQ(SAID.size(), 1u);
    EXPECT_NE(SAID[0].find(C.SAYS), std::string::npos) << SAID[0];
  }
  // Nothing damaged: replayed whole.
  SAID.clear();
  EXPECT_EQ(REPLAY(HEAD + START + BLOCK(CLOCKS(30, 30))), RP_EXIT_OK);
  EXPECT_TRUE(SAID.empty());
}

// A start that failed at socket() replays with that line, not bind()'s.
TEST_F(ReplayTest, AFailedStartReplaysTheLineItFailedWith) {
  MEMNET_BINDFAILS = true;
  MEMNET_FAILLINE = "UDP initialization failed! [ socket() ]";
  bool OK = GAMESTART({"-record", "start.rec"});
  EXPECT_FALSE(OK);
  REC_RECORDSTART(OK); // as the server ends its start
  REC_RECORDCLOSE();
  const std::vector<std::string> LIVE = LINES;
  ASSERT_EQ(LIVE, std::vector<std::string>{"UDP initialization failed! [ socket() ]"});
  LINES.clear();
  EXPECT_EQ(RP_REPLAYFILE("start.rec", false), RP_EXIT_OK);
  EXPECT_EQ(LINES, LIVE);
  EXPECT_TRUE(SAID.empty());
}
