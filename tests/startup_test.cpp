// Start-up: text to number, the command line and its bounds, the start-up
// lines on the console.
#include "maps/maps.hpp"
#include "support/testserver.hpp"

class StartupTest : public TServerTest {};

TEST_F(StartupTest, TextToNumber) {
  struct {
    std::string TEXT;
    uint16_t WORD;
    uint8_t BYTE;
    bool READABLE;
  } CASES[] = {
      {"0", 0, 0, true},
      {"35700", 35700, 0x74, true},
      {"007", 7, 7, true}, // a leading 0 does not mean octal
      {" \t+12", 12, 12, true},
      {"$14", 0x14, 20, true},
      {"x1f", 0x1F, 0x1F, true},
      {"X1F", 0x1F, 0x1F, true},
      {"0x1F", 0x1F, 0x1F, true},
      {"0XfF", 0xFF, 0xFF, true},
      {"%101", 5, 5, true},
      {"&17", 15, 15, true},
      {"256", 256, 0, true}, // wraps, not clamped
      {"258", 258, 2, true},
      {"65537", 1, 1, true},
      {"4294967295", 0xFFFF, 0xFF, true},
      {"4294967296", 0, 0, false}, // above 32 bits
      {"", 0, 0, false},
      {"   ", 0, 0, false},
      {"abc", 0, 0, false},
      {"-5", 0, 0, false},
      {"12 ", 0, 0, false}, // a trailing blank is not a digit
      {"+", 0, 0, false},
      {"++1", 0, 0, false},
      {"$", 0, 0, false},
      {"0x", 0, 0, false},
      {"%102", 0, 0, false},
      {"&8", 0, 0, false},
      {"1e3", 0, 0, false},
      {std::string(256, '1'), 0, 0, false}, // longer than 255 characters
      {std::string(254, '0') + "7", 7, 7, true},
  };
  for (const auto& C : CASES) {
    SCOPED_TRACE("\"" + C.TEXT.substr(0, 20) + "\"");
    EXPECT_EQ(S2W(C.TEXT), C.WORD);
    EXPECT_EQ(S2B(C.TEXT), C.BYTE);
    uint32_t V;
    EXPECT_EQ(SV_READNUMBER(C.TEXT, V), C.READABLE);
  }
  EXPECT_EQ(B2S(0), "0");
  EXPECT_EQ(B2S(29), "29");
  EXPECT_EQ(B2S(255), "255");
  EXPECT_EQ(B2SYN(0), "no");
  EXPECT_EQ(B2SYN(7), "yes");
}

TEST_F(StartupTest, CommandLine) {
  struct {
    std::vector<std::string> ARGS;
    uint16_t PORT;
    uint8_t SCORE, MAXPLAYERS, TEAMS, BOTTEAMS, BOTS;
    std::string NAME;
  } CASES[] = {
      {{}, 35700, 20, 10, 0, 4, 0, "Brastok Server"},
      // The third argument has no value and is ignored.
      {{"-port", "36000", "-score"}, 36000, 20, 10, 0, 4, 0, "Brastok Server"},
      // Pairs by position: the name is the text "-port".
      {{"-name", "-port", "-port", "36000"}, 36000, 20, 10, 0, 4, 0, "-port"},
      {{"-PORT", "36000"}, 35700, 20, 10, 0, 4, 0, "Brastok Server"},
      {{"-port", "1", "-port", "2"}, 2, 20, 10, 0, 4, 0, "Brastok Server"},
      {{"-maxplayers", "1"}, 35700, 20, 2, 0, 4, 0, "Brastok Server"},
      {{"-maxplayers", "99"}, 35700, 20, 24, 0, 4, 0, "Brastok Server"},
      {{"-maxplayers", "258"}, 35700, 20, 2, 0, 4, 0, "Brastok Server"},
      {{"-score", "abc"}, 35700, 1, 10, 0, 4, 0, "Brastok Server"},
      {{"-score", "256"}, 35700, 1, 10, 0, 4, 0, "Brastok Server"},
      {{"-score", "$14"}, 35700, 20, 10, 0, 4, 0, "Brastok Server"},
      {{"-teams", "7"}, 35700, 20, 10, 7, 4, 0, "Brastok Server"},
      {{"-botteams", "0"}, 35700, 20, 10, 0, 1, 0, "Brastok Server"},
      {{"-botteams", "9"}, 35700, 20, 10, 0, 4, 0, "Brastok Server"},
      {{"-bots", "40"}, 35700, 20, 10, 0, 4, 24, "Brastok Server"},
      {{"-unknown", "1", "-bots", "3"}, 35700, 20, 10, 0, 4, 3, "Brastok Server"},
      {{"-name", std::string(300, 'n')}, 35700, 20, 10, 0, 4, 0, std::string(300, 'n')},
  };
  for (const auto& C : CASES) {
    SCOPED_TRACE(::testing::PrintToString(C.ARGS).substr(0, 60));
    SV_RESETSTATE();
    SV_STARTPARAMS(C.ARGS);
    EXPECT_EQ(NET_PORT, C.PORT);
    EXPECT_EQ(SV_SCORELIMIT, C.SCORE);
    EXPECT_EQ(SV_MAXPLAYERS, C.MAXPLAYERS);
    EXPECT_EQ(SV_TEAMPLAY, C.TEAMS);
    EXPECT_EQ(SV_BOTTEAMS, C.BOTTEAMS);
    EXPECT_EQ(SV_BOTCOUNT, C.BOTS);
    EXPECT_EQ(SV_NAME, C.NAME);
  }
}

TEST_F(StartupTest, WarningsGoToStandardErrorOnly) {
  DEFAULTMAPS();
  SV_STARTPARAMS({"-Port", "1", "-score", "x", "-map", "nosuchmap", "-bots"});
  ASSERT_EQ(WARNS.size(), 4u) << ::testing::PrintToString(WARNS);
  EXPECT_NE(WARNS[0].find("-Port"), std::string::npos);
  EXPECT_NE(WARNS[1].find("-score"), std::string::npos);
  EXPECT_NE(WARNS[2].find("maps/nosuchmap.brsk"), std::string::npos);
  EXPECT_NE(WARNS[3].find("-bots"), std::string::npos);
  EXPECT_TRUE(LINES.empty());
}

TEST_F(StartupTest, DefaultStartShowsThreeLines) {
  START();
  EXPECT_EQ(LINES,
            (std::vector<std::string>{"UDP initialized! UDP port: 35700", "Brastok Server, v29",
                                      "Playerlimit: 10, scorelimit: 20, teamplay: no"}));
  EXPECT_EQ(SV_LOGI, 2);
  EXPECT_EQ(SV_MAP.NUM, 1);
  EXPECT_EQ(SV_MAPL[1].NAME, "DefMap");
  EXPECT_TRUE(WARNS.empty());
}

TEST_F(StartupTest, SettingsShowInTheServerLines) {
  START({"-name", "Arena", "-teams", "7", "-maxplayers", "12", "-score", "5"});
  EXPECT_EQ(LINES[1], "Arena, v29");
  EXPECT_EQ(LINES[2], "Playerlimit: 12, scorelimit: 5, teamplay: yes");
  EXPECT_EQ(SV_TEAMPLAY, 7); // clients receive the value as given
}

TEST_F(StartupTest, ServerNameIsEscapedOnTheConsoleOnly) {
  std::string NAME = "A\x1b[2Jb\n\xe9";
  START({"-name", NAME});
  EXPECT_EQ(LINES[1], "A\\x1B[2Jb\\x0A\xc3\xa9, v29");
  EXPECT_EQ(SV_LOG[1], char(LOGMESSID_SMSG) + NAME + ", v29"); // stored as given
}

TEST_F(StartupTest, FailedSocketStopsTheStart) {
  MEMNET_BINDFAILS = true;
  EXPECT_FALSE(GAMESTART({}));
  EXPECT_EQ(LINES, (std::vector<std::string>{"UDP initialization failed! [ bind() ]"}));
  EXPECT_EQ(SV_LOGI, 0); // nothing logged, no map loaded
  EXPECT_EQ(SV_MAP.NUM, 0);
}

TEST_F(StartupTest, ConsoleTextOfRawBytes) {
  struct {
    std::string RAW, SHOWN;
  } CASES[] = {
      {"plain text ~!", "plain text ~!"},
      {BYTES({0, 9, 10, 13, 27, 127}), "\\x00\\x09\\x0A\\x0D\\x1B\\x7F"},
      {BYTES({128, 159}), "\\x80\\x9F"},
      {BYTES({160, 233, 255}), "\xc2\xa0\xc3\xa9\xc3\xbf"},
  };
  for (const auto& C : CASES) {
    EXPECT_EQ(SC_PRINTABLE(C.RAW), C.SHOWN);
  }
}

TEST_F(StartupTest, ValuesTheSettingsCannotHoldAreWarnedWithTheValueTaken) {
  struct {
    std::vector<std::string> ARGS;
    std::string WARNING; // empty: none
  } CASES[] = {
      {{"-port", "70000"}, "-port: 70000 is outside 0 to 65535, taken as 4464"},
      {{"-maxplayers", "258"}, "-maxplayers: 258 is outside 2 to 24, taken as 2"},
      {{"-score", "300"}, "-score: 300 is outside 1 to 255, taken as 44"},
      {{"-score", "0"}, "-score: 0 is outside 1 to 255, taken as 1"},
      {{"-score", "abc"}, "-score: \"abc\" is not a number, taken as 1"},
      {{"-bots", "30"}, "-bots: 30 is outside 0 to 24, taken as 24"},
      {{"-maxplayers", "1"}, "-maxplayers: 1 is outside 2 to 24, taken as 2"},
      {{"-botteams", "9"}, "-botteams: 9 is outside 1 to 4, taken as 4"},
      {{"-teams", "256"}, "-teams: 256 is outside 0 to 255, taken as 0"},
      {{"-ip", "10.0.0.256"}, "-ip: \"10.0.0.256\" is not an IPv4 address, ignored"},
      {{"-port", "$FFFF", "-maxplayers", "24", "-bots", "0", "-ip", "10.1.2.3"}, ""},
  };
  for (const auto& C : CASES) {
    SCOPED_TRACE(::testing::PrintToString(C.ARGS));
    SV_RESETSTATE();
    WARNS.clear();
    SV_STARTPARAMS(C.ARGS);
    if (C.WARNING.empty()) {
      EXPECT_TRUE(WARNS.empty()) << ::testing::PrintToString(WARNS);
    } else {
      ASSERT_EQ(WARNS.size(), 1u);
      EXPECT_EQ(WARNS[0], "option " + C.WARNING);
    }
  }
  EXPECT_TRUE(LINES.empty());
}

TEST_F(StartupTest, StrictStartFailsOnAnyWarning) {
  // -strict and -mapdir hold for the whole line, whatever their place.
  EXPECT_FALSE(GAMESTART({"-map", "nothere", "-mapdir", "/nonexistent", "-strict", "1"}));
  EXPECT_EQ(WARNS, (std::vector<std::string>{
                       "map file not found or not readable: /nonexistent/nothere.brsk"}));
  EXPECT_TRUE(LINES.empty()); // not even the port line
  EXPECT_EQ(SV_LOGI, 0);
  SV_RESETSTATE();
  WARNS.clear();
  EXPECT_TRUE(GAMESTART({"-strict", "1", "-port", "36000"}));
  EXPECT_TRUE(WARNS.empty());
}
