// A match recorded with -record and run again by brastok_replay: the same
// console lines, and the same datagrams to the same addresses.
#include <gtest/gtest.h>

#include <csignal>
#include <fstream>
#include <map>
#include <memory>

#include "clientproto.hpp"
#include "process.hpp"
#include "server/state.hpp"
#include "support/testpaths.hpp"
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
  explicit TPLAYER(const std::string& ADDR = "127.0.0.1") : SOCK(ADDR, 0) {}
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

// A burst deeper than the server takes with one system call arrives while it
// sleeps: 30 connects from 30 addresses, then a chat line from each. They
// are handled in the order they came (the slots go out in that order, the
// chat lines are logged in it, the last 6 connects find the server full),
// and the datagrams every client received, state packets of 24 players in a
// tick included, are byte for byte those the replay sends one by one.
TEST(Replay, ABurstOfManyBatchesKeepsItsOrderAndReplaysByteForByte) {
  TSCRATCH DIR;
  const std::string REC = DIR.PATH() + "/burst.rec";
  TPROCESS S({SERVER, "-port", "0", "-record", REC}, DIR.PATH(), true);
  std::vector<std::string> LIVE(3); // the port and two server lines
  for (std::string& L : LIVE) {
    ASSERT_TRUE(S.READLINE(L));
  }
  uint16_t PORT = uint16_t(PORTOFLINE(LIVE[0]));
  ASSERT_GT(PORT, 0);
  constexpr int N = 30;
  std::vector<std::unique_ptr<TPLAYER>> PS;
  for (int K = 1; K <= N; K++) {
    PS.push_back(std::make_unique<TPLAYER>("127.0.0." + std::to_string(K + 1)));
    ASSERT_TRUE(PS.back()->SOCK.OK());
  }
  auto NAME = [](int K) { return std::string(K < 10 ? "p0" : "p") + std::to_string(K); };
  for (int K = 1; K <= N; K++) {
    PS[size_t(K - 1)]->SOCK.SENDTO(PORT, CL_CONNECT(NAME(K), 0));
  }
  for (int K = 1; K <= N; K++) {
    PS[size_t(K - 1)]->SOCK.SENDTO(PORT, CL_CHAT("hello from " + NAME(K)));
  }
  for (int ROUND = 0; ROUND < 60; ROUND++) {
    for (auto& P : PS) {
      P->DRAIN(PORT);
    }
    usleep(10000);
  }
  ASSERT_TRUE(S.WRITEIN("quit\n"));
  EXPECT_EQ(S.WAIT(5000), 0);
  for (const std::string& L : ALLLINES(S)) {
    LIVE.push_back(L);
  }
  for (auto& P : PS) {
    P->DRAIN(PORT);
  }

  std::vector<std::string> WANT, GOT;
  for (int K = 1; K <= MAXCLIENTS; K++) {
    WANT.push_back(NAME(K) + " connected!");
  }
  for (int K = 1; K <= MAXCLIENTS; K++) {
    WANT.push_back(NAME(K) + ": hello from " + NAME(K));
  }
  for (const std::string& L : LIVE) {
    if (L.rfind("p", 0) == 0) {
      GOT.push_back(L);
    }
  }
  ASSERT_GE(GOT.size(), WANT.size());
  EXPECT_EQ(std::vector<std::string>(GOT.begin(), GOT.begin() + long(WANT.size())), WANT);
  for (int K = 1; K <= N; K++) {
    const TPLAYER& P = *PS[size_t(K - 1)];
    ASSERT_FALSE(P.GOT.empty()) << NAME(K);
    if (K <= MAXCLIENTS) {
      EXPECT_EQ(P.SELF, K) << NAME(K);
      EXPECT_GT(P.GOT.size(), 15u) << NAME(K);
    } else {
      EXPECT_EQ(P.GOT, std::vector<std::string>{std::string(1, char(CLMPMSG_SVFULL))}) << NAME(K);
    }
  }

  TPROCESS R({REPLAY, REC});
  EXPECT_EQ(ALLLINES(R), LIVE);
  EXPECT_EQ(R.WAIT(), 0);
  EXPECT_EQ(R.ERRTEXT(), "");
  TPROCESS P({REPLAY, "--packets", REC});
  std::map<std::string, std::vector<std::string>> SENT;
  for (const std::string& L : ALLLINES(P)) {
    if (L.rfind("-> ", 0) == 0) {
      size_t SP = L.find(' ', 3);
      SENT[L.substr(3, SP - 3)].push_back(L.substr(SP + 1));
    }
  }
  EXPECT_EQ(P.WAIT(), 0);
  for (int K = 1; K <= N; K++) {
    const TPLAYER& C = *PS[size_t(K - 1)];
    std::vector<std::string> HEX;
    for (const std::string& D : C.GOT) {
      HEX.push_back(HEXOF(D));
    }
    EXPECT_EQ(SENT["127.0.0." + std::to_string(K + 1) + ":" + std::to_string(C.SOCK.PORT())], HEX)
        << NAME(K);
  }
}
