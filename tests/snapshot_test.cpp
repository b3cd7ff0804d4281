// The status snapshot: what the operator's views see of a running match.
#include "clients/clients.hpp"
#include "ops/ops.hpp"
#include "support/testserver.hpp"

class SnapshotTest : public TServerTest {};

TEST_F(SnapshotTest, ShowsSlotsItemsMapAndNewestLogLines) {
  OPS_KEEPLOG = true;
  START({"-bots", "1", "-name", "Yard"});
  uint8_t A = JOIN("10.0.0.1", 5000, "Ann");
  CYCLE(3);
  static OPS_SNAPSHOT S; // large: not on the stack
  OPS_TAKESNAPSHOT(S);
  EXPECT_EQ(S.NAME.VIEW(), "Yard");
  EXPECT_EQ(S.MAPNUM, 1);
  EXPECT_EQ(S.MAPLOADS, 1u);
  EXPECT_EQ(S.MAPTEXT.VIEW().substr(6, 1), std::string(1, DEFMAPBUF[6]));
  ASSERT_EQ(S.NSLOTS, 2);
  EXPECT_EQ(S.SLOTS[0].SLOT, A);
  EXPECT_EQ(S.SLOTS[0].NAME.VIEW(), "Ann");
  EXPECT_EQ(S.SLOTS[0].IP.VIEW(), "10.0.0.1");
  EXPECT_EQ(S.SLOTS[0].PORT, 5000);
  EXPECT_EQ(S.SLOTS[0].STATE, PS_LIVE);
  EXPECT_EQ(S.SLOTS[0].X, SV_CLIENTSLIST[A].X);
  EXPECT_TRUE(S.SLOTS[1].BOT);
  EXPECT_EQ(S.HUMANS, 1);
  EXPECT_EQ(S.SPECTATORS, 0);
  EXPECT_EQ(S.NITEMS, SV_MAP.ITN);
  // The log lines as the console printed them, newest last.
  ASSERT_GE(S.NLOG, 3);
  EXPECT_EQ(S.LOG[S.NLOG - 1].LINE, SV_LOGI);
  EXPECT_EQ(S.LOG[S.NLOG - 1].TEXT.VIEW(), LINES.back());

  // Only the newest lines are kept, oldest first.
  for (int I = 0; I < 30; I++) {
    SV_ADDMSG(SV_LOGLINE({LOGMESSID_SMSG}) + std::to_string(I));
  }
  OPS_TAKESNAPSHOT(S);
  ASSERT_EQ(S.NLOG, OPS_SNAPLOGLINES);
  EXPECT_EQ(S.LOG[0].TEXT.VIEW(), "10");
  EXPECT_EQ(S.LOG[OPS_SNAPLOGLINES - 1].TEXT.VIEW(), "29");
}
