// The standard query (A2S): the challenge, the three answers byte by byte,
// what is dropped, the shared rate limit, and an answer that must be cut to
// fit one datagram.
#include <cstring>

#include "query/query.hpp"
#include "support/testserver.hpp"

class A2sTest : public TServerTest {
protected:
  static std::string U32(uint32_t V) {
    return BYTES({int(V & 255), int(V >> 8 & 255), int(V >> 16 & 255), int(V >> 24)});
  }
  static std::string HEAD(char TYPE) { return "\xFF\xFF\xFF\xFF" + std::string(1, TYPE); }
  static std::string INFO() { return HEAD('T') + std::string("Source Engine Query", 20); }
  static std::string INFO(uint32_t C) { return INFO() + U32(C); }
  static std::string PLAYERS(uint32_t C) { return HEAD('U') + U32(C); }
  static std::string RULES(uint32_t C) { return HEAD('V') + U32(C); }
  std::vector<std::string> ASK(const std::string& IP, uint16_t PORT, const std::string& REQ) {
    SEND(IP, PORT, REQ);
    CYCLE();
    return TAKE(IP, PORT);
  }
  // The challenge in an S2C_CHALLENGE answer.
  static uint32_t CHALLENGEOF(const std::string& D) {
    EXPECT_EQ(D.size(), 9u);
    EXPECT_EQ(D.substr(0, 5), HEAD('A'));
    uint32_t C = 0;
    std::memcpy(&C, D.data() + 5, 4);
    return C;
  }
  uint32_t CHALLENGE(const std::string& IP, uint16_t PORT) {
    std::vector<std::string> R = ASK(IP, PORT, PLAYERS(0xFFFFFFFF));
    EXPECT_EQ(R.size(), 1u);
    return R.empty() ? 0 : CHALLENGEOF(R[0]);
  }
};

TEST_F(A2sTest, InfoPlayersAndRulesWithoutASlotOrALine) {
  START({"-name", "Caf\xE9 Arena", "-bots", "1", "-maxplayers", "6", "-score", "9"});
  // A Latin-1 name with a zero byte: UTF-8 on the wire, the zero shown as
  // U+FFFD so that it cannot end the string.
  uint8_t ALEX = JOIN("10.0.0.1", 1000, std::string("Al\0\xE9", 4)); // claimed at 30 ms
  CYCLE(3);                                                          // the bot comes
  SV_CLIENTSLIST[ALEX].SCORE = 4;
  SEND("10.0.0.2", 2000, CL_CONNECT("Sam", 0)); // a spectator
  CYCLE();
  SV_NOWMS = 61000;
  TAKE("10.0.0.1", 1000);
  size_t LOGGED = LINES.size();

  uint32_t C = CHALLENGE("10.0.0.9", 7000);
  std::vector<std::string> R = ASK("10.0.0.9", 7000, INFO(C));
  ASSERT_EQ(R.size(), 1u);
  std::string NAME = "Caf\xC3\xA9 Arena";
  EXPECT_EQ(R[0], HEAD('I') + BYTES({29}) + NAME + '\0' +
                      std::string("DefMap\0brastok\0Brastok\0", 23) +
                      BYTES({0, 0, 2, 6, 1, 'd', 'l', 0, 0}) + std::string("1.0.0\0", 6) +
                      BYTES({0x80, 0x74, 0x8B})); // port 35700

  R = ASK("10.0.0.9", 7000, PLAYERS(C));
  ASSERT_EQ(R.size(), 1u);
  const std::string& P = R[0];
  ASSERT_EQ(P.substr(0, 6), HEAD('D') + BYTES({3}));
  // Index, name, score (i32), seconds on the server (f32), in slot order.
  std::string ALEXNAME = std::string("Al\xEF\xBF\xBD\xC3\xA9", 7) + '\0';
  ASSERT_EQ(P.substr(6, 1 + ALEXNAME.size() + 4), BYTES({0}) + ALEXNAME + U32(4));
  // Seconds since the slot was claimed: Alex and the bot in the first cycle
  // (30 ms), Sam in the sixth (180 ms).
  auto SECONDSAT = [&](size_t AT) {
    float F;
    std::memcpy(&F, P.data() + AT, 4);
    return F;
  };
  size_t AT = 6 + 1 + ALEXNAME.size() + 4;
  EXPECT_EQ(SECONDSAT(AT), float(SV_NOWMS - 30) / 1000.0f);
  AT += 4;
  EXPECT_EQ(P.substr(AT, 1 + 7 + 4), BYTES({1}) + std::string("BOT #1\0", 7) + U32(0));
  EXPECT_EQ(SECONDSAT(AT + 12), float(SV_NOWMS - 30) / 1000.0f);
  AT += 16;
  EXPECT_EQ(P.substr(AT, 1 + 4 + 4), BYTES({2}) + std::string("Sam\0", 4) + U32(0));
  EXPECT_EQ(SECONDSAT(AT + 9), float(SV_NOWMS - 180) / 1000.0f);
  EXPECT_EQ(P.size(), AT + 13);

  R = ASK("10.0.0.9", 7000, RULES(C));
  ASSERT_EQ(R.size(), 1u);
  const char RULESWANT[] = "scorelimit\0"
                           "9\0"
                           "maxplayers\0"
                           "6\0"
                           "teamplay\0"
                           "0\0"
                           "bots\0"
                           "1\0"
                           "protocol\0"
                           "29";
  EXPECT_EQ(R[0], HEAD('E') + BYTES({5, 0}) + std::string(RULESWANT, sizeof RULESWANT));
  // Nobody else heard of it: no line, no slot.
  EXPECT_EQ(LINES.size(), LOGGED);
  EXPECT_EQ(SV_CURCLIENTS, 3);
}

TEST_F(A2sTest, OnlyAValidChallengeIsAnsweredAndAChallengeIsNeverLarger) {
  START();
  CONNECT("10.0.0.1", 1000);
  uint32_t C = CHALLENGE("10.0.0.9", 7000);
  std::string WRONGTEXT = INFO(C);
  WRONGTEXT[10] = 'x';
  struct {
    const char* WHAT;
    uint16_t PORT;
    std::string REQ;
    int64_t LATER; // milliseconds on the clock first
    char ANSWER;   // 'A': the challenge, 0: nothing
  } CASES[] = {
      {"info without a challenge", 7000, INFO(), 0, 'A'},
      {"info", 7000, INFO(C), 0, 'I'},
      {"info with more after it", 7000, INFO(C) + "junk", 0, 'I'},
      {"info, another port", 7001, INFO(C), 0, 'A'},
      {"info, a wrong challenge", 7000, INFO(C ^ 1), 0, 'A'},
      {"info, another text", 7000, WRONGTEXT, 0, 0},
      {"info, cut short", 7000, INFO().substr(0, 24), 0, 0},
      {"players asking for a challenge", 7000, PLAYERS(0xFFFFFFFF), 0, 'A'},
      {"players, a wrong challenge", 7000, PLAYERS(C + 1), 0, 'A'},
      {"players, cut short", 7000, PLAYERS(C).substr(0, 8), 0, 0},
      {"rules", 7000, RULES(C), 0, 'E'},
      {"the old challenge request", 7000, HEAD('W'), 0, 0},
      {"a ping", 7000, HEAD('i'), 0, 0},
      {"three 0xFF bytes are the game's", 7000, BYTES({255, 255, 255, 0x55}), 0, 0},
      {"players, the next period", 7000, PLAYERS(C), 300000, 'D'},
      {"players, two periods on", 7000, PLAYERS(C), 300000, 'A'},
  };
  for (const auto& K : CASES) {
    SCOPED_TRACE(K.WHAT);
    SV_NOWMS += K.LATER + 1000; // clear of the rate limit
    std::vector<std::string> R = ASK("10.0.0.9", K.PORT, K.REQ);
    ASSERT_EQ(R.size(), K.ANSWER == 0 ? 0u : 1u);
    if (K.ANSWER == 'A') {
      EXPECT_LE(R[0].size(), K.REQ.size());
      EXPECT_NE(CHALLENGEOF(R[0]), 0xFFFFFFFFu);
    } else if (K.ANSWER != 0) {
      EXPECT_EQ(R[0].substr(0, 5), HEAD(K.ANSWER));
    }
  }
  EXPECT_EQ(SV_CURCLIENTS, 1);
}

TEST_F(A2sTest, TenRequestsASecondPerAddressWithTheStatusQuery) {
  START();
  CONNECT("10.0.0.1", 1000);
  for (int K = 0; K < 6; K++) {
    SEND("10.0.0.9", uint16_t(7000 + K), INFO());
    SEND("10.0.0.9", uint16_t(8000 + K), BYTES({SVMPMSG_QUERY, 0, 0, 0, 0}));
  }
  SEND("10.0.0.8", 7000, INFO()); // another address is not held back
  SV_NOWMS = 5000;
  CYCLE();
  size_t ANSWERED = 0;
  for (int K = 0; K < 6; K++) {
    ANSWERED += MEMNET_SENTTO("10.0.0.9", uint16_t(7000 + K)).size() +
                MEMNET_SENTTO("10.0.0.9", uint16_t(8000 + K)).size();
  }
  EXPECT_EQ(ANSWERED, 10u);
  EXPECT_EQ(MEMNET_SENTTO("10.0.0.8", 7000).size(), 1u);
}

TEST_F(A2sTest, APlayerListTooLongForOneDatagramIsCut) {
  START();
  for (int K = 1; K <= MAXCLIENTS; K++) {
    // Twenty zero bytes: 60 bytes of U+FFFD each.
    CONNECT("10.0.1." + std::to_string(K), 1000, std::string(PLAYERMAXNAME, '\0'));
  }
  ASSERT_EQ(SV_CURCLIENTS, MAXCLIENTS);
  uint32_t C = CHALLENGE("10.0.0.9", 7000);
  std::vector<std::string> R = ASK("10.0.0.9", 7000, PLAYERS(C));
  ASSERT_EQ(R.size(), 1u);
  EXPECT_LE(R[0].size(), QRY_A2SMAX);
  EXPECT_EQ(uint8_t(R[0][5]), 19); // 6 + 19 * 70 bytes; a 20th would pass 1400
  EXPECT_EQ(R[0].size(), 6u + 19 * 70);
}
