// Items and respawn: every gift rule of a pick-up, the countdown that brings
// an item back, the start equipment and the choice of spawn point.
#include "game/game.hpp"
#include "maps/maps.hpp"
#include "support/testserver.hpp"

class ItemsTest : public TServerTest {
protected:
  // Items '0' to '9' in cells 1 to 10 of row 1 (item place k + 1 holds
  // kind k, at x = 64 * (k + 1) + 32, y = 96), and three spawn points.
  void SetUp() override {
    TServerTest::SetUp();
    START();
    MAPFROMSTR(1, std::string("HEADER") + "0123456789\r\r @   @   @" + '\0');
    SV_LOADCURMAP(1);
  }
  static TITEM& ITEM(char K) { return SV_MAP.ITL[K - '0' + 1]; }
  // A live player in slot 1 standing on the item of kind K.
  static TCLIENT& ONITEM(char K) {
    TCLIENT& C = SV_CLIENTSLIST[1];
    C.EXIST = true;
    C.PLAY = true;
    PLAYER_RESPAWN(1);
    C.X = ITEM(K).X;
    C.Y = ITEM(K).Y;
    return C;
  }
};

TEST_F(ItemsTest, GiftRules) {
  struct {
    const char* WHAT;
    char K;
    uint8_t HITS, ARMOR, AM1, AM2;
    bool HASGUN; // already holds the item's weapon
    // after
    uint8_t WHITS, WARMOR, WAM1, WAM2, WNGUN;
    bool TAKEN;
  } CASES[] = {
      {"health to the cap", '6', 95, 25, 25, 0, false, 100, 25, 25, 0, 2, true},
      {"health at full stays", '5', 100, 25, 25, 0, false, 100, 25, 25, 0, 2, false},
      {"big health", '7', 50, 25, 25, 0, false, 65, 25, 25, 0, 2, true},
      {"armour to the cap", '0', 100, 60, 25, 0, false, 100, 100, 25, 0, 2, true},
      {"armour at full stays", '0', 100, 100, 25, 0, false, 100, 100, 25, 0, 2, false},
      {"'8' all full stays", '8', 100, 100, 200, 30, false, 100, 100, 200, 30, 2, false},
      {"'8' for armour only", '8', 100, 99, 200, 30, false, 100, 100, 200, 30, 2, true},
      {"'8' gives all it can", '8', 40, 10, 190, 28, false, 100, 35, 200, 30, 2, true},
      {"ammunition capped", '4', 100, 25, 199, 29, false, 100, 25, 200, 30, 2, true},
      {"ammunition at full stays", '4', 100, 25, 200, 30, false, 100, 25, 200, 30, 2, false},
      {"one kind is enough", '4', 100, 25, 200, 3, false, 100, 25, 200, 8, 2, true},
      {"small ammunition", '3', 100, 25, 10, 0, false, 100, 25, 15, 0, 2, true},
      {"small ammunition at full", '3', 100, 25, 200, 0, false, 100, 25, 200, 0, 2, false},
      {"new mp40 is chosen", '1', 100, 25, 25, 0, false, 100, 25, 45, 0, 3, true},
      {"held mp40: ammunition only", '1', 100, 25, 190, 0, true, 100, 25, 200, 0, 2, true},
      {"held mp40, full: taken all the same", '1', 100, 25, 200, 0, true, 100, 25, 200, 0, 2, true},
      {"new chaingun", '2', 100, 25, 25, 0, false, 100, 25, 55, 0, 4, true},
      {"new rifle", '9', 100, 25, 25, 0, false, 100, 25, 25, 5, 5, true},
      {"held rifle, full", '9', 100, 25, 25, 30, true, 100, 25, 25, 30, 2, true},
  };
  for (auto& T : CASES) {
    SCOPED_TRACE(T.WHAT);
    for (int I = 1; I <= MAXMAPITEMS; I++) {
      SV_MAP.ITL[I].RESP = 0;
    }
    TCLIENT& C = ONITEM(T.K);
    C.HITS = T.HITS;
    C.ARMOR = T.ARMOR;
    C.AMMO[1] = T.AM1;
    C.AMMO[2] = T.AM2;
    uint8_t G = ITEMSP_GUN[T.K];
    if (G > 0) {
      C.GUNS[G] = T.HASGUN;
    }
    PLAYER_ITEMS(1);
    EXPECT_EQ(C.HITS, T.WHITS);
    EXPECT_EQ(C.ARMOR, T.WARMOR);
    EXPECT_EQ(C.AMMO[1], T.WAM1);
    EXPECT_EQ(C.AMMO[2], T.WAM2);
    EXPECT_EQ(C.NGUN, T.WNGUN);
    EXPECT_EQ(C.GUN, 2); // the hand changes only in the per-tick update
    if (G > 0) {
      EXPECT_TRUE(C.GUNS[G]);
    }
    EXPECT_EQ(ITEM(T.K).RESP, T.TAKEN ? ITEMSP_RESPT[T.K] : 0);
    // Nothing else on the map was touched.
    for (char O = '0'; O <= '9'; O++) {
      if (O != T.K) {
        EXPECT_EQ(ITEM(O).RESP, 0) << O;
      }
    }
  }
}

TEST_F(ItemsTest, PickUpSquare) {
  // The item of cell c is reached from x = 64c + 1 to 64c + 63 inside the
  // cell, not from its first unit column or row.
  const uint16_t CX = ITEM('6').X - 32; // 64c
  struct {
    uint16_t X, Y;
    bool TAKEN;
  } CASES[] = {{uint16_t(CX + 1), 96, true},  {CX, 96, false},
               {uint16_t(CX + 63), 96, true}, {uint16_t(CX + 64), 96, false},
               {ITEM('6').X, 65, true},       {ITEM('6').X, 64, false},
               {ITEM('6').X, 127, true},      {ITEM('6').X, 128, false}};
  for (auto& T : CASES) {
    ITEM('6').RESP = 0;
    ITEM('5').RESP = 0;
    ITEM('7').RESP = 0;
    TCLIENT& C = ONITEM('6');
    C.HITS = 50;
    C.X = T.X;
    C.Y = T.Y;
    PLAYER_ITEMS(1);
    EXPECT_EQ(ITEM('6').RESP != 0, T.TAKEN) << T.X << "," << T.Y;
  }
}

TEST_F(ItemsTest, EveryItemUnderTheSquareIsTaken) {
  // A second place at the same point (the place after the last one the map
  // filled): the loop goes on after a pick-up.
  TITEM& SECOND = SV_MAP.ITL[11];
  SECOND = {0, ITEM('6').X, ITEM('6').Y, '0'};
  TCLIENT& C = ONITEM('6');
  C.HITS = 50;
  C.ARMOR = 0;
  PLAYER_ITEMS(1);
  EXPECT_EQ(C.HITS, 60);
  EXPECT_EQ(C.ARMOR, 50);
  EXPECT_EQ(ITEM('6').RESP, 450);
  EXPECT_EQ(SECOND.RESP, 600);
}

TEST_F(ItemsTest, ItemComesBackAfterItsTime) {
  uint8_t S = JOIN("10.0.0.1", 1000);
  ASSERT_EQ(S, 1);
  // Walk onto the mp40 of place 2, in one step from a point beside it.
  TCLIENT& C = SV_CLIENTSLIST[S];
  C.X = uint16_t(ITEM('1').X - 40);
  C.Y = ITEM('1').Y;
  SEND("10.0.0.1", 1000, CL_DATA(SV_PINGVAR, 0, 0, uint16_t(C.X + 10), C.Y, SV_LOGI));
  CYCLE();
  EXPECT_EQ(C.NGUN, 3);
  CL_STATE ST = LASTSTATE("10.0.0.1", 1000);
  EXPECT_EQ(ST.ITEMS, (std::vector<uint8_t>{1, 3, 4, 5, 6, 7, 8, 9, 10}));
  EXPECT_EQ(ST.GUN, 3); // the new weapon is in the hand in the same tick
  // Back in the state packet ITEMSP_RESPT - 1 ticks after the pick-up.
  int TICKS = 0;
  for (; TICKS < 1000; TICKS++) {
    if (TICKS % 100 == 0) {
      SEND("10.0.0.1", 1000, BYTES({200})); // keeps the client without acting
    }
    CYCLE();
    ST = LASTSTATE("10.0.0.1", 1000);
    if (ST.ITEMS.size() == 10) {
      break;
    }
  }
  EXPECT_EQ(TICKS + 1, ITEMSP_RESPT['1'] - 1);
  EXPECT_EQ(ST.ITEMS[1], 2);
}

TEST_F(ItemsTest, MapItemsCountsWhatIsPresent) {
  ITEM('3').RESP = 2;
  ITEM('4').RESP = 1;
  SV_MAPITEMS();
  EXPECT_EQ(SV_MAP.ITN, 9); // '4' is back, '3' counts down to 1
  EXPECT_EQ(ITEM('3').RESP, 1);
  SV_MAPITEMS();
  EXPECT_EQ(SV_MAP.ITN, 10);
  // A countdown left on an empty place is neither run nor counted.
  SV_MAP.ITL[50].RESP = 7;
  SV_MAPITEMS();
  EXPECT_EQ(SV_MAP.ITN, 10);
  EXPECT_EQ(SV_MAP.ITL[50].RESP, 7);
}

TEST_F(ItemsTest, RespawnEquipmentAndSpawnPoint) {
  // Spawn points (160, 224), (416, 224), (672, 224); the tick counter picks.
  struct {
    uint16_t PINGVAR, X;
  } CASES[] = {{7, 416}, {0, 160}, {2, 672}, {3, 160}, {65535, 160}, {65534, 672}};
  for (auto& T : CASES) {
    SV_PINGVAR = T.PINGVAR;
    TCLIENT& C = SV_CLIENTSLIST[4];
    C = {};
    C.GUNS[3] = C.GUNS[4] = C.GUNS[5] = true;
    C.GUN = C.NGUN = 5;
    C.HITS = 0;
    C.ARMOR = 90;
    C.AMMO[1] = 150;
    C.AMMO[2] = 20;
    C.T_RELOAD = 30;
    C.PLAY = true;
    C.SCORE = 7;
    C.DIR = 45;
    C.MX = C.MY = 999;
    C.T_GANIM = 3;
    PLAYER_RESPAWN(4);
    EXPECT_EQ(C.X, T.X) << T.PINGVAR;
    EXPECT_EQ(C.Y, 224);
    EXPECT_EQ(C.B_MX, T.X);
    EXPECT_EQ(C.B_MY, 224);
    EXPECT_TRUE(C.GUNS[1] && C.GUNS[2]);
    EXPECT_FALSE(C.GUNS[3] || C.GUNS[4] || C.GUNS[5]);
    EXPECT_EQ(C.GUN, 2);
    EXPECT_EQ(C.NGUN, 2);
    EXPECT_EQ(C.HITS, 100);
    EXPECT_EQ(C.ARMOR, 25);
    EXPECT_EQ(C.AMMO[1], 25);
    EXPECT_EQ(C.AMMO[2], 0);
    EXPECT_EQ(C.T_RELOAD, 0);
    // What a respawn leaves alone.
    EXPECT_TRUE(C.PLAY);
    EXPECT_EQ(C.SCORE, 7);
    EXPECT_EQ(C.DIR, 45);
    EXPECT_EQ(C.MX, 999);
    EXPECT_EQ(C.T_GANIM, 3);
  }
  // Without spawn points the position stays.
  SV_MAP.SPN = 0;
  SV_CLIENTSLIST[4].X = 1234;
  PLAYER_RESPAWN(4);
  EXPECT_EQ(SV_CLIENTSLIST[4].X, 1234);
  EXPECT_EQ(SV_CLIENTSLIST[4].B_MX, 1234);
}
