// Client messages: connect, data, chat and disconnect as bytes on the wire,
// the three replies, the data-message budget, the chat cool-down, the
// acknowledgement of log lines and the receive loop under floods.
#include <algorithm>

#include "clients/clients.hpp"
#include "net/net.hpp"
#include "support/testserver.hpp"

class InputTest : public TServerTest {};

TEST_F(InputTest, ConnectMessageAndWhatFollowsInTheSameCycle) {
  START();
  // Alex wants team 1.
  SEND("10.0.0.1", 1000, BYTES({102, 29, 4, 65, 108, 101, 120, 1}));
  CYCLE();
  const TCLIENT& C = SV_CLIENTSLIST[1];
  ASSERT_TRUE(C.EXIST);
  EXPECT_EQ(C.NAME, "Alex");
  EXPECT_EQ(C.TEAM, 1);
  EXPECT_FALSE(C.PLAY);
  EXPECT_EQ(LINES.back(), "Alex connected!");
  EXPECT_EQ(SV_LOG[0], BYTES({1, 1, 1, 65, 108, 101, 120}));
  // No reply; the two lines it is owed, then its first state packet.
  std::vector<std::string> SENT = TAKE("10.0.0.1", 1000);
  ASSERT_EQ(SENT.size(), 2u);
  CL_LOG L;
  ASSERT_TRUE(CL_PARSELOG(SENT[0], L));
  EXPECT_EQ(L.LAST, 3);
  ASSERT_EQ(L.LINES.size(), 2u);
  EXPECT_EQ(L.LINES[0], "\x0aPlayerlimit: 10, scorelimit: 20, teamplay: no");
  EXPECT_EQ(L.LINES[1], SV_LOG[0]);
  CL_STATE ST;
  ASSERT_TRUE(CL_PARSESTATE(SENT[1], ST));
  EXPECT_EQ(ST.SELF, 1);
  ASSERT_EQ(ST.PLAYERS.size(), 1u);
  EXPECT_EQ(ST.PLAYERS[0].STATE, PS_SPEC);
  EXPECT_EQ(ST.HITS, 100);
  EXPECT_EQ(ST.ARMOR, 25);
  EXPECT_EQ(ST.AMMO1, 25);
  EXPECT_EQ(ST.GUN, 2);
}

TEST_F(InputTest, DataMessageFields) {
  START();
  CONNECT("10.0.0.1", 1000);
  for (int I = 0; I < 4; I++) {
    SV_ADDMSG(SV_LOGLINE({LOGMESSID_SMSG, 'x'}));
  }
  ASSERT_EQ(SV_LOGI, 7);
  // Echo 1000, facing 270, fire, move to (110, 200), acknowledge line 7.
  SEND("10.0.0.1", 1000, BYTES({104, 232, 3, 14, 1, 10, 110, 0, 200, 0, 7, 0}));
  CYCLE();
  const TCLIENT& C = SV_CLIENTSLIST[1];
  EXPECT_EQ(C.PVAR, 1000);
  EXPECT_EQ(C.DIR, 270);
  EXPECT_EQ(C.ACT, PLACT_AR);
  EXPECT_EQ(C.MX, 110);
  EXPECT_EQ(C.MY, 200);
  EXPECT_EQ(C.LOGI, 7);
  // A spectator's fire does nothing.
  EXPECT_EQ(C.AMMO[1], 25);
  // A short message reads its missing fields as 0.
  SEND("10.0.0.1", 1000, BYTES({104, 5}));
  CYCLE();
  EXPECT_EQ(C.PVAR, 5);
  EXPECT_EQ(C.DIR, 0);
  EXPECT_EQ(C.MX, 0);
  EXPECT_EQ(C.LOGI, 7); // 0 is an old acknowledgement
}

TEST_F(InputTest, RepliesToTrouble) {
  START();
  struct {
    const char* WHAT;
    std::string IN;
    std::string REPLY;
  } CASES[] = {
      {"wrong version", BYTES({102, 28, 1, 65, 0}), BYTES({112, 29})},
      {"data without a slot", CL_DATA(1, 2, 3, 4, 5, 6), BYTES({111})},
      {"chat without a slot", CL_CHAT("hi"), ""},
      {"disconnect without a slot", CL_DISCONNECT(), ""},
      {"unknown id", BYTES({107, 1, 2}), ""},
  };
  uint16_t PORT = 1;
  for (auto& T : CASES) {
    SEND("10.0.0.1", PORT, T.IN);
    CYCLE();
    std::vector<std::string> SENT = TAKE("10.0.0.1", PORT);
    EXPECT_EQ(SENT,
              T.REPLY.empty() ? std::vector<std::string>{} : std::vector<std::string>{T.REPLY})
        << T.WHAT;
    EXPECT_EQ(SV_CURCLIENTS, 0) << T.WHAT;
    PORT++;
  }
  EXPECT_EQ(SV_LOGI, 2);
  // Two bytes are a whole connect: an empty name on team 0.
  SEND("10.0.0.1", PORT, BYTES({102, 29}));
  CYCLE();
  EXPECT_TRUE(SV_CLIENTSLIST[1].EXIST);
  EXPECT_EQ(SV_CLIENTSLIST[1].NAME, "");
  EXPECT_EQ(SV_CLIENTSLIST[1].TEAM, 0);
}

TEST_F(InputTest, SecondConnectChangesNothing) {
  START();
  CONNECT("10.0.0.1", 1000, "Ann", 1);
  TAKE("10.0.0.1", 1000);
  uint16_t LOGI = SV_LOGI;
  SEND("10.0.0.1", 1000, CL_CONNECT("Bob", 2));
  SEND("10.0.0.1", 1000, CL_CONNECT("Bob", 2, 28));
  CYCLE();
  EXPECT_EQ(SV_CURCLIENTS, 1);
  EXPECT_EQ(SV_CLIENTSLIST[1].NAME, "Ann");
  EXPECT_EQ(SV_CLIENTSLIST[1].TEAM, 1);
  EXPECT_EQ(SV_LOGI, LOGI);
  for (const std::string& D : TAKE("10.0.0.1", 1000)) {
    EXPECT_EQ(uint8_t(D[0]), CLMPMSG_SHAP); // no reply of any kind
  }
}

TEST_F(InputTest, NamesAndTeams) {
  START();
  const std::string LONG = "abcdefghijklmnopqrstuvwxyz0123"; // 30 characters
  struct {
    std::string NAME;
    uint8_t TEAM;
    uint8_t TEAMPLAY;
    std::string WNAME;
    uint8_t WTEAM;
  } CASES[] = {
      {"Alex", 6, 0, "Alex", 2},
      {"Alex", 1, 1, "[MU]Alex", 1},
      {"Alex", 6, 7, "[SO]Alex", 2},
      {"Alex", 255, 1, "[OF]Alex", 3},
      {LONG, 0, 0, LONG.substr(0, 20), 0},
      {LONG, 4, 1, "[SS]" + LONG.substr(0, 16), 0},
      {std::string("a\0\xff", 3), 0, 0, std::string("a\0\xff", 3), 0},
  };
  uint16_t PORT = 1;
  for (auto& T : CASES) {
    SV_TEAMPLAY = T.TEAMPLAY;
    SEND("10.0.0.1", PORT, CL_CONNECT(T.NAME, T.TEAM));
    CYCLE();
    uint8_t S = PLAYER_A2I("10.0.0.1", PORT);
    ASSERT_NE(S, 0);
    EXPECT_EQ(SV_CLIENTSLIST[S].NAME, T.WNAME);
    EXPECT_EQ(SV_CLIENTSLIST[S].TEAM, T.WTEAM);
    // The connect line carries the team and the stored name.
    EXPECT_EQ(SV_LOG[0], SV_LOGLINE({LOGMESSID_CCON, S, T.WTEAM}) + T.WNAME);
    PORT++;
  }
}

TEST_F(InputTest, Acknowledgements) {
  START();
  CONNECT("10.0.0.1", 1000);
  TCLIENT& C = SV_CLIENTSLIST[1];
  // LOGI, SV_LOGI, the acknowledgement, and the LOGI that follows.
  struct {
    uint16_t LOGI, SVLOGI, ACK, WANT;
  } CASES[] = {
      {10, 20, 15, 15},
      {10, 20, 20, 20},
      {10, 20, 10, 10},
      {10, 20, 9, 10},
      {10, 20, 21, 10},
      {10, 20, 0, 10},
      {10, 20, 65535, 10},
      {20, 20, 20, 20},
      {20, 20, 21, 20},
      // Across the wrap of the line numbers.
      {65533, 3, 65535, 65535},
      {65533, 3, 0, 0},
      {65533, 3, 3, 3},
      {65533, 3, 4, 65533},
      {65533, 3, 65532, 65533},
      {65533, 3, 30000, 65533},
      {65535, 0, 0, 0},
      {65535, 0, 1, 65535},
  };
  for (auto& T : CASES) {
    C.LOGI = T.LOGI;
    SV_LOGI = T.SVLOGI;
    C.T_SL = 100; // no log packet in between
    SEND("10.0.0.1", 1000, CL_DATA(0, 0, 0, 0, 0, T.ACK));
    CYCLE();
    EXPECT_EQ(C.LOGI, T.WANT) << T.LOGI << " " << T.SVLOGI << " " << T.ACK;
    EXPECT_TRUE(C.EXIST);
  }
}

TEST_F(InputTest, ChatCoolDown) {
  START();
  CONNECT("10.0.0.1", 1000, "Ann");
  CONNECT("10.0.0.2", 1000, "Bob");
  SEND("10.0.0.1", 1000, CL_CHAT("one"));
  CYCLE();
  EXPECT_EQ(LINES.back(), "Ann: one");
  EXPECT_EQ(SV_LOG[0], SV_LOGLINE({LOGMESSID_CHAT, 1}) + "one");
  // 59 ticks later: lost; 60 ticks after the first: logged.
  CYCLE(58);
  SEND("10.0.0.1", 1000, CL_CHAT("two"));
  SEND("10.0.0.2", 1000, CL_CHAT("mine"));
  CYCLE();
  EXPECT_EQ(LINES.back(), "Bob: mine"); // one client's cool-down is its own
  SEND("10.0.0.1", 1000, CL_CHAT("three"));
  CYCLE();
  EXPECT_EQ(LINES.back(), "Ann: three");
  EXPECT_EQ(std::count(LINES.begin(), LINES.end(), "Ann: two"), 0);
}

TEST_F(InputTest, LongChatIsCutToFitOneWireString) {
  START();
  CONNECT("10.0.0.1", 1000, "Ann");
  SEND("10.0.0.1", 1000, CL_DATA(0, 0, 0, 0, 0, SV_LOGI));
  CYCLE(20);
  const std::string TEXT(255, 'z');
  SEND("10.0.0.1", 1000, CL_CHAT(TEXT));
  TAKE("10.0.0.1", 1000);
  CYCLE();
  EXPECT_EQ(SV_LOG[0], SV_LOGLINE({LOGMESSID_CHAT, 1}) + TEXT.substr(0, 253));
  EXPECT_EQ(LINES.back(), "Ann: " + TEXT.substr(0, 253));
  // The whole line reaches the client: a string of 255 characters.
  std::vector<std::string> SENT = TAKE("10.0.0.1", 1000);
  ASSERT_EQ(SENT.size(), 2u);
  CL_LOG L;
  ASSERT_TRUE(CL_PARSELOG(SENT[0], L));
  ASSERT_EQ(L.LINES.size(), 1u);
  EXPECT_EQ(L.LINES[0], SV_LOG[0]);
  // 253 characters are kept whole.
  CYCLE(60);
  SEND("10.0.0.1", 1000, CL_CHAT(std::string(253, 'y')));
  CYCLE();
  EXPECT_EQ(SV_LOG[0].size(), 255u);
}

TEST_F(InputTest, DataMessageBudget) {
  START();
  CONNECT("10.0.0.1", 1000);
  const TCLIENT& C = SV_CLIENTSLIST[1];
  // 33 messages at connect: of 34 in one cycle, the last is ignored.
  ASSERT_NE(SV_PINGVAR % 33, 0);
  for (uint16_t I = 1; I <= 34; I++) {
    SEND("10.0.0.1", 1000, CL_DATA(0, I, 0, 0, 0, 0));
  }
  CYCLE();
  EXPECT_EQ(C.DIR, 33);
  // Nothing is taken until the tick counter reaches a multiple of 33; from
  // the next tick on 35 messages are.
  while (SV_PINGVAR % 33 != 0) {
    uint16_t BEFORE = C.DIR;
    SEND("10.0.0.1", 1000, CL_DATA(0, uint16_t(1000 + SV_PINGVAR), 0, 0, 0, 0));
    CYCLE();
    EXPECT_EQ(C.DIR, BEFORE) << SV_PINGVAR;
  }
  EXPECT_EQ(C.T_MMSGS, 35);
  for (uint16_t I = 1; I <= 36; I++) {
    SEND("10.0.0.1", 1000, CL_DATA(0, I, 0, 0, 0, 0));
  }
  CYCLE();
  EXPECT_EQ(C.DIR, 35); // the 36th of the period is ignored
  // The refill sets the budget, whatever was left.
  SV_CLIENTSLIST[1].T_MMSGS = 20;
  CYCLE(33 - int(SV_PINGVAR % 33));
  EXPECT_EQ(C.T_MMSGS, 35);
}

// ---- the receive loop ----

TEST_F(InputTest, EmptyFailedAndOversizedDatagramsAreSkipped) {
  START();
  for (int I = 0; I < 600; I++) {
    SEND("10.0.0.9", uint16_t(I), "");
  }
  SEND("10.0.0.9", 1, std::string(5001, char(SVMPMSG_CDAT)));
  SEND("10.0.0.1", 1000, CL_CONNECT("Ann", 0));
  CYCLE();
  EXPECT_TRUE(SV_CLIENTSLIST[1].EXIST); // handled in the same cycle
  EXPECT_TRUE(MEMNET_IN.empty());
  EXPECT_TRUE(MEMNET_SENTTO("10.0.0.9", 1).empty()); // the oversized one was dropped
  MEMNET_FAILS = 50;
  SEND("10.0.0.2", 1000, CL_CONNECT("Bob", 0));
  CYCLE();
  EXPECT_TRUE(SV_CLIENTSLIST[2].EXIST);
  EXPECT_EQ(MEMNET_FAILS, 0);
  // A datagram of the buffer's full size is an ordinary one.
  std::string FULL = CL_DATA(0, 0, 0, 0, 0, 0);
  FULL.resize(5000, '\x01');
  SEND("10.0.0.9", 2, FULL);
  CYCLE();
  EXPECT_EQ(MEMNET_SENTTO("10.0.0.9", 2), std::vector<std::string>{BYTES({CLMPMSG_NOCON})});
}

TEST_F(InputTest, AtMost1024DatagramsPerCycle) {
  START();
  for (int I = 0; I < 1100; I++) {
    SEND("10.0.0.9", uint16_t(I), CL_DATA(0, 0, 0, 0, 0, 0));
  }
  CYCLE();
  EXPECT_EQ(MEMNET_OUT.size(), 1024u);
  EXPECT_EQ(MEMNET_IN.size(), 76u);
  MEMNET_OUT.clear();
  CYCLE();
  ASSERT_EQ(MEMNET_OUT.size(), 76u);
  EXPECT_EQ(MEMNET_OUT.back().PORT, 1099);
  // Empty and failed datagrams count too: a flood of them cannot hold the
  // tick either.
  MEMNET_FAILS = 24;
  for (int I = 0; I < 1000; I++) {
    SEND("10.0.0.9", uint16_t(I), "");
  }
  SEND("10.0.0.1", 1000, CL_CONNECT("Ann", 0));
  CYCLE();
  EXPECT_FALSE(SV_CLIENTSLIST[1].EXIST);
  CYCLE();
  EXPECT_TRUE(SV_CLIENTSLIST[1].EXIST);
}
