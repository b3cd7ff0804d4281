// brastok_client without sockets: its command line, what it prints, the map
// file it writes, its bookkeeping of log lines and ticks, its walking rules
// and the figures of a load run.
#include "client.hpp"
#include "clients/clients.hpp"
#include "game/game.hpp"
#include "peer.hpp"
#include "support/testserver.hpp"

TEST(ClientTool, ParsesServerAddresses) {
  struct {
    const char* TEXT;
    const char* HOST; // nullptr: refused
    uint16_t PORT;
    const char* ERR; // part of the reason
  } CASES[] = {
      {"127.0.0.1", "127.0.0.1", 35700, ""},
      {"localhost:36000", "localhost", 36000, ""},
      {"game-1.example.org:1", "game-1.example.org", 1, ""},
      {"h:65535", "h", 65535, ""},
      {"", nullptr, 0, "missing server address"},
      {":35700", nullptr, 0, "no host"},
      {"h:", nullptr, 0, "bad port ''"},
      {"h:0", nullptr, 0, "bad port '0'"},
      {"h:65536", nullptr, 0, "bad port '65536'"},
      {"h:99999999999", nullptr, 0, "bad port"},
      {"h:12a", nullptr, 0, "bad port '12a'"},
      {"h:-1", nullptr, 0, "bad port '-1'"},
      {"h: 80", nullptr, 0, "bad port"},
      {"::1", nullptr, 0, "only IPv4"},
      {"a:b:c", nullptr, 0, "only IPv4"},
      {"bad host", nullptr, 0, "bad host name"},
      {"h\x1b[2J", nullptr, 0, "bad host name"},
  };
  for (const auto& C : CASES) {
    SCOPED_TRACE(C.TEXT);
    std::string HOST = "unchanged", ERR;
    uint16_t PORT = 7;
    bool OK = CL_PARSEADDRESS(C.TEXT, HOST, PORT, ERR);
    ASSERT_EQ(OK, C.HOST != nullptr) << ERR;
    if (OK) {
      EXPECT_EQ(HOST, C.HOST);
      EXPECT_EQ(PORT, C.PORT);
    } else {
      EXPECT_NE(ERR.find(C.ERR), std::string::npos) << ERR;
      EXPECT_EQ(ERR.find('\n'), std::string::npos); // one line
      EXPECT_EQ(HOST, "unchanged");
    }
  }
}

TEST(ClientTool, ReadsTheCommandLine) {
  using V = std::vector<std::string>;
  {
    CL_OPTIONS O;
    std::string ERR;
    ASSERT_TRUE(CL_PARSEARGS(V{"status", "--json", "--timeout", "0.5", "h:5"}, O, ERR)) << ERR;
    EXPECT_EQ(O.COMMAND, "status");
    EXPECT_TRUE(O.JSON);
    EXPECT_EQ(O.TIMEOUTMS, 500);
    EXPECT_EQ(O.HOST, "h");
    EXPECT_EQ(O.PORT, 5);
    EXPECT_EQ(O.NAME, "status");
  }
  {
    CL_OPTIONS O;
    std::string ERR;
    ASSERT_TRUE(CL_PARSEARGS(V{"load", "h", "-n", "24", "-t", "10", "--name", "bot", "--team", "3",
                               "--bind", "127.0.0.2", "--seed", "4294967295"},
                             O, ERR))
        << ERR;
    EXPECT_EQ(O.PLAYERS, 24);
    EXPECT_EQ(O.RUNMS, 10000);
    EXPECT_EQ(O.NAME, "bot");
    EXPECT_EQ(O.TEAM, 3);
    EXPECT_EQ(O.BIND, "127.0.0.2");
    EXPECT_EQ(O.SEED, 4294967295u);
    EXPECT_EQ(O.PORT, 35700);
  }
  {
    CL_OPTIONS O;
    std::string ERR;
    ASSERT_TRUE(CL_PARSEARGS(V{"map", "-o", "out.brsk", "h"}, O, ERR)) << ERR;
    EXPECT_EQ(O.OUTFILE, "out.brsk");
    ASSERT_TRUE(CL_PARSEARGS(V{"watch", "--scores", "h", "--timeout", "2.25"}, O, ERR)) << ERR;
    EXPECT_TRUE(O.SCORES);
    EXPECT_EQ(O.TIMEOUTMS, 2250);
    ASSERT_TRUE(CL_PARSEARGS(V{"--help"}, O, ERR));
    EXPECT_TRUE(O.HELP);
    ASSERT_TRUE(CL_PARSEARGS(V{"status", "-h"}, O, ERR));
    EXPECT_TRUE(O.HELP);
  }
  struct {
    V ARGS;
    const char* ERR;
  } BAD[] = {
      {{}, "missing command"},
      {{"stat", "h"}, "unknown command 'stat'"},
      {{"status"}, "missing server address"},
      {{"watch", "h", "g"}, "more than one server address"},
      {{"status", "--colour", "h"}, "unknown option '--colour'"},
      {{"status", "--scores", "h"}, "--scores does not apply to status"},
      {{"watch", "--json", "h"}, "--json does not apply to watch"},
      {{"status", "h", "--timeout"}, "--timeout needs a value"},
      {{"status", "--timeout", "0", "h"}, "bad --timeout '0'"},
      {{"status", "--timeout", "1.2345", "h"}, "bad --timeout"},
      {{"status", "--timeout", "-1", "h"}, "bad --timeout"},
      {{"status", "--timeout", "1e3", "h"}, "bad --timeout"},
      {{"status", "--timeout", ".5", "h"}, "bad --timeout"},
      {{"map", "h"}, "map needs -o FILE"},
      {{"map", "-o", "", "h"}, "-o needs a file name"},
      {{"load", "-n", "8", "h"}, "load needs -n PLAYERS and -t SECONDS"},
      {{"load", "-n", "0", "-t", "1", "h"}, "bad -n '0'"},
      {{"load", "-n", "25", "-t", "1", "h"}, "bad -n '25'"},
      {{"load", "-n", "x", "-t", "1", "h"}, "bad -n 'x'"},
      {{"load", "-n", "2", "-t", "0", "h"}, "bad -t '0'"},
      {{"load", "-n", "2", "-t", "86401", "h"}, "bad -t"},
      {{"status", "--team", "4", "h"}, "bad --team '4'"},
      {{"status", "--bind", "localhost", "h"}, "bad --bind"},
      {{"status", "--name", "twenty-one-characters", "h"}, "longer than 20"},
      {{"load", "-n", "2", "-t", "1", "--name", "nineteen-characters", "h"}, "longer than 18"},
      {{"status", "h:0"}, "bad port '0'"},
  };
  for (const auto& C : BAD) {
    SCOPED_TRACE(C.ERR);
    CL_OPTIONS O;
    std::string ERR;
    EXPECT_FALSE(CL_PARSEARGS(C.ARGS, O, ERR));
    EXPECT_NE(ERR.find(C.ERR), std::string::npos) << ERR;
    EXPECT_EQ(ERR.find('\n'), std::string::npos);
  }
}

TEST(ClientTool, ParsersCheckEveryFieldAgainstTheDatagram) {
  // A log packet of exactly 5000 bytes, the whole buffer: 20 lines fill it.
  // Past the buffer the codec reads zeros without moving, so a count of 21
  // must not pass for an extra empty line.
  for (int COUNT : {20, 21}) {
    SCOPED_TRACE(COUNT);
    std::string D = BYTES({CLMPMSG_LOGL, COUNT, 0, COUNT});
    for (int I = 0; I < 19; I++) {
      D += char(255) + std::string(255, 'x');
    }
    D += char(131) + std::string(131, 'y');
    ASSERT_EQ(D.size(), size_t(MAXBUFFER));
    CL_LOG L;
    EXPECT_EQ(CL_PARSELOG(D, L), COUNT == 20);
  }
  CL_STATE S;
  CL_MAPINFO M;
  CL_LOG L;
  EXPECT_FALSE(CL_PARSESTATE(BYTES({CLMPMSG_SHAP, 1, 0}), S));
  EXPECT_FALSE(CL_PARSEMAP(BYTES({CLMPMSG_MAP, 0, 0, 'a', 0, 3, 'm'}), M));
  EXPECT_FALSE(CL_PARSELOG(BYTES({CLMPMSG_LOGL, 1, 0, 1, 2, 4}), L));
  EXPECT_TRUE(CL_PARSELOG(BYTES({CLMPMSG_LOGL, 1, 0, 1, 2, 4, 1}), L));
  EXPECT_FALSE(CL_PARSELOG(BYTES({CLMPMSG_LOGL, 1, 0, 1, 2, 4, 1, 0}), L));
}

TEST(ClientTool, JsonStringsAreValidUtf8) {
  struct {
    std::string IN, OUT;
  } CASES[] = {
      {"Alex", "\"Alex\""},
      {"say \"hi\" \\o/", "\"say \\\"hi\\\" \\\\o/\""},
      {"a\nb\tc\rd", "\"a\\nb\\tc\\rd\""},
      {std::string("\0\x1b\x7f\x9f", 4), "\"\\u0000\\u001b\\u007f\\u009f\""},
      {"\xe9t\xe9", "\"\xc3\xa9t\xc3\xa9\""}, // Latin-1, as the console shows it
      {"", "\"\""},
  };
  for (const auto& C : CASES) {
    EXPECT_EQ(CL_JSONSTRING(C.IN), C.OUT);
  }
}

// A status picture: the map information and the state packet of one tick.
static void STATUSPICTURE(CL_MAPINFO& M, CL_STATE& S) {
  M.SERVERNAME = "Test \"Arena\"";
  M.MAPNAME = "DefMap";
  M.SCORELIMIT = 20;
  M.TEAMPLAY = 7;
  M.MAXPLAYERS = 10;
  M.PLAYERS = {{1, 2, "[SO]Alex"}, {3, 0, "[SS]status"}, {4, 1, "[MU]Bob\x1b"}};
  S.SELF = 3;
  S.PLAYERS = {{1, PS_LIVE, 2, 5, 100, 200, 90, 0},
               {3, PS_SPEC, 0, 0, 0, 0, 0, 0},
               {4, PS_DEAD, 12, 1, 0, 0, 0, 0}};
}

TEST(ClientTool, StatusLeavesItselfOutAndPrintsEveryField) {
  CL_MAPINFO M;
  CL_STATE S;
  STATUSPICTURE(M, S);
  CL_STATUSINFO I = CL_MAKESTATUS(M, S);
  EXPECT_EQ(CL_STATUSJSON(I),
            "{\"server\":\"Test \\\"Arena\\\"\",\"map\":\"DefMap\",\"scorelimit\":20,"
            "\"teamplay\":true,\"maxplayers\":10,\"players\":["
            "{\"slot\":1,\"name\":\"[SO]Alex\",\"team\":2,\"state\":\"alive\",\"score\":5,"
            "\"ping\":2},"
            "{\"slot\":4,\"name\":\"[MU]Bob\\u001b\",\"team\":1,\"state\":\"dead\",\"score\":1,"
            "\"ping\":12}]}\n");
  EXPECT_EQ(CL_STATUSTEXT(I), "server:       Test \"Arena\"\n"
                              "map:          DefMap\n"
                              "score limit:  20\n"
                              "team play:    yes\n"
                              "player limit: 10\n"
                              "players:      2\n"
                              "  slot  team  state      score  ping  name\n"
                              "     1     2  alive          5     2  [SO]Alex\n"
                              "     4     1  dead           1    12  [MU]Bob\\x1B\n");
}

TEST(ClientTool, LogLinesReadAsTheServerConsoleShowsThem) {
  SV_RESETSTATE();
  CL_NAMES N;
  for (uint8_t C : {1, 2, 3}) {
    SV_CLIENTSLIST[C].NAME = std::string("P") + char('0' + C);
    N.NAME[C] = SV_CLIENTSLIST[C].NAME;
    N.KNOWN[C] = true;
  }
  const std::string LINES[] = {
      SV_LOGLINE({LOGMESSID_CCON, 5, 2}) + "[SO]Alex",
      SV_LOGLINE({LOGMESSID_CDCON, 5}),
      SV_LOGLINE({LOGMESSID_COUT, 2}),
      SV_LOGLINE({LOGMESSID_CHAT, 1}) + "hi there",
      SV_LOGLINE({LOGMESSID_CHAT, 3}),
      SV_LOGLINE({LOGMESSID_KILL, 3, 1, 2}),
      SV_LOGLINE({LOGMESSID_KILL, 9, 1, 2}),
      SV_LOGLINE({LOGMESSID_ENTER, 1}),
      SV_LOGLINE({LOGMESSID_LEAVE, 2}),
      SV_LOGLINE({LOGMESSID_SCORE, 3}),
      SV_LOGLINE({LOGMESSID_TSCORE, 1}),
      SV_LOGLINE({LOGMESSID_TSCORE, 7}),
      SV_LOGLINE({LOGMESSID_SMSG}) + "Brastok Server, v29",
      SV_LOGLINE({11, 1}),
      "",
  };
  for (const std::string& L : LINES) {
    SCOPED_TRACE(L);
    // The server's console first stores a connect line's name, as the client does.
    std::vector<std::string> CAPTURED;
    SC_CAPTURE = &CAPTURED;
    SC_LOGMESS(L);
    SC_CAPTURE = nullptr;
    EXPECT_EQ(CL_LOGTEXT(N, L), SC_LOGTEXT(L));
  }
  EXPECT_EQ(N.NAME[5], "[SO]Alex");
  EXPECT_EQ(N.TEAM[5], 2);
  // A slot whose name the client never learned.
  EXPECT_EQ(CL_LOGTEXT(N, SV_LOGLINE({LOGMESSID_CDCON, 9})), "#9 disconnected!");
}

TEST(ClientTool, ScoreTableSortsPlayersAndSumsTeams) {
  CL_NAMES N;
  CL_MAPINFO M;
  M.PLAYERS = {{1, 1, "[MU]Ann"}, {2, 2, "[SO]Bob"}, {3, 1, "[MU]Cid"}, {4, 0, "Dee"}};
  CL_NAMESFROMMAP(N, M);
  CL_STATE S;
  S.PLAYERS = {{1, PS_LIVE, 0, 4, 0, 0, 0, 0},
               {2, PS_DEAD, 0, 6, 0, 0, 0, 0},
               {3, PS_ATTA, 0, 3, 0, 0, 0, 3},
               {4, PS_SPEC, 0, 0, 0, 0, 0, 0}};
  EXPECT_EQ(CL_SCORETABLE(N, S, 1), "Score board\n"
                                    "    6  [SO]Bob\n"
                                    "    4  [MU]Ann\n"
                                    "    3  [MU]Cid\n"
                                    "    7  Mutants team\n"
                                    "    6  Soldiers team\n");
  EXPECT_EQ(CL_SCORETABLE(N, S, 0), "Score board\n"
                                    "    6  [SO]Bob\n"
                                    "    4  [MU]Ann\n"
                                    "    3  [MU]Cid\n");
}

TEST(ClientTool, MapTextBecomesAMapFile) {
  struct {
    std::string TEXT;
    const char* FILE; // nullptr: refused
  } CASES[] = {
      // A map read from a file: its first row follows the header directly.
      {"446202  AA  \r 1@2 ", "446202\n  AA  \n 1@2 \n"},
      // The built-in map starts with a CR: its first row is empty.
      {"446202\r AC\rE4N", "446202\n\n AC\nE4N\n"},
      {"446202ab\r\r", "446202\nab\n\n\n"},
      {"446202", "446202\n\n"},
      {"44620", nullptr},
      {"446202a\nb", nullptr},
  };
  for (const auto& C : CASES) {
    SCOPED_TRACE(C.TEXT);
    std::string FILE, ERR;
    bool OK = CL_MAPFILE(C.TEXT, FILE, ERR);
    ASSERT_EQ(OK, C.FILE != nullptr) << ERR;
    if (OK) {
      EXPECT_EQ(FILE, C.FILE);
    } else {
      EXPECT_FALSE(ERR.empty());
    }
  }
  std::string FILE, ERR;
  ASSERT_TRUE(CL_MAPFILE(DEFMAPBUF, FILE, ERR));
  EXPECT_EQ(FILE.substr(0, 22), "446202\n\n ACAAmBBmAACA\n");
  EXPECT_EQ(std::count(FILE.begin(), FILE.end(), '\n'), 16); // header, empty row 1, 14 rows
}

TEST(ClientTool, LogLinesAreTakenOnceAndInOrder) {
  auto PACKET = [](uint16_t LAST, std::initializer_list<const char*> LINES) {
    CL_LOG L;
    L.LAST = LAST;
    for (const char* S : LINES) {
      L.LINES.push_back(S);
    }
    return L;
  };
  struct {
    CL_LOG PACKET;
    bool INORDER;
    std::vector<std::string> NEW;
    uint16_t LAST;
  } STEPS[] = {
      {PACKET(6, {"a", "b"}), true, {"a", "b"}, 6}, // the two lines owed at connect
      {PACKET(6, {"a", "b"}), true, {}, 6},         // resent before the acknowledgement
      {PACKET(8, {"b", "c", "d"}), true, {"c", "d"}, 8},
      {PACKET(5, {"z"}), true, {}, 8},                 // late
      {PACKET(11, {"f", "g"}), false, {"f", "g"}, 11}, // line 9 never came
      {PACKET(12, {"h"}), true, {"h"}, 12},
  };
  CL_LOGTRACK T;
  for (const auto& S : STEPS) {
    SCOPED_TRACE(S.PACKET.LAST);
    std::vector<std::string> NEW;
    EXPECT_EQ(CL_TAKELOG(T, S.PACKET, NEW), S.INORDER);
    EXPECT_EQ(NEW, S.NEW);
    EXPECT_EQ(T.LAST, S.LAST);
  }
  EXPECT_EQ(T.FIRST, 5);
  EXPECT_EQ(T.TAKEN, 7u);
  EXPECT_EQ(T.RESENT, 4u);
  // Line numbers go on through the wrap.
  CL_LOGTRACK W;
  std::vector<std::string> NEW;
  EXPECT_TRUE(CL_TAKELOG(W, PACKET(65535, {"x", "y"}), NEW));
  EXPECT_TRUE(CL_TAKELOG(W, PACKET(1, {"y", "z", "a"}), NEW)); // lines 65535, 0 and 1
  EXPECT_EQ(NEW, (std::vector<std::string>{"x", "y", "z", "a"}));
  EXPECT_EQ(W.FIRST, 65534);
}

TEST(ClientTool, TickCounterMovesForwardThroughTheWrap) {
  EXPECT_TRUE(CL_TICKFORWARD(100, 101));
  EXPECT_TRUE(CL_TICKFORWARD(100, 100));
  EXPECT_TRUE(CL_TICKFORWARD(65535, 0));
  EXPECT_TRUE(CL_TICKFORWARD(65500, 20));
  EXPECT_FALSE(CL_TICKFORWARD(101, 100));
  EXPECT_FALSE(CL_TICKFORWARD(0, 65535));
}

// The client predicts a move exactly as the server applies it.
class ClientWalkTest : public TServerTest {};

TEST_F(ClientWalkTest, MovePredictionAgreesWithTheServer) {
  START();
  CL_GRID G;
  CL_LOADGRID(DEFMAPBUF, G);
  TCLIENT& C = SV_CLIENTSLIST[1];
  const int OFFSETS[][2] = {{0, 0},  {11, 0}, {-11, 0}, {0, 11}, {0, -11}, {8, 8}, {-8, 7},
                            {11, 4}, {12, 0}, {0, -12}, {9, 8},  {10, 7},  {5, -5}};
  int APPLIED = 0, REFUSED = 0;
  for (int X = 40; X <= 1000; X += 7) {
    for (int Y = 40; Y <= 1000; Y += 7) {
      if (!PLAYER_SQUAREFREE(uint16_t(X), uint16_t(Y))) {
        continue; // nobody can stand there
      }
      for (const auto& D : OFFSETS) {
        C.X = uint16_t(X);
        C.Y = uint16_t(Y);
        C.MX = uint16_t(X + D[0]);
        C.MY = uint16_t(Y + D[1]);
        PLAYER_MOVE(1);
        bool WHOLE = C.X == C.MX && C.Y == C.MY;
        ASSERT_EQ(
            CL_MOVEAPPLIES(G, uint16_t(X), uint16_t(Y), uint16_t(X + D[0]), uint16_t(Y + D[1])),
            WHOLE)
            << X << "," << Y << " by " << D[0] << "," << D[1];
        (WHOLE ? APPLIED : REFUSED)++;
      }
    }
  }
  EXPECT_GT(APPLIED, 1000); // both answers occur often
  EXPECT_GT(REFUSED, 1000);
}

TEST_F(ClientWalkTest, PathsWalkFromSpawnToEveryItemInSteps) {
  START();
  CL_GRID G;
  CL_LOADGRID(DEFMAPBUF, G);
  ASSERT_EQ(G.ITEMX.size(), 28u);
  EXPECT_EQ(G.ITEMX[0], 160);
  EXPECT_EQ(G.ITEMY[0], 224);
  EXPECT_EQ(CL_PATH(G, 4, 5, 2, 5).size(), 2u);
  EXPECT_TRUE(CL_PATH(G, 4, 5, 1, 1).empty()); // outside the closed ring of walls
  EXPECT_TRUE(CL_PATH(G, 4, 5, 2, 2).empty()); // a wall
  EXPECT_TRUE(CL_PATH(G, 4, 5, 4, 5).empty()); // already there
  TCLIENT& C = SV_CLIENTSLIST[1];
  for (size_t I = 0; I < G.ITEMX.size(); I++) {
    SCOPED_TRACE(I + 1);
    uint16_t X = 288, Y = 352; // the first spawn point
    auto PATH = CL_PATH(G, X / 64, Y / 64, G.ITEMX[I] / 64, G.ITEMY[I] / 64);
    int STEPS = 0;
    for (auto [CX, CY] : PATH) {
      int TX = CX * 64 + 32, TY = CY * 64 + 32;
      while ((X != TX || Y != TY) && STEPS < 5000) {
        uint16_t MX, MY;
        ASSERT_TRUE(CL_STEPTOWARD(G, X, Y, TX, TY, MX, MY));
        // The server takes every step whole.
        C.X = X;
        C.Y = Y;
        C.MX = MX;
        C.MY = MY;
        PLAYER_MOVE(1);
        ASSERT_EQ(C.X, MX);
        ASSERT_EQ(C.Y, MY);
        X = MX;
        Y = MY;
        STEPS++;
      }
    }
    EXPECT_EQ(X, G.ITEMX[I]);
    EXPECT_EQ(Y, G.ITEMY[I]);
  }
}

TEST(ClientTool, PercentilesByNearestRank) {
  std::vector<uint32_t> V;
  for (uint32_t I = 100; I >= 1; I--) {
    V.push_back(I);
  }
  EXPECT_EQ(CL_PERCENTILE(V, 50), 50u);
  EXPECT_EQ(CL_PERCENTILE(V, 99), 99u);
  EXPECT_EQ(CL_PERCENTILE(V, 100), 100u);
  EXPECT_EQ(CL_PERCENTILE({1, 1, 2}, 50), 1u);
  EXPECT_EQ(CL_PERCENTILE({1, 1, 2}, 99), 2u);
  EXPECT_EQ(CL_PERCENTILE({7}, 99), 7u);
  EXPECT_EQ(CL_PERCENTILE({}, 50), 0u);
}

TEST(ClientTool, LoadSummaryReportsEveryFigure) {
  CL_LOADSUMMARY S;
  S.SERVER = "127.0.0.1:35700";
  S.PLAYERS = 8;
  S.CONNECTED = 8;
  S.SECONDS = 10;
  S.STATES = 2640;
  S.SENT = 2700;
  S.RECEIVED = 2800;
  S.LATENCIES = {1, 1, 1, 2, 3};
  S.SPACINGS = {30100, 30200, 29900, 30150, 41260};
  S.LOGTAKEN = 99;
  S.LOGEXPECTED = 100;
  S.LOGRESENT = 4;
  S.CHATSENT = 24;
  S.CHATSEEN = 24;
  S.ANOMALYCOUNT = 2;
  S.ANOMALIES = {{"load3", "tick backwards", "tick 100 after 102"}};
  std::string T = CL_LOADTEXT(S);
  for (const char* LINE :
       {"load run:       8 players on 127.0.0.1:35700 for 10.0 s\n",
        "state packets:  33.0 per player per second (2640 in all)\n",
        "datagrams:      2700 sent, 2800 received\n",
        "input latency:  median 1 tick, 99th percentile 3 ticks (5 moves, 0 not applied)\n",
        "state spacing:  median 30.1 ms, 99th percentile 41.3 ms, most 41.3 ms\n",
        "log lines:      99 received of 100 expected (4 resent)\n",
        "anomalies:      2\n  load3: tick backwards: tick 100 after 102\n  (1 more)\n"}) {
    EXPECT_NE(T.find(LINE), std::string::npos) << LINE << T;
  }
  std::string J = CL_LOADJSON(S);
  for (const char* PART :
       {"\"state_packets_per_player_per_second\":33.0", "\"datagrams_sent\":2700",
        "\"input_latency_ticks\":{\"samples\":5,\"median\":1,\"p99\":3,\"not_applied\":0}",
        "\"state_spacing_ms\":{\"samples\":5,\"median\":30.1,\"p99\":41.3,\"max\":41.3}",
        "\"log_lines\":{\"received\":99,\"expected\":100,\"resent\":4}", "\"anomaly_count\":2",
        "\"anomalies\":[{\"player\":\"load3\",\"kind\":\"tick backwards\","
        "\"detail\":\"tick 100 after 102\"}]"}) {
    EXPECT_NE(J.find(PART), std::string::npos) << PART << J;
  }
  S.LATENCIES.clear();
  EXPECT_NE(CL_LOADJSON(S).find("\"median\":null,\"p99\":null"), std::string::npos);
}

TEST(ClientTool, OnlyTheNewestStateCountsAndGapsAreLosses) {
  // An empty state packet of tick T: no players, no items.
  auto STATE = [](uint16_t T) {
    return BYTES({CLMPMSG_SHAP, T & 255, T >> 8, 0, 0, 0, 0, 1, 0, 0, 0, 0, 0});
  };
  struct {
    uint16_t TICK;
    bool TAKEN;
    uint64_t MISSING, LATE;
  } STEPS[] = {
      {100, true, 0, 0},    {101, true, 0, 0},
      {104, true, 2, 0},    {102, false, 1, 1}, // overtaken: late, and so not missing after all
      {104, false, 1, 2},   {102, false, 1, 3}, // the same again
      {65535, false, 1, 4},                     // far behind is late too
      {105, true, 1, 4},
  };
  CL_PEER P;
  for (const auto& S : STEPS) {
    SCOPED_TRACE(S.TICK);
    P.OWED = false;
    CL_EVENT E = CL_TAKE(P, STATE(S.TICK));
    EXPECT_EQ(E.KIND, S.TAKEN ? CL_K_STATE : CL_K_LATE);
    EXPECT_TRUE(E.ANOMALY.empty()) << E.ANOMALY;
    EXPECT_EQ(P.OWED, S.TAKEN); // a late state is not answered
    EXPECT_EQ(P.STATE.TICK, S.TAKEN ? S.TICK : P.STATE.TICK);
    EXPECT_EQ(P.MISSING, S.MISSING);
    EXPECT_EQ(P.LATE, S.LATE);
  }
  // Through the wrap of the counter.
  CL_PEER W;
  CL_TAKE(W, STATE(65534));
  EXPECT_EQ(CL_TAKE(W, STATE(1)).KIND, CL_K_STATE);
  EXPECT_EQ(W.MISSING, 2u);
}

TEST(ClientTool, FleetViewShowsOneLinePerServerInOrder) {
  std::vector<CL_SERVER> L;
  std::string ERR;
  ASSERT_TRUE(
      CL_READSERVERS("# the fleet\n a.example.org  # first\n\nb:36000\r\n", "fleet", L, ERR))
      << ERR;
  ASSERT_EQ(L.size(), 2u);
  EXPECT_EQ(L[1].HOST, "b");
  EXPECT_EQ(L[1].PORT, 36000);
  EXPECT_FALSE(CL_READSERVERS("a\nb:0\n", "fleet", L, ERR));
  EXPECT_EQ(ERR, "fleet:2: bad port '0' (1 to 65535)");

  CL_MAPINFO M;
  CL_STATE S;
  STATUSPICTURE(M, S);
  M.PLAYERS.push_back({5, 1, "[MU]BOT #1"});
  std::vector<CL_FLEETROW> ROWS(2);
  ROWS[0].ADDRESS = "a.example.org:35700";
  ROWS[0].INFO = CL_MAKESTATUS(M, S);
  ROWS[0].INFO.RTTMS = 12;
  ROWS[1].ADDRESS = "b:36000";
  ROWS[1].STATUS = CL_EXIT_NOANSWER;
  ROWS[1].ERROR = "no answer within 2 s";
  EXPECT_EQ(CL_FLEETTEXT(ROWS),
            "address              server        map     players  bots  score  teams  round trip\n"
            "a.example.org:35700  Test \"Arena\"  DefMap     2/10     1     20  yes         12 ms\n"
            "b:36000              no answer within 2 s\n");
  EXPECT_EQ(CL_FLEETJSON(ROWS),
            "[{\"address\":\"a.example.org:35700\",\"server\":\"Test \\\"Arena\\\"\",\"map\":"
            "\"DefMap\",\"humans\":2,\"maxplayers\":10,\"bots\":1,\"scorelimit\":20,\"teamplay\":"
            "true,\"rtt_ms\":12},{\"address\":\"b:36000\",\"error\":\"no answer within 2 s\","
            "\"status\":3}]\n");
}
