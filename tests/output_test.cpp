// State broadcast: the state packet byte for byte, its entries, who receives
// it, the map-information packet and the delivery of log lines.
#include "bots/bots.hpp"
#include "clients/clients.hpp"
#include "game/game.hpp"
#include "maps/maps.hpp"
#include "support/testserver.hpp"

class OutputTest : public TServerTest {
protected:
  // The datagrams of one kind sent to IP:PORT since the last TAKE.
  std::vector<std::string> OFKIND(const std::vector<std::string>& SENT, uint8_t ID) {
    std::vector<std::string> R;
    for (const std::string& D : SENT) {
      if (!D.empty() && uint8_t(D[0]) == ID) {
        R.push_back(D);
      }
    }
    return R;
  }
  // A bot created in slot S: the slots below it are held for the moment.
  static void BOTIN(uint8_t S) {
    std::vector<int> HELD;
    for (int I = 1; I < S; I++) {
      if (!SV_CLIENTSLIST[I].EXIST) {
        SV_CLIENTSLIST[I].EXIST = true;
        HELD.push_back(I);
      }
    }
    SV_ADDBOT();
    for (int I : HELD) {
      SV_CLIENTSLIST[I].EXIST = false;
    }
    ASSERT_TRUE(SV_CLIENTSLIST[S].BOT);
  }
  // A client that has acknowledged every line so far and may be sent a log
  // packet now.
  void UPTODATE(const std::string& IP, uint16_t PORT) {
    for (int I = 0; I < 16; I++) {
      SEND(IP, PORT, CL_DATA(SV_PINGVAR, 0, 0, 0, 0, SV_LOGI));
      CYCLE();
    }
    TAKE(IP, PORT);
  }
};

TEST_F(OutputTest, StatePacketBytes) {
  START();
  MAPFROMSTR(1, std::string("HEADER") + "123" + '\0');
  SV_LOADCURMAP(1);
  SV_PINGVAR = 998;
  CONNECT("10.0.0.1", 1000);
  TCLIENT& C = SV_CLIENTSLIST[1];
  C.PLAY = true;
  SV_CURPLAYERS = 1;
  C.X = 100;
  C.Y = 200;
  C.DIR = 90;
  C.PVAR = 998;
  SV_MAP.ITL[2].RESP = 5;
  TAKE("10.0.0.1", 1000);
  CYCLE();
  ASSERT_EQ(SV_PINGVAR, 1000);
  std::vector<std::string> SENT = OFKIND(TAKE("10.0.0.1", 1000), CLMPMSG_SHAP);
  ASSERT_EQ(SENT.size(), 1u);
  EXPECT_EQ(SENT[0], BYTES({110, 232, 3, 0, 0, 1, 1, 3,   2,  0,  100, 0, 200,
                            0,   90,  0, 2, 1, 3, 1, 100, 25, 25, 0,   2}));
}

TEST_F(OutputTest, EntriesBySlotState) {
  START();
  for (uint16_t P = 1; P <= 4; P++) {
    CONNECT("10.0.0.1", P);
  }
  // 1 a spectator, 2 dead, 3 alive, 4 alive and firing.
  for (int S = 2; S <= 4; S++) {
    SV_CLIENTSLIST[S].PLAY = true;
    SV_CURPLAYERS++;
  }
  SV_CLIENTSLIST[2].HITS = 0;
  SV_CLIENTSLIST[2].SCORE = 4;
  SV_CLIENTSLIST[3].X = 300;
  SV_CLIENTSLIST[3].Y = 400;
  SV_CLIENTSLIST[3].DIR = 45;
  SV_CLIENTSLIST[3].SCORE = 1;
  SV_CLIENTSLIST[4].T_GANIM = 5;
  SV_CLIENTSLIST[4].GUNS[3] = true;
  SV_CLIENTSLIST[4].NGUN = 3;
  TAKE("10.0.0.1", 1);
  CYCLE();
  std::vector<std::string> SENT = OFKIND(MEMNET_SENTTO("10.0.0.1", 1), CLMPMSG_SHAP);
  ASSERT_EQ(SENT.size(), 1u);
  // 6 bytes of head, entries of 3, 4, 10 and 11 bytes, the items, 6 of tail.
  EXPECT_EQ(SENT[0].size(), 6u + 3 + 4 + 10 + 11 + 1 + SV_MAP.ITN + 6);
  CL_STATE ST;
  ASSERT_TRUE(CL_PARSESTATE(SENT[0], ST));
  ASSERT_EQ(ST.PLAYERS.size(), 4u);
  const uint8_t WSTATE[] = {PS_SPEC, PS_DEAD, PS_LIVE, PS_ATTA};
  for (int I = 0; I < 4; I++) {
    EXPECT_EQ(ST.PLAYERS[size_t(I)].SLOT, I + 1);
    EXPECT_EQ(ST.PLAYERS[size_t(I)].STATE, WSTATE[I]);
  }
  EXPECT_EQ(ST.PLAYERS[1].SCORE, 4);
  EXPECT_EQ(ST.PLAYERS[2].X, 300);
  EXPECT_EQ(ST.PLAYERS[2].Y, 400);
  EXPECT_EQ(ST.PLAYERS[2].DIR, 45);
  EXPECT_EQ(ST.PLAYERS[2].SCORE, 1);
  EXPECT_EQ(ST.PLAYERS[3].GUN, 3);
  EXPECT_EQ(ST.ITEMS.size(), 28u);
}

TEST_F(OutputTest, OnlyHumansReceiveAndTailsDiffer) {
  START();
  MAPFROMSTR(1, std::string("HEADER") + "567\r @" + '\0');
  SV_LOADCURMAP(1);
  CONNECT("10.0.0.1", 1000, "Ann");
  CONNECT("10.0.0.2", 1000, "Bob");
  SEND("10.0.0.1", 1000, CL_DISCONNECT());
  CYCLE();
  BOTIN(5);
  SV_MAP.ITL[1].RESP = 100;
  SV_CLIENTSLIST[2].HITS = 77;
  MEMNET_OUT.clear();
  CYCLE();
  // Only Bob, in slot 2, is sent anything.
  ASSERT_EQ(MEMNET_OUT.size(), 1u);
  EXPECT_EQ(MEMNET_OUT[0].IP, "10.0.0.2");
  CL_STATE ST;
  ASSERT_TRUE(CL_PARSESTATE(MEMNET_OUT[0].DATA, ST));
  ASSERT_EQ(ST.PLAYERS.size(), 2u);
  EXPECT_EQ(ST.PLAYERS[0].SLOT, 2);
  EXPECT_EQ(ST.PLAYERS[1].SLOT, 5);
  EXPECT_EQ(ST.ITEMS, (std::vector<uint8_t>{2, 3}));
  EXPECT_EQ(MEMNET_OUT[0].DATA.substr(MEMNET_OUT[0].DATA.size() - 6), BYTES({2, 77, 25, 25, 0, 2}));
  // Two recipients: the same packet up to the last six bytes.
  CONNECT("10.0.0.3", 1000, "Cid");
  MEMNET_OUT.clear();
  CYCLE();
  std::vector<std::string> A = MEMNET_SENTTO("10.0.0.2", 1000);
  std::vector<std::string> B = MEMNET_SENTTO("10.0.0.3", 1000);
  ASSERT_EQ(A.size(), 1u);
  ASSERT_EQ(B.size(), 1u);
  ASSERT_EQ(A[0].size(), B[0].size());
  size_t N = A[0].size() - 6;
  EXPECT_EQ(A[0].substr(0, N), B[0].substr(0, N));
  EXPECT_EQ(A[0].substr(N), BYTES({2, 77, 25, 25, 0, 2}));
  EXPECT_EQ(B[0].substr(N), BYTES({1, 100, 25, 25, 0, 2}));
}

TEST_F(OutputTest, NothingSentWithoutAHuman) {
  START();
  BOTIN(3);
  MEMNET_OUT.clear();
  CYCLE(5);
  EXPECT_TRUE(MEMNET_OUT.empty());
  EXPECT_EQ(SV_PINGVAR, 0); // the match stands still
  CONNECT("10.0.0.1", 1000);
  EXPECT_EQ(SV_PINGVAR, 1);
  SEND("10.0.0.1", 1000, CL_DISCONNECT());
  CYCLE();
  MEMNET_OUT.clear();
  CYCLE(5);
  EXPECT_TRUE(MEMNET_OUT.empty());
  EXPECT_EQ(SV_PINGVAR, 1);
}

TEST_F(OutputTest, BotsAreNeverSentLogLinesNorDroppedForThem) {
  START();
  CONNECT("10.0.0.1", 1000);
  BOTIN(2);
  CYCLE();
  // However far behind a bot's LOGI lies, the per-tick update sends it
  // nothing and keeps it.
  SV_CLIENTSLIST[2].LOGI = uint16_t(SV_LOGI - 200);
  SV_CLIENTSLIST[2].T_SL = 0;
  MEMNET_OUT.clear();
  SV_PLAYERS();
  EXPECT_TRUE(SV_CLIENTSLIST[2].EXIST);
  EXPECT_TRUE(MEMNET_SENTTO("0.0.0.0", 0).empty());
}

TEST_F(OutputTest, MapInformationEvery15TicksWhileAsked) {
  START();
  CONNECT("10.0.0.1", 1000, "Alex");
  CONNECT("10.0.0.2", 1000, "Bob", 1);
  TAKE("10.0.0.1", 1000);
  SEND("10.0.0.1", 1000, CL_DATA(SV_PINGVAR, 0, PLACT_MI, 0, 0, SV_LOGI));
  std::vector<int> AT;
  for (int T = 0; T < 50; T++) {
    CYCLE();
    std::vector<std::string> MAPS = OFKIND(TAKE("10.0.0.1", 1000), CLMPMSG_MAP);
    if (MAPS.empty()) {
      continue;
    }
    AT.push_back(T);
    ASSERT_EQ(MAPS.size(), 1u);
    CL_MAPINFO M;
    ASSERT_TRUE(CL_PARSEMAP(MAPS[0], M));
    EXPECT_EQ(M.LOGBASE, SV_CLIENTSLIST[1].LOGI);
    EXPECT_EQ(M.MAPTEXT, DEFMAPBUF);
    EXPECT_EQ(M.MAPNAME, "DefMap");
    EXPECT_EQ(M.SERVERNAME, "Brastok Server");
    EXPECT_EQ(M.SCORELIMIT, 20);
    EXPECT_EQ(M.TEAMPLAY, 0);
    EXPECT_EQ(M.MAXPLAYERS, 10);
    ASSERT_EQ(M.PLAYERS.size(), 2u);
    EXPECT_EQ(M.PLAYERS[0].SLOT, 1);
    EXPECT_EQ(M.PLAYERS[0].NAME, "Alex");
    EXPECT_EQ(M.PLAYERS[1].SLOT, 2);
    EXPECT_EQ(M.PLAYERS[1].TEAM, 1);
    EXPECT_EQ(M.PLAYERS[1].NAME, "Bob");
  }
  EXPECT_EQ(AT, (std::vector<int>{0, 15, 30, 45}));
  // Bob never asked.
  EXPECT_TRUE(OFKIND(TAKE("10.0.0.2", 1000), CLMPMSG_MAP).empty());
  // Asking for something else ends it.
  SEND("10.0.0.1", 1000, CL_DATA(SV_PINGVAR, 0, 0, 0, 0, SV_LOGI));
  for (int T = 0; T < 40; T++) {
    CYCLE();
    EXPECT_TRUE(OFKIND(TAKE("10.0.0.1", 1000), CLMPMSG_MAP).empty());
  }
}

TEST_F(OutputTest, LogPacketBytes) {
  START();
  CONNECT("10.0.0.1", 1000, "Ann");
  CONNECT("10.0.0.2", 1000, "Bob");
  SV_ADDMSG(SV_LOGLINE({LOGMESSID_SMSG, 'x'}));
  ASSERT_EQ(SV_LOGI, 5);
  UPTODATE("10.0.0.1", 1000);
  // Line 6: Ann's chat "hi"; line 7: Ann kills Bob with the mp40.
  SEND("10.0.0.1", 1000, CL_CHAT("hi"));
  CYCLE();
  SV_ADDMSG(SV_LOGLINE({LOGMESSID_KILL, 3, 1, 2}));
  std::vector<std::string> LOGS;
  for (int T = 0; T < 15 && LOGS.empty(); T++) {
    SEND("10.0.0.1", 1000, CL_DATA(SV_PINGVAR, 0, 0, 0, 0, 5));
    TAKE("10.0.0.1", 1000);
    CYCLE();
    LOGS = OFKIND(MEMNET_SENTTO("10.0.0.1", 1000), CLMPMSG_LOGL);
  }
  ASSERT_EQ(LOGS.size(), 1u);
  EXPECT_EQ(LOGS[0], BYTES({109, 7, 0, 2, 4, 4, 1, 104, 105, 4, 5, 3, 1, 2}));
}

TEST_F(OutputTest, TenLinesAtATimeUntilAcknowledged) {
  START();
  CONNECT("10.0.0.1", 1000);
  UPTODATE("10.0.0.1", 1000);
  uint16_t L0 = SV_LOGI;
  for (int I = 1; I <= 25; I++) {
    SV_ADDMSG(SV_LOGLINE({LOGMESSID_SMSG}) + std::to_string(I));
  }
  // Acknowledge ACK in every data message; the log packets of each tick.
  auto TICK = [&](uint16_t ACK) {
    SEND("10.0.0.1", 1000, CL_DATA(SV_PINGVAR, 0, 0, 0, 0, ACK));
    CYCLE();
    return OFKIND(TAKE("10.0.0.1", 1000), CLMPMSG_LOGL);
  };
  auto EXPECTLINES = [&](const std::string& D, int FIRST, int N) {
    CL_LOG L;
    ASSERT_TRUE(CL_PARSELOG(D, L));
    EXPECT_EQ(L.LAST, L0 + FIRST + N - 1);
    ASSERT_EQ(L.LINES.size(), size_t(N));
    for (int K = 0; K < N; K++) {
      EXPECT_EQ(L.LINES[size_t(K)], SV_LOGLINE({LOGMESSID_SMSG}) + std::to_string(FIRST + K));
    }
  };
  std::vector<std::string> P = TICK(L0);
  ASSERT_EQ(P.size(), 1u);
  EXPECTLINES(P[0], 1, 10);
  // Not acknowledged: the same ten again 15 ticks later, not before.
  for (int T = 1; T < 15; T++) {
    EXPECT_TRUE(TICK(L0).empty()) << T;
  }
  P = TICK(L0);
  ASSERT_EQ(P.size(), 1u);
  EXPECTLINES(P[0], 1, 10);
  // Acknowledged: the next packet carries the next ten, then the last five.
  for (int T = 1; T < 15; T++) {
    EXPECT_TRUE(TICK(uint16_t(L0 + 10)).empty()) << T;
  }
  P = TICK(uint16_t(L0 + 10));
  ASSERT_EQ(P.size(), 1u);
  EXPECTLINES(P[0], 11, 10);
  for (int T = 1; T < 15; T++) {
    TICK(uint16_t(L0 + 20));
  }
  P = TICK(uint16_t(L0 + 20));
  ASSERT_EQ(P.size(), 1u);
  EXPECTLINES(P[0], 21, 5);
  // Up to date: nothing more.
  for (int T = 0; T < 40; T++) {
    EXPECT_TRUE(TICK(uint16_t(L0 + 25)).empty()) << T;
  }
}

TEST_F(OutputTest, NinetySixLinesBehindIsRemoved) {
  START();
  CONNECT("10.0.0.1", 1000, "Ann");
  UPTODATE("10.0.0.1", 1000);
  for (int I = 0; I < 95; I++) {
    SV_ADDMSG(SV_LOGLINE({LOGMESSID_SMSG, 'x'}));
  }
  SEND("10.0.0.1", 1000, CL_DATA(SV_PINGVAR, 0, 0, 0, 0, 0));
  CYCLE();
  std::vector<std::string> LOGS = OFKIND(TAKE("10.0.0.1", 1000), CLMPMSG_LOGL);
  ASSERT_EQ(LOGS.size(), 1u);
  CL_LOG L;
  ASSERT_TRUE(CL_PARSELOG(LOGS[0], L));
  EXPECT_EQ(L.LINES.size(), 10u);
  EXPECT_TRUE(SV_CLIENTSLIST[1].EXIST);
  UPTODATE("10.0.0.1", 1000);
  for (int I = 0; I < 96; I++) {
    SV_ADDMSG(SV_LOGLINE({LOGMESSID_SMSG, 'x'}));
  }
  SEND("10.0.0.1", 1000, CL_DATA(SV_PINGVAR, 0, 0, 0, 0, 0));
  CYCLE();
  EXPECT_FALSE(SV_CLIENTSLIST[1].EXIST);
  EXPECT_EQ(LINES.back(), "Ann disconnected!");
  EXPECT_TRUE(TAKE("10.0.0.1", 1000).empty());
}

TEST_F(OutputTest, LinesFlowAcrossTheWrapOfLineNumbers) {
  START();
  SV_LOGI = 65533;
  CONNECT("10.0.0.1", 1000);
  ASSERT_EQ(SV_LOGI, 65534);
  UPTODATE("10.0.0.1", 1000);
  ASSERT_EQ(SV_CLIENTSLIST[1].LOGI, 65534);
  for (int I = 1; I <= 5; I++) {
    SV_ADDMSG(SV_LOGLINE({LOGMESSID_SMSG}) + std::to_string(I));
  }
  ASSERT_EQ(SV_LOGI, 3);
  SEND("10.0.0.1", 1000, CL_DATA(SV_PINGVAR, 0, 0, 0, 0, 65534));
  CYCLE();
  std::vector<std::string> LOGS = OFKIND(TAKE("10.0.0.1", 1000), CLMPMSG_LOGL);
  ASSERT_EQ(LOGS.size(), 1u);
  CL_LOG L;
  ASSERT_TRUE(CL_PARSELOG(LOGS[0], L));
  EXPECT_EQ(L.LAST, 3);
  ASSERT_EQ(L.LINES.size(), 5u);
  EXPECT_EQ(L.LINES[0], SV_LOGLINE({LOGMESSID_SMSG}) + "1");
  EXPECT_EQ(L.LINES[4], SV_LOGLINE({LOGMESSID_SMSG}) + "5");
  SEND("10.0.0.1", 1000, CL_DATA(SV_PINGVAR, 0, 0, 0, 0, 3));
  CYCLE();
  EXPECT_EQ(SV_CLIENTSLIST[1].LOGI, 3);
  for (int T = 0; T < 20; T++) {
    SEND("10.0.0.1", 1000, CL_DATA(SV_PINGVAR, 0, 0, 0, 0, 3));
    CYCLE();
    EXPECT_TRUE(OFKIND(TAKE("10.0.0.1", 1000), CLMPMSG_LOGL).empty());
  }
}
