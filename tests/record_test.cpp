// The recorder in process: the file's name, what a datagram leaves in it,
// its size limit and a full disk; each recording replayed again.
#include <sys/resource.h>

#include <csignal>
#include <filesystem>
#include <fstream>

#include "record/record.hpp"
#include "replay.hpp"
#include "support/testserver.hpp"

namespace fs = std::filesystem;
using LINESV = std::vector<std::string>;

class RecordTest : public TScratchServerTest {
protected:
  std::vector<std::string> SAID; // what the replay said of the file

  // The start-up as main() records it: its block ends after GAMESTART.
  void RECSTART(const std::vector<std::string>& ARGS) {
    START(ARGS);
    REC_RECORDSTART(true);
  }
  // One cycle as main() records it: the clocks before, the block after.
  void RECCYCLE(int N = 1) {
    for (int K = 0; K < N; K++) {
      SV_NOWMS += FPS_INT;
      SV_UTCMS += FPS_INT;
      REC_RECORDCLOCKS();
      GAMECYCLE();
      REC_RECORDFLUSH();
    }
  }
  // Ends the live server's recording as main() does and replays it: the
  // replay must print the console lines the live server printed and send as
  // many datagrams of as many bytes. The replay's exit status.
  int ENDANDREPLAY(const std::string& PATH) {
    REC_RECORDCLOSE();
    const LINESV LIVE = LINES;
    const uint64_t SENT = MEMNET_SENTN, BYTES = MEMNET_SENTBYTES;
    LINES.clear();
    RP_CAPTURE = &SAID;
    int STATUS = RP_REPLAYFILE(PATH, false);
    RP_CAPTURE = nullptr;
    EXPECT_EQ(LINES, LIVE);
    EXPECT_EQ(MEMNET_SENTN, SENT);
    EXPECT_EQ(MEMNET_SENTBYTES, BYTES);
    return STATUS;
  }
  static std::string READFILE(const fs::path& P) {
    std::ifstream F(P, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(F), {});
  }
};

// A file of the recording's name is kept: the service that restarts after a
// crash records beside the crash's recording, even in a strict start.
TEST_F(RecordTest, ARecordingNeverOverwritesAFile) {
  std::ofstream("match.rec", std::ios::binary) << "the match that crashed";
  for (const char* NAME : {"match-20261207T120000Z.rec", "match-20261207T120000Z-2.rec"}) {
    SV_RESETSTATE();
    SV_UTCMS = 1796644800000; // 2026-12-07T12:00:00Z
    WARNS.clear();
    RECSTART({"-strict", "1", "-record", "match.rec"});
    EXPECT_EQ(WARNS, LINESV{std::string("record file match.rec exists: recording to ") + NAME});
    EXPECT_EQ(REC_RECORDPATH, NAME);
    RECCYCLE();
  }
  EXPECT_EQ(READFILE("match.rec"), "the match that crashed");
  EXPECT_EQ(READFILE("match-20261207T120000Z.rec").rfind("brastok-record 1\n", 0), 0u);
}

// A flood of junk from senders without a slot records a byte or so a
// datagram, and the replay handles it just the same: the same lines, the
// same answers.
TEST_F(RecordTest, JunkIsRecordedByWhatItsHandlingReads) {
  RECSTART({"-record", "flood.rec"});
  SEND("10.0.0.1", 1000, CL_CONNECT("Ann", 0));
  RECCYCLE();
  size_t RECEIVED = 0;
  for (int T = 0; T < 3; T++) {
    for (int K = 0; K < 100; K++) {
      // Data messages (answered "not connected"), disconnects, chat, unknown
      // ids, status queries (five bytes read) and A2S requests (29 read)
      // from an address without a slot.
      const uint8_t IDS[] = {SVMPMSG_CDAT, SVMPMSG_CDCON, SVMPMSG_CCHAT, 200, 120, 0xFF};
      std::string D(4000, char(K));
      D[0] = char(IDS[K % 6]);
      if (D[0] == '\xFF') {
        D.replace(0, 25, std::string("\xFF\xFF\xFF\xFFTSource Engine Query", 25));
      }
      SEND("10.9.9.9", uint16_t(2000 + K), D);
      RECEIVED += D.size();
    }
    SEND("10.0.0.1", 1000, CL_CHAT("still here"));
    RECCYCLE();
  }
  EXPECT_LT(fs::file_size("flood.rec"), RECEIVED / 100);
  EXPECT_EQ(ENDANDREPLAY("flood.rec"), RP_EXIT_OK);
  EXPECT_TRUE(SAID.empty());
}

// Past -recordmax, and when the disk is full, the recording ends between two
// blocks with one warning; the game goes on, and the replay is whole up to
// there.
TEST_F(RecordTest, TheRecordingEndsWholeWhenItMayGrowNoMore) {
  for (bool DISKFULL : {false, true}) {
    SCOPED_TRACE(DISKFULL ? "a full disk" : "-recordmax 1");
    SV_RESETSTATE();
    MEMNET_RESET();
    LINES.clear();
    RECSTART(DISKFULL ? std::vector<std::string>{"-record", "full.rec"}
                      : std::vector<std::string>{"-recordmax", "1", "-record", "max.rec"});
    SEND("10.0.0.1", 1000, CL_CONNECT("Ann", 0));
    RECCYCLE(3);
    const uint8_t A = 1;
    rlimit OLD;
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &OLD), 0);
    if (DISKFULL) {
      // The next block fits partly: the system writes part of it.
      std::signal(SIGXFSZ, SIG_IGN);
      rlimit SMALL = OLD;
      SMALL.rlim_cur = rlim_t(fs::file_size("full.rec") + 100);
      ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &SMALL), 0);
    }
    WARNS.clear();
    // Datagrams of 5000 bytes from the slot's holder, kept whole: more than
    // a MiB, or more than the disk takes.
    for (int K = 0; K < (DISKFULL ? 2 : 250); K++) {
      SEND("10.0.0.1", 1000, std::string(1, char(200)) + std::string(4999, 'x'));
    }
    RECCYCLE();
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &OLD), 0);
    std::signal(SIGXFSZ, SIG_DFL);
    ASSERT_EQ(WARNS.size(), 1u);
    EXPECT_NE(WARNS[0].find(DISKFULL ? "cannot write record file full.rec"
                                     : "record file max.rec has reached -recordmax 1 MiB"),
              std::string::npos)
        << WARNS[0];
    EXPECT_LE(fs::file_size(REC_RECORDPATH), size_t(1) << 20);
    SEND("10.0.0.1", 1000, CL_CHAT("the game goes on"));
    CYCLE();
    EXPECT_EQ(LINES.back(), "Ann: the game goes on");
    EXPECT_TRUE(SV_CLIENTSLIST[A].EXIST);
    // The replay ends where the recording did: before the big cycle.
    LINES.pop_back();
    SAID.clear();
    std::string PATH = REC_RECORDPATH;
    REC_RECORDCLOSE();
    RP_CAPTURE = &SAID;
    LINESV LIVE = LINES;
    LINES.clear();
    EXPECT_EQ(RP_REPLAYFILE(PATH, false), RP_EXIT_OK);
    RP_CAPTURE = nullptr;
    EXPECT_EQ(LINES, LIVE);
    EXPECT_TRUE(SAID.empty());
  }
}
