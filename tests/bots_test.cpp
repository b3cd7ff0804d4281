// Bot lifecycle: bots arrive one per tick once a human holds a slot, in the
// lowest free slots, numbered and teamed in the order of their creation; they
// join the game like humans, never time out, and leave only at a map change.
#include "bots/bots.hpp"
#include "game/game.hpp"
#include "support/testserver.hpp"

class BotsTest : public TServerTest {
protected:
  // The console lines since line FROM, kills left out (bots in the game
  // may fight at any time).
  std::vector<std::string> SINCE(size_t FROM) const {
    std::vector<std::string> R;
    for (size_t I = FROM; I < LINES.size(); I++) {
      if (LINES[I].find(" > ") == std::string::npos) {
        R.push_back(LINES[I]);
      }
    }
    return R;
  }
  // A data message with no action, acknowledging every log line.
  void TALK(const std::string& IP, uint16_t PORT, uint8_t ACT = 0) {
    SEND(IP, PORT, CL_DATA(SV_PINGVAR, 0, ACT, 0, 0, SV_LOGI));
  }
};

TEST_F(BotsTest, NoBotWithoutAHuman) {
  START({"-bots", "3"});
  size_t SEEN = LINES.size();
  CYCLE(100);
  EXPECT_EQ(SV_CURCLIENTS, 0);
  EXPECT_EQ(SV_BOTC, 0);
  EXPECT_EQ(SV_PINGVAR, 0);
  EXPECT_EQ(LINES.size(), SEEN);
  EXPECT_TRUE(MEMNET_OUT.empty());
}

// Three bots over two bot teams: slots 2, 3 and 4 in three consecutive
// ticks, the first in the tick of the human's connect, after it.
TEST_F(BotsTest, BotsArriveOnePerTickNumberedAndTeamed) {
  struct {
    const char* TEAMS;
    std::vector<std::string> NAMES;
    std::string HUMAN;
  } CASES[] = {
      {"1", {"[SS]BOT #1", "[MU]BOT #2", "[SS]BOT #3"}, "[MU]Alex"},
      {"0", {"BOT #1", "BOT #2", "BOT #3"}, "Alex"},
  };
  for (const auto& C : CASES) {
    SCOPED_TRACE(std::string("teams ") + C.TEAMS);
    SetUp();
    START({"-bots", "3", "-botteams", "2", "-teams", C.TEAMS});
    size_t SEEN = LINES.size();
    EXPECT_EQ(CONNECT("10.0.0.1", 1000, "Alex", 1), 1);
    EXPECT_EQ(SINCE(SEEN),
              (std::vector<std::string>{C.HUMAN + " connected!", C.NAMES[0] + " connected!",
                                        C.NAMES[0] + " has joined the game!"}));
    for (int T = 1; T < 3; T++) {
      SEEN = LINES.size();
      CYCLE();
      EXPECT_EQ(SINCE(SEEN),
                (std::vector<std::string>{C.NAMES[size_t(T)] + " connected!",
                                          C.NAMES[size_t(T)] + " has joined the game!"}));
    }
    SEEN = LINES.size();
    CYCLE(10);
    EXPECT_EQ(LINES.size(), SEEN);
    EXPECT_EQ(SV_CURCLIENTS, 4);
    EXPECT_EQ(SV_BOTC, 3);
    EXPECT_EQ(SV_CURPLAYERS, 3);
    for (int I = 0; I < 3; I++) {
      const TCLIENT& B = SV_CLIENTSLIST[I + 2];
      EXPECT_TRUE(B.EXIST && B.BOT && B.PLAY);
      EXPECT_EQ(B.NAME, C.NAMES[size_t(I)]);
      EXPECT_EQ(B.TEAM, I % 2); // with or without team play
      EXPECT_EQ(B.IP, "0.0.0.0");
      EXPECT_EQ(B.PORT, 0);
    }
    // The human sees them all in the game.
    TALK("10.0.0.1", 1000);
    MEMNET_OUT.clear();
    CYCLE();
    CL_STATE S = LASTSTATE("10.0.0.1", 1000);
    ASSERT_EQ(S.PLAYERS.size(), 4u);
    EXPECT_EQ(S.PLAYERS[0].STATE, PS_SPEC);
    for (int I = 1; I < 4; I++) {
      EXPECT_EQ(S.PLAYERS[size_t(I)].SLOT, I + 1);
      EXPECT_GE(S.PLAYERS[size_t(I)].STATE, PS_LIVE);
    }
  }
}

TEST_F(BotsTest, BotConnectLineLaysOutSlotTeamAndName) {
  START({"-bots", "2", "-botteams", "3", "-teams", "1"});
  CONNECT("10.0.0.1", 1000, "Alex", 2);
  CYCLE();
  // Newest first: bot 2's join line, its connect line.
  EXPECT_EQ(SV_LOG[1], BYTES({LOGMESSID_CCON, 3, 1}) + "[MU]BOT #2");
  EXPECT_EQ(SV_LOG[0], BYTES({LOGMESSID_ENTER, 3}));
}

// 24 wanted and one human: 23 bots fill the server and a second human is
// refused; no bot makes room.
TEST_F(BotsTest, BotsFillTheServer) {
  START({"-bots", "24"});
  CONNECT("10.0.0.1", 1000);
  for (int T = 0; T < 40; T++) {
    TALK("10.0.0.1", 1000);
    CYCLE();
    EXPECT_EQ(SV_BOTC, std::min(T + 2, 23));
  }
  EXPECT_EQ(SV_CURCLIENTS, 24);
  EXPECT_EQ(SV_CLIENTSLIST[24].NAME, "BOT #23");
  EXPECT_EQ(SV_CURPLAYERS, 10); // the player limit holds the others back
  MEMNET_OUT.clear();
  SEND("10.0.0.2", 1000, CL_CONNECT("Bob", 0));
  CYCLE();
  EXPECT_EQ(TAKE("10.0.0.2", 1000), (std::vector<std::string>{BYTES({CLMPMSG_SVFULL})}));
  EXPECT_EQ(SV_BOTC, 23);
  // The human leaves: the bots stand still, and a returning human takes the
  // freed slot without a bot being added.
  SEND("10.0.0.1", 1000, CL_DISCONNECT());
  CYCLE();
  EXPECT_EQ(SV_CURCLIENTS, 23);
  uint16_t TICK = SV_PINGVAR;
  std::vector<std::pair<uint16_t, uint16_t>> AT;
  for (int I = 2; I <= 24; I++) {
    AT.push_back({SV_CLIENTSLIST[I].X, SV_CLIENTSLIST[I].Y});
  }
  CYCLE(50);
  EXPECT_EQ(SV_PINGVAR, TICK);
  for (int I = 2; I <= 24; I++) {
    EXPECT_EQ(AT[size_t(I - 2)], std::make_pair(SV_CLIENTSLIST[I].X, SV_CLIENTSLIST[I].Y));
  }
  EXPECT_EQ(CONNECT("10.0.0.2", 1000, "Bob"), 1);
  EXPECT_EQ(SV_BOTC, 23);
  EXPECT_EQ(SV_PINGVAR, TICK + 1);
}

// Player limit 2: a bot that finds the game full stays a spectator and asks
// again 90 ticks later; it joins once a place is free.
TEST_F(BotsTest, PlayerLimitHoldsBotsBack) {
  START({"-bots", "3", "-maxplayers", "2"});
  // Ann connects and joins in the same tick, before the first bot.
  SEND("10.0.0.1", 1000, CL_CONNECT("Ann", 0));
  TALK("10.0.0.1", 1000, PLACT_SJ);
  size_t SEEN = LINES.size();
  CYCLE();
  EXPECT_EQ(SINCE(SEEN),
            (std::vector<std::string>{"Ann connected!", "Ann has joined the game!",
                                      "BOT #1 connected!", "BOT #1 has joined the game!"}));
  SEEN = LINES.size();
  for (int T = 2; T <= 3; T++) {
    TALK("10.0.0.1", 1000);
    CYCLE();
  }
  EXPECT_EQ(SINCE(SEEN), (std::vector<std::string>{"BOT #2 connected!", "BOT #3 connected!"}));
  EXPECT_EQ(SV_CURPLAYERS, 2);
  // Ann may toggle again from tick 91; the bots refused in ticks 2 and 3 ask
  // again in ticks 92 and 93.
  for (int T = 4; T <= 200; T++) {
    SEEN = LINES.size();
    TALK("10.0.0.1", 1000, T == 91 ? PLACT_SJ : 0);
    CYCLE();
    std::vector<std::string> NEW = SINCE(SEEN);
    if (T == 91) {
      EXPECT_EQ(NEW, std::vector<std::string>{"Ann has left the game!"});
    } else if (T == 92) {
      EXPECT_EQ(NEW, std::vector<std::string>{"BOT #2 has joined the game!"});
    } else {
      EXPECT_TRUE(NEW.empty()) << T << ": " << NEW[0];
    }
    // The bot left out asks every 90 ticks, and is refused.
    if (T == 93 || T == 183) {
      EXPECT_EQ(SV_CLIENTSLIST[4].T_SJ, 89) << T;
    }
  }
  EXPECT_FALSE(SV_CLIENTSLIST[4].PLAY);
  EXPECT_EQ(SV_CURPLAYERS, 2);
}

// A bot never times out and is never sent anything: its slot shows one tick
// of silence and a ping of one after every tick.
TEST_F(BotsTest, BotNeverTimesOut) {
  START({"-bots", "1"});
  CONNECT("10.0.0.1", 1000);
  for (int T = 0; T < 600; T++) {
    TALK("10.0.0.1", 1000);
    CYCLE();
    const TCLIENT& B = SV_CLIENTSLIST[2];
    ASSERT_TRUE(B.EXIST) << T;
    EXPECT_EQ(B.T_TTL, 1);
    EXPECT_EQ(B.PING, 1);
  }
  CL_STATE S = LASTSTATE("10.0.0.1", 1000);
  ASSERT_EQ(S.PLAYERS.size(), 2u);
  EXPECT_EQ(S.PLAYERS[1].PING, 1);
  // Nothing is sent to a bot's address.
  CYCLE(20);
  EXPECT_TRUE(MEMNET_SENTTO("0.0.0.0", 0).empty());
  // The human falls silent and times out; the bot stays, standing still.
  CYCLE(255);
  EXPECT_FALSE(SV_CLIENTSLIST[1].EXIST);
  EXPECT_TRUE(SV_CLIENTSLIST[2].EXIST);
  EXPECT_EQ(SV_CURCLIENTS, 1);
  uint16_t TICK = SV_PINGVAR;
  CYCLE(20);
  EXPECT_EQ(SV_PINGVAR, TICK);
}

// A map change removes the bots with everybody; they come back one per tick,
// numbered from 1 again, once a human connects again.
TEST_F(BotsTest, BotsComeBackAfterAMapChange) {
  START({"-bots", "2"});
  CONNECT("10.0.0.1", 1000);
  CYCLE();
  EXPECT_EQ(SV_BOTC, 2);
  SV_SCORELIMITHIT();
  // While the board is shown the bots stand still.
  std::vector<std::pair<uint16_t, uint16_t>> AT;
  for (int I = 2; I <= 3; I++) {
    AT.push_back({SV_CLIENTSLIST[I].X, SV_CLIENTSLIST[I].Y});
  }
  for (int T = 0; T < SCOREBOARDTIME - 1; T++) {
    TALK("10.0.0.1", 1000);
    CYCLE();
    for (int I = 2; I <= 3; I++) {
      ASSERT_EQ(AT[size_t(I - 2)], std::make_pair(SV_CLIENTSLIST[I].X, SV_CLIENTSLIST[I].Y));
    }
  }
  size_t SEEN = LINES.size();
  TALK("10.0.0.1", 1000);
  CYCLE();
  EXPECT_EQ(SINCE(SEEN), (std::vector<std::string>{"Alex disconnected!", "BOT #1 disconnected!",
                                                   "BOT #2 disconnected!"}));
  EXPECT_EQ(SV_BOTC, 0);
  MEMNET_OUT.clear();
  TALK("10.0.0.1", 1000);
  CYCLE(5);
  EXPECT_EQ(TAKE("10.0.0.1", 1000), (std::vector<std::string>{BYTES({CLMPMSG_NOCON})}));
  EXPECT_EQ(SV_CURCLIENTS, 0);
  SEEN = LINES.size();
  CONNECT("10.0.0.1", 1000);
  EXPECT_EQ(SINCE(SEEN), (std::vector<std::string>{"Alex connected!", "BOT #1 connected!",
                                                   "BOT #1 has joined the game!"}));
  CYCLE();
  EXPECT_EQ(SV_CLIENTSLIST[3].NAME, "BOT #2");
  EXPECT_EQ(SV_BOTC, 2);
}
