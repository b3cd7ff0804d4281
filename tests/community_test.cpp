// The players' votes and the operator's mute, with scripted clients at their
// own addresses over the in-memory transport; one vote recorded and
// replayed. The built server with votes over real UDP is in
// e2e/votes_test.cpp.
#include <fstream>

#include <algorithm>

#include "admin/admin.hpp"
#include "community/community.hpp"
#include "record/record.hpp"
#include "replay.hpp"
#include "support/testserver.hpp"

using LINESV = std::vector<std::string>;

class CommunityTest : public TScratchServerTest {
protected:
  // The console lines of a chat line sent by IP:PORT, which first waits out
  // its chat cool-down as a client would.
  LINESV SAY(const std::string& IP, uint16_t PORT, const std::string& TEXT) {
    for (int I = 1; I <= MAXCLIENTS; I++) {
      const TCLIENT& C = SV_CLIENTSLIST[I];
      if (C.EXIST && !C.BOT && C.IP == IP && C.PORT == PORT) {
        CYCLE(C.T_CHAT);
      }
    }
    LINES.clear();
    SEND(IP, PORT, CL_CHAT(TEXT));
    CYCLE();
    return LINES;
  }
  LINESV RUN(const std::string& LINE) {
    LINES.clear();
    ADM_RUNCOMMAND(LINE);
    return LINES;
  }
  // MS go by in one long cycle (a loaded machine): the clients have no
  // time to time out.
  void WAITMS(int64_t MS) {
    SV_NOWMS += MS - FPS_INT;
    SV_UTCMS += MS - FPS_INT;
    CYCLE();
  }
  // N cycles in which every human sends its input, as a client does.
  void PLAY(int N) {
    for (int K = 0; K < N; K++) {
      for (int I = 1; I <= MAXCLIENTS; I++) {
        const TCLIENT& C = SV_CLIENTSLIST[I];
        if (C.EXIST && !C.BOT) {
          SEND(C.IP, C.PORT, CL_DATA(SV_PINGVAR, C.DIR, 0, C.X, C.Y, C.LOGI));
        }
      }
      CYCLE();
    }
  }
};

// A "!" line is a command only with -votes and only when it names one.
TEST_F(CommunityTest, ACommandOnlyWithVotesAndOnlyWhenKnown) {
  struct {
    bool VOTES;
    const char* TEXT;
    LINESV WANT;
  } CASES[] = {
      {false, "!votekick 2", {"Alex: !votekick 2"}},
      {false, "!help", {"Alex: !help"}},
      {true, "!hello there", {"Alex: !hello there"}},
      {true, "!", {"Alex: !"}},
      {true, "!1", {"Alex: !1"}}, // no map vote open
      {true,
       "!HELP me",
       {"commands: !votekick SLOT, !votemap NAME, !votenext, !yes, !no; after a match !1 !2 !3"}},
      {true, "!yes", {"Alex: no vote is running"}},
      {true, "!votekick 9", {"Alex: slot 9 is free"}},
      {true, "!votemap nowhere", {"Alex: !votemap NAME, one of: DefMap"}},
  };
  for (const auto& C : CASES) {
    SCOPED_TRACE(C.TEXT);
    SV_RESETSTATE();
    START(C.VOTES ? LINESV{"-votes", "1"} : LINESV{});
    CONNECT("10.0.0.1", 1000, "Alex");
    EXPECT_EQ(SAY("10.0.0.1", 1000, C.TEXT), C.WANT);
  }
}

// A kick passes: the address is banned for ten minutes, in the ban list
// where the operator can see and lift it, and cannot come back from another
// port.
TEST_F(CommunityTest, AKickThatPassesKeepsTheAddressOut) {
  SV_UTCMS = 1796644800000; // 2026-12-07T12:00:00Z
  START({"-votes", "1"});
  CONNECT("10.0.0.1", 1000, "Alex");
  CONNECT("10.0.0.2", 1000, "Bea");
  CONNECT("10.0.0.3", 1000, "Cy");
  EXPECT_EQ(SAY("10.0.0.1", 1000, "!votekick 3 aimbot"),
            LINESV{"Alex asks: kick Cy? !yes or !no within 30 s"});
  EXPECT_EQ(SAY("10.0.0.2", 1000, "!yes"),
            (LINESV{"vote passed: kick Cy (2 of 3 yes)",
                    "banned 10.0.0.3 for 10 min, until 2026-12-07T12:10:00Z", "Cy disconnected!"}));
  EXPECT_EQ(CONNECT("10.0.0.3", 2000, "Cy"), 0);
  EXPECT_EQ(RUN("bans"), LINESV{"10.0.0.3 until 2026-12-07T12:10:00Z, 10 min 0 s left "
                                "# vote kick: Cy"});
  WAITMS(10 * 60000);
  EXPECT_NE(CONNECT("10.0.0.3", 2000, "Cy"), 0);
}

// A kick that fails changes nothing; so do those refused: a bot, too few
// people (two connections from one address are one person).
TEST_F(CommunityTest, AKickThatFailsOrIsRefused) {
  START({"-votes", "1", "-bots", "1"});
  CONNECT("10.0.0.1", 1000, "Alex");
  uint8_t TWO = CONNECT("10.0.0.1", 1001, "Alex2");
  CONNECT("10.0.0.2", 1000, "Bea");
  uint8_t BOT = 1;
  while (!SV_CLIENTSLIST[BOT].BOT) {
    BOT++;
  }
  EXPECT_EQ(SAY("10.0.0.1", 1000, "!votekick " + std::to_string(TWO)),
            LINESV{"Alex: a kick needs 3 players here"});
  uint8_t CY = CONNECT("10.0.0.3", 1000, "Cy");
  EXPECT_EQ(SAY("10.0.0.1", 1000, "!votekick " + std::to_string(BOT)),
            LINESV{"Alex: slot " + std::to_string(BOT) + " is a bot"});
  EXPECT_EQ(SAY("10.0.0.1", 1000, "!votekick " + std::to_string(CY)),
            LINESV{"Alex asks: kick Cy? !yes or !no within 30 s"});
  // The same address again is the same ballot.
  EXPECT_EQ(SAY("10.0.0.1", 1001, "!yes"), LINESV{});
  EXPECT_EQ(SAY("10.0.0.3", 1000, "!no"), LINESV{"kick Cy: 1 yes, 1 no of 3"});
  EXPECT_EQ(SAY("10.0.0.2", 1000, "!votenext"), LINESV{"Bea: a vote is running: kick Cy"});
  LINES.clear();
  WAITMS(COM_VOTEMS);
  EXPECT_EQ(LINES, LINESV{"vote failed: kick Cy (1 of 3 yes)"});
  EXPECT_EQ(SV_CURCLIENTS, 5);
  EXPECT_EQ(RUN("bans"), LINESV{"no bans"});
  // The operator may cancel a vote.
  EXPECT_EQ(SAY("10.0.0.2", 1000, "!votemap DefMap"), LINESV{"Bea: DefMap is being played"});
  SAY("10.0.0.2", 1000, "!votenext");
  EXPECT_EQ(RUN("cancelvote"), LINESV{"vote cancelled: next map"});
  WARNS.clear();
  EXPECT_EQ(RUN("cancelvote"), LINESV{});
  EXPECT_EQ(WARNS, LINESV{"no vote is running"});
}

// One vote started per address a minute, and leaving and coming back from
// another port does not reset it.
TEST_F(CommunityTest, TheLimitPerAddressSurvivesAReconnect) {
  START({"-votes", "1"});
  CONNECT("10.0.0.1", 1000, "Alex");
  CONNECT("10.0.0.2", 1000, "Bea");
  SAY("10.0.0.1", 1000, "!votenext");
  EXPECT_EQ(SAY("10.0.0.2", 1000, "!no"), LINESV{"vote failed: next map (1 of 2 yes)"});
  SEND("10.0.0.1", 1000, CL_DISCONNECT());
  CONNECT("10.0.0.1", 1001, "Alex");
  LINESV L = SAY("10.0.0.1", 1001, "!votenext");
  ASSERT_EQ(L.size(), 1u);
  EXPECT_EQ(L[0].rfind("Alex: one vote a minute, ", 0), 0u) << L[0];
  WAITMS(COM_CALLMS);
  EXPECT_EQ(SAY("10.0.0.1", 1001, "!votenext"),
            LINESV{"Alex asks: next map? !yes or !no within 30 s"});
}

// The end-of-match map vote: the maps offered leave out the current one and
// the two played before it, the most votes win, a tie goes to the map
// offered first; a map vote passed during the match changes it at once.
TEST_F(CommunityTest, TheMapVoteChoosesTheNextMap) {
  for (const char* M : {"a", "b", "c", "d", "e"}) {
    std::ofstream(DIR / "maps" / (std::string(M) + ".brsk"), std::ios::binary) << "mapxx1\n@ \n";
  }
  START({"-votes", "1", "-map", "a", "-map", "b", "-map", "c", "-map", "d", "-map", "e"});
  // Each round: the offer at the match's end, the two players' ballots,
  // what the end of the board prints and the map that follows.
  struct {
    const char* OFFER;
    const char* BALLOTS[2];
    LINESV END;
    uint8_t NEXT;
  } ROUNDS[] = {
      {"next map? !1 b, !2 c, !3 d", {"!3", "!3"}, {"next map by vote: d"}, 4}, // not b
      {"next map? !1 e, !2 b, !3 c", {"!3", "!2"}, {"next map by vote: b"}, 2}, // a tie
      {"next map? !1 c, !2 e", {nullptr, nullptr}, {}, 3}, // a and d were played before b
  };
  for (const auto& R : ROUNDS) {
    SCOPED_TRACE(R.OFFER);
    uint8_t A = JOIN("10.0.0.1", 1000, "Alex");
    JOIN("10.0.0.2", 1000, "Bea");
    SV_CLIENTSLIST[A].SCORE = SV_SCORELIMIT;
    EXPECT_EQ(RUN("score 20"), (LINESV{"Alex WINS!", R.OFFER}));
    for (int K = 0; K < 2 && R.BALLOTS[K] != nullptr; K++) {
      SAY(K == 0 ? "10.0.0.1" : "10.0.0.2", 1000, R.BALLOTS[K]);
    }
    LINES.clear();
    PLAY(SV_SCOREBOARD);
    LINESV END = R.END;
    END.insert(END.end(), {"Alex disconnected!", "Bea disconnected!"});
    EXPECT_EQ(LINES, END);
    EXPECT_EQ(SV_MAP.NUM, R.NEXT);
  }
  // A map vote during a match changes the map at once.
  JOIN("10.0.0.1", 1000, "Alex");
  EXPECT_EQ(SAY("10.0.0.1", 1000, "!votemap a"),
            (LINESV{"Alex asks: map a? !yes or !no within 30 s", "vote passed: map a (1 of 1 yes)",
                    "Alex disconnected!"}));
  EXPECT_EQ(SV_MAP.NUM, 1);
}

// A muted address's chat is dropped, from any port, until the mute ends or
// is lifted; votes or not.
TEST_F(CommunityTest, MuteDropsTheChatOfAnAddress) {
  START();
  CONNECT("10.0.0.1", 1000, "Alex");
  CONNECT("10.0.0.2", 1000, "Bea");
  EXPECT_EQ(RUN("mute 1"), LINESV{"muted 10.0.0.1 (Alex) until unmuted"});
  EXPECT_EQ(RUN("mute 2 5"), LINESV{"muted 10.0.0.2 (Bea) for 5 min"});
  EXPECT_EQ(SAY("10.0.0.1", 1000, "hello"), LINESV{});
  SEND("10.0.0.1", 1000, CL_DISCONNECT());
  CONNECT("10.0.0.1", 1001, "Alex");
  EXPECT_EQ(SAY("10.0.0.1", 1001, "hello again"), LINESV{});
  EXPECT_EQ(SAY("10.0.0.2", 1000, "hi"), LINESV{});
  EXPECT_EQ(RUN("mute"),
            (LINESV{"10.0.0.1 (Alex) until unmuted", "10.0.0.2 (Bea), 5 min 0 s left"}));
  WAITMS(5 * 60000);
  EXPECT_EQ(SAY("10.0.0.2", 1000, "hi"), LINESV{"Bea: hi"});
  EXPECT_EQ(RUN("unmute 10.0.0.1"), LINESV{"unmuted 10.0.0.1"});
  EXPECT_EQ(SAY("10.0.0.1", 1001, "thanks"), LINESV{"Alex: thanks"});
  EXPECT_EQ(RUN("mute"), LINESV{"no mutes"});
}

// A recording with a vote replays to the same console lines: the vote's
// timer and its ban run on the recorded clocks.
TEST_F(CommunityTest, AVoteReplaysAsItWent) {
  SV_UTCMS = 1796644800000;
  START({"-votes", "1", "-record", "vote.rec"});
  REC_RECORDSTART(true);
  auto RECCYCLE = [&](int N) {
    for (int K = 0; K < N; K++) {
      SV_NOWMS += FPS_INT;
      SV_UTCMS += FPS_INT;
      REC_RECORDCLOCKS();
      GAMECYCLE();
      REC_RECORDFLUSH();
    }
  };
  const char* WHO[] = {"Alex", "Bea", "Cy"};
  for (int K = 0; K < 3; K++) {
    SEND("10.0.0." + std::to_string(K + 1), 1000, CL_CONNECT(WHO[K], 0));
  }
  RECCYCLE(1);
  SEND("10.0.0.1", 1000, CL_CHAT("!votekick 2"));
  RECCYCLE(1);
  SV_NOWMS += COM_VOTEMS; // a long cycle: the vote fails on its time
  SV_UTCMS += COM_VOTEMS;
  RECCYCLE(1);
  SEND("10.0.0.2", 1000, CL_CHAT("!votekick 3"));
  RECCYCLE(CHATTIME); // Alex's chat cool-down
  SEND("10.0.0.1", 1000, CL_CHAT("!yes"));
  RECCYCLE(1);
  ADM_RUNCOMMAND("bans");
  RECCYCLE(1);
  REC_RECORDCLOSE();
  const LINESV LIVE = LINES;
  for (const char* L : {"vote failed: kick Bea (1 of 3 yes)", "vote passed: kick Cy (2 of 3 yes)",
                        "Cy disconnected!"}) {
    EXPECT_NE(std::find(LIVE.begin(), LIVE.end(), L), LIVE.end()) << L;
  }
  EXPECT_TRUE(LIVE.back().ends_with(", 10 min 0 s left # vote kick: Cy")) << LIVE.back();
  LINES.clear();
  EXPECT_EQ(RP_REPLAYFILE("vote.rec", false), RP_EXIT_OK);
  EXPECT_EQ(LINES, LIVE);
}
