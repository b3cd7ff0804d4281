// The status snapshot: what the operator's views see of a running match.
#include "admin/admin.hpp"
#include "clients/clients.hpp"
#include "status/status.hpp"
#include "support/testserver.hpp"

class SnapshotTest : public TServerTest {};

TEST_F(SnapshotTest, ShowsSlotsItemsMapAndNewestLogLines) {
  STATUS_KEEPLOG = true;
  START({"-bots", "1", "-name", "Yard"});
  uint8_t A = JOIN("10.0.0.1", 5000, "Ann");
  CYCLE(3);
  static TSNAPSHOT S; // large: not on the stack
  STATUS_TAKE(S);
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
  STATUS_TAKE(S);
  ASSERT_EQ(S.NLOG, STATUS_LOGLINES);
  EXPECT_EQ(S.LOG[0].TEXT.VIEW(), "10");
  EXPECT_EQ(S.LOG[STATUS_LOGLINES - 1].TEXT.VIEW(), "29");
}

// Every datagram is counted once on arrival, and once more where it is
// dropped or what its connect came to; every datagram sent is counted.
TEST_F(SnapshotTest, CountsDatagramsDropsAndConnects) {
  START();
  uint8_t A = CONNECT("10.0.0.1", 5000, "Ann");
  const TCOUNTERS BEFORE = SV_STATS;
  const std::string DATA = CL_DATA(0, 0, 0, 0, 0, 0);
  const std::string BIG(MAXBUFFER + 1, 'x');
  SEND("10.0.0.2", 1, "");                             // empty
  SEND("10.0.0.2", 1, BIG);                            // oversized
  SEND("10.0.0.2", 1, DATA);                           // no slot (answered)
  SEND("10.0.0.3", 1, CL_CONNECT("Old", 0, PVER - 1)); // wrong version
  ADM_BANADD("10.0.0.5", 0, "");
  SEND("10.0.0.5", 1, CL_CONNECT("Banned", 0)); // banned
  const int BUDGET = SV_CLIENTSLIST[A].T_MMSGS;
  for (int I = 0; I < BUDGET + 3; I++) {
    SEND("10.0.0.1", 5000, DATA); // three over the budget
  }
  for (int P = 1; P <= CONNMAX + 1; P++) {
    SEND("10.0.0.4", uint16_t(P),
         CL_CONNECT("Many", 0)); // 23 slots left, then full, then over the limit
  }
  CYCLE();
  const TCOUNTERS& C = SV_STATS;
  EXPECT_EQ(C.DGIN - BEFORE.DGIN, uint64_t(5 + BUDGET + 3 + CONNMAX + 1));
  EXPECT_EQ(C.DROPEMPTY - BEFORE.DROPEMPTY, 1u);
  EXPECT_EQ(C.DROPOVERSIZED - BEFORE.DROPOVERSIZED, 1u);
  EXPECT_EQ(C.DROPNOSLOT - BEFORE.DROPNOSLOT, 1u);
  EXPECT_EQ(C.CONNWRONGVER - BEFORE.CONNWRONGVER, 1u);
  EXPECT_EQ(C.DROPBUDGET - BEFORE.DROPBUDGET, 3u);
  EXPECT_EQ(C.CONNOK - BEFORE.CONNOK, uint64_t(MAXCLIENTS - A));
  EXPECT_EQ(C.CONNFULL - BEFORE.CONNFULL, uint64_t(CONNMAX - (MAXCLIENTS - A)));
  EXPECT_EQ(C.DROPCONNLIMIT - BEFORE.DROPCONNLIMIT, 1u);
  EXPECT_EQ(C.DROPBANNED - BEFORE.DROPBANNED, 1u);
  EXPECT_EQ(C.DGOUT, MEMNET_SENTN);
  EXPECT_EQ(C.BYTESOUT, MEMNET_SENTBYTES);
  EXPECT_EQ(C.LOGLINES, uint64_t(SV_LOGI));
}
