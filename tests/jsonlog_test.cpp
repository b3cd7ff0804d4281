// The JSON event-log file: every record read back as a stats pipeline would.
#include <sys/resource.h>

#include <csignal>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <regex>

#include "clients/clients.hpp"
#include "record/record.hpp"
#include "support/testserver.hpp"

using nlohmann::json;

class JsonLogTest : public TServerTest {
protected:
  std::string PATH;

  void SetUp() override {
    TServerTest::SetUp();
    // A file of each test's own: ctest runs the tests side by side.
    PATH = ::testing::TempDir() + "brastok_jsonlog_" +
           ::testing::UnitTest::GetInstance()->current_test_info()->name() + ".jsonl";
    std::remove(PATH.c_str());
  }
  void TearDown() override {
    REC_LOGCLOSE();
    std::remove(PATH.c_str());
    std::remove((PATH + ".1").c_str());
    TServerTest::TearDown();
  }
  // Every line of the file, parsed.
  static std::vector<json> READ(const std::string& FILE) {
    std::vector<json> R;
    std::ifstream F(FILE);
    std::string LINE;
    while (std::getline(F, LINE)) {
      R.push_back(json::parse(LINE));
    }
    return R;
  }
};

TEST_F(JsonLogTest, EveryKindReadsBackFieldByField) {
  std::string ERR;
  ASSERT_TRUE(REC_LOGOPEN(PATH, ERR)) << ERR;
  START({"-name", "Yard", "-log", PATH});
  EXPECT_TRUE(WARNS.empty()); // -log is a known key
  uint8_t A = CONNECT("10.0.0.1", 5000, "Ann");
  // A name that is not UTF-8 is read as Latin-1; a chat text that is stays.
  uint8_t B = CONNECT("10.0.0.2", 5000,
                      "B\xe9"
                      "a");
  SEND("10.0.0.1", 5000, CL_CHAT("h\xc3\xa9\x01"));
  CYCLE();
  for (const std::string& L : {SV_LOGLINE({LOGMESSID_ENTER, A}), SV_LOGLINE({LOGMESSID_LEAVE, A}),
                               SV_LOGLINE({LOGMESSID_KILL, 3, A, B}),
                               SV_LOGLINE({LOGMESSID_SCORE, A}), SV_LOGLINE({LOGMESSID_TSCORE, 2}),
                               SV_LOGLINE({LOGMESSID_COUT, B}), SV_LOGLINE({LOGMESSID_CDCON, B})}) {
    SV_ADDMSG(L);
  }
  const std::string BEA = "B\xc3\xa9"
                          "a";
  const std::vector<json> WANT = {
      {{"tick", 0}, {"line", 1}, {"kind", "notice"}, {"text", "Yard, v29"}},
      {{"tick", 0},
       {"line", 2},
       {"kind", "notice"},
       {"text", "Playerlimit: 10, scorelimit: 20, teamplay: no"}},
      {{"tick", 0}, {"kind", "map"}, {"map", "DefMap"}, {"entry", 1}},
      {{"tick", 0}, {"line", 3}, {"kind", "connect"}, {"slot", A}, {"name", "Ann"}, {"team", 0}},
      {{"tick", 1}, {"line", 4}, {"kind", "connect"}, {"slot", B}, {"name", BEA}, {"team", 0}},
      {{"tick", 2},
       {"line", 5},
       {"kind", "chat"},
       {"slot", A},
       {"name", "Ann"},
       {"text", "h\xc3\xa9\x01"}},
      {{"tick", 3}, {"line", 6}, {"kind", "enter"}, {"slot", A}, {"name", "Ann"}},
      {{"tick", 3}, {"line", 7}, {"kind", "leave"}, {"slot", A}, {"name", "Ann"}},
      {{"tick", 3},
       {"line", 8},
       {"kind", "kill"},
       {"weapon", "mp40"},
       {"killer_slot", A},
       {"killer", "Ann"},
       {"victim_slot", B},
       {"victim", BEA}},
      {{"tick", 3}, {"line", 9}, {"kind", "win"}, {"slot", A}, {"name", "Ann"}},
      {{"tick", 3}, {"line", 10}, {"kind", "teamwin"}, {"team", 2}, {"team_name", "Soldiers"}},
      {{"tick", 3}, {"line", 11}, {"kind", "timeout"}, {"slot", B}, {"name", BEA}},
      {{"tick", 3}, {"line", 12}, {"kind", "disconnect"}, {"slot", B}, {"name", BEA}},
  };
  std::vector<json> GOT = READ(PATH);
  ASSERT_EQ(GOT.size(), WANT.size());
  const std::regex UTC(R"(\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d\.\d{3}Z)");
  for (size_t I = 0; I < GOT.size(); I++) {
    EXPECT_TRUE(std::regex_match(GOT[I].value("time", ""), UTC)) << GOT[I];
    GOT[I].erase("time");
    EXPECT_EQ(GOT[I], WANT[I]);
  }
}

TEST_F(JsonLogTest, ReopensUnderItsNameAndReportsAWriteErrorOnce) {
  std::string ERR;
  // The start-up opens the file: one that cannot be opened stops it.
  EXPECT_FALSE(GAMESTART({"-log", "/nonexistent-dir/x.jsonl"}));
  START({"-log", PATH});
  // logrotate moves the file away, then SIGHUP: the next record goes to a
  // new file under the old name.
  ASSERT_EQ(std::rename(PATH.c_str(), (PATH + ".1").c_str()), 0);
  REC_LOGREOPEN();
  SV_ADDMSG(SV_LOGLINE({LOGMESSID_SMSG}) + "after");
  EXPECT_EQ(READ(PATH + ".1").size(), 3u);
  ASSERT_EQ(READ(PATH).size(), 1u);
  EXPECT_EQ(READ(PATH)[0]["text"], "after");

  // A full disk: one warning, and the game and its console go on.
  ASSERT_TRUE(REC_LOGOPEN("/dev/full", ERR)) << ERR;
  WARNS.clear();
  LINES.clear();
  SV_ADDMSG(SV_LOGLINE({LOGMESSID_SMSG}) + "one");
  SV_ADDMSG(SV_LOGLINE({LOGMESSID_SMSG}) + "two");
  EXPECT_EQ(LINES, (std::vector<std::string>{"one", "two"}));
  ASSERT_EQ(WARNS.size(), 1u);
  EXPECT_NE(WARNS[0].find("cannot write log file /dev/full"), std::string::npos);
}

// The disk fills up in the middle of a record: the system writes part of it.
// The piece is cut off again, and the next record starts its own line; a
// file that a killed server left inside a line gets its next record on a
// line of its own too. Every line stays one JSON object.
TEST_F(JsonLogTest, AShortWriteLeavesNoBrokenLine) {
  std::ofstream(PATH, std::ios::binary) << "{\"kind\":\"cut\"";
  START({"-log", PATH});
  rlimit OLD;
  ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &OLD), 0);
  std::signal(SIGXFSZ, SIG_IGN); // a write past the limit fails instead of ending the process
  rlimit SMALL = OLD;
  SMALL.rlim_cur = rlim_t(std::filesystem::file_size(PATH) + 40);
  ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &SMALL), 0);
  WARNS.clear();
  SV_ADDMSG(SV_LOGLINE({LOGMESSID_SMSG}) + "a notice whose record does not fit");
  ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &OLD), 0);
  std::signal(SIGXFSZ, SIG_DFL);
  EXPECT_EQ(WARNS.size(), 1u);
  SV_ADDMSG(SV_LOGLINE({LOGMESSID_SMSG}) + "after");
  std::ifstream F(PATH);
  std::string LINE;
  ASSERT_TRUE(std::getline(F, LINE));
  EXPECT_EQ(LINE, "{\"kind\":\"cut\""); // as it was found
  std::vector<std::string> TEXTS;
  while (std::getline(F, LINE)) {
    json J = json::parse(LINE); // throws on a broken line
    TEXTS.push_back(J.value("text", J.value("kind", "")));
  }
  EXPECT_EQ(TEXTS, (std::vector<std::string>{"Brastok Server, v29",
                                             "Playerlimit: 10, scorelimit: 20, teamplay: no", "map",
                                             "after"}));
}
