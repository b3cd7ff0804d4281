// The action step and the per-tick update: joining and leaving the game,
// weapon choice, death and respawn, ping, and the score limits that start
// the score board and lead to the next map.
#include "clients/clients.hpp"
#include "game/game.hpp"
#include "maps/maps.hpp"
#include "support/testserver.hpp"

class PlayersTest : public TServerTest {
protected:
  // A started server on an open map with spawn points (160, 288),
  // (608, 288), (160, 544) and (608, 544).
  void OPEN(const std::vector<std::string>& ARGS = {}) {
    START(ARGS);
    MAPFROMSTR(1, std::string("HEADER") + "\r\r\r @      @\r\r\r\r @      @" + '\0');
    SV_LOADCURMAP(1);
  }
  // A data message from IP:PORT that stays where the client is and
  // acknowledges every line, with action ACT.
  void ACT(const std::string& IP, uint16_t PORT, uint8_t A, uint16_t DIR = 0) {
    const TCLIENT* C = nullptr;
    for (int I = 1; I <= MAXCLIENTS && C == nullptr; I++) {
      const TCLIENT& K = SV_CLIENTSLIST[I];
      if (K.EXIST && K.IP == IP && K.PORT == PORT) {
        C = &K;
      }
    }
    ASSERT_NE(C, nullptr);
    SEND(IP, PORT, CL_DATA(SV_PINGVAR, DIR, A, C->X, C->Y, SV_LOGI));
  }
  // The entry of slot S in the last state packet to IP:PORT.
  CL_ENTRY ENTRY(const std::string& IP, uint16_t PORT, uint8_t S, CL_STATE* ST = nullptr) {
    CL_STATE L = LASTSTATE(IP, PORT);
    if (ST != nullptr) {
      *ST = L;
    }
    for (const CL_ENTRY& E : L.PLAYERS) {
      if (E.SLOT == S) {
        return E;
      }
    }
    ADD_FAILURE() << "no entry for slot " << int(S);
    return {};
  }
};

TEST_F(PlayersTest, JoinLeaveAndTheWaitBetween) {
  OPEN();
  uint8_t S = JOIN("10.0.0.1", 1000, "Ann");
  const TCLIENT& C = SV_CLIENTSLIST[S];
  EXPECT_TRUE(C.PLAY);
  EXPECT_EQ(SV_CURPLAYERS, 1);
  EXPECT_EQ(LINES.back(), "Ann has joined the game!");
  EXPECT_EQ(SV_LOG[0], SV_LOGLINE({LOGMESSID_ENTER, S}));
  EXPECT_EQ(ENTRY("10.0.0.1", 1000, S).STATE, PS_LIVE);
  // The next toggle is refused for 90 ticks.
  for (int T = 1; T < 89; T++) {
    ACT("10.0.0.1", 1000, 0);
    CYCLE();
  }
  ACT("10.0.0.1", 1000, PLACT_SJ);
  CYCLE();
  EXPECT_TRUE(C.PLAY);
  ACT("10.0.0.1", 1000, PLACT_SJ);
  CYCLE();
  EXPECT_FALSE(C.PLAY);
  EXPECT_EQ(SV_CURPLAYERS, 0);
  EXPECT_EQ(LINES.back(), "Ann has left the game!");
  EXPECT_EQ(SV_LOG[0], SV_LOGLINE({LOGMESSID_LEAVE, S}));
  EXPECT_EQ(ENTRY("10.0.0.1", 1000, S).STATE, PS_SPEC);
}

TEST_F(PlayersTest, PlayerLimit) {
  OPEN({"-maxplayers", "2"});
  JOIN("10.0.0.1", 1000, "Ann");
  JOIN("10.0.0.2", 1000, "Bob");
  uint8_t S = CONNECT("10.0.0.3", 1000, "Cid");
  TCLIENT& C = SV_CLIENTSLIST[S];
  C.SCORE = 5;
  C.HITS = 40;
  C.X = 1000;
  uint16_t LOGI = SV_LOGI;
  ACT("10.0.0.3", 1000, PLACT_SJ);
  CYCLE();
  // Refused, yet respawned with the score cleared, and made to wait.
  EXPECT_FALSE(C.PLAY);
  EXPECT_EQ(SV_CURPLAYERS, 2);
  EXPECT_EQ(SV_LOGI, LOGI);
  EXPECT_EQ(C.SCORE, 0);
  EXPECT_EQ(C.HITS, 100);
  EXPECT_NE(C.X, 1000);
  EXPECT_EQ(C.T_SJ, 89); // 90, less the tick it was set in
  // Once a place is free and the wait is over, the toggle lets him in.
  SV_CLIENTSLIST[1].T_SJ = 0;
  ACT("10.0.0.1", 1000, PLACT_SJ);
  CYCLE();
  EXPECT_EQ(SV_CURPLAYERS, 1);
  C.T_SJ = 0;
  ACT("10.0.0.3", 1000, PLACT_SJ);
  CYCLE();
  EXPECT_TRUE(C.PLAY);
  EXPECT_EQ(SV_CURPLAYERS, 2);
  EXPECT_EQ(LINES.back(), "Cid has joined the game!");
}

TEST_F(PlayersTest, WeaponChoice) {
  OPEN();
  uint8_t S = JOIN("10.0.0.1", 1000);
  TCLIENT& C = SV_CLIENTSLIST[S];
  // Not held: nothing.
  ACT("10.0.0.1", 1000, 3);
  CYCLE();
  EXPECT_EQ(C.NGUN, 2);
  EXPECT_EQ(LASTSTATE("10.0.0.1", 1000).GUN, 2);
  // Held: chosen at once; in the hand in the first tick that begins with
  // the reload over.
  C.GUNS[3] = true;
  C.T_RELOAD = 2;
  ACT("10.0.0.1", 1000, 3);
  CYCLE();
  EXPECT_EQ(C.NGUN, 3);
  EXPECT_EQ(LASTSTATE("10.0.0.1", 1000).GUN, 2);
  CYCLE();
  EXPECT_EQ(LASTSTATE("10.0.0.1", 1000).GUN, 2);
  CYCLE();
  EXPECT_EQ(LASTSTATE("10.0.0.1", 1000).GUN, 3);
  // A spectator chooses nothing.
  C.PLAY = false;
  SV_CURPLAYERS--;
  ACT("10.0.0.1", 1000, 1);
  CYCLE();
  EXPECT_EQ(C.NGUN, 3);
}

TEST_F(PlayersTest, DeathRespawnAndTheWaits) {
  OPEN();
  uint8_t A = JOIN("10.0.0.1", 1000, "Ann");
  uint8_t B = JOIN("10.0.0.2", 1000, "Bob");
  TCLIENT& ANN = SV_CLIENTSLIST[A];
  TCLIENT& BOB = SV_CLIENTSLIST[B];
  // Bob faces Ann, 100 units along x, and fires his pistol at her.
  BOB.X = 300;
  BOB.Y = 700;
  ANN.X = 400;
  ANN.Y = 700;
  ANN.HITS = 1;
  ANN.ARMOR = 0;
  ACT("10.0.0.2", 1000, PLACT_AR, 0);
  ACT("10.0.0.1", 1000, 0);
  CYCLE();
  EXPECT_EQ(ANN.HITS, 0);
  EXPECT_EQ(LINES.back(), "Bob > pistol > Ann");
  CL_ENTRY E = ENTRY("10.0.0.1", 1000, A);
  EXPECT_EQ(E.STATE, PS_DEAD);
  // Dead: no move, no respawn for 30 ticks.
  for (int T = 1; T < 30; T++) {
    const TCLIENT& C = ANN;
    SEND("10.0.0.1", 1000, CL_DATA(SV_PINGVAR, 0, PLACT_AR, uint16_t(C.X + 5), C.Y, SV_LOGI));
    CYCLE();
    ASSERT_EQ(ANN.HITS, 0) << T;
    EXPECT_EQ(ANN.X, 400);
  }
  ACT("10.0.0.1", 1000, PLACT_AR);
  CYCLE();
  EXPECT_EQ(ANN.HITS, 100);
  EXPECT_EQ(ENTRY("10.0.0.1", 1000, A).STATE, PS_LIVE);
  // Back, but no shot for 10 ticks.
  for (int T = 1; T < 10; T++) {
    ACT("10.0.0.1", 1000, PLACT_AR);
    CYCLE();
    EXPECT_EQ(LASTSTATE("10.0.0.1", 1000).AMMO1, 25) << T;
  }
  ACT("10.0.0.1", 1000, PLACT_AR);
  CYCLE();
  CL_STATE ST;
  E = ENTRY("10.0.0.1", 1000, A, &ST);
  EXPECT_EQ(ST.AMMO1, 24);
  EXPECT_EQ(E.STATE, PS_ATTA);
  // A spectator's fire does nothing; the toggle takes a dead player out.
  BOB.HITS = 0;
  BOB.T_SJ = 0;
  ACT("10.0.0.2", 1000, PLACT_SJ);
  CYCLE();
  EXPECT_FALSE(BOB.PLAY);
  EXPECT_EQ(BOB.HITS, 100);
  uint8_t AMMO = BOB.AMMO[1];
  ACT("10.0.0.2", 1000, PLACT_AR);
  CYCLE();
  EXPECT_EQ(BOB.AMMO[1], AMMO);
  EXPECT_EQ(BOB.T_GANIM, 0);
}

TEST_F(PlayersTest, PingFromTheEcho) {
  OPEN();
  CONNECT("10.0.0.1", 1000);
  SV_PINGVAR = 1000;
  struct {
    int BACK; // the echo, this many ticks behind the counter
    uint8_t PING;
  } CASES[] = {{0, 1}, {3, 4}, {-5, 4}, {300, 45}, {-2, 45}, {-1, 0}, {10, 11}};
  for (auto& T : CASES) {
    SEND("10.0.0.1", 1000, CL_DATA(uint16_t(SV_PINGVAR - T.BACK), 0, 0, 0, 0, SV_LOGI));
    CYCLE();
    EXPECT_EQ(ENTRY("10.0.0.1", 1000, 1).PING, T.PING) << T.BACK;
  }
  // After the counter wraps, an echo from before the wrap leaves the ping.
  SV_PINGVAR = 65534;
  SEND("10.0.0.1", 1000, CL_DATA(65530, 0, 0, 0, 0, SV_LOGI));
  CYCLE();
  EXPECT_EQ(ENTRY("10.0.0.1", 1000, 1).PING, 5);
  CYCLE();
  EXPECT_EQ(SV_PINGVAR, 0);
  EXPECT_EQ(ENTRY("10.0.0.1", 1000, 1).PING, 5);
}

TEST_F(PlayersTest, TeamScoreLimit) {
  START({"-teams", "1", "-score", "5"});
  struct TMEMBER {
    uint8_t SLOT, TEAM, SCORE;
    bool PLAY;
  };
  struct {
    const char* WHAT;
    std::vector<TMEMBER> MEMBERS;
    int WINNER; // -1: none
  } CASES[] = {
      {"members complete the limit", {{2, 1, 3, true}, {7, 1, 2, true}}, 1},
      {"one short", {{2, 1, 3, true}, {7, 1, 1, true}}, -1},
      {"spectators do not count", {{2, 1, 3, true}, {7, 1, 2, false}}, -1},
      {"another team's sum", {{2, 1, 4, true}, {3, 2, 5, true}, {4, 1, 0, true}}, 2},
      {"a sum that passes the limit", {{2, 0, 3, true}, {3, 0, 3, true}}, -1},
      {"the first team found wins", {{1, 3, 5, true}, {2, 0, 5, true}}, 3},
  };
  for (auto& T : CASES) {
    SCOPED_TRACE(T.WHAT);
    SV_SCOREBOARD = 0;
    for (int I = 1; I <= MAXCLIENTS; I++) {
      SV_CLIENTSLIST[I].EXIST = false;
    }
    for (const TMEMBER& M : T.MEMBERS) {
      TCLIENT& C = SV_CLIENTSLIST[M.SLOT];
      C.EXIST = true;
      C.PLAY = M.PLAY;
      C.TEAM = M.TEAM;
      C.SCORE = M.SCORE;
    }
    uint16_t LOGI = SV_LOGI;
    SV_TEAMSCORE();
    if (T.WINNER < 0) {
      EXPECT_EQ(SV_SCOREBOARD, 0);
      EXPECT_EQ(SV_LOGI, LOGI);
    } else {
      EXPECT_EQ(SV_SCOREBOARD, 495);
      EXPECT_EQ(SV_LOG[0], SV_LOGLINE({LOGMESSID_TSCORE, uint8_t(T.WINNER)}));
      EXPECT_EQ(SV_LOGI, uint16_t(LOGI + 1));
    }
  }
  EXPECT_EQ(LINES.back(), "Officers team  WINS!");
}

TEST_F(PlayersTest, PlayerScoreLimitAndTheBoard) {
  OPEN({"-score", "3"});
  // A second map to rotate to.
  SV_MAPL[2].NAME = "Next";
  MAPFROMSTR(2, std::string("HEADER") + "\r @" + '\0');
  uint8_t A = JOIN("10.0.0.1", 1000, "Ann");
  uint8_t B = JOIN("10.0.0.2", 1000, "Bob");
  TCLIENT& ANN = SV_CLIENTSLIST[A];
  TCLIENT& BOB = SV_CLIENTSLIST[B];
  // Bob, one short of the limit, kills Ann.
  BOB.SCORE = 2;
  ANN.HITS = 1;
  ANN.ARMOR = 0;
  PLAYER_DAMAGE(B, A, 2);
  ASSERT_GE(LINES.size(), 2u);
  EXPECT_EQ(LINES[LINES.size() - 2], "Bob > pistol > Ann");
  EXPECT_EQ(LINES.back(), "Bob WINS!");
  EXPECT_EQ(SV_SCOREBOARD, 495);
  // During the board input is stored but moves, toggles and fires nothing;
  // the map information is still answered.
  uint16_t BX = BOB.X;
  SEND("10.0.0.2", 1000, CL_DATA(77, 33, PLACT_AR, uint16_t(BX + 5), BOB.Y, SV_LOGI));
  ACT("10.0.0.1", 1000, PLACT_SJ);
  CYCLE();
  EXPECT_EQ(LASTSTATE("10.0.0.2", 1000).BOARD, 494);
  EXPECT_EQ(BOB.X, BX);
  EXPECT_EQ(BOB.MX, BX + 5);
  EXPECT_EQ(BOB.DIR, 33);
  EXPECT_EQ(BOB.PVAR, 77);
  EXPECT_EQ(BOB.ACT, PLACT_AR);
  EXPECT_EQ(BOB.AMMO[1], 25);
  EXPECT_TRUE(ANN.PLAY);
  EXPECT_EQ(ANN.HITS, 0);
  ACT("10.0.0.1", 1000, PLACT_MI);
  CYCLE();
  std::vector<std::string> SENT = TAKE("10.0.0.1", 1000);
  ASSERT_FALSE(SENT.empty());
  EXPECT_EQ(uint8_t(SENT[0][0]), CLMPMSG_MAP);
  // Both keep talking; on the tick the board runs out everybody is removed
  // and the next map is loaded.
  for (int T = 3; T < 495; T++) {
    ACT("10.0.0.1", 1000, 0);
    ACT("10.0.0.2", 1000, 0);
    CYCLE();
    ASSERT_EQ(SV_CURCLIENTS, 2) << T;
  }
  EXPECT_EQ(SV_SCOREBOARD, 1);
  size_t SEEN = LINES.size();
  ACT("10.0.0.1", 1000, 0);
  CYCLE();
  EXPECT_EQ(SV_SCOREBOARD, 0);
  EXPECT_EQ(SV_CURCLIENTS, 0);
  EXPECT_EQ(SV_CURPLAYERS, 0);
  EXPECT_EQ(SV_MAP.NUM, 2);
  EXPECT_EQ(SV_MAP.SPN, 1);
  EXPECT_EQ(std::vector<std::string>(LINES.begin() + long(SEEN), LINES.end()),
            (std::vector<std::string>{"Ann disconnected!", "Bob disconnected!"}));
  // The clients are not told; their next data message is answered.
  MEMNET_OUT.clear();
  SEND("10.0.0.1", 1000, CL_DATA(0, 0, 0, 0, 0, 0));
  CYCLE();
  EXPECT_EQ(TAKE("10.0.0.1", 1000), std::vector<std::string>{BYTES({CLMPMSG_NOCON})});
  // A new match on the new map: the first client stands on its spawn point.
  EXPECT_EQ(CONNECT("10.0.0.1", 1000, "Ann"), 1);
  EXPECT_EQ(SV_CLIENTSLIST[1].X, 2 * 64 + 32);
  EXPECT_EQ(SV_CLIENTSLIST[1].Y, 2 * 64 + 32);
  EXPECT_EQ(LASTSTATE("10.0.0.1", 1000).BOARD, 0);
}
