// The ban list: the lookup every datagram makes, against a plain scan of the
// list, and the rewrite of the ban file.
#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <random>

#include "admin/admin.hpp"
#include "net/net.hpp"
#include "support/testserver.hpp"

namespace fs = std::filesystem;
using LINESV = std::vector<std::string>;

class BanTest : public TScratchServerTest {
protected:
  // Runs a command: its console lines; its error lines are in WARNS.
  LINESV RUN(const std::string& LINE) {
    LINES.clear();
    WARNS.clear();
    ADM_RUNCOMMAND(LINE);
    return LINES;
  }
  static std::string READFILE(const fs::path& P) {
    std::ifstream F(P, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(F), {});
  }
};

static std::string DOTTED(uint32_t A) {
  return std::to_string(A >> 24) + "." + std::to_string(A >> 16 & 255) + "." +
         std::to_string(A >> 8 & 255) + "." + std::to_string(A & 255);
}

// Thousands of entries of every prefix length, networks listed twice, bans
// that ended and bans that end later: the index answers as a scan does.
TEST_F(BanTest, LookupAgreesWithAScanOfTheList) {
  SV_NOWMS = 100000;
  SV_UTCMS = 1796644800000; // 2026-12-07T12:00:00Z
  std::mt19937 R(18);
  std::string FILE;
  for (int K = 0; K < 3000; K++) {
    uint32_t A = 0x0A000000u | (R() & 0xFFF); // 10.0.0.0/20: lookups hit often
    int BITS = K % 5 == 0 ? int(R() % 33) : 32;
    FILE += DOTTED(A) + (BITS < 32 ? "/" + std::to_string(BITS) : "");
    if (K % 3 == 1) {
      FILE += K % 2 == 0 ? " 2026-12-07T11:00:00Z" : " 2026-12-07T12:30:00Z";
    }
    FILE += "\n";
  }
  std::ofstream(DIR / "bans.txt", std::ios::binary) << FILE;
  START({"-banfile", "bans.txt"});
  SV_NOWMS += 20 * 60000; // some bans end now, none is pruned yet
  for (int64_t LATER : {0, 20 * 60000}) {
    SV_NOWMS += LATER; // and now every timed one has ended
    int HITS = 0;
    for (int K = 0; K < 4000; K++) {
      uint32_t A = K % 4 == 0 ? uint32_t(R()) : 0x0A000000u | (R() & 0x1FFF);
      bool SCAN = false;
      for (const TBAN& B : ADM_BANLINES) {
        uint32_t MASK = B.BITS == 0 ? 0u : ~0u << (32 - B.BITS);
        SCAN = SCAN || (B.ENTRY && (A & MASK) == B.NET && !(B.TIMED && SV_NOWMS >= B.UNTILMS));
      }
      ASSERT_EQ(ADM_BANNED(DOTTED(A)), SCAN) << DOTTED(A);
      HITS += SCAN ? 1 : 0;
    }
    EXPECT_GT(HITS, 100);
  }
}

// A ban or an unban the file could not keep answers "error:", saying so,
// and holds in memory all the same.
TEST_F(BanTest, AChangeTheFileCannotKeepAnswersError) {
  struct {
    const char* WHY;
    std::string PATH;
    std::string SAID; // the error's reason begins so
  } CASES[] = {
      {"a file that could not be read at start", "unreadable",
       "the ban file unreadable could not be read at start and is left as it was"},
      {"a folder that is not there", "nowhere/bans.txt", "cannot create nowhere/bans.txt."},
  };
  fs::create_directories(DIR / "unreadable"); // a folder is no file to read
  for (const auto& C : CASES) {
    SCOPED_TRACE(C.WHY);
    SV_RESETSTATE();
    START({"-banfile", C.PATH});
    EXPECT_TRUE(RUN("ban 10.0.0.9").empty());
    ASSERT_EQ(WARNS.size(), 1u);
    EXPECT_EQ(WARNS[0].rfind("banned 10.0.0.9 for good, but not saved: " + C.SAID, 0), 0u)
        << WARNS[0];
    EXPECT_TRUE(ADM_BANNED("10.0.0.9"));
    EXPECT_TRUE(RUN("unban 10.0.0.9").empty());
    ASSERT_EQ(WARNS.size(), 1u);
    EXPECT_EQ(WARNS[0].rfind("unbanned 10.0.0.9, but not saved: " + C.SAID, 0), 0u) << WARNS[0];
    EXPECT_FALSE(ADM_BANNED("10.0.0.9"));
  }
  EXPECT_TRUE(fs::is_directory(DIR / "unreadable"));
  EXPECT_FALSE(fs::exists(DIR / "nowhere"));
}

// The rewrite follows a symbolic link, keeps the file's mode, and leaves the
// new file of another server sharing the list alone.
TEST_F(BanTest, RewriteKeepsTheLinkTheModeAndOthersFiles) {
  fs::create_directories(DIR / "real");
  std::ofstream(DIR / "real" / "list.txt", std::ios::binary) << "# ours\n10.1.0.0/16\n";
  ASSERT_EQ(chmod((DIR / "real" / "list.txt").c_str(), 0640), 0);
  fs::create_symlink("real/list.txt", DIR / "bans.txt");
  for (const char* OTHER : {"bans.txt.new", "real/list.txt.new"}) {
    std::ofstream(DIR / OTHER, std::ios::binary) << "another server's\n";
  }
  START({"-banfile", "bans.txt"});
  EXPECT_EQ(RUN("ban 10.0.0.9"), LINESV{"banned 10.0.0.9 for good"});
  EXPECT_TRUE(WARNS.empty());
  EXPECT_TRUE(fs::is_symlink(DIR / "bans.txt"));
  EXPECT_EQ(READFILE(DIR / "real" / "list.txt"), "# ours\n10.1.0.0/16\n10.0.0.9\n");
  struct stat ST;
  ASSERT_EQ(stat((DIR / "real" / "list.txt").c_str(), &ST), 0);
  EXPECT_EQ(ST.st_mode & 07777, 0640u);
  for (const char* OTHER : {"bans.txt.new", "real/list.txt.new"}) {
    EXPECT_EQ(READFILE(DIR / OTHER), "another server's\n") << OTHER;
  }
  EXPECT_EQ(std::distance(fs::directory_iterator(DIR / "real"), fs::directory_iterator()), 2);
}
