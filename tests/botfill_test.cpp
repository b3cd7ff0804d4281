// Bot fill: humans take the newest bot's slot and place in the game, and
// bots come back where there is room.
#include "support/testserver.hpp"

class BotFillTest : public TServerTest {
protected:
  // The console lines since line FROM.
  std::vector<std::string> SINCE(size_t FROM) {
    return std::vector<std::string>(LINES.begin() + long(FROM), LINES.end());
  }
};

TEST_F(BotFillTest, AHumanJoinsAServerFullOfBotsAndPlays) {
  START({"-bots", "24", "-maxplayers", "24", "-botfill", "1"});
  CONNECT("10.0.0.1", 1000, "Ann");
  CYCLE(30);
  ASSERT_EQ(SV_CURCLIENTS, 24); // Ann and 23 bots, all of them playing
  ASSERT_EQ(SV_CURPLAYERS, 23);

  // Every slot is taken: the newest bot leaves and Bob gets its slot.
  size_t AT = LINES.size();
  uint8_t BOB = CONNECT("10.0.0.2", 1000, "Bob");
  EXPECT_NE(BOB, 0);
  EXPECT_EQ(SINCE(AT), (std::vector<std::string>{"BOT #23 disconnected!", "Bob connected!"}));
  EXPECT_EQ(SV_BOTC, 22);
  EXPECT_EQ(SV_CURCLIENTS, 24);

  // With a player limit of 22 the game is full too: joining, Bob takes the
  // place of the newest bot in the game.
  SV_MAXPLAYERS = 22;
  const TCLIENT& B = SV_CLIENTSLIST[BOB];
  AT = LINES.size();
  SEND("10.0.0.2", 1000, CL_DATA(SV_PINGVAR, 0, PLACT_SJ, B.X, B.Y, B.LOGI));
  CYCLE();
  EXPECT_EQ(SINCE(AT),
            (std::vector<std::string>{"BOT #22 disconnected!", "Bob has joined the game!"}));
  EXPECT_TRUE(B.PLAY);
  EXPECT_EQ(SV_BOTC, 21);
  CYCLE(5);
  EXPECT_EQ(SV_BOTC, 21); // no room for another bot in the game

  // Bob goes back to watching: a bot comes back in the same tick and joins
  // the game in the next.
  CYCLE(90);
  AT = LINES.size();
  SEND("10.0.0.2", 1000, CL_DATA(SV_PINGVAR, 0, PLACT_SJ, B.X, B.Y, B.LOGI));
  CYCLE(2);
  EXPECT_FALSE(B.PLAY);
  EXPECT_EQ(SINCE(AT), (std::vector<std::string>{"Bob has left the game!", "BOT #22 connected!",
                                                 "BOT #22 has joined the game!"}));
  EXPECT_EQ(SV_BOTC, 22);
  EXPECT_EQ(SV_CURPLAYERS, 22);
}
