// Whole matches: one human spectator and 23 bots play for 20,000 ticks over
// the in-memory transport, through kills, score limits and map changes.
#include "game/game.hpp"
#include "harness.hpp"
#include "support/testmap.hpp"
#include "support/testserver.hpp"

namespace {

struct TMATCH {
  int KILLS = 0;   // kill lines on the console
  int WINS = 0;    // score-limit lines
  int MAPS = 0;    // map changes the client lived through
  int RETURNS = 0; // times all 23 bots came back one per tick
  int LEFT = 0;    // disconnect lines
  int TIMEOUTS = 0;
};

// A 64 by 64 map with few walls: a handful of wall and obstacle blocks, items
// of every kind and 16 spawn points spread over the grid.
std::vector<std::string> ARENAROWS() {
  std::vector<std::string> ROWS = OPENROWS(64);
  for (int BY = 0; BY < 4; BY++) {
    for (int BX = 0; BX < 4; BX++) {
      int X = 8 + 16 * BX;
      int Y = 8 + 16 * BY;
      // A 3 by 3 block, walls and obstacles in turn.
      char CELL = (BX + BY) % 2 == 0 ? 'A' : 'e';
      for (int DY = 0; DY < 3; DY++) {
        for (int DX = 0; DX < 3; DX++) {
          ROWS[size_t(Y + DY - 1)][size_t(X + DX - 1)] = CELL;
        }
      }
      ROWS[size_t(Y - 4)][size_t(X - 4)] = '@';
      ROWS[size_t(Y + 4)][size_t(X + 1)] = char('0' + (BX + 4 * BY) % 10);
      ROWS[size_t(Y + 1)][size_t(X + 5)] = char('0' + (BX + 4 * BY + 5) % 10);
    }
  }
  return ROWS;
}

} // namespace

class MatchTest : public TServerTest {
protected:
  const std::string IP = "10.0.0.1";
  const uint16_t PORT = 1000;

  // The spectator talks every tick, acknowledges the log lines it received,
  // and connects again whenever the server has forgotten it (after a map
  // change). Whenever it connects, the bots must come back one per tick.
  TMATCH PLAYMATCH(int TICKS) {
    TMATCH M;
    uint16_t ECHO = 0;
    uint16_t ACK = 0;
    bool CONNECTED = false;
    int SINCE = -1; // ticks since the last connect, while the bots return
    size_t SEEN = LINES.size();
    for (int T = 0; T < TICKS; T++) {
      if (!CONNECTED) {
        SEND(IP, PORT, CL_CONNECT("Watcher", 0));
        CONNECTED = true;
        SINCE = 0;
      } else {
        SEND(IP, PORT, CL_DATA(ECHO, 0, 0, 0, 0, ACK));
      }
      CYCLE();
      for (const std::string& D : TAKE(IP, PORT)) {
        switch (uint8_t(D[0])) {
        case CLMPMSG_SHAP: {
          CL_STATE S;
          EXPECT_TRUE(CL_PARSESTATE(D, S));
          ECHO = S.TICK;
          if (SINCE >= 0) {
            EXPECT_EQ(S.PLAYERS.size(), size_t(SINCE + 2)) << "tick " << T;
            if (S.PLAYERS.size() == 24) {
              M.RETURNS++;
              SINCE = -1;
            } else {
              SINCE++;
            }
          }
          break;
        }
        case CLMPMSG_LOGL: {
          CL_LOG L;
          EXPECT_TRUE(CL_PARSELOG(D, L));
          ACK = L.LAST;
          break;
        }
        case CLMPMSG_NOCON:
          CONNECTED = false;
          M.MAPS++;
          break;
        default:
          break;
        }
      }
      CHECKSLOTS(T);
    }
    for (size_t I = SEEN; I < LINES.size(); I++) {
      M.KILLS += LINES[I].find(" > ") != std::string::npos;
      M.WINS += LINES[I].find(" WINS!") != std::string::npos;
      M.LEFT += LINES[I].find(" disconnected!") != std::string::npos;
      M.TIMEOUTS += LINES[I].find(" time out!") != std::string::npos;
    }
    return M;
  }

  // The slot table holds together, and no live player stands in a wall.
  static void CHECKSLOTS(int T) {
    ASSERT_EQ(FUZZ_SLOTFAULT(), "") << "tick " << T;
    for (int I = 1; I <= MAXCLIENTS; I++) {
      const TCLIENT& C = SV_CLIENTSLIST[I];
      if (C.EXIST && C.PLAY && C.HITS > 0) {
        ASSERT_TRUE(PLAYER_SQUAREFREE(C.X, C.Y)) << "tick " << T << " slot " << I;
      }
    }
  }
};

// Every map change came from a score limit (the last may still be on its
// board), and every connect brought the bots back one per tick.
static void CHECKMATCH(const TMATCH& M) {
  EXPECT_GT(M.KILLS, 100);
  EXPECT_GE(M.MAPS, 1);
  EXPECT_GE(M.WINS, M.MAPS);
  EXPECT_LE(M.WINS, M.MAPS + 1);
  EXPECT_EQ(M.RETURNS, M.MAPS + 1);
  // Nobody leaves but at a map change: no time-out, no log backlog.
  EXPECT_EQ(M.LEFT, 24 * M.MAPS);
  EXPECT_EQ(M.TIMEOUTS, 0);
}

// The same input plays the same match, walk goals drawn at random included.
TEST_F(MatchTest, BuiltInMap) {
  START({"-bots", "24", "-maxplayers", "24"});
  TMATCH M = PLAYMATCH(20000);
  CHECKMATCH(M);
  EXPECT_NE(BOT_RANDSEED, BOT_RANDSTART); // goals were drawn at random
  std::vector<std::string> FIRST(LINES.begin(), LINES.end());
  LINES.clear();
  SetUp();
  START({"-bots", "24", "-maxplayers", "24"});
  PLAYMATCH(20000);
  EXPECT_TRUE(LINES == FIRST);
}

TEST_F(MatchTest, OpenArena) {
  START({"-bots", "24", "-maxplayers", "24"});
  TESTMAP(ARENAROWS());
  ASSERT_EQ(SV_MAP.SPN, 16);
  ASSERT_EQ(SV_MAP.ITN, 32);
  CHECKMATCH(PLAYMATCH(20000));
}

// In team play the bots of four teams fight to a team's score limit and
// never hit a team mate.
TEST_F(MatchTest, TeamPlay) {
  START({"-bots", "24", "-maxplayers", "24", "-teams", "1"});
  size_t SEEN = LINES.size();
  TMATCH M = PLAYMATCH(20000);
  CHECKMATCH(M);
  for (size_t I = SEEN; I < LINES.size(); I++) {
    size_t AT = LINES[I].find(" > ");
    if (AT != std::string::npos) {
      // "[XX]BOT #n > gun > [YY]BOT #m": two team tags that differ.
      EXPECT_NE(LINES[I].substr(0, 4), LINES[I].substr(LINES[I].rfind(" > ") + 3, 4)) << LINES[I];
    }
    if (LINES[I].find(" WINS!") != std::string::npos) {
      EXPECT_NE(LINES[I].find(" team  WINS!"), std::string::npos) << LINES[I];
    }
  }
}
