// Maps: the built-in map, map files, loading into the grid, rotation.
#include <filesystem>
#include <fstream>

#include "game/game.hpp"
#include "maps/maps.hpp"
#include "support/testserver.hpp"

namespace fs = std::filesystem;

// Runs in a scratch working directory with a maps/ folder.
class MapsTest : public TScratchServerTest {
protected:
  void SetUp() override {
    TScratchServerTest::SetUp();
    DEFAULTMAPS();
  }
  void WRITE(const std::string& NAME, const std::string& TEXT) {
    std::ofstream(DIR / "maps" / (NAME + ".brsk"), std::ios::binary) << TEXT;
  }
  // The text of a map-list entry up to its terminator.
  static std::string TEXT(int I) {
    std::string S;
    for (int P = 1; P <= MAXMAPBUFFER && SV_MAPL[I].MAP[P] != 0; P++) {
      S += SV_MAPL[I].MAP[P];
    }
    return S;
  }
};

TEST_F(MapsTest, BuiltInMap) {
  EXPECT_EQ(DEFMAPBUF.size(), 214u);
  EXPECT_EQ(SV_MAPL[1].NAME, "DefMap");
  EXPECT_EQ(TEXT(1), DEFMAPBUF);
  for (int I = 2; I <= MAXMAPLIST; I++) {
    EXPECT_EQ(SV_MAPL[I].NAME, "-");
  }
  SV_LOADCURMAP(1);
  EXPECT_EQ(SV_MAP.ITN, 28);
  EXPECT_EQ(SV_MAP.SPN, 4);
  EXPECT_EQ(SV_MAP.ITL[1].KIND, '4');
  EXPECT_EQ(SV_MAP.ITL[1].X, 160);
  EXPECT_EQ(SV_MAP.ITL[1].Y, 224);
  const uint16_t SPAWNS[4][2] = {{288, 352}, {736, 352}, {288, 800}, {736, 800}};
  for (int I = 0; I < 4; I++) {
    EXPECT_EQ(SV_MAP.SPL[I + 1].X, SPAWNS[I][0]);
    EXPECT_EQ(SV_MAP.SPL[I + 1].Y, SPAWNS[I][1]);
  }
  for (int X = 1; X <= 64; X++) {
    EXPECT_EQ(SV_MAP.CGRID[X][1], CG_N); // row 1 is empty
  }
  EXPECT_EQ(SV_MAP.CGRID[2][2], CG_B);  // 'A'
  EXPECT_EQ(SV_MAP.CGRID[6][2], CG_P);  // 'm'
  EXPECT_EQ(SV_MAP.CGRID[3][4], CG_N);  // 'b'
  EXPECT_EQ(SV_MAP.CGRID[1][2], CG_N);  // the blank that begins row 2
  EXPECT_EQ(SV_MAP.CGRID[0][10], CG_B); // the border ring
  EXPECT_EQ(SV_MAP.CGRID[65][65], CG_B);
}

TEST_F(MapsTest, CellClasses) {
  MAPFROMSTR(1, std::string("HEADER") + "a e E5@ ~d" + '\0');
  SV_LOADCURMAP(1);
  const uint8_t WANT[] = {CG_N, CG_N, CG_P, CG_N, CG_B, CG_N, CG_N, CG_N, CG_N, CG_N};
  for (int X = 1; X <= 10; X++) {
    EXPECT_EQ(SV_MAP.CGRID[X][1], WANT[X - 1]) << X;
  }
  EXPECT_EQ(SV_MAP.ITN, 1);
  EXPECT_EQ(SV_MAP.SPN, 1);
}

TEST_F(MapsTest, FileMapRowsStartAtRowOne) {
  std::string ROWS = DEFMAPBUF.substr(7);
  std::string FILE = "446202\n";
  for (char C : ROWS) {
    FILE += C == '\r' ? '\n' : C;
  }
  WRITE("plain", FILE + "\n");
  WRITE("crlf", "446202 anything after six\r\n" + ROWS.substr(0, 13) + "\r\n");
  MAPFROMFILE("plain");
  MAPFROMFILE("crlf");
  EXPECT_EQ(SV_MAPL[1].NAME, "plain");
  EXPECT_EQ(SV_MAPL[2].NAME, "crlf");
  EXPECT_EQ(TEXT(1), "446202" + ROWS);
  EXPECT_EQ(TEXT(2), "446202" + ROWS.substr(0, 13));
  SV_LOADCURMAP(1);
  EXPECT_EQ(SV_MAP.ITN, 28);
  EXPECT_EQ(SV_MAP.ITL[1].Y, 2 * 64 + 32); // one row higher than in the built-in map
}

TEST_F(MapsTest, FileListFilling) {
  WRITE("a", "HEADER\nA\n");
  WRITE("b", "HEADER\nB\n");
  WRITE("DefMap", "HEADER\nC\n");
  struct {
    std::vector<std::string> MAPS;
    std::vector<std::string> NAMES; // entries 1, 2, 3
  } CASES[] = {
      {{}, {"DefMap", "-", "-"}},
      {{"a", "b"}, {"a", "b", "-"}},
      {{"missing", "b"}, {"b", "-", "-"}},
      {{"a", "a"}, {"a", "a", "-"}},
      // A map read from a file named DefMap stays replaceable.
      {{"DefMap", "b"}, {"b", "-", "-"}},
      // "-" would be a free entry that is never played: refused.
      {{"-", "a"}, {"a", "-", "-"}},
  };
  for (const auto& C : CASES) {
    DEFAULTMAPS();
    for (const std::string& M : C.MAPS) {
      MAPFROMFILE(M);
    }
    for (int I = 0; I < 3; I++) {
      EXPECT_EQ(SV_MAPL[I + 1].NAME, C.NAMES[I]) << ::testing::PrintToString(C.MAPS);
    }
  }
}

TEST_F(MapsTest, ListHoldsTwentyFourMaps) {
  WRITE("m", "HEADER\n@\n"); // a playable map: the only warnings are of the full list
  for (int I = 0; I < 30; I++) {
    MAPFROMFILE("m");
  }
  for (int I = 1; I <= MAXMAPLIST; I++) {
    EXPECT_EQ(SV_MAPL[I].NAME, "m");
  }
  EXPECT_EQ(WARNS.size(), 6u);
}

TEST_F(MapsTest, RefusedAndCutFiles) {
  WRITE("short", "12345\nAAAA\n");
  WRITE("empty", "");
  WRITE("header", "HEADER\n");
  WRITE("headernl", "HEADER");
  WRITE("emptyrow", "HEADER\n\n");
  WRITE("longline", "HEADER\n" + std::string(300, 'e') + "\nA\n");
  fs::create_directories(DIR / "maps" / "dir.brsk");

  MAPFROMFILE("short");
  MAPFROMFILE("empty");
  MAPFROMFILE("dir");
  EXPECT_EQ(SV_MAPL[1].NAME, "DefMap"); // refused as if missing
  EXPECT_EQ(WARNS.size(), 3u);

  struct {
    std::string NAME, TEXT;
  } CASES[] = {
      // Only a header: a map without rows, the terminator behind the header.
      {"header", "HEADER"},
      {"headernl", "HEADER"},
      {"emptyrow", "HEADER"},
      // Lines are cut to 254 characters.
      {"longline", "HEADER" + std::string(254, 'e') + "\rA"},
  };
  for (const auto& C : CASES) {
    DEFAULTMAPS();
    MAPFROMFILE(C.NAME);
    ASSERT_EQ(SV_MAPL[1].NAME, C.NAME);
    EXPECT_EQ(TEXT(1), C.TEXT) << C.NAME;
    SV_LOADCURMAP(1);
    EXPECT_EQ(SV_MAP.SPN, 0);
  }
}

TEST_F(MapsTest, TextNeverPassesTheBuffer) {
  std::string FILE = "HEADER\n";
  for (int R = 0; R < 40; R++) {
    FILE += std::string(200, char('A' + R % 26)) + "\n";
  }
  WRITE("big", FILE);
  MAPFROMFILE("big");
  // 6 + 20 rows of 201 = 4026; the 21st row is cut at 4222, whose last
  // character becomes the terminator.
  EXPECT_EQ(TEXT(1).size(), 4221u);
  EXPECT_EQ(SV_MAPL[1].MAP[4222], 0);
  SV_LOADCURMAP(1);
  EXPECT_EQ(SV_MAP.CGRID[64][20], CG_B);
  EXPECT_EQ(SV_MAP.CGRID[64][21], CG_B);
  EXPECT_EQ(SV_MAP.CGRID[64][22], CG_N);
}

TEST_F(MapsTest, ReadOnlyFileIsAMap) {
  WRITE("ro", "HEADER\nA\n");
  fs::permissions(DIR / "maps" / "ro.brsk", fs::perms::owner_read | fs::perms::group_read);
  MAPFROMFILE("ro");
  EXPECT_EQ(SV_MAPL[1].NAME, "ro");
}

TEST_F(MapsTest, GridLimits) {
  std::string T = "HEADER";
  // Row 1: 64 walls, then 6 more characters with an item digit among them.
  T += std::string(64, 'A') + "ee1eee\r";
  // 69 more rows with an item in column 2.
  for (int R = 2; R <= 70; R++) {
    T += " 5\r";
  }
  MAPFROMSTR(1, T + '\0');
  SV_LOADCURMAP(1);
  EXPECT_EQ(SV_MAP.CGRID[64][1], CG_B);
  EXPECT_EQ(SV_MAP.ITN, 63);            // rows 2 to 64 only; nothing past column 64
  EXPECT_EQ(SV_MAP.CGRID[65][1], CG_B); // the ring stays
}

TEST_F(MapsTest, TablesKeepTheFirstPlaces) {
  std::string T = "HEADER";
  for (int R = 0; R < 4; R++) {
    T += std::string(40, '7') + std::string(20, '@') + "\r";
  }
  MAPFROMSTR(1, T + '\0');
  SV_LOADCURMAP(1);
  EXPECT_EQ(SV_MAP.ITN, MAXMAPITEMS);
  EXPECT_EQ(SV_MAP.SPN, MAXMAPSPAWNS);
  EXPECT_EQ(SV_MAP.ITL[128].X, 8 * 64 + 32); // row 4, column 8
  EXPECT_EQ(SV_MAP.ITL[128].Y, 4 * 64 + 32);
  EXPECT_EQ(SV_MAP.SPL[64].Y, 4 * 64 + 32);
}

TEST_F(MapsTest, LoadKeepsRunningItemCountdowns) {
  SV_LOADCURMAP(1);
  SV_MAP.ITL[3].RESP = 100;
  SV_LOADCURMAP(1);
  EXPECT_EQ(SV_MAP.ITL[3].RESP, 100);
  EXPECT_EQ(SV_MAP.ITN, 28);
}

TEST_F(MapsTest, Rotation) {
  WRITE("a", "HEADER\nA\n");
  WRITE("b", "HEADER\nB\n");
  struct {
    std::vector<std::string> MAPS;
    std::vector<int> ORDER; // NUM after each SV_MAPNEXT
  } CASES[] = {
      {{}, {1, 1, 1}},
      {{"a"}, {1, 1}},
      {{"a", "b"}, {2, 1, 2, 1}},
      {{"a", "b", "a"}, {2, 3, 1, 2}},
  };
  for (const auto& C : CASES) {
    DEFAULTMAPS();
    for (const std::string& M : C.MAPS) {
      MAPFROMFILE(M);
    }
    SV_LOADCURMAP(1);
    for (int WANT : C.ORDER) {
      SV_MAPNEXT();
      EXPECT_EQ(SV_MAP.NUM, WANT) << ::testing::PrintToString(C.MAPS);
    }
  }
}

TEST_F(MapsTest, FreeEntryIsNotLoaded) {
  SV_LOADCURMAP(1);
  SV_LOADCURMAP(5);
  EXPECT_EQ(SV_MAP.NUM, 1);
  EXPECT_EQ(SV_MAP.ITN, 28);
}

TEST_F(MapsTest, UnplayableMapsAreWarnedAboutAndStillUsed) {
  std::string WIDE = "446202\n";
  for (int R = 0; R < 102; R++) {
    WIDE += (R == 1 ? " @" : "  ") + std::string(78, 'A') + "\n";
  }
  struct {
    std::string NAME, FILE;
    std::vector<std::string> WANTED; // one warning holding each, in order
  } CASES[] = {
      {"header", "446202\n", {"no spawn point", "no free cell"}},
      {"walls", "446202\nAAAA\nAeeA\nAAAA\n", {"no spawn point", "no free cell"}},
      {"nospawn", "446202\nA12A\n", {"no spawn point"}},
      {"random", "\x9c\x01zz\xff\x10\x7f\n\x05\x00qA\xee", {"no spawn point"}},
      {"wide", WIDE, {"102 rows of up to 80 cells"}},
      // Spawn point and free cells inside; trailing blank lines are no rows.
      {"fine", "446202\nA@ A\n\n\n", {}},
      // A spawn point past column 64 is not played.
      {"farspawn", "446202\n" + std::string(64, 'A') + "@\n", {"no spawn point", "no free", "65"}},
  };
  for (const auto& C : CASES) {
    SCOPED_TRACE(C.NAME);
    WRITE(C.NAME, C.FILE);
    WARNS.clear();
    DEFAULTMAPS();
    MAPFROMFILE(C.NAME);
    EXPECT_EQ(SV_MAPL[1].NAME, C.NAME); // used all the same
    ASSERT_EQ(WARNS.size(), C.WANTED.size()) << ::testing::PrintToString(WARNS);
    for (size_t K = 0; K < WARNS.size(); K++) {
      EXPECT_NE(WARNS[K].find(C.WANTED[K]), std::string::npos) << WARNS[K];
      EXPECT_NE(WARNS[K].find("maps/" + C.NAME + ".brsk"), std::string::npos) << WARNS[K];
    }
  }
  EXPECT_TRUE(LINES.empty());
}
