// Defences against forged source addresses: a client never heard since its
// connect is sent packets for a short while only, and one address may not
// connect more than 24 times in 10 seconds.
#include "clients/clients.hpp"
#include "support/testserver.hpp"

class SecurityTest : public TServerTest {};

TEST_F(SecurityTest, UnheardClientIsSentPacketsFor33Ticks) {
  START();
  CONNECT("10.0.0.1", 1000);
  int TICKS = 1;
  std::vector<int> SENT = {int(TAKE("10.0.0.1", 1000).size())};
  for (; TICKS < 60; TICKS++) {
    CYCLE();
    SENT.push_back(int(TAKE("10.0.0.1", 1000).size()));
  }
  EXPECT_EQ(SENT[0], 2); // the log packet and the first state packet
  for (int T = 1; T < 33; T++) {
    EXPECT_GE(SENT[size_t(T)], 1) << T; // the state, and the log again every 15
  }
  for (int T = 33; T < 60; T++) {
    EXPECT_EQ(SENT[size_t(T)], 0) << T;
  }
  // It still times out as usual.
  CYCLE(255 - 60 - 1);
  EXPECT_TRUE(SV_CLIENTSLIST[1].EXIST);
  CYCLE();
  EXPECT_FALSE(SV_CLIENTSLIST[1].EXIST);
  EXPECT_EQ(LINES[LINES.size() - 2], "Alex time out!");
}

TEST_F(SecurityTest, ClientThatSpeaksKeepsReceiving) {
  START();
  CONNECT("10.0.0.1", 1000);
  for (int T = 0; T < 100; T++) {
    TAKE("10.0.0.1", 1000);
    SEND("10.0.0.1", 1000, CL_DATA(SV_PINGVAR, 0, 0, 0, 0, SV_LOGI));
    CYCLE();
    ASSERT_FALSE(TAKE("10.0.0.1", 1000).empty()) << T;
  }
  // Speaking late also brings the packets back.
  CONNECT("10.0.0.2", 1000, "Bob");
  CYCLE(50);
  TAKE("10.0.0.2", 1000);
  CYCLE();
  EXPECT_TRUE(TAKE("10.0.0.2", 1000).empty());
  SEND("10.0.0.2", 1000, CL_DATA(SV_PINGVAR, 0, 0, 0, 0, 0));
  CYCLE();
  EXPECT_EQ(TAKE("10.0.0.2", 1000).size(), 2u); // log lines owed, and the state
}

TEST_F(SecurityTest, TwentyFourConnectsPerAddressInTenSeconds) {
  START();
  for (uint16_t P = 1; P <= 24; P++) {
    SEND("10.0.0.9", P, CL_CONNECT("x", 0));
    SEND("10.0.0.9", P, CL_DISCONNECT());
  }
  CYCLE();
  EXPECT_EQ(SV_CURCLIENTS, 0);
  EXPECT_EQ(SV_LOGI, 2 + 48);
  // The 25th within the window is ignored without a reply, even with a
  // wrong version; another address is not affected.
  SEND("10.0.0.9", 25, CL_CONNECT("x", 0));
  SEND("10.0.0.9", 26, CL_CONNECT("x", 0, 28));
  SEND("10.0.0.8", 25, CL_CONNECT("y", 0));
  MEMNET_OUT.clear();
  CYCLE();
  EXPECT_TRUE(MEMNET_SENTTO("10.0.0.9", 25).empty());
  EXPECT_TRUE(MEMNET_SENTTO("10.0.0.9", 26).empty());
  EXPECT_EQ(SV_CURCLIENTS, 1);
  EXPECT_EQ(SV_CLIENTSLIST[1].IP, "10.0.0.8");
  // Ten seconds after the first, one more is taken.
  CYCLE(int(CONNWINDOW) - 3);
  SEND("10.0.0.9", 27, CL_CONNECT("x", 0));
  CYCLE();
  EXPECT_EQ(PLAYER_A2I("10.0.0.9", 27), 0);
  SEND("10.0.0.9", 28, CL_CONNECT("x", 0));
  CYCLE();
  EXPECT_NE(PLAYER_A2I("10.0.0.9", 28), 0);
}

TEST_F(SecurityTest, NobodySpeaksForABot) {
  START({"-bots", "1"});
  CONNECT("10.0.0.1", 1000);
  CYCLE();
  ASSERT_TRUE(SV_CLIENTSLIST[2].BOT);
  SEND("0.0.0.0", 0, CL_DISCONNECT());
  SEND("0.0.0.0", 0, CL_CHAT("I am a bot"));
  CYCLE();
  EXPECT_TRUE(SV_CLIENTSLIST[2].EXIST);
  EXPECT_EQ(SV_BOTC, 1);
  for (const std::string& L : LINES) {
    EXPECT_EQ(L.find("I am a bot"), std::string::npos);
    EXPECT_EQ(L.find("disconnected"), std::string::npos);
  }
}
