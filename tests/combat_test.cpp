// Bot sight and combat: the sampled line of sight, who counts as an enemy,
// the weapon for the distance, and the aim that turns 8 degrees a tick and
// fires once it is on the bearing.
#include <cmath>

#include "bots/bots.hpp"
#include "game/game.hpp"
#include "support/testmap.hpp"
#include "support/testserver.hpp"

class CombatTest : public TServerTest {
protected:
  // An open map with a wall column at x cell 20 and an obstacle column at x
  // cell 40, both over rows 30 to 34.
  static std::vector<std::string> WALLROWS() {
    std::vector<std::string> ROWS = OPENROWS(64);
    for (int Y = 30; Y <= 34; Y++) {
      ROWS[size_t(Y - 1)][19] = 'A';
      ROWS[size_t(Y - 1)][39] = 'e';
    }
    return ROWS;
  }
  static std::string IPOF(int N) { return "10.0.0." + std::to_string(N); }
  // A data message from client N standing still, facing DIR, acting ACT.
  void TALK(int N, uint8_t S, uint16_t DIR = 0, uint8_t ACT = 0) {
    const TCLIENT& C = SV_CLIENTSLIST[S];
    SEND(IPOF(N), 1000, CL_DATA(SV_PINGVAR, DIR, ACT, C.X, C.Y, SV_LOGI));
  }
};

TEST_F(CombatTest, LineOfSight) {
  START();
  TESTMAP(WALLROWS());
  const uint16_t ROW = CELLMID(32);
  struct {
    uint16_t X0, Y0, X1, Y1;
    bool BLOCKED;
  } CASES[] = {
      {CELLMID(10), ROW, CELLMID(30), ROW, true}, // through the wall
      {CELLMID(30), ROW, CELLMID(10), ROW, true},
      {CELLMID(30), ROW, CELLMID(50), ROW, false}, // through the obstacle
      {CELLMID(10), ROW, CELLMID(10), ROW, false}, // one sample, the point itself
      {CELLMID(20), ROW, CELLMID(20), ROW, true},  // ... inside a wall
      {CELLMID(20), ROW, CELLMID(30), ROW, true},  // the start point is tested
      {1260, ROW, 1285, ROW, false},               // the end point is not
      {1260, ROW, 1300, ROW, true},
      {CELLMID(10), CELLMID(10), CELLMID(30), CELLMID(10), false}, // above the wall
      {CELLMID(10), CELLMID(28), CELLMID(30), CELLMID(36), true},  // across it
      {CELLMID(10), CELLMID(25), CELLMID(30), CELLMID(26), false}, // past its end
      {100, 100, 4100, 4100, false},
      {100, 100, 40, 100, true}, // out of the playable cells
  };
  for (const auto& C : CASES) {
    SCOPED_TRACE(testing::Message() << C.X0 << "," << C.Y0 << " to " << C.X1 << "," << C.Y1);
    EXPECT_EQ(LINE_SEE(C.X0, C.Y0, C.X1, C.Y1), C.BLOCKED);
  }
}

// Who a bot takes for an enemy: another live player, not of its team in team
// play, with a line of sight traced from the candidate to the bot.
TEST_F(CombatTest, EnemyTest) {
  struct {
    const char* TEAMS;
    uint8_t ANNTEAM;
    uint16_t ANNX;
    bool ANNSPEC, ANNDEAD;
    bool ENEMY;
  } CASES[] = {
      {"0", 0, CELLMID(35), false, false, true},  // free-for-all: anybody alive
      {"1", 0, CELLMID(35), false, false, false}, // a team mate
      {"1", 1, CELLMID(35), false, false, true},
      {"0", 0, CELLMID(10), false, false, false}, // behind the wall
      {"0", 0, CELLMID(50), false, false, true},  // behind the obstacle
      {"0", 0, CELLMID(35), true, false, false},  // a spectator
      {"0", 0, CELLMID(35), false, true, false},  // dead
  };
  for (const auto& C : CASES) {
    SCOPED_TRACE(testing::Message() << "teams " << C.TEAMS << " x " << C.ANNX);
    SetUp();
    START({"-bots", "1", "-botteams", "1", "-teams", C.TEAMS});
    uint8_t ANN = CONNECT(IPOF(1), 1000, "Ann", C.ANNTEAM);
    ASSERT_EQ(ANN, 1);
    TESTMAP(WALLROWS());
    const uint8_t B = 2;
    if (!C.ANNSPEC) {
      TALK(1, ANN, 0, PLACT_SJ);
      CYCLE();
      ASSERT_TRUE(SV_CLIENTSLIST[ANN].PLAY);
    }
    SV_CLIENTSLIST[ANN].X = C.ANNX;
    SV_CLIENTSLIST[ANN].Y = CELLMID(32);
    SV_CLIENTSLIST[ANN].HITS = C.ANNDEAD ? 0 : 100;
    SV_CLIENTSLIST[B].X = CELLMID(30);
    SV_CLIENTSLIST[B].Y = CELLMID(32);
    EXPECT_EQ(BOT_CHECK_ENEMY(B, ANN), C.ENEMY);
    // Never itself, never a free slot.
    EXPECT_FALSE(BOT_CHECK_ENEMY(B, B));
    EXPECT_FALSE(BOT_CHECK_ENEMY(B, 3));
  }
}

// The line is traced from the candidate toward the bot, and the samples of
// the two ways differ next to a wall corner.
TEST_F(CombatTest, SightIsTracedFromTheCandidate) {
  START({"-bots", "1"});
  uint8_t ANN = JOIN(IPOF(1), 1000, "Ann");
  std::vector<std::string> ROWS = OPENROWS(64);
  ROWS[28][19] = 'A'; // cell (20, 29)
  TESTMAP(ROWS);
  const uint8_t B = 2;
  struct {
    uint16_t X, Y;
    bool ENEMY;
  } CASES[] = {{1315, 1950, true}, {1295, 1935, false}};
  for (const auto& C : CASES) {
    SCOPED_TRACE(testing::Message() << C.X << "," << C.Y);
    SV_CLIENTSLIST[B].X = 1200;
    SV_CLIENTSLIST[B].Y = 1800;
    SV_CLIENTSLIST[ANN].X = C.X;
    SV_CLIENTSLIST[ANN].Y = C.Y;
    EXPECT_NE(LINE_SEE(C.X, C.Y, 1200, 1800), LINE_SEE(1200, 1800, C.X, C.Y));
    EXPECT_EQ(BOT_CHECK_ENEMY(B, ANN), C.ENEMY);
  }
}

TEST_F(CombatTest, WeaponForTheDistance) {
  START({"-bots", "1"});
  uint8_t ANN = CONNECT(IPOF(1), 1000, "Ann");
  TESTMAP(OPENROWS(64));
  const uint8_t B = 2;
  struct {
    uint8_t AMMO1, AMMO2;
    bool G3, G4, G5;
    uint8_t GUN;
    int DX; // DIST3 of (DX, 0) is DX * 123 / 128
    uint8_t ACT;
  } CASES[] = {
      {25, 0, false, false, false, 2, 52, 1}, // 49: the knife
      {25, 0, false, false, false, 2, 53, 0}, // 50: the pistol, in hand already
      {25, 0, false, false, false, 1, 53, 2},
      {25, 0, false, true, false, 2, 53, 4},   // the chaingun from 50
      {25, 0, false, true, false, 2, 1040, 4}, // 999
      {25, 0, false, true, false, 1, 1041, 2}, // 1000: out of its range
      {25, 0, false, true, false, 2, 52, 1},
      {25, 5, true, false, true, 2, 521, 3}, // weapon 3 before the rifle
      {25, 5, true, true, true, 2, 521, 4},
      {25, 5, true, true, true, 2, 2000, 3},
      {25, 5, false, false, true, 2, 521, 5},
      {25, 0, false, false, true, 2, 521, 0}, // no rifle without its rounds
      {0, 5, false, false, true, 2, 10, 5},   // no bullets: the rifle even close
      {0, 5, true, true, false, 2, 500, 1},
      {0, 0, false, false, true, 2, 500, 1},
      {0, 5, false, false, true, 5, 500, 0},
  };
  for (const auto& C : CASES) {
    SCOPED_TRACE(testing::Message() << "ammo " << int(C.AMMO1) << "," << int(C.AMMO2) << " guns "
                                    << C.G3 << C.G4 << C.G5 << " dx " << C.DX);
    TCLIENT& S = SV_CLIENTSLIST[B];
    S.X = 1000;
    S.Y = 2000;
    SV_CLIENTSLIST[ANN].X = uint16_t(1000 + C.DX);
    SV_CLIENTSLIST[ANN].Y = 2000;
    S.B_EN = ANN;
    S.AMMO[1] = C.AMMO1;
    S.AMMO[2] = C.AMMO2;
    S.GUNS[3] = C.G3;
    S.GUNS[4] = C.G4;
    S.GUNS[5] = C.G5;
    S.GUN = C.GUN;
    S.ACT = 0;
    BOT_CHOOSE_GUN(B);
    EXPECT_EQ(S.ACT, C.ACT);
  }
}

// Facing 0 with an enemy at bearing 20: 8, then 16, then 20, and the shot in
// that third tick.
TEST_F(CombatTest, AimsEightDegreesATickAndFiresOnTheBearing) {
  START({"-bots", "1"});
  uint8_t ANN = JOIN(IPOF(1), 1000, "Ann");
  TESTMAP(OPENROWS(64));
  const uint8_t B = 2;
  TCLIENT& S = SV_CLIENTSLIST[B];
  S.X = 1000;
  S.Y = 2000;
  S.DIR = 0;
  S.B_EN = ANN;
  S.T_RELOAD = 0;
  SV_CLIENTSLIST[ANN].X = 2000;
  SV_CLIENTSLIST[ANN].Y = 2450;
  ASSERT_EQ(P_DIR(1000, 2000, 2000, 2450), 20);
  struct {
    uint16_t DIR;
    uint8_t ACT;
  } TICKS[] = {{8, 0}, {16, 0}, {20, PLACT_AR}, {20, PLACT_AR}};
  for (const auto& T : TICKS) {
    S.ACT = 0;
    BOT_ATTACK(B);
    EXPECT_EQ(S.DIR, T.DIR);
    EXPECT_EQ(S.ACT, T.ACT);
    EXPECT_EQ(S.B_EN, ANN);
  }
  // The action fires the pistol in hand.
  PLAYER_ACTIONS(B);
  EXPECT_EQ(S.T_RELOAD, 18);
  EXPECT_EQ(S.AMMO[1], 24);
  // While it reloads the bot walks, but its facing and its candidate stay.
  S.B_MDIR = 90;
  S.B_MX = 1000;
  S.B_MY = 3000;
  SV_PINGVAR = 1;
  BOT_CODE(B);
  EXPECT_EQ(S.Y, 2010);
  EXPECT_EQ(S.DIR, 20);
  EXPECT_EQ(S.B_EN, ANN);
  EXPECT_EQ(S.ACT, 0);
  // A target right behind is approached through growing degrees; one ahead
  // to the right through falling ones.
  struct {
    uint16_t DIR;
    uint16_t AX, AY;
    uint16_t TURNED;
  } TURNS[] = {
      {0, 100, 2000, 8},    {90, 1000, 1000, 98}, {30, 2000, 2000, 22},
      {355, 2000, 2000, 0}, {3, 2000, 2000, 0},   {450, 2000, 2000, 82},
  };
  for (const auto& T : TURNS) {
    S.DIR = T.DIR;
    SV_CLIENTSLIST[ANN].X = T.AX;
    SV_CLIENTSLIST[ANN].Y = T.AY;
    S.ACT = 0;
    BOT_ATTACK(B);
    EXPECT_EQ(S.DIR, T.TURNED) << T.DIR;
  }
}

// The candidate moves on by one slot per look, 24 following to 1, and stays
// while it qualifies; a bot without an enemy faces its walk direction.
TEST_F(CombatTest, CandidateCycling) {
  START({"-bots", "1"});
  uint8_t ANN = JOIN(IPOF(1), 1000, "Ann");
  TESTMAP(OPENROWS(64));
  const uint8_t B = 2;
  TCLIENT& S = SV_CLIENTSLIST[B];
  S.X = 1000;
  S.Y = 2000;
  SV_CLIENTSLIST[ANN].X = 1500;
  SV_CLIENTSLIST[ANN].Y = 2000;
  S.B_EN = 2; // a new bot watches itself: nobody
  S.B_MDIR = 123;
  S.DIR = 0;
  BOT_ATTACK(B);
  EXPECT_EQ(S.B_EN, 3);
  EXPECT_EQ(S.DIR, 123);
  int LOOKS = 1;
  while (S.B_EN != ANN && LOOKS < 30) {
    BOT_ATTACK(B);
    LOOKS++;
  }
  EXPECT_EQ(LOOKS, 23); // 3 to 24, then 1
  for (int I = 0; I < 5; I++) {
    BOT_ATTACK(B);
    EXPECT_EQ(S.B_EN, ANN);
  }
  EXPECT_EQ(S.DIR, 123 - 5 * 8); // turning toward her
}

// Played out: a bot that shares its spawn point with a human who stands
// still fights him, unless they are on one team.
TEST_F(CombatTest, BotFightsAHuman) {
  struct {
    const char* TEAMS;
    uint8_t ANNTEAM;
    bool FIGHTS;
  } CASES[] = {{"0", 0, true}, {"1", 1, true}, {"1", 0, false}};
  for (const auto& C : CASES) {
    SCOPED_TRACE(testing::Message() << "teams " << C.TEAMS << " Ann's team " << int(C.ANNTEAM));
    SetUp();
    START({"-bots", "1", "-botteams", "1", "-teams", C.TEAMS});
    std::vector<std::string> ROWS = OPENROWS(64);
    ROWS[31][31] = '@';
    TESTMAP(ROWS);
    uint8_t ANN = JOIN(IPOF(1), 1000, "Ann", C.ANNTEAM);
    const uint8_t B = 2;
    EXPECT_EQ(SV_CLIENTSLIST[ANN].X, CELLMID(32));
    size_t SEEN = LINES.size();
    int T = 0;
    for (; T < 1000 && SV_CLIENTSLIST[ANN].HITS > 0; T++) {
      TALK(1, ANN);
      CYCLE();
    }
    if (!C.FIGHTS) {
      EXPECT_EQ(SV_CLIENTSLIST[ANN].HITS, 100);
      EXPECT_EQ(SV_CLIENTSLIST[B].AMMO[1], 25);
      EXPECT_EQ(LINES.size(), SEEN);
      continue;
    }
    ASSERT_EQ(SV_CLIENTSLIST[ANN].HITS, 0) << T;
    ASSERT_EQ(LINES.size(), SEEN + 1);
    std::string BOT = std::string(SV_TEAMPLAY ? "[SS]" : "") + "BOT #1";
    std::string WHO = std::string(SV_TEAMPLAY ? "[MU]" : "") + "Ann";
    EXPECT_TRUE(LINES.back() == BOT + " > pistol > " + WHO ||
                LINES.back() == BOT + " > knife > " + WHO)
        << LINES.back();
    EXPECT_EQ(SV_CLIENTSLIST[B].SCORE, 1);
    EXPECT_LT(SV_CLIENTSLIST[B].AMMO[1], 25);
  }
}

// Played out: a human aims at a bot by the positions in the state packets
// and kills it; the dead bot asks to respawn every tick and is back after
// the 30 ticks of a death.
TEST_F(CombatTest, HumanKillsABotThatComesBack) {
  START({"-bots", "1"});
  std::vector<std::string> ROWS = OPENROWS(64);
  ROWS[31][31] = '@';
  TESTMAP(ROWS);
  uint8_t ANN = JOIN(IPOF(1), 1000, "Ann");
  const uint8_t B = 2;
  SV_CLIENTSLIST[B].HITS = 20; // one pistol shot less than its armour: a few hits
  size_t SEEN = LINES.size();
  int T = 0;
  CL_STATE S = LASTSTATE(IPOF(1), 1000);
  for (; T < 500 && SV_CLIENTSLIST[B].HITS > 0; T++) {
    ASSERT_EQ(S.PLAYERS.size(), 2u);
    const CL_ENTRY& ME = S.PLAYERS[0];
    const CL_ENTRY& IT = S.PLAYERS[1];
    double BEARING = std::atan2(double(IT.Y) - ME.Y, double(IT.X) - ME.X) * 180 / M_PI;
    uint16_t DIR = uint16_t(std::lround(BEARING + 360) % 360);
    TALK(1, ANN, DIR, PLACT_AR);
    CYCLE();
    S = LASTSTATE(IPOF(1), 1000);
  }
  ASSERT_EQ(SV_CLIENTSLIST[B].HITS, 0) << T;
  EXPECT_EQ(std::vector<std::string>(LINES.begin() + long(SEEN), LINES.end()).back(),
            "Ann > pistol > BOT #1");
  EXPECT_EQ(S.PLAYERS[1].STATE, PS_DEAD);
  for (int K = 1; K <= 30; K++) {
    TALK(1, ANN);
    CYCLE();
    S = LASTSTATE(IPOF(1), 1000);
    EXPECT_EQ(S.PLAYERS[1].STATE, K < 30 ? PS_DEAD : PS_LIVE) << K;
  }
  EXPECT_EQ(SV_CLIENTSLIST[B].HITS, 100);
  EXPECT_EQ(SV_CLIENTSLIST[B].T_RELOAD, 9); // no shot in its first ticks back
}
