// Geometry and movement: the distance estimates, the cell under a point, the
// hit test, and how a human's requested position is taken against the grid.
#include <cmath>

#include "game/game.hpp"
#include "maps/maps.hpp"
#include "support/testserver.hpp"

class MovementTest : public TServerTest {
protected:
  // A started server playing a map made of ROWS (row 1 first).
  void PLAYMAP(const std::vector<std::string>& ROWS) {
    START();
    std::string TEXT = "HEADER";
    for (size_t I = 0; I < ROWS.size(); I++) {
      TEXT += (I > 0 ? "\r" : "") + ROWS[I];
    }
    MAPFROMSTR(1, TEXT + '\0');
    SV_LOADCURMAP(1);
  }
  // A live player in slot S at (X, Y), set up directly.
  static TCLIENT& PUT(uint8_t S, uint16_t X, uint16_t Y) {
    TCLIENT& C = SV_CLIENTSLIST[S];
    C.EXIST = true;
    C.PLAY = true;
    C.HITS = 100;
    C.X = X;
    C.Y = Y;
    return C;
  }
};

TEST_F(MovementTest, SquareRootEstimate) {
  EXPECT_GT(SQRT2(0.0f), 0.0f);
  EXPECT_LT(SQRT2(0.0f), 1e-19f);
  for (float N : {1.0f, 2.0f, 143.0f, 144.0f, 1e4f, 123456.0f, 4.2e9f}) {
    float R = std::sqrt(N);
    EXPECT_GE(SQRT2(N), R * (1 - 1e-6f)) << N;
    EXPECT_LE(SQRT2(N), R * 1.0018f) << N;
  }
}

TEST_F(MovementTest, Dist2Values) {
  struct {
    int32_t DX, DY;
    uint16_t D;
  } CASES[] = {{0, 0, 0},       {3, 4, 5},        {-3, -4, 5}, {12, 0, 12}, {12, 12, 16},
               {1000, 0, 1001}, {0, -1000, 1001}, {8, 8, 11},  {11, 4, 11}};
  for (auto& T : CASES) {
    EXPECT_EQ(DIST2(100, 200, 100 + T.DX, 200 + T.DY), T.D) << T.DX << "," << T.DY;
  }
  // A squared distance of k*k - 1 reads as k - 1 below 20, as 20 at 20.
  for (int K = 2; K < 20; K++) {
    EXPECT_EQ(int(SQRT2(float(K * K - 1))), K - 1) << K;
  }
  EXPECT_EQ(int(SQRT2(float(20 * 20 - 1))), 20);
  // For short steps the estimate is within 11 exactly when the squared
  // distance is below 144.
  for (int A = -20; A <= 20; A++) {
    for (int B = -20; B <= 20; B++) {
      EXPECT_EQ(DIST2(500, 500, 500 + A, 500 + B) <= 11, A * A + B * B < 144) << A << "," << B;
    }
  }
}

TEST_F(MovementTest, Dist2OfFarPointsIsNeverShort) {
  // Squared offsets of these overflow 32 bits; the distance must stay far.
  struct {
    int32_t A, B;
  } CASES[] = {{46341, 0}, {0, 46341},     {46341, 46341}, {50000, 3},
               {65535, 0}, {65535, 65535}, {46340, 46340}, {60000, 30000}};
  for (auto& T : CASES) {
    double TRUE_D = std::sqrt(double(T.A) * T.A + double(T.B) * T.B);
    uint16_t D = DIST2(0, 0, T.A, T.B);
    EXPECT_GE(double(D), std::min(std::floor(TRUE_D), 65535.0)) << T.A << "," << T.B;
    EXPECT_EQ(DIST2(T.A, T.B, 0, 0), D);
  }
}

TEST_F(MovementTest, Dist3Values) {
  struct {
    int32_t DX, DY;
    uint16_t D;
  } CASES[] = {{0, 0, 0}, {100, 0, 96}, {0, 100, 96}, {-100, 0, 96}, {100, 100, 135}, {30, 40, 50}};
  for (auto& T : CASES) {
    EXPECT_EQ(DIST3(1000, 1000, 1000 + T.DX, 1000 + T.DY), T.D) << T.DX << "," << T.DY;
  }
}

TEST_F(MovementTest, CellUnderAPoint) {
  PLAYMAP({"e", "  A"});
  SV_MAP.CGRID[64][64] = CG_P;
  struct {
    uint16_t X, Y;
    uint8_t CG;
  } CASES[] = {
      {64, 64, CG_P},       {127, 127, CG_P},  {128, 64, CG_N},   {191, 128, CG_N},
      {192, 128, CG_B},     {255, 191, CG_B},  {256, 191, CG_N},  {63, 100, CG_B},
      {100, 63, CG_B},      {4160, 100, CG_B}, {100, 4160, CG_B}, {4159, 4159, CG_P},
      {65535, 65535, CG_B}, {0, 0, CG_B},
  };
  for (auto& T : CASES) {
    EXPECT_EQ(CGGXY(T.X, T.Y), T.CG) << T.X << "," << T.Y;
  }
}

TEST_F(MovementTest, PlayerInPoint) {
  START();
  PUT(3, 1000, 1000);
  // Strictly less than 30 units on both axes.
  struct {
    int DX, DY;
    uint8_t HIT;
  } CASES[] = {{0, 0, 3},   {29, 29, 3},  {-29, -29, 3}, {30, 0, 0},
               {0, -30, 0}, {-30, 29, 0}, {29, 30, 0}};
  for (auto& T : CASES) {
    EXPECT_EQ(PLAYERINPOINT(uint16_t(1000 + T.DX), uint16_t(1000 + T.DY), 1), T.HIT)
        << T.DX << "," << T.DY;
  }
  // The shooter himself, spectators and the dead are never hit; overlapping
  // squares give the lowest slot.
  EXPECT_EQ(PLAYERINPOINT(1000, 1000, 3), 0);
  PUT(2, 1010, 1010);
  EXPECT_EQ(PLAYERINPOINT(1005, 1005, 1), 2);
  SV_CLIENTSLIST[2].HITS = 0;
  EXPECT_EQ(PLAYERINPOINT(1005, 1005, 1), 3);
  SV_CLIENTSLIST[2].HITS = 100;
  SV_CLIENTSLIST[2].PLAY = false;
  EXPECT_EQ(PLAYERINPOINT(1005, 1005, 1), 3);
  SV_CLIENTSLIST[2].PLAY = true;
  SV_CLIENTSLIST[2].EXIST = false;
  EXPECT_EQ(PLAYERINPOINT(1005, 1005, 1), 3);
  // Team mates are safe in team play only.
  PUT(1, 2000, 2000).TEAM = 1;
  SV_CLIENTSLIST[3].TEAM = 1;
  EXPECT_EQ(PLAYERINPOINT(1000, 1000, 1), 3);
  SV_TEAMPLAY = 1;
  EXPECT_EQ(PLAYERINPOINT(1000, 1000, 1), 0);
  SV_CLIENTSLIST[3].TEAM = 2;
  EXPECT_EQ(PLAYERINPOINT(1000, 1000, 1), 3);
  // Leaving nobody out (no shooter) still works in team play.
  EXPECT_EQ(PLAYERINPOINT(1000, 1000, 0), 3);
}

TEST_F(MovementTest, StepsWithinElevenUnits) {
  PLAYMAP({});
  struct {
    int DX, DY;
    bool TAKEN;
  } CASES[] = {{0, 0, true},    {11, 0, true},  {0, -11, true}, {8, 8, true},
               {11, 4, true},   {-8, -8, true}, {-11, 4, true}, {12, 0, false},
               {0, -12, false}, {9, 8, false},  {10, 7, false}, {-10, -7, false}};
  for (auto& T : CASES) {
    TCLIENT& C = PUT(1, 1000, 1000);
    C.MX = uint16_t(1000 + T.DX);
    C.MY = uint16_t(1000 + T.DY);
    PLAYER_MOVE(1);
    EXPECT_EQ(C.X, T.TAKEN ? C.MX : 1000) << T.DX << "," << T.DY;
    EXPECT_EQ(C.Y, T.TAKEN ? C.MY : 1000) << T.DX << "," << T.DY;
  }
}

TEST_F(MovementTest, FarRequestsNeverMoveAnyone) {
  PLAYMAP({});
  // Offsets whose squares overflow 32 bits used to wrap into a short step.
  struct {
    int DX, DY;
  } CASES[] = {{46341, 0}, {0, 46341}, {46341, 46341}, {46345, 3},
               {50000, 0}, {60000, 2}, {46341, 2000},  {47000, -900}};
  for (auto& T : CASES) {
    TCLIENT& C = PUT(1, 1000, 1000);
    C.MX = uint16_t(1000 + T.DX);
    C.MY = uint16_t(1000 + T.DY);
    PLAYER_MOVE(1);
    EXPECT_EQ(C.X, 1000) << T.DX << "," << T.DY;
    EXPECT_EQ(C.Y, 1000) << T.DX << "," << T.DY;
  }
}

TEST_F(MovementTest, SlidesAlongWallsAndStopsAtObstacles) {
  // Cell (3,2) is a wall, cell (2,3) an obstacle that bullets pass.
  PLAYMAP({"", "  A", " e"});
  struct {
    uint16_t X, Y, MX, MY, WX, WY;
  } CASES[] = {
      {176, 176, 184, 170, 176, 170}, // x ends in the wall: only y moves
      {176, 176, 170, 184, 170, 176}, // y ends in the obstacle: only x moves
      {176, 176, 184, 176, 176, 176}, // straight into the wall
      {176, 176, 176, 184, 176, 176}, // straight into the obstacle
      {176, 176, 183, 183, 176, 176}, // blocked on both axes
      {80, 80, 78, 80, 80, 80},       // the edge of the world is a wall
      {80, 80, 79, 79, 79, 79},       // the last free units
  };
  for (auto& T : CASES) {
    TCLIENT& C = PUT(1, T.X, T.Y);
    C.MX = T.MX;
    C.MY = T.MY;
    PLAYER_MOVE(1);
    EXPECT_EQ(C.X, T.WX) << T.MX << "," << T.MY;
    EXPECT_EQ(C.Y, T.WY) << T.MX << "," << T.MY;
  }
}

TEST_F(MovementTest, ClientWalksByDataMessages) {
  PLAYMAP({"", "  A"});
  SV_MAP.SPL[1] = {160, 160};
  SV_MAP.SPN = 1;
  uint8_t S = JOIN("10.0.0.1", 1000);
  ASSERT_EQ(S, 1);
  ASSERT_TRUE(SV_CLIENTSLIST[S].PLAY);
  // Toward the wall of cell (3,2): the square stops at x = 176, the last
  // position whose right edge is still in cell 2.
  struct {
    uint16_t MX, X;
  } STEPS[] = {{170, 170}, {176, 176}, {180, 176}, {187, 176}};
  for (auto [MX, W] : STEPS) {
    TAKE("10.0.0.1", 1000);
    SEND("10.0.0.1", 1000, CL_DATA(SV_PINGVAR, 0, 0, MX, 160, SV_LOGI));
    CYCLE();
    CL_STATE ST = LASTSTATE("10.0.0.1", 1000);
    ASSERT_EQ(ST.PLAYERS.size(), 1u);
    EXPECT_EQ(ST.PLAYERS[0].X, W);
    EXPECT_EQ(ST.PLAYERS[0].Y, 160);
  }
  // A request from far away never teleports, even one whose squared offset
  // overflows 32 bits: the x part lies outside the world, but the y part
  // would be free.
  struct {
    uint16_t MX, MY;
  } FAR[] = {{176 + 46341, 160 + 2000}, {176 + 50000, 160 + 1000}, {176 + 200, 160}};
  for (auto [MX, MY] : FAR) {
    SEND("10.0.0.1", 1000, CL_DATA(SV_PINGVAR, 0, 0, MX, MY, SV_LOGI));
    CYCLE();
    CL_STATE ST = LASTSTATE("10.0.0.1", 1000);
    ASSERT_EQ(ST.PLAYERS.size(), 1u);
    EXPECT_EQ(ST.PLAYERS[0].X, 176) << MX;
    EXPECT_EQ(ST.PLAYERS[0].Y, 160) << MX;
  }
}
