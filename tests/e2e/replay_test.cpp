// A match recorded with -record and run again by brastok_replay: the same
// console lines, and the same datagrams to the same addresses.
#include <gtest/gtest.h>

#include <csignal>
#include <fstream>
#include <map>

#include "clientproto.hpp"
#include "process.hpp"
#include "server/state.hpp"
#include "udpsocket.hpp"

static const std::string SERVER = BRASTOK_SERVER_BIN;
static const std::string REPLAY = BRASTOK_REPLAY_BIN;

static std::string HEXOF(const std::string& D) {
  static const char HEX[] = "0123456789abcdef";
  std::string R;
  for (unsigned char C : D) {
    R += HEX[C >> 4];
    R += HEX[C & 15];
  }
  return R;
}

// Every line a program prints until it ends.
static std::vector<std::string> ALLLINES(TPROCESS& P) {
  std::vector<std::string> R;
  std::string L;
  while (P.READLINE(L, 20000)) {
    R.push_back(L);
  }
  return R;
}

// A scripted player: joins, then answers every state packet with its input,
// turning and firing, and acknowledges the log. It keeps every datagram it
// received.
struct TPLAYER {
  TUDPSOCKET SOCK;
  std::vector<std::string> GOT;
  uint16_t TICK = 0, LOGLAST = 0, X = 0, Y = 0;
  uint8_t SELF = 0;
  int TURN = 0;

  void DRAIN(uint16_t PORT) {
    std::string D;
    while (SOCK.RECV(D, 0)) {
      GOT.push_back(D);
      CL_STATE S;
      CL_LOG L;
      if (CL_PARSESTATE(D, S)) {
        TICK = S.TICK;
        SELF = S.SELF;
        for (const CL_ENTRY& E : S.PLAYERS) {
          if (E.SLOT == SELF) {
            X = E.X;
            Y = E.Y;
          }
        }
        TURN++;
        uint8_t ACT = TURN % 40 == 1 ? PLACT_SJ : TURN % 3 == 0 ? PLACT_G1 + 1 : 0;
        SOCK.SENDTO(PORT, CL_DATA(TICK, uint16_t(TURN * 7 % 360), ACT, X, Y, LOGLAST));
      } else if (CL_PARSELOG(D, L)) {
        LOGLAST = L.LAST;
      }
    }
  }
};

TEST(Replay, RecordedMatchReplaysLineForLineAndPacketForPacket) {
  TSCRATCH DIR;
  DIR.WRITEMAP("yard", "446202\nAAAAAAAAAA\nA@ 1 @  A\nA 5  8 6A\nA@  9  @A\nAAAAAAAAAA\n");
  const std::string REC = DIR.PATH() + "/match.rec";
  const std::string LOG = DIR.PATH() + "/events.jsonl";
  TPROCESS S({SERVER, "-port", "0", "-map", "yard", "-bots", "3", "-http", "127.0.0.1:0", "-record",
              REC, "-log", LOG},
             DIR.PATH(), true);
  std::vector<std::string> LIVE(4); // the port, two server lines, the HTTP line
  for (std::string& L : LIVE) {
    ASSERT_TRUE(S.READLINE(L));
  }
  uint16_t PORT = uint16_t(PORTOFLINE(LIVE[0]));
  ASSERT_GT(PORT, 0);

  TPLAYER A, B;
  A.SOCK.SENDTO(PORT, CL_CONNECT("Ann", 0));
  B.SOCK.SENDTO(PORT, CL_CONNECT("Bob", 1));
  // A status query: its challenge cookie comes from the seed drawn at
  // start, which the replay must use too.
  TPLAYER Q;
  std::string D;
  Q.SOCK.SENDTO(PORT, std::string("\x78\0\0\0\0", 5));
  ASSERT_TRUE(Q.SOCK.RECV(D));
  Q.GOT.push_back(D);
  Q.SOCK.SENDTO(PORT, "\x78" + D.substr(1));
  ASSERT_TRUE(Q.SOCK.RECV(D));
  Q.GOT.push_back(D);
  for (int ROUND = 0; ROUND < 150; ROUND++) {
    A.DRAIN(PORT);
    B.DRAIN(PORT);
    if (ROUND == 40) {
      B.SOCK.SENDTO(PORT, CL_CHAT("gg \xe9"));
      ASSERT_TRUE(S.WRITEIN("say warm-up is over\nstatus\nkick 3\n"));
      // logrotate: the log moves away, SIGHUP, and a new file takes the rest.
      ASSERT_EQ(std::rename(LOG.c_str(), (LOG + ".1").c_str()), 0);
      kill(S.PID(), SIGHUP);
    }
    if (ROUND == 100) {
      A.SOCK.SENDTO(PORT, CL_CHAT("after the rotation"));
    }
    usleep(10000);
  }
  ASSERT_TRUE(S.WRITEIN("quit\n"));
  EXPECT_EQ(S.WAIT(5000), 0);
  for (const std::string& L : ALLLINES(S)) {
    LIVE.push_back(L);
  }
  A.DRAIN(PORT);
  B.DRAIN(PORT);
  ASSERT_GT(LIVE.size(), 8u);
  for (const std::string& F : {LOG + ".1", LOG}) {
    std::ifstream IN(F);
    std::string FIRST;
    EXPECT_TRUE(std::getline(IN, FIRST) && FIRST.find("\"kind\":") != std::string::npos) << F;
  }

  // The console, line for line.
  TPROCESS R({REPLAY, REC});
  EXPECT_EQ(ALLLINES(R), LIVE);
  EXPECT_EQ(R.WAIT(), 0);
  EXPECT_EQ(R.ERRTEXT(), "");

  // The datagrams to each client, in order, as it received them.
  TPROCESS P({REPLAY, "--packets", REC});
  std::map<uint16_t, std::vector<std::string>> SENT;
  for (const std::string& L : ALLLINES(P)) {
    if (L.rfind("-> 127.0.0.1:", 0) == 0) {
      size_t SP = L.find(' ', 3);
      SENT[uint16_t(std::stoi(L.substr(13, SP - 13)))].push_back(L.substr(SP + 1));
    }
  }
  EXPECT_EQ(P.WAIT(), 0);
  for (TPLAYER* C : {&A, &B, &Q}) {
    std::vector<std::string> GOT;
    for (const std::string& P : C->GOT) {
      GOT.push_back(HEXOF(P));
    }
    EXPECT_GT(GOT.size(), C == &Q ? 1u : 50u);
    EXPECT_EQ(SENT[C->SOCK.PORT()], GOT);
  }

  // A recording cut inside a cycle replays up to the last whole one and says
  // so; one of another format version is refused.
  std::ifstream IN(REC, std::ios::binary);
  std::string ALL((std::istreambuf_iterator<char>(IN)), std::istreambuf_iterator<char>());
  std::ofstream(REC, std::ios::binary | std::ios::trunc) << ALL.substr(0, ALL.size() - 1);
  TPROCESS CUT({REPLAY, REC});
  std::vector<std::string> CUTLINES = ALLLINES(CUT);
  EXPECT_EQ(CUT.WAIT(), 1);
  EXPECT_NE(CUT.ERRTEXT().find("cut short"), std::string::npos) << CUT.ERRTEXT();
  EXPECT_EQ(CUTLINES, std::vector<std::string>(LIVE.begin(), LIVE.begin() + CUTLINES.size()));
  std::ofstream(REC, std::ios::binary | std::ios::trunc) << "brastok-record 2\n";
  TPROCESS OLD({REPLAY, REC});
  EXPECT_EQ(OLD.WAIT(), 1);
  EXPECT_NE(OLD.ERRTEXT().find("format version 2"), std::string::npos) << OLD.ERRTEXT();
}
