// Shooting and damage: ammunition and timers, the trace along the facing
// (reach, walls, hit boxes, spread), the split between armour and health,
// kills, scores and the end of a map.
#include <cmath>

#include "game/game.hpp"
#include "support/testmap.hpp"
#include "support/testserver.hpp"

class ShootTest : public TServerTest {
protected:
  // A human in the game at (X, Y), connected from 10.0.0.N.
  uint8_t PLAYERAT(int N, const std::string& NAME, uint16_t X, uint16_t Y, uint8_t TEAM = 0) {
    uint8_t S = JOIN(IPOF(N), 1000, NAME, TEAM);
    EXPECT_NE(S, 0);
    EXPECT_TRUE(SV_CLIENTSLIST[S].PLAY);
    SV_CLIENTSLIST[S].X = X;
    SV_CLIENTSLIST[S].Y = Y;
    return S;
  }
  static std::string IPOF(int N) { return "10.0.0." + std::to_string(N); }
  // Slot S sends fire along DIR from where it stands, and one tick runs.
  void FIRE(int N, uint8_t S, uint16_t DIR, uint8_t ACT = PLACT_AR) {
    const TCLIENT& C = SV_CLIENTSLIST[S];
    SEND(IPOF(N), 1000, CL_DATA(SV_PINGVAR, DIR, ACT, C.X, C.Y, C.LOGI));
    CYCLE();
  }
  // Puts a shooter's weapon in hand with a full reload behind it.
  static void ARM(uint8_t S, uint8_t GUN, uint8_t AMMO1 = 200, uint8_t AMMO2 = 30) {
    TCLIENT& C = SV_CLIENTSLIST[S];
    C.GUNS[GUN] = true;
    C.GUN = GUN;
    C.NGUN = GUN;
    C.AMMO[1] = AMMO1;
    C.AMMO[2] = AMMO2;
    C.T_RELOAD = 0;
  }
  static void FULL(uint8_t S) {
    SV_CLIENTSLIST[S].HITS = 100;
    SV_CLIENTSLIST[S].ARMOR = 0;
  }
};

TEST_F(ShootTest, ArmourAndHealthSplit) {
  START();
  TESTMAP(OPENROWS(64));
  uint8_t A = PLAYERAT(1, "Ann", 1000, 1000);
  uint8_t B = PLAYERAT(2, "Bob", 2000, 2000);
  struct {
    uint8_t ARMOR, GUN, ARMORAFTER, LOST;
  } CASES[] = {
      {25, 2, 17, 4}, {0, 2, 0, 8},     {5, 2, 0, 5},      {3, 3, 0, 6},
      {25, 1, 0, 37}, {100, 5, 60, 20}, {8, 2, 0, 4}, // armour that just covers the hit
      {7, 2, 0, 4},   {0, 1, 0, 50},    {255, 5, 215, 20},
  };
  for (const auto& C : CASES) {
    SCOPED_TRACE(testing::Message() << "armour " << int(C.ARMOR) << " gun " << int(C.GUN));
    SV_CLIENTSLIST[B].HITS = 100;
    SV_CLIENTSLIST[B].ARMOR = C.ARMOR;
    PLAYER_DAMAGE(A, B, C.GUN);
    EXPECT_EQ(SV_CLIENTSLIST[B].ARMOR, C.ARMORAFTER);
    EXPECT_EQ(100 - SV_CLIENTSLIST[B].HITS, C.LOST);
  }
  EXPECT_EQ(SV_CLIENTSLIST[A].SCORE, 0);
}

TEST_F(ShootTest, LowHealthSurvivesOnceThenDies) {
  START();
  TESTMAP(OPENROWS(64));
  uint8_t A = PLAYERAT(1, "Ann", 1000, 2080);
  uint8_t B = PLAYERAT(2, "Bob", 1500, 2080);
  SV_CLIENTSLIST[B].HITS = 5;
  SV_CLIENTSLIST[B].ARMOR = 100;
  FIRE(1, A, 0);
  EXPECT_EQ(SV_CLIENTSLIST[B].HITS, 1);
  EXPECT_EQ(SV_CLIENTSLIST[B].ARMOR, 92);
  EXPECT_EQ(SV_CLIENTSLIST[A].AMMO[1], 24);
  EXPECT_EQ(LASTSTATE(IPOF(1), 1000).PLAYERS[1].STATE, PS_LIVE);
  // The pistol reloads for 18 ticks; the next shot kills.
  CYCLE(18);
  size_t SEEN = LINES.size();
  FIRE(1, A, 0);
  EXPECT_EQ(SV_CLIENTSLIST[B].HITS, 0);
  EXPECT_EQ(SV_CLIENTSLIST[B].ARMOR, 84);
  EXPECT_EQ(SV_CLIENTSLIST[A].SCORE, 1);
  ASSERT_EQ(LINES.size(), SEEN + 1);
  EXPECT_EQ(LINES.back(), "Ann > pistol > Bob");
  EXPECT_EQ(SV_LOG[0], BYTES({LOGMESSID_KILL, 2, A, B}));
  CL_STATE S = LASTSTATE(IPOF(2), 1000);
  ASSERT_EQ(S.PLAYERS.size(), 2u);
  EXPECT_EQ(S.PLAYERS[0].SCORE, 1);
  EXPECT_EQ(S.PLAYERS[1].STATE, PS_DEAD);
  EXPECT_EQ(S.HITS, 0);
  // The dead are not hit again.
  CYCLE(18);
  FIRE(1, A, 0);
  EXPECT_EQ(SV_CLIENTSLIST[A].SCORE, 1);
  EXPECT_EQ(SV_CLIENTSLIST[B].ARMOR, 84);
}

// Along each axis the knife hits a victim less than 70 units ahead (its last
// test point is 40 units out, the hit box reaches 29 beyond); the other
// weapons reach across the whole grid. DIR is taken modulo 360. The first
// test point is the shooter's own position: a victim within 29 units on both
// axes is hit whatever the facing.
TEST_F(ShootTest, ReachAlongTheFacing) {
  START();
  TESTMAP(OPENROWS(64));
  uint8_t A = PLAYERAT(1, "Ann", 2080, 2080);
  uint8_t B = PLAYERAT(2, "Bob", 0, 0);
  struct {
    uint8_t GUN;
    uint16_t SX, SY, DIR;
    int DX, DY;
    bool HIT;
  } CASES[] = {
      {1, 2080, 2080, 0, 69, 0, true},      {1, 2080, 2080, 0, 70, 0, false},
      {1, 2080, 2080, 90, 0, 69, true},     {1, 2080, 2080, 90, 0, 70, false},
      {1, 2080, 2080, 180, -69, 0, true},   {1, 2080, 2080, 180, -70, 0, false},
      {1, 2080, 2080, 270, 0, -69, true},   {1, 2080, 2080, 270, 0, -70, false},
      {1, 2080, 2080, 450, 0, 69, true},    {1, 2080, 2080, 450, 69, 0, false},
      {1, 2080, 2080, 0, 69, 29, true},     {1, 2080, 2080, 0, 69, 30, false},
      {2, 100, 2080, 0, 4000, 0, true},     {2, 100, 2080, 180, 4000, 0, false},
      {2, 100, 100, 45, 4000, 4000, true},  {3, 4100, 2080, 180, -4000, 0, true},
      {5, 2080, 4100, 270, 0, -4000, true}, {1, 2080, 2080, 225, 29, 29, true},
      {1, 2080, 2080, 45, -29, -29, true},  {1, 2080, 2080, 90, 0, 0, true},
      {1, 2080, 2080, 315, -29, 29, true},  {1, 2080, 2080, 180, 30, 0, false},
      {1, 2080, 2080, 90, 0, -30, false},
  };
  for (const auto& C : CASES) {
    SCOPED_TRACE(testing::Message()
                 << "gun " << int(C.GUN) << " dir " << C.DIR << " offset " << C.DX << "," << C.DY);
    ARM(A, C.GUN);
    SV_CLIENTSLIST[A].X = C.SX;
    SV_CLIENTSLIST[A].Y = C.SY;
    SV_CLIENTSLIST[A].DIR = C.DIR;
    SV_CLIENTSLIST[B].X = uint16_t(C.SX + C.DX);
    SV_CLIENTSLIST[B].Y = uint16_t(C.SY + C.DY);
    FULL(B);
    PLAYER_SHOOT(A);
    EXPECT_EQ(SV_CLIENTSLIST[B].HITS < 100, C.HIT);
  }
}

TEST_F(ShootTest, WallsStopShotsObstaclesDoNot) {
  struct {
    char CELL;
    bool HIT;
  } CASES[] = {{' ', true}, {'A', false}, {'Z', false}, {'e', true},
               {'z', true}, {'@', true},  {'5', true},  {'a', true}};
  for (const auto& C : CASES) {
    SCOPED_TRACE(testing::Message() << "cell '" << C.CELL << "'");
    SetUp();
    START();
    std::vector<std::string> ROWS = OPENROWS(64);
    // A column of the cell at x = 20, between shooter (x cell 10) and victim
    // (x cell 30).
    for (int Y = 30; Y <= 34; Y++) {
      ROWS[size_t(Y - 1)][19] = C.CELL;
    }
    TESTMAP(ROWS);
    uint8_t A = PLAYERAT(1, "Ann", CELLMID(10), CELLMID(32));
    uint8_t B = PLAYERAT(2, "Bob", CELLMID(30), CELLMID(32));
    SV_CLIENTSLIST[B].ARMOR = 0;
    FIRE(1, A, 0);
    EXPECT_EQ(SV_CLIENTSLIST[B].HITS, C.HIT ? 92 : 100);
    // The same from the other side.
    CYCLE(20);
    FIRE(2, B, 180);
    EXPECT_EQ(SV_CLIENTSLIST[A].HITS, C.HIT ? 96 : 100);
  }
}

// At every point the wall is tested before the players: a victim whose hit
// box reaches into a wall cell is not hit at a point inside that cell.
TEST_F(ShootTest, WallComesFirstAtAPoint) {
  START();
  std::vector<std::string> ROWS = OPENROWS(64);
  ROWS[28][19] = 'A'; // cell (20, 29): x 1280 to 1343, y 1856 to 1919
  TESTMAP(ROWS);
  // The trace at 315 degrees passes (1327, 1922), outside both, then
  // (1334, 1915), inside the wall and inside the box.
  uint8_t A = PLAYERAT(1, "Ann", 1200, 2050);
  uint8_t B = PLAYERAT(2, "Bob", 1359, 1935);
  SV_CLIENTSLIST[B].ARMOR = 0;
  FIRE(1, A, 315);
  EXPECT_EQ(SV_CLIENTSLIST[A].AMMO[1], 24);
  EXPECT_EQ(SV_CLIENTSLIST[B].HITS, 100);
  // Without the wall he is hit there.
  SV_MAP.CGRID[20][29] = CG_N;
  CYCLE(20);
  FIRE(1, A, 315);
  EXPECT_EQ(SV_CLIENTSLIST[B].HITS, 92);
}

// The first test point that falls into any hit box decides; at that point
// the lowest slot is hit.
TEST_F(ShootTest, OverlappingVictims) {
  START();
  TESTMAP(OPENROWS(64));
  uint8_t A = PLAYERAT(1, "Ann", 1000, 2080);
  uint8_t B = PLAYERAT(2, "Bob", 0, 0);
  uint8_t C3 = PLAYERAT(3, "Cid", 0, 0);
  struct {
    uint16_t XB, XC;
    uint8_t HIT;
  } CASES[] = {
      {1100, 1100, 2}, // same place: the lower slot
      {1109, 1100, 2}, // point 1080 lies in both boxes: the lower slot, though further
      {1110, 1100, 3}, // point 1080 lies only in the nearer box
      {1100, 1130, 2},
  };
  for (const auto& C : CASES) {
    SCOPED_TRACE(testing::Message() << C.XB << " " << C.XC);
    ARM(A, 2);
    SV_CLIENTSLIST[A].DIR = 0;
    SV_CLIENTSLIST[B].X = C.XB;
    SV_CLIENTSLIST[B].Y = 2080;
    SV_CLIENTSLIST[C3].X = C.XC;
    SV_CLIENTSLIST[C3].Y = 2080;
    FULL(B);
    FULL(C3);
    PLAYER_SHOOT(A);
    EXPECT_EQ(SV_CLIENTSLIST[B].HITS, C.HIT == B ? 92 : 100);
    EXPECT_EQ(SV_CLIENTSLIST[C3].HITS, C.HIT == C3 ? 92 : 100);
  }
}

TEST_F(ShootTest, AmmunitionAndTimers) {
  START();
  TESTMAP(OPENROWS(64));
  uint8_t A = PLAYERAT(1, "Ann", 2080, 2080);
  uint8_t B = PLAYERAT(2, "Bob", 2120, 2080);
  struct {
    uint8_t GUN, AMMO1, AMMO2;
    bool FIRES;
    uint8_t AMMO1AFTER, AMMO2AFTER, RELOAD, GANIM;
  } CASES[] = {
      {1, 0, 0, true, 0, 0, 20, 8}, // the knife always fires
      {2, 0, 30, false, 0, 30, 0, 0},   {2, 1, 0, true, 0, 0, 18, 6},
      {3, 0, 0, false, 0, 0, 0, 0},     {3, 5, 0, true, 4, 0, 5, 3},
      {4, 0, 30, false, 0, 30, 0, 0},   {4, 200, 0, true, 199, 0, 3, 2},
      {5, 200, 0, false, 200, 0, 0, 0}, // the rifle takes kind 2 only
      {5, 0, 1, true, 0, 0, 30, 6},     {5, 200, 30, true, 200, 29, 30, 6},
  };
  for (const auto& C : CASES) {
    SCOPED_TRACE(testing::Message()
                 << "gun " << int(C.GUN) << " ammo " << int(C.AMMO1) << "," << int(C.AMMO2));
    ARM(A, C.GUN, C.AMMO1, C.AMMO2);
    SV_CLIENTSLIST[A].T_GANIM = 0;
    FULL(B);
    FIRE(1, A, 0);
    const TCLIENT& S = SV_CLIENTSLIST[A];
    EXPECT_EQ(SV_CLIENTSLIST[B].HITS < 100, C.FIRES);
    EXPECT_EQ(S.AMMO[1], C.AMMO1AFTER);
    EXPECT_EQ(S.AMMO[2], C.AMMO2AFTER);
    // One tick has counted both timers down since the shot.
    EXPECT_EQ(S.T_RELOAD, C.FIRES ? C.RELOAD - 1 : 0);
    EXPECT_EQ(S.T_GANIM, C.FIRES ? C.GANIM - 1 : 0);
    EXPECT_EQ(S.GUN, C.GUN); // no change of weapon for want of ammunition
  }
  // The chosen weapon comes into the hand as the shot is fired.
  ARM(A, 2, 0, 0);
  SV_CLIENTSLIST[A].NGUN = 1;
  FULL(B);
  PLAYER_SHOOT(A);
  EXPECT_EQ(SV_CLIENTSLIST[A].GUN, 1);
  EXPECT_EQ(SV_CLIENTSLIST[B].HITS, 50);
  // A state packet shows the firing animation with the weapon.
  CYCLE();
  CL_STATE ST = LASTSTATE(IPOF(2), 1000);
  EXPECT_EQ(ST.PLAYERS[0].STATE, PS_ATTA);
  EXPECT_EQ(ST.PLAYERS[0].GUN, 1);
}

// The chaingun's spread follows the tick counter: (counter mod 8) - 4
// degrees. Each victim stands at one angle, 2000 units out, where a degree
// is more than a hit box wide.
TEST_F(ShootTest, ChaingunSpreadFollowsTheTickCounter) {
  START();
  TESTMAP(OPENROWS(64));
  uint8_t A = PLAYERAT(1, "Ann", 200, 2080);
  uint8_t B = PLAYERAT(2, "Bob", 0, 0);
  for (int ANGLE = -4; ANGLE <= 3; ANGLE++) {
    SV_CLIENTSLIST[B].X = 2200;
    SV_CLIENTSLIST[B].Y = uint16_t(2080 + std::lround(2000 * std::tan(ANGLE * M_PI / 180)));
    for (uint16_t TICK : {0, 1, 2, 3, 4, 5, 6, 7, 13, 1000, 65533, 65535}) {
      SCOPED_TRACE(testing::Message() << "angle " << ANGLE << " tick " << TICK);
      SV_PINGVAR = TICK;
      ARM(A, 4);
      SV_CLIENTSLIST[A].DIR = 0;
      FULL(B);
      PLAYER_SHOOT(A);
      EXPECT_EQ(SV_CLIENTSLIST[B].HITS < 100, TICK % 8 - 4 == ANGLE);
    }
  }
  // The spread turns from the facing across 0 degrees: DIR 2 with -4 flies
  // at 358.
  SV_CLIENTSLIST[B].Y = uint16_t(2080 + std::lround(2000 * std::tan(-2 * M_PI / 180)));
  SV_PINGVAR = 0;
  ARM(A, 4);
  SV_CLIENTSLIST[A].DIR = 2;
  FULL(B);
  PLAYER_SHOOT(A);
  EXPECT_EQ(SV_CLIENTSLIST[B].HITS, 92);
}

// Outside team play the kill that brings the shooter to the score limit logs
// the kill, then the win, and starts the score board.
TEST_F(ShootTest, KillAtScoreLimitStartsTheBoard) {
  START({"-score", "3"});
  TESTMAP(OPENROWS(64));
  uint8_t A = PLAYERAT(1, "Ann", 1000, 2080);
  uint8_t B = PLAYERAT(2, "Bob", 1040, 2080);
  SV_CLIENTSLIST[A].SCORE = 2;
  SV_CLIENTSLIST[B].HITS = 1;
  size_t SEEN = LINES.size();
  FIRE(1, A, 0);
  ASSERT_EQ(LINES.size(), SEEN + 2);
  EXPECT_EQ(LINES[SEEN], "Ann > pistol > Bob");
  EXPECT_EQ(LINES[SEEN + 1], "Ann WINS!");
  EXPECT_EQ(SV_LOG[0], BYTES({LOGMESSID_SCORE, A}));
  EXPECT_EQ(SV_LOG[1], BYTES({LOGMESSID_KILL, 2, A, B}));
  // The board started at 495 and has run one tick.
  CL_STATE S = LASTSTATE(IPOF(1), 1000);
  EXPECT_EQ(S.BOARD, 494);
  EXPECT_EQ(S.PLAYERS[0].SCORE, 3);
}

// In team play team mates are never hit: the shot passes through them to
// the enemy behind.
TEST_F(ShootTest, NoTeamKills) {
  START({"-teams", "1"});
  TESTMAP(OPENROWS(64));
  uint8_t A = PLAYERAT(1, "Ann", 1000, 2080, 1);
  uint8_t B = PLAYERAT(2, "Bob", 1000, 2090, 1); // inside Ann's own box
  uint8_t C3 = PLAYERAT(3, "Cid", 1200, 2080, 1);
  uint8_t D = PLAYERAT(4, "Dan", 1400, 2080, 2);
  EXPECT_EQ(SV_CLIENTSLIST[A].NAME, "[MU]Ann");
  SV_CLIENTSLIST[D].HITS = 1;
  size_t SEEN = LINES.size();
  FIRE(1, A, 0);
  EXPECT_EQ(SV_CLIENTSLIST[B].HITS, 100);
  EXPECT_EQ(SV_CLIENTSLIST[C3].HITS, 100);
  EXPECT_EQ(SV_CLIENTSLIST[D].HITS, 0);
  ASSERT_EQ(LINES.size(), SEEN + 1);
  EXPECT_EQ(LINES.back(), "[MU]Ann > pistol > [SO]Dan");
  // Without team play the team mate in front is hit.
  SV_TEAMPLAY = 0;
  CYCLE(20);
  FIRE(1, A, 0);
  EXPECT_EQ(SV_CLIENTSLIST[B].HITS, 96);
}

// In team play the running sum of the members' scores ends the map when it
// reaches the limit exactly, at the member that completes it.
TEST_F(ShootTest, TeamSumReachesTheLimit) {
  struct {
    uint8_t KILLER;         // slot that kills the victim in slot 1
    uint8_t SCORE2, SCORE7; // team 1 members' scores before the kill
    uint8_t SCORE4;         // a team 2 member's score
    bool ENDS;
  } CASES[] = {
      {2, 3, 1, 0, true},  {7, 3, 1, 0, true},
      {7, 2, 1, 0, false}, {4, 3, 1, 4, true}, // team 2 reaches 5 by itself
      {4, 3, 1, 2, false},
  };
  for (const auto& C : CASES) {
    SCOPED_TRACE(testing::Message() << "killer " << int(C.KILLER));
    SetUp();
    START({"-teams", "1", "-score", "5"});
    TESTMAP(OPENROWS(64));
    const uint8_t TEAMS[8] = {0, 0, 1, 2, 2, 2, 3, 1};
    for (uint8_t S = 1; S <= 7; S++) {
      EXPECT_EQ(PLAYERAT(S, "P" + std::to_string(S), uint16_t(200 + 300 * S), 200, TEAMS[S]), S);
    }
    SV_CLIENTSLIST[2].SCORE = C.SCORE2;
    SV_CLIENTSLIST[7].SCORE = C.SCORE7;
    SV_CLIENTSLIST[4].SCORE = C.SCORE4;
    SV_CLIENTSLIST[C.KILLER].X = 500;
    SV_CLIENTSLIST[C.KILLER].Y = 240;
    SV_CLIENTSLIST[1].HITS = 1;
    size_t SEEN = LINES.size();
    FIRE(C.KILLER, C.KILLER, 270);
    ASSERT_GE(LINES.size(), SEEN + 1);
    EXPECT_EQ(LINES[SEEN], "[" + std::string(TEAMCHAR[TEAMS[C.KILLER]]) + "]P" +
                               std::to_string(C.KILLER) + " > pistol > [SS]P1");
    if (C.ENDS) {
      uint8_t T = TEAMS[C.KILLER];
      ASSERT_EQ(LINES.size(), SEEN + 2);
      EXPECT_EQ(LINES[SEEN + 1], std::string(TEAMNAME[T]) + " team  WINS!");
      EXPECT_EQ(SV_LOG[0], BYTES({LOGMESSID_TSCORE, T}));
      EXPECT_EQ(SV_SCOREBOARD, SCOREBOARDTIME - 1);
    } else {
      EXPECT_EQ(LINES.size(), SEEN + 1);
      EXPECT_EQ(SV_SCOREBOARD, 0);
    }
  }
}
