// The slotless status query: challenge, answer, cookies bound to the sender,
// the rate limit, a full server.
#include "query/query.hpp"
#include "support/testserver.hpp"

class QueryTest : public TServerTest {
protected:
  static std::string QUERYBYTES(uint32_t COOKIE) {
    return BYTES({120, int(COOKIE & 255), int(COOKIE >> 8 & 255), int(COOKIE >> 16 & 255),
                  int(COOKIE >> 24)});
  }
  // Sends one query, runs a cycle, and returns what came back to the sender.
  std::vector<std::string> QUERY(const std::string& IP, uint16_t PORT, uint32_t COOKIE) {
    SEND(IP, PORT, QUERYBYTES(COOKIE));
    CYCLE();
    return TAKE(IP, PORT);
  }
  // The cookie of a challenge.
  static uint32_t COOKIEOF(const std::string& D) {
    EXPECT_EQ(D.size(), 5u);
    EXPECT_EQ(uint8_t(D[0]), CLMPMSG_QCHAL);
    uint32_t C = 0;
    for (int K = 4; K >= 1; K--) {
      C = C << 8 | uint8_t(D[size_t(K)]);
    }
    return C;
  }
  // The cookie the server hands IP:PORT now.
  uint32_t CHALLENGE(const std::string& IP, uint16_t PORT) {
    std::vector<std::string> R = QUERY(IP, PORT, 0);
    EXPECT_EQ(R.size(), 1u);
    return R.empty() ? 0 : COOKIEOF(R[0]);
  }
  static std::string STR(const std::string& S) { return char(S.size()) + S; }
};

TEST_F(QueryTest, ChallengeThenTheAnswerWithoutASlotOrALine) {
  START({"-name", "Arena", "-teams", "1", "-bots", "2", "-maxplayers", "6", "-score", "9"});
  uint8_t ALEX = JOIN("10.0.0.1", 1000, "Alex");
  CYCLE(3); // both bots in, and playing
  SV_CLIENTSLIST[ALEX].SCORE = 4;
  size_t LOGGED = LINES.size();
  TAKE("10.0.0.1", 1000);

  uint32_t COOKIE = CHALLENGE("10.0.0.9", 7000);
  EXPECT_NE(COOKIE, 0u);
  // The answer shows the state as the last cycle left it.
  uint16_t TICK = SV_PINGVAR;
  uint8_t PING = SV_CLIENTSLIST[ALEX].PING;
  SEND("10.0.0.9", 7000, QUERYBYTES(COOKIE));
  CYCLE();
  std::vector<std::string> R = MEMNET_SENTTO("10.0.0.9", 7000);
  ASSERT_EQ(R.size(), 1u);
  std::string WANT = BYTES({122, 1, 29}) + STR("Arena") + STR(SV_VERSION) + STR("DefMap") +
                     BYTES({1, 9, 6, 1, 2, 1, 2, 0, TICK & 255, TICK >> 8, 3}) + BYTES({1}) +
                     STR("[SS]Alex") + BYTES({0, 4, PING, 6}) +             // in the game, alive
                     BYTES({2}) + STR("[SS]BOT #1") + BYTES({0, 0, 1, 7}) + // a bot too
                     BYTES({3}) + STR("[MU]BOT #2") + BYTES({1, 0, 1, 7});
  EXPECT_EQ(R[0], WANT);
  // Nobody else heard of it: no line, no slot, no packet but the state packet.
  EXPECT_EQ(LINES.size(), LOGGED);
  EXPECT_EQ(SV_CURCLIENTS, 3);
  EXPECT_EQ(MEMNET_OUT.size(), 2u);
}

TEST_F(QueryTest, OnlyTheCookiesOwnerGetsTheAnswer) {
  START();
  CONNECT("10.0.0.1", 1000);
  uint32_t COOKIE = CHALLENGE("10.0.0.9", 7000);
  struct {
    std::string IP;
    uint16_t PORT;
    std::string DATA;
    int64_t LATER;  // milliseconds on the clock first
    uint8_t ANSWER; // 0: none
  } CASES[] = {
      {"10.0.0.9", 7001, QUERYBYTES(COOKIE), 0, CLMPMSG_QCHAL},  // another port
      {"10.0.0.8", 7000, QUERYBYTES(COOKIE), 0, CLMPMSG_QCHAL},  // another address
      {"10.0.0.9", 7000, QUERYBYTES(COOKIE).substr(0, 4), 0, 0}, // too short
      {"10.0.0.9", 7000, QUERYBYTES(COOKIE) + std::string(50, 'x'), 0, CLMPMSG_QINFO},
      {"10.0.0.9", 7000, QUERYBYTES(COOKIE), 300000, CLMPMSG_QINFO}, // the next period
      {"10.0.0.9", 7000, QUERYBYTES(COOKIE), 300000, CLMPMSG_QCHAL}, // two periods on
  };
  for (const auto& C : CASES) {
    SCOPED_TRACE(C.IP + ":" + std::to_string(C.PORT) + " +" + std::to_string(C.LATER));
    SV_NOWMS += C.LATER;
    SEND(C.IP, C.PORT, C.DATA);
    CYCLE();
    std::vector<std::string> R = TAKE(C.IP, C.PORT);
    ASSERT_EQ(R.size(), C.ANSWER == 0 ? 0u : 1u);
    if (C.ANSWER == CLMPMSG_QCHAL) {
      EXPECT_NE(COOKIEOF(R[0]), COOKIE); // never larger than the query
    } else if (C.ANSWER != 0) {
      EXPECT_EQ(uint8_t(R[0][0]), C.ANSWER);
    }
  }
  EXPECT_EQ(SV_CURCLIENTS, 1);
}

TEST_F(QueryTest, TenQueriesASecondPerAddress) {
  START();
  CONNECT("10.0.0.1", 1000);
  for (int K = 0; K < 12; K++) {
    SEND("10.0.0.9", uint16_t(7000 + K), QUERYBYTES(0));
  }
  SEND("10.0.0.8", 7000, QUERYBYTES(0)); // another address is not held back
  SV_NOWMS = 5000;
  CYCLE();
  int ANSWERED = 0;
  for (int K = 0; K < 12; K++) {
    ANSWERED += int(MEMNET_SENTTO("10.0.0.9", uint16_t(7000 + K)).size());
  }
  EXPECT_EQ(ANSWERED, 10);
  EXPECT_EQ(MEMNET_SENTTO("10.0.0.8", 7000).size(), 1u);
  MEMNET_OUT.clear();
  SV_NOWMS = 5999;
  EXPECT_TRUE(QUERY("10.0.0.9", 7000, 0).empty());
  SV_NOWMS = 6000; // a second after the first ten
  EXPECT_EQ(QUERY("10.0.0.9", 7000, 0).size(), 1u);
}

TEST_F(QueryTest, AFullServerAnswersInOneDatagram) {
  START({"-bots", "24", "-teams", "1", "-name", std::string(300, 'N')});
  CONNECT("10.0.0.1", 1000, std::string(30, 'a'));
  CYCLE(30);
  ASSERT_EQ(SV_CURCLIENTS, 24);
  SEND("10.0.0.2", 1000, CL_CONNECT("Bob", 0));
  CYCLE();
  EXPECT_EQ(TAKE("10.0.0.2", 1000), (std::vector<std::string>{BYTES({CLMPMSG_SVFULL})}));
  std::vector<std::string> R = QUERY("10.0.0.9", 7000, CHALLENGE("10.0.0.9", 7000));
  ASSERT_EQ(R.size(), 1u);
  EXPECT_LE(R[0].size(), QRY_MAXANSWER);
  EXPECT_EQ(R[0].substr(3, 64), STR(std::string(63, 'N')));
  size_t SLOTS = 3 + 64 + 6 + 7 + 8 + 2; // the fields before N
  EXPECT_EQ(uint8_t(R[0][SLOTS]), 24);
  EXPECT_EQ(R[0].substr(SLOTS + 1, 22), BYTES({1}) + STR("[SS]" + std::string(16, 'a')));
}

// A slot's holder that asks for the status, and sends nothing else, is
// still heard from: it does not time out, and is still sent its packets.
TEST_F(QueryTest, AQueryFromASlotHolderKeepsItsSlot) {
  START();
  uint8_t A = CONNECT("10.0.0.1", 1000);
  int ANSWERS = 0;
  for (int T = 0; T < PLAYERTTL + 45; T++) {
    SEND("10.0.0.1", 1000, QUERYBYTES(0));
    CYCLE();
    for (const std::string& D : TAKE("10.0.0.1", 1000)) {
      ANSWERS += uint8_t(D[0]) == CLMPMSG_QCHAL ? 1 : 0;
    }
  }
  EXPECT_TRUE(SV_CLIENTSLIST[A].EXIST);
  EXPECT_TRUE(SV_CLIENTSLIST[A].HEARD);
  EXPECT_GT(ANSWERS, 0);
  CYCLE();
  EXPECT_EQ(LASTSTATE("10.0.0.1", 1000).SELF, A);
}
