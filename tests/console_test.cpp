// The admin console: commands, bans and the ban file, through the in-memory
// transport. The built server with a pipe on its standard input is tested in
// e2e/console_process_test.cpp.
#include <filesystem>
#include <fstream>

#include "admin/admin.hpp"
#include "support/testserver.hpp"

namespace fs = std::filesystem;

// Runs in a scratch working directory with a maps/ folder.
class ConsoleTest : public TScratchServerTest {
protected:
  // Runs a command; the console lines it printed.
  std::vector<std::string> RUN(const std::string& LINE) {
    LINES.clear();
    ADM_RUNCOMMAND(LINE);
    return LINES;
  }
  static std::string READFILE(const fs::path& P) {
    std::ifstream F(P, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(F), {});
  }
};

using LINESV = std::vector<std::string>;

TEST_F(ConsoleTest, StatusSayKick) {
  START({"-bots", "1"});
  CONNECT("10.0.0.1", 1000, "Alex");
  CYCLE();
  EXPECT_EQ(RUN("status"),
            (LINESV{"slot 1 \"Alex\" team 0 spectator score 0 ping 2 10.0.0.1:1000",
                    "slot 2 \"BOT #1\" team 0 alive score 0 ping 1 bot",
                    "map \"DefMap\" entry 1, tick 2, scoreboard 0, players 1/10, clients 2/24, "
                    "scorelimit 20, bots 1, teamplay no"}));
  // A notice is a server line of the event log: printed, and sent to clients.
  EXPECT_EQ(RUN("say   hello all "), LINESV{"hello all "});
  EXPECT_EQ(SV_LOG[0], "\x0a"
                       "hello all ");
  TAKE("10.0.0.1", 1000);
  CYCLE(SENDLLTIME);
  bool SENT = false;
  for (const std::string& D : TAKE("10.0.0.1", 1000)) {
    SENT = SENT || (D[0] == char(CLMPMSG_LOGL) && D.find("hello all ") != std::string::npos);
  }
  EXPECT_TRUE(SENT);
  // A kicked bot is created anew while fewer bots than wanted are present.
  EXPECT_EQ(RUN("kick 2"), LINESV{"BOT #1 disconnected!"});
  EXPECT_EQ(SV_BOTC, 0);
  CYCLE();
  EXPECT_EQ(SV_BOTC, 1);
  EXPECT_EQ(RUN("kick 1"), LINESV{"Alex disconnected!"});
  EXPECT_EQ(SV_CURCLIENTS, 1);
  EXPECT_TRUE(WARNS.empty());
  RUN("quit");
  EXPECT_TRUE(SV_QUITASKED);
}

// Unknown commands and bad arguments: one error line, nothing changes.
TEST_F(ConsoleTest, RefusedCommandsChangeNothing) {
  START({"-bots", "1"});
  CONNECT("10.0.0.1", 1000, "Alex");
  CYCLE();
  const char* BAD[] = {"frobnicate", "kick",           "kick 25",       "kick 7",  "kick x",
                       "say",        "status now",     "bots 25",       "score 0", "maxplayers 1",
                       "maxplayers", "map 9",          "map nothere",   "ban 2",   "ban 1 0",
                       "ban 1.2.3",  "ban 1.2.3.4/33", "unban 1.2.3.4", "bans x",  "STATUS"};
  uint16_t LOGI = SV_LOGI;
  for (const char* B : BAD) {
    WARNS.clear();
    EXPECT_TRUE(RUN(B).empty()) << B;
    EXPECT_EQ(WARNS.size(), 1u) << B;
  }
  EXPECT_EQ(SV_LOGI, LOGI);
  EXPECT_EQ(SV_CURCLIENTS, 2);
  EXPECT_EQ(SV_BOTCOUNT, 1);
  EXPECT_EQ(SV_SCORELIMIT, 20);
  EXPECT_EQ(SV_MAXPLAYERS, 10);
  EXPECT_EQ(RUN("bans"), LINESV{"no bans"});
  EXPECT_TRUE(RUN("").empty());
}

TEST_F(ConsoleTest, SettingsDuringAMatch) {
  START({"-bots", "3"});
  uint8_t A = JOIN("10.0.0.1", 1000, "Alex");
  JOIN("10.0.0.2", 1000, "Bea");
  CYCLE(3);
  ASSERT_EQ(SV_BOTC, 3);
  ASSERT_EQ(SV_CURPLAYERS, 5);
  // Fewer bots: the newest leave at once.
  EXPECT_EQ(RUN("bots 1"), (LINESV{"BOT #3 disconnected!", "BOT #2 disconnected!"}));
  // A lower player limit keeps those playing; nobody joins until below it.
  RUN("maxplayers 2");
  EXPECT_EQ(SV_CURPLAYERS, 3);
  uint8_t C = JOIN("10.0.0.3", 1000, "Cy");
  EXPECT_FALSE(SV_CLIENTSLIST[C].PLAY);
  EXPECT_EQ(SV_CURPLAYERS, 3);
  // A score limit at or below a score reached ends the match at once.
  RUN("score 5");
  EXPECT_EQ(SV_SCOREBOARD, 0);
  SV_CLIENTSLIST[A].SCORE = 4;
  EXPECT_EQ(RUN("score 3"), LINESV{"Alex WINS!"});
  EXPECT_EQ(SV_SCOREBOARD, SCOREBOARDTIME);
  // next ends it now, as the end of the score board does.
  uint32_t LOADS = SV_STATS.MAPLOADS;
  RUN("next");
  EXPECT_EQ(SV_CURCLIENTS, 0);
  EXPECT_EQ(SV_SCOREBOARD, 0);
  EXPECT_EQ(SV_STATS.MAPLOADS, LOADS + 1);
}

TEST_F(ConsoleTest, MapByEntryOrName) {
  const std::string ROWS = "mapxx1\n@  \n   \n";
  std::ofstream(DIR / "maps" / "small.brsk", std::ios::binary) << ROWS;
  std::ofstream(DIR / "maps" / "other.brsk", std::ios::binary) << ROWS;
  START({"-map", "small"});
  CONNECT("10.0.0.1", 1000, "Alex");
  // A file not in the list yet takes a free entry.
  RUN("map other");
  EXPECT_EQ(SV_MAPL[2].NAME, "other");
  EXPECT_EQ(SV_MAP.NUM, 2);
  EXPECT_EQ(SV_CURCLIENTS, 0);
  EXPECT_TRUE(WARNS.empty());
  RUN("map 1");
  EXPECT_EQ(SV_MAP.NUM, 1);
  RUN("map other");
  EXPECT_EQ(SV_MAP.NUM, 2);
  EXPECT_EQ(SV_MAPL[3].NAME, "-");
  // The built-in map keeps its entry when a file is added at run time, and
  // files are looked up where -mapdir says.
  SV_RESETSTATE();
  fs::create_directories(DIR / "elsewhere");
  fs::rename(DIR / "maps" / "small.brsk", DIR / "elsewhere" / "small.brsk");
  START({"-mapdir", "elsewhere"});
  RUN("map small");
  EXPECT_EQ(SV_MAPL[1].NAME, "DefMap");
  EXPECT_EQ(SV_MAP.NUM, 2);
}

TEST_F(ConsoleTest, BansDropDatagramsUnread) {
  START();
  CONNECT("10.0.0.1", 1000, "Alex");
  CONNECT("10.0.0.2", 1000, "Bea");
  SV_UTCMS = 1796644800000; // 2026-12-07T12:00:00Z
  EXPECT_EQ(RUN("ban 1 5"), (LINESV{"banned 10.0.0.1 for 5 min, until 2026-12-07T12:05:00Z",
                                    "Alex disconnected!"}));
  // No reply, no slot, no count against the connect limit.
  MEMNET_OUT.clear();
  for (uint16_t P = 1; P <= 30; P++) {
    SEND("10.0.0.1", P, CL_CONNECT("x", 0, P % 2 == 0 ? PVER : 28));
    SEND("10.0.0.1", P, CL_DATA(0, 0, 0, 0, 0, 0));
  }
  CYCLE();
  for (uint16_t P = 1; P <= 30; P++) {
    EXPECT_TRUE(MEMNET_SENTTO("10.0.0.1", P).empty());
  }
  EXPECT_EQ(SV_CURCLIENTS, 1);
  EXPECT_EQ(RUN("bans"), LINESV{"10.0.0.1 until 2026-12-07T12:05:00Z, 5 min 0 s left # Alex"});
  RUN("unban 10.0.0.1");
  EXPECT_EQ(CONNECT("10.0.0.1", 1000, "Alex"), 1);
  // A range kicks every slot it covers.
  EXPECT_EQ(RUN("ban 10.0.0.0/24"),
            (LINESV{"banned 10.0.0.0/24 for good", "Alex disconnected!", "Bea disconnected!"}));
  EXPECT_EQ(RUN("unban 10.0.0.0/24"), LINESV{"unbanned 10.0.0.0/24"});
  // A timed ban ends by itself.
  RUN("ban 10.0.0.2 1");
  SV_NOWMS += 60000;
  EXPECT_EQ(RUN("bans"), LINESV{"no bans"});
  EXPECT_EQ(CONNECT("10.0.0.2", 1000, "Bea"), 1);
}

TEST_F(ConsoleTest, BanFileKeepsWhatItCannotRead) {
  SV_NOWMS = 5000;
  SV_UTCMS = 1796644800000; // 2026-12-07T12:00:00Z
  std::ofstream(DIR / "bans.txt", std::ios::binary)
      << "# our bans\n10.1.0.0/16 # lan party\nten dot one\n"
         "10.2.0.1 2026-12-07T11:00:00Z\n10.3.0.1 2026-12-07T13:00:00Z\r\n\n";
  START({"-banfile", "bans.txt"});
  EXPECT_EQ(WARNS,
            LINESV{"ban file bans.txt line 3 cannot be read, kept as it stands: ten dot one"});
  EXPECT_TRUE(ADM_BANNED("10.1.200.3"));
  EXPECT_FALSE(ADM_BANNED("10.2.0.1")); // expired
  // Time left is counted on the monotonic clock from the start.
  SV_NOWMS += 30 * 60000;
  EXPECT_EQ(RUN("bans"), (LINESV{"10.1.0.0/16 for good # lan party",
                                 "10.3.0.1 until 2026-12-07T13:00:00Z, 30 min 0 s left"}));
  RUN("ban 192.168.7.9/8 90");
  // Rewritten whole: the expired entry is dropped, the rest kept as written.
  EXPECT_EQ(READFILE(DIR / "bans.txt"), "# our bans\n10.1.0.0/16 # lan party\nten dot one\n"
                                        "10.3.0.1 2026-12-07T13:00:00Z\n\n"
                                        "192.0.0.0/8 2026-12-07T13:30:00Z\n");
  EXPECT_FALSE(fs::exists(DIR / "bans.txt.new"));
  RUN("unban 10.1.0.0/16");
  SV_RESETSTATE();
  SV_UTCMS = 1796644800000;
  START({"-banfile", "bans.txt"});
  EXPECT_FALSE(ADM_BANNED("10.1.200.3"));
  EXPECT_TRUE(ADM_BANNED("192.1.2.3"));
}

// The connect limit counts real time, also while nobody plays and every
// datagram wakes a cycle of its own.
TEST_F(ConsoleTest, ConnectLimitCountsMilliseconds) {
  START();
  int REPLIES = 0;
  for (uint16_t P = 1; P <= 1500; P++) {
    SEND("10.0.0.9", P, CL_CONNECT("x", 0, 28));
    SV_NOWMS += 1;
    GAMECYCLE();
    REPLIES += int(MEMNET_SENTTO("10.0.0.9", P).size());
  }
  EXPECT_EQ(REPLIES, CONNMAX);
}

// A client silent since its connect is sent nothing after a while, but it is
// still dropped when it falls a whole log behind, not kept until it times out.
TEST_F(ConsoleTest, SilentClientFallsBehindAndIsDropped) {
  START();
  CONNECT("10.0.0.5", 1000, "Mute");
  CYCLE(40);
  for (int K = 0; K < MAXLOG; K++) {
    RUN("say line " + std::to_string(K));
  }
  LINES.clear();
  CYCLE();
  EXPECT_EQ(SV_CURCLIENTS, 0);
  EXPECT_EQ(LINES, LINESV{"Mute disconnected!"});
}
