// Bot navigation: the direction arithmetic, the choice of a walk goal by
// need, and the step that slides along walls and turns away when stuck.
#include "bots/bots.hpp"
#include "game/game.hpp"
#include "support/testmap.hpp"
#include "support/testserver.hpp"

class NavigationTest : public TServerTest {
protected:
  static std::pair<uint16_t, uint16_t> GOAL(uint16_t X, uint16_t Y) { return {X, Y}; }
  // A server with one human spectator (slot 1) and one bot (slot 2).
  uint8_t ONEBOT(const std::vector<std::string>& ARGS = {}) {
    std::vector<std::string> A = {"-bots", "1"};
    A.insert(A.end(), ARGS.begin(), ARGS.end());
    START(A);
    EXPECT_EQ(CONNECT("10.0.0.1", 1000), 1);
    EXPECT_TRUE(SV_CLIENTSLIST[2].BOT);
    return 2;
  }
  // One bot on an open map walled off from row 11 on (y from 704), with an
  // obstacle column at x cell 20 (x from 1280).
  uint8_t CORNER() {
    std::vector<std::string> ROWS = OPENROWS(64);
    ROWS[10] = std::string(64, 'A');
    for (auto& R : ROWS) {
      R[19] = 'e';
    }
    uint8_t B = ONEBOT();
    TESTMAP(ROWS);
    return B;
  }
  static void PUT(uint8_t B, uint16_t X, uint16_t Y, uint16_t MDIR, uint16_t GX, uint16_t GY) {
    TCLIENT& C = SV_CLIENTSLIST[B];
    C.X = X;
    C.Y = Y;
    C.B_MDIR = MDIR;
    C.B_MX = GX;
    C.B_MY = GY;
  }
};

TEST_F(NavigationTest, PseudoAngle) {
  struct {
    int VX, VY;
    uint16_t DIR;
  } CASES[] = {
      {100, 0, 0},      {100, 50, 22},   {100, 100, 45},  {50, 100, 68},    {0, 100, 90},
      {-50, 100, 112},  {-100, 50, 158}, {-100, 0, 180},  {-100, -50, 202}, {-100, -100, 225},
      {0, -100, 270},   {50, -100, 292}, {100, -50, 338}, {100, -1, 0},     {-100, 1, 180},
      {0, 0, 0},        {-100, -1, 180}, {1, -100, 270},  {-1, 100, 90},    {100, -100, 315},
      {-100, 100, 135}, {4000, 3, 0},    {3, 4000, 90},
  };
  for (const auto& C : CASES) {
    SCOPED_TRACE(testing::Message() << C.VX << "," << C.VY);
    EXPECT_EQ(P_DIR(2000, 2000, uint16_t(2000 + C.VX), uint16_t(2000 + C.VY)), C.DIR);
  }
  // The same offsets far from the origin of the grid.
  EXPECT_EQ(P_DIR(100, 4100, 4100, 100), 315);
  EXPECT_EQ(P_DIR(4100, 100, 100, 4100), 135);
}

TEST_F(NavigationTest, DirectionDifferenceAndTurn) {
  struct {
    uint16_t D1, D2;
    int32_t DIFF;
  } DIFFS[] = {
      {10, 350, 20}, {350, 10, -20},  {359, 0, -1},   {0, 180, -180}, {180, 0, -180},
      {0, 0, 0},     {90, 270, -180}, {0, 179, -179}, {179, 0, 179},  {720, 90, -90},
  };
  for (const auto& C : DIFFS) {
    EXPECT_EQ(DIR_DIFF(C.D1, C.D2), C.DIFF) << C.D1 << " " << C.D2;
  }
  struct {
    uint16_t D1, D2;
    uint8_t SPD;
    uint16_t TURNED;
  } TURNS[] = {
      {350, 10, 7, 357}, {10, 350, 7, 3},    {0, 180, 7, 353},  {180, 0, 7, 173},
      {5, 8, 7, 8},      {0, 7, 7, 7},       {0, 8, 7, 7},      {3, 357, 7, 357},
      {0, 0, 7, 0},      {100, 120, 8, 108}, {270, 90, 7, 263},
  };
  for (const auto& C : TURNS) {
    EXPECT_EQ(DIR_TURN(C.D1, C.D2, C.SPD), C.TURNED) << C.D1 << " " << C.D2;
  }
}

// On the built-in map, from each spawn point: a hurt bot heads for the
// nearest health or armour, a healthy one short of bullets for the nearest
// bullets. Equally near items go to the lower item number.
TEST_F(NavigationTest, GoalByNeedOnTheBuiltInMap) {
  uint8_t B = ONEBOT();
  struct {
    uint16_t X, Y;
    uint8_t HITS, AMMO1;
    uint16_t GX, GY;
  } CASES[] = {
      // Rule A: health or armour (kinds 0, 5, 6, 7, 8).
      {288, 352, 50, 25, 416, 480},
      {736, 352, 50, 25, 608, 480},
      {288, 800, 50, 25, 416, 672},
      {736, 800, 89, 200, 608, 672},
      // Rule B: bullets or a missing weapon 3 or 4. Each spawn point has two
      // such items one cell away; the lower number wins.
      {288, 352, 100, 25, 288, 288},
      {736, 352, 100, 25, 736, 288},
      {288, 800, 90, 89, 224, 800},
      {736, 800, 100, 0, 800, 800},
      // The rifle item under the bot gives no bullets: not a goal.
      {544, 608, 100, 25, 544, 544},
  };
  for (const auto& C : CASES) {
    SCOPED_TRACE(testing::Message() << C.X << "," << C.Y << " hits " << int(C.HITS));
    PUT(B, C.X, C.Y, 0, 1000, 1000);
    SV_CLIENTSLIST[B].HITS = C.HITS;
    SV_CLIENTSLIST[B].AMMO[1] = C.AMMO1;
    BOT_TRAGET(B);
    EXPECT_EQ(SV_CLIENTSLIST[B].B_MX, C.GX);
    EXPECT_EQ(SV_CLIENTSLIST[B].B_MY, C.GY);
  }
}

TEST_F(NavigationTest, GoalStaysWhenNothingQualifies) {
  uint8_t B = ONEBOT();
  // Every item giving health or armour is taken.
  for (int I = 1; I <= SV_MAP.ITN; I++) {
    char K = SV_MAP.ITL[I].KIND;
    if (ITEMSP_HITS[K] > 0 || ITEMSP_ARMOR[K] > 0) {
      SV_MAP.ITL[I].RESP = 100;
    }
  }
  PUT(B, 288, 352, 0, 1000, 1000);
  SV_CLIENTSLIST[B].HITS = 10;
  BOT_TRAGET(B);
  EXPECT_EQ(SV_CLIENTSLIST[B].B_MX, 1000);
  EXPECT_EQ(SV_CLIENTSLIST[B].B_MY, 1000);
  // Short of bullets, the same bot heads for them.
  SV_CLIENTSLIST[B].HITS = 90;
  BOT_TRAGET(B);
  EXPECT_EQ(SV_CLIENTSLIST[B].B_MX, 288);
  EXPECT_EQ(SV_CLIENTSLIST[B].B_MY, 288);
}

// A bot well off in health and bullets keeps its goal while it is 64 or more
// away from it; near it, it now and then picks a weapon item at random.
TEST_F(NavigationTest, WellOffBotWandersToWeaponItems) {
  uint8_t B = ONEBOT();
  TCLIENT& C = SV_CLIENTSLIST[B];
  C.HITS = 100;
  C.AMMO[1] = 200;
  for (int T = 0; T < 20; T++) {
    PUT(B, 288, 352, 0, 288 + 67, 352); // DIST3 64
    BOT_TRAGET(B);
    ASSERT_EQ(C.B_MX, 288 + 67);
    ASSERT_EQ(C.B_MY, 352);
  }
  int CHANGED = 0;
  for (int T = 0; T < 100; T++) {
    PUT(B, 288, 352, 0, 288 + 66, 352); // DIST3 63
    BOT_TRAGET(B);
    if (C.B_MX == 288 + 66 && C.B_MY == 352) {
      continue;
    }
    CHANGED++;
    // Only weapon items: kinds 1, 2 and 9.
    bool WEAPON = false;
    for (int I = 1; I <= SV_MAP.ITN; I++) {
      const TITEM& IT = SV_MAP.ITL[I];
      WEAPON = WEAPON || (IT.X == C.B_MX && IT.Y == C.B_MY && ITEMSP_GUN[IT.KIND] > 0);
    }
    EXPECT_TRUE(WEAPON) << C.B_MX << "," << C.B_MY;
  }
  // With six weapon items and one chance in five for each, nearly every
  // call changes the goal, though not all.
  EXPECT_GT(CHANGED, 50);
  EXPECT_LT(CHANGED, 100);
}

// Walking at 30 degrees into a wall that blocks growing y: 9 units in x are
// below 10, so the bot walks the full 11 along the wall at 0 degrees, then
// turns back toward its goal by 7 degrees a tick.
TEST_F(NavigationTest, SlidesAlongAWall) {
  uint8_t B = CORNER();
  // Standing 15 units clear of the wall, goal at bearing 30.
  PUT(B, 1000, 688, 30, 1000 + 299, 688 + 200);
  EXPECT_EQ(P_DIR(1000, 688, 1299, 888), 30);
  struct {
    uint16_t X, MDIR;
  } STEPS[] = {{1011, 0}, {1021, 7}, {1031, 14}, {1041, 21}, {1052, 0}, {1062, 7}};
  SV_PINGVAR = 1;
  for (const auto& S : STEPS) {
    BOT_MOVE(B);
    EXPECT_EQ(SV_CLIENTSLIST[B].X, S.X);
    EXPECT_EQ(SV_CLIENTSLIST[B].Y, 688);
    EXPECT_EQ(SV_CLIENTSLIST[B].B_MDIR, S.MDIR);
    SV_PINGVAR++;
  }
  // The same walk seen by a client: the bot faces its walk direction while
  // it has nobody to fight.
  PUT(B, 1000, 688, 30, 1299, 888);
  SV_PINGVAR = 1;
  SEND("10.0.0.1", 1000, CL_DATA(SV_PINGVAR, 0, 0, 0, 0, SV_LOGI));
  CYCLE();
  CL_STATE S = LASTSTATE("10.0.0.1", 1000);
  ASSERT_EQ(S.PLAYERS.size(), 2u);
  EXPECT_EQ(S.PLAYERS[1].X, 1011);
  EXPECT_EQ(S.PLAYERS[1].Y, 688);
  EXPECT_EQ(S.PLAYERS[1].DIR, 0);
}

// A step cut short whose travelled direction is blocked at once turns the
// bot to the opposite direction.
TEST_F(NavigationTest, TurnsBackWhenTheSlideIsBlocked) {
  uint8_t B = CORNER();
  PUT(B, 1255, 688, 30, 1255 + 299, 688 + 200);
  SV_PINGVAR = 1;
  BOT_MOVE(B);
  // cos 180 of the angle held in single precision is a hair above -1: the
  // step back is 10 units, not 11.
  EXPECT_EQ(SV_CLIENTSLIST[B].X, 1245);
  EXPECT_EQ(SV_CLIENTSLIST[B].Y, 688);
  EXPECT_EQ(SV_CLIENTSLIST[B].B_MDIR, 180);
}

// Blocked on both axes the bot stays, turns by (tick counter mod 190)
// degrees and tries once more; that try stands even when it is short.
TEST_F(NavigationTest, StuckBotTurnsByTheTickCounter) {
  uint8_t B = CORNER();
  struct {
    uint16_t TICK;
    uint16_t X, Y, MDIR;
  } CASES[] = {
      {100, 1264 - 9, 688, 145}, // short, and no slide after a stuck turn
      {135, 1264 - 10, 688, 180},
      {190, 1264, 688, 45},
      {0, 1264, 688, 45},
      {180, 1264 - 7, 688 - 7, 225},
      {65535, 1264 - 8, 688 - 7, 220},
  };
  for (const auto& C : CASES) {
    SCOPED_TRACE(C.TICK);
    // In the corner of both walls, walking into it at 45 degrees.
    PUT(B, 1264, 688, 45, 1364, 788);
    SV_PINGVAR = C.TICK;
    BOT_MOVE(B);
    EXPECT_EQ(SV_CLIENTSLIST[B].X, C.X);
    EXPECT_EQ(SV_CLIENTSLIST[B].Y, C.Y);
    EXPECT_EQ(SV_CLIENTSLIST[B].B_MDIR, C.MDIR);
  }
}

// Right after a respawn the goal is the spawn point itself: the bot turns
// toward 0 degrees, steps away, and then keeps turning back toward it.
TEST_F(NavigationTest, CirclesNearTheSpawnPointAfterARespawn) {
  std::vector<std::string> ROWS = OPENROWS(64);
  ROWS[31][31] = '@';
  uint8_t B = ONEBOT();
  TESTMAP(ROWS);
  PLAYER_RESPAWN(B);
  TCLIENT& C = SV_CLIENTSLIST[B];
  EXPECT_EQ(C.X, 2080);
  EXPECT_EQ(C.B_MX, 2080);
  C.B_MDIR = 0;
  SV_PINGVAR = 1;
  BOT_MOVE(B);
  EXPECT_EQ(C.X, 2091);
  EXPECT_EQ(C.B_MDIR, 0);
  // The goal lies behind: the turn goes through falling degrees.
  BOT_MOVE(B);
  EXPECT_EQ(C.B_MDIR, 353);
  int FAR = 0;
  for (int T = 0; T < 200; T++) {
    SV_PINGVAR = uint16_t(T % 14 + 1); // never a tick of goal choice
    BOT_MOVE(B);
    FAR = std::max<int>(FAR, DIST2(C.X, C.Y, 2080, 2080));
  }
  // A circle of 11 units a tick turning 7 degrees a tick is about 180 units
  // across.
  EXPECT_GT(FAR, 150);
  EXPECT_LT(FAR, 200);
}

// Played out tick by tick: a hurt bot heads for the health nearest to its
// spawn point, is held up by the wall corner in between, slides along it, and
// at the next choice takes the health that is nearest from there.
TEST_F(NavigationTest, HurtBotWalksToHealth) {
  uint8_t B = ONEBOT();
  TCLIENT& C = SV_CLIENTSLIST[B];
  PUT(B, 288, 352, 0, 288, 352);
  C.HITS = 50;
  SV_PINGVAR = 15; // the next tick chooses a goal
  int T = 0;
  for (; T < 100 && C.HITS == 50; T++) {
    SEND("10.0.0.1", 1000, CL_DATA(SV_PINGVAR, 0, 0, 0, 0, SV_LOGI));
    CYCLE();
    if (T == 0) {
      EXPECT_EQ(std::make_pair(C.B_MX, C.B_MY), GOAL(416, 480));
    }
  }
  // Item 11, health "6" in cell (2, 8), taken in this tick.
  EXPECT_EQ(C.HITS, 60);
  EXPECT_EQ(std::make_pair(C.B_MX, C.B_MY), GOAL(160, 544));
  EXPECT_EQ(SV_MAP.ITL[11].RESP, ITEMSP_RESPT['6'] - 1);
  EXPECT_EQ(SV_MAP.ITL[9].RESP, 0);
  EXPECT_GT(T, 15);
}
