// Client slots: claiming the lowest free slot, finding a client by address
// and port, the counters, the time-out and the removal of everybody.
#include "clients/clients.hpp"
#include "support/testserver.hpp"

class SlotsTest : public TServerTest {
protected:
  // The console lines printed since the last call.
  std::vector<std::string> NEWLINES() {
    std::vector<std::string> R(LINES.begin() + long(SEEN), LINES.end());
    SEEN = LINES.size();
    return R;
  }
  size_t SEEN = 0;
};

TEST_F(SlotsTest, LowestFreeSlotByAddressAndPort) {
  START();
  // One host, four ports: four clients.
  for (uint16_t P = 1; P <= 4; P++) {
    EXPECT_EQ(CONNECT("10.0.0.1", P), P);
  }
  SEND("10.0.0.1", 3, CL_DISCONNECT());
  CYCLE();
  EXPECT_EQ(CONNECT("10.0.0.2", 1), 3);
  SEND("10.0.0.1", 2, CL_DISCONNECT());
  CYCLE();
  EXPECT_EQ(CONNECT("10.0.0.3", 1), 2);
  EXPECT_EQ(SV_CURCLIENTS, 4);
  // A datagram is matched by address and port together.
  EXPECT_EQ(PLAYER_A2I("10.0.0.1", 4), 4);
  EXPECT_EQ(PLAYER_A2I("10.0.0.1", 5), 0);
  EXPECT_EQ(PLAYER_A2I("10.0.0.2", 4), 0);
  EXPECT_EQ(PLAYER_A2I("10.0.0.10", 1), 0);
  TAKE("10.0.0.1", 5);
  SEND("10.0.0.1", 5, CL_DATA(0, 0, 0, 0, 0, 0));
  CYCLE();
  EXPECT_EQ(TAKE("10.0.0.1", 5), std::vector<std::string>{BYTES({CLMPMSG_NOCON})});
}

TEST_F(SlotsTest, FullWhateverHoldsTheSlots) {
  START({"-bots", "4"});
  // Twenty humans; the bots come one per tick while a human is there.
  for (int I = 1; I <= 20; I++) {
    ASSERT_NE(CONNECT("10.0.1." + std::to_string(I), 1000), 0) << I;
  }
  EXPECT_EQ(SV_CURCLIENTS, 24);
  EXPECT_EQ(SV_BOTC, 4);
  MEMNET_OUT.clear();
  SEND("10.0.2.1", 1000, CL_CONNECT("Late", 0));
  CYCLE();
  EXPECT_EQ(TAKE("10.0.2.1", 1000), std::vector<std::string>{BYTES({CLMPMSG_SVFULL})});
  EXPECT_EQ(PLAYER_A2I("10.0.2.1", 1000), 0);
  // One leaves; the next connect takes the freed slot.
  uint8_t GONE = PLAYER_A2I("10.0.1.7", 1000);
  SEND("10.0.1.7", 1000, CL_DISCONNECT());
  SEND("10.0.2.1", 1000, CL_CONNECT("Late", 0));
  CYCLE();
  EXPECT_EQ(PLAYER_A2I("10.0.2.1", 1000), GONE);
  EXPECT_EQ(SV_CLIENTSLIST[GONE].NAME, "Late");
  EXPECT_EQ(SV_CURCLIENTS, 24);
}

TEST_F(SlotsTest, LogLineOfTheNewClient) {
  START();
  for (int I = 0; I < 3; I++) {
    SV_ADDMSG(SV_LOGLINE({LOGMESSID_SMSG, 'x'}));
  }
  ASSERT_EQ(SV_LOGI, 5);
  SEND("10.0.0.1", 1000, CL_CONNECT("Alex", 0));
  GAMECYCLE();
  EXPECT_EQ(SV_LOGI, 6);
  // The last line before it came and its own connect line are owed: the
  // first log packet carries lines 5 and 6, and its LOGI started at 4.
  std::vector<std::string> SENT = TAKE("10.0.0.1", 1000);
  ASSERT_FALSE(SENT.empty());
  CL_LOG L;
  ASSERT_TRUE(CL_PARSELOG(SENT[0], L));
  EXPECT_EQ(L.LAST, 6);
  EXPECT_EQ(L.LINES.size(), 2u);
  // With the line counter at 0, a new slot's LOGI is 65535.
  SV_LOGI = 65535;
  SV_ADDMSG(SV_LOGLINE({LOGMESSID_SMSG, 'y'}));
  ASSERT_EQ(SV_LOGI, 0);
  uint8_t S = PLAYER_NEW("10.0.0.2", 1000);
  ASSERT_EQ(S, 2);
  EXPECT_EQ(SV_CLIENTSLIST[S].LOGI, 65535);
}

TEST_F(SlotsTest, TimeOutAfter255SilentTicks) {
  START();
  CONNECT("10.0.0.1", 1000, "Ann");
  CONNECT("10.0.0.2", 1000, "Bob");
  // Anything at all from the address and port restarts the count: data over
  // the budget, a chat line during its cool-down, an unknown id, a second
  // connect.
  const std::string KEEP[] = {CL_DATA(0, 0, 0, 0, 0, 0), CL_CHAT("again"), BYTES({200}),
                              CL_CONNECT("Ann", 0)};
  for (const std::string& D : KEEP) {
    CYCLE(199);
    if (D == CL_CHAT("again")) {
      SEND("10.0.0.1", 1000, CL_CHAT("hi"));
    }
    CYCLE();
    SV_CLIENTSLIST[1].T_MMSGS = 0;
    SEND("10.0.0.1", 1000, D);
    SEND("10.0.0.2", 1000, BYTES({200}));
    CYCLE();
    EXPECT_EQ(SV_CLIENTSLIST[1].T_TTL, 1);
    EXPECT_EQ(SV_CURCLIENTS, 2);
  }
  EXPECT_EQ(SV_LOGI, 5); // neither the second chat nor the connects were logged
  EXPECT_EQ(SV_CLIENTSLIST[2].NAME, "Bob");
  // Silent from here: still there after 253 more ticks, gone in the next,
  // with the time-out line and then the disconnect line.
  SEND("10.0.0.2", 1000, BYTES({200}));
  CYCLE(253);
  EXPECT_TRUE(SV_CLIENTSLIST[1].EXIST);
  NEWLINES();
  SEND("10.0.0.2", 1000, BYTES({200}));
  CYCLE();
  EXPECT_FALSE(SV_CLIENTSLIST[1].EXIST);
  EXPECT_TRUE(SV_CLIENTSLIST[2].EXIST);
  EXPECT_EQ(NEWLINES(), (std::vector<std::string>{"Ann time out!", "Ann disconnected!"}));
  EXPECT_EQ(SV_LOG[1], SV_LOGLINE({LOGMESSID_COUT, 1}));
  EXPECT_EQ(SV_LOG[0], SV_LOGLINE({LOGMESSID_CDCON, 1}));
  EXPECT_EQ(SV_CURCLIENTS, 1);
  // Its next data message is answered: connect again.
  MEMNET_OUT.clear();
  SEND("10.0.0.1", 1000, CL_DATA(0, 0, 0, 0, 0, 0));
  CYCLE();
  EXPECT_EQ(TAKE("10.0.0.1", 1000), std::vector<std::string>{BYTES({CLMPMSG_NOCON})});
}

TEST_F(SlotsTest, RemovalKeepsTheCountersInStep) {
  START({"-bots", "1"});
  JOIN("10.0.0.1", 1000, "Ann"); // slot 1, a player; the bot comes in slot 2
  CONNECT("10.0.0.2", 1000, "Bob");
  CONNECT("10.0.0.3", 1000, "Cid");
  ASSERT_TRUE(SV_CLIENTSLIST[2].BOT);
  EXPECT_EQ(SV_CURCLIENTS, 4);
  EXPECT_EQ(SV_BOTC, 1);
  uint8_t PLAYERS = SV_CURPLAYERS; // Ann, and the bot once it joined
  PLAYER_REMOVE(1);
  EXPECT_EQ(SV_CURCLIENTS, 3);
  EXPECT_EQ(SV_CURPLAYERS, PLAYERS - 1);
  PLAYER_REMOVE(1); // a free slot: nothing
  EXPECT_EQ(SV_CURCLIENTS, 3);
  NEWLINES();
  std::string BOTNAME = SV_CLIENTSLIST[2].NAME;
  SV_KICKALL();
  EXPECT_EQ(NEWLINES(), (std::vector<std::string>{BOTNAME + " disconnected!", "Bob disconnected!",
                                                  "Cid disconnected!"}));
  EXPECT_EQ(SV_CURCLIENTS, 0);
  EXPECT_EQ(SV_CURPLAYERS, 0);
  EXPECT_EQ(SV_BOTC, 0);
  for (int I = 1; I <= MAXCLIENTS; I++) {
    EXPECT_FALSE(SV_CLIENTSLIST[I].EXIST);
  }
  // On an empty server it does nothing at all.
  uint16_t LOGI = SV_LOGI;
  SV_KICKALL();
  EXPECT_EQ(SV_LOGI, LOGI);
}

TEST_F(SlotsTest, NewClientSeesNothingOfThePreviousOccupant) {
  START();
  CONNECT("10.0.0.1", 1000, "Ann");
  CYCLE(150);
  // Ann asks for the map, echoes a stale tick, faces somewhere and leaves.
  SEND("10.0.0.1", 1000, CL_DATA(3, 77, PLACT_MI, 4000, 4000, SV_LOGI));
  CYCLE();
  SEND("10.0.0.1", 1000, CL_DISCONNECT());
  CYCLE();
  ASSERT_FALSE(SV_CLIENTSLIST[1].EXIST);
  SEND("10.0.0.2", 1000, CL_CONNECT("Bob", 0));
  CYCLE();
  std::vector<std::string> SENT = TAKE("10.0.0.2", 1000);
  ASSERT_EQ(SENT.size(), 2u); // its log lines and its state: no map
  EXPECT_EQ(uint8_t(SENT[0][0]), CLMPMSG_LOGL);
  CL_STATE ST;
  ASSERT_TRUE(CL_PARSESTATE(SENT[1], ST));
  ASSERT_EQ(ST.PLAYERS.size(), 1u);
  EXPECT_EQ(ST.PLAYERS[0].SLOT, 1);
  EXPECT_EQ(ST.PLAYERS[0].PING, 1); // from its own connect, not a stranger's echo
  const TCLIENT& C = SV_CLIENTSLIST[1];
  EXPECT_EQ(C.DIR, 0);
  EXPECT_EQ(C.MX, 0);
  EXPECT_EQ(C.MY, 0);
  EXPECT_EQ(C.ACT, 0);
}
