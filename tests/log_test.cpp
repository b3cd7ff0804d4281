// The event log: numbering, the 97-line list, console rendering.
#include "clients/clients.hpp"
#include "support/testserver.hpp"

class LogTest : public TServerTest {};

TEST_F(LogTest, NumbersAndShiftsLines) {
  SV_CLEARLOG();
  for (int I = 1; I <= 3; I++) {
    SV_ADDMSG(SV_LOGLINE({LOGMESSID_SMSG, uint8_t('0' + I)}));
  }
  EXPECT_EQ(SV_LOGI, 3);
  EXPECT_EQ(SV_LOG[0], SV_LOGLINE({LOGMESSID_SMSG, '3'}));
  EXPECT_EQ(SV_LOG[2], SV_LOGLINE({LOGMESSID_SMSG, '1'}));
  for (int K = 3; K <= MAXLOG; K++) {
    EXPECT_EQ(SV_LOG[K], "");
  }
  for (int I = 4; I <= 100; I++) {
    SV_ADDMSG(SV_LOGLINE({LOGMESSID_SMSG}) + std::to_string(I));
  }
  EXPECT_EQ(SV_LOGI, 100);
  EXPECT_EQ(SV_LOG[MAXLOG], SV_LOGLINE({LOGMESSID_SMSG}) + "4"); // lines 1 to 3 are gone
  EXPECT_EQ(LINES.back(), "100");
}

TEST_F(LogTest, LineNumberWrapsAfter65535) {
  SV_LOGI = 65535;
  SV_ADDMSG(SV_LOGLINE({LOGMESSID_SMSG, 'x'}));
  EXPECT_EQ(SV_LOGI, 0);
}

TEST_F(LogTest, RendersEveryKind) {
  SV_CLIENTSLIST[1].NAME = "Ann";
  SV_CLIENTSLIST[3].NAME = "Bob";
  SV_CLIENTSLIST[5].NAME = "old";
  struct {
    std::string LINE, SHOWN;
  } CASES[] = {
      {SV_LOGLINE({LOGMESSID_CCON, 5, 2}) + "[SO]Alex", "[SO]Alex connected!"},
      {SV_LOGLINE({LOGMESSID_CDCON, 3}), "Bob disconnected!"},
      {SV_LOGLINE({LOGMESSID_COUT, 3}), "Bob time out!"},
      {SV_LOGLINE({LOGMESSID_CHAT, 1}) + "hi", "Ann: hi"},
      {SV_LOGLINE({LOGMESSID_CHAT, 1}), "Ann: "},
      {SV_LOGLINE({LOGMESSID_KILL, 3, 1, 3}), "Ann > mp40 > Bob"},
      {SV_LOGLINE({LOGMESSID_KILL, 1, 3, 1}), "Bob > knife > Ann"},
      {SV_LOGLINE({LOGMESSID_ENTER, 1}), "Ann has joined the game!"},
      {SV_LOGLINE({LOGMESSID_LEAVE, 1}), "Ann has left the game!"},
      {SV_LOGLINE({LOGMESSID_SCORE, 3}), "Bob WINS!"},
      {SV_LOGLINE({LOGMESSID_TSCORE, 1}), "Mutants team  WINS!"},
      {SV_LOGLINE({LOGMESSID_TSCORE, 2}), "Soldiers team  WINS!"},
      {SV_LOGLINE({LOGMESSID_SMSG}) + "notice", "notice"},
      // Escapes reach the console only as text.
      {SV_LOGLINE({LOGMESSID_CHAT, 1}) + "\x1b[31mred\r\n", "Ann: \\x1B[31mred\\x0D\\x0A"},
  };
  for (const auto& C : CASES) {
    LINES.clear();
    SV_ADDMSG(C.LINE);
    ASSERT_EQ(LINES.size(), 1u) << C.SHOWN;
    EXPECT_EQ(LINES[0], C.SHOWN);
    EXPECT_EQ(SV_LOG[0], C.LINE); // stored byte for byte
  }
  // The connect line stored its name and team into the slot.
  EXPECT_EQ(SV_CLIENTSLIST[5].NAME, "[SO]Alex");
  EXPECT_EQ(SV_CLIENTSLIST[5].TEAM, 2);
}

TEST_F(LogTest, UnknownAndEmptyLinesAreNumberedButSilent) {
  uint16_t BEFORE = SV_LOGI;
  SV_ADDMSG(SV_LOGLINE({11, 1}));
  SV_ADDMSG("");
  EXPECT_EQ(SV_LOGI, uint16_t(BEFORE + 2));
  EXPECT_TRUE(LINES.empty());
}

TEST_F(LogTest, OutOfRangeArgumentsRenderWithoutNames) {
  // Lines the server makes always name slots 1 to 24; any other byte shows
  // an empty name rather than reading beyond the slot table.
  SV_ADDMSG(SV_LOGLINE({LOGMESSID_CDCON, 0}));
  SV_ADDMSG(SV_LOGLINE({LOGMESSID_KILL, 9, 30, 200}));
  SV_ADDMSG(SV_LOGLINE({LOGMESSID_TSCORE, 7}));
  SV_ADDMSG(SV_LOGLINE({LOGMESSID_CCON}));
  EXPECT_EQ(LINES,
            (std::vector<std::string>{" disconnected!", " >  > ", " team  WINS!", " connected!"}));
}
