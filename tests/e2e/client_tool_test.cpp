// brastok_client against the built server on 127.0.0.1: status, watch, map
// download and load runs, the full server, and bad input. Every wait is
// bounded; a server or client still running when a test ends, whether it
// passed or not, is killed by its TPROCESS.
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>
#include <signal.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

#include "clientproto.hpp"
#include "process.hpp"
#include "server/state.hpp"
#include "support/testpaths.hpp"
#include "udpsocket.hpp"

static const std::string SERVER = BRASTOK_SERVER_BIN;
static const std::string CLIENT = BRASTOK_CLIENT_BIN;

static std::vector<std::string> WITHFRONT(const std::string& FRONT, std::vector<std::string> A) {
  A.insert(A.begin(), FRONT);
  return A;
}

// The server in a scratch folder with "-port 0"; the bound port comes from
// its first line.
struct TSERVERRUN {
  TPROCESS P;
  int PORT = 0;
  TSERVERRUN(const TSCRATCH& DIR, const std::vector<std::string>& ARGS)
      : P(WITHFRONT(SERVER, WITHFRONT("-port", WITHFRONT("0", ARGS))), DIR.PATH()) {
    std::string L;
    if (P.READLINE(L)) {
      PORT = PORTOFLINE(L);
    }
    P.READLINE(L); // the two server lines
    P.READLINE(L);
  }
  std::string ADDR() const { return "127.0.0.1:" + std::to_string(PORT); }
  // Reads console lines until one equals TEXT, at most MS; the lines read
  // go to SEEN.
  bool WAITLINE(const std::string& TEXT, int MS = 5000, std::vector<std::string>* SEEN = nullptr) {
    return P.WAITLINE(TEXT, MS, SEEN);
  }
};

struct TRESULT {
  int STATUS = -1;
  std::vector<std::string> OUT;
  std::string ERR;
  std::string TEXT() const {
    std::string T;
    for (const std::string& L : OUT) {
      T += L + "\n";
    }
    return T;
  }
};

// Runs the client to its end, at most MS.
static TRESULT RUNCLIENT(const std::vector<std::string>& ARGS, int MS = 10000,
                         const std::string& CWD = "") {
  TPROCESS P(WITHFRONT(CLIENT, ARGS), CWD);
  TRESULT R;
  long END = NOWMS() + MS;
  std::string L;
  while (P.READLINE(L, int(std::max(1L, END - NOWMS())))) {
    R.OUT.push_back(L);
  }
  R.STATUS = P.WAIT(int(std::max(1L, END - NOWMS())));
  R.ERR = P.ERRTEXT();
  return R;
}

// The number in a JSON text after "KEY": (the first such key), or -1.
static double JSONNUMBER(const std::string& J, const std::string& KEY) {
  size_t AT = J.find("\"" + KEY + "\":");
  if (AT == std::string::npos) {
    return -1;
  }
  return std::strtod(J.c_str() + AT + KEY.size() + 3, nullptr);
}

static std::string READFILE(const std::string& PATH) {
  std::ifstream F(PATH, std::ios::binary);
  std::stringstream S;
  S << F.rdbuf();
  return S.str();
}

// A player on a plain socket: connects, joins the game and answers every
// state packet from a thread until it is destroyed. The codec's buffer is
// global: while a peer runs, the test thread builds no packets.
class TPEER {
public:
  TPEER(uint16_t SERVERPORT, const std::string& NAME, uint8_t TEAM) : PORT_(SERVERPORT) {
    S_.SENDTO(PORT_, CL_CONNECT(NAME, TEAM));
    T_ = std::thread([this] { PUMP(); });
  }
  ~TPEER() {
    STOP_ = true;
    T_.join();
    S_.SENDTO(PORT_, CL_DISCONNECT());
  }
  // Waits until the server shows this player alive in the game.
  bool WAITALIVE(int MS = 3000) {
    long END = NOWMS() + MS;
    while (!ALIVE_ && NOWMS() < END) {
      usleep(10000);
    }
    return ALIVE_;
  }

private:
  void PUMP() {
    uint16_t ACK = 0;
    bool ASKED = false;
    std::string D;
    while (!STOP_) {
      if (!S_.RECV(D, 50)) {
        continue;
      }
      CL_STATE ST;
      CL_LOG LG;
      if (CL_PARSELOG(D, LG)) {
        ACK = LG.LAST;
      } else if (CL_PARSESTATE(D, ST)) {
        for (const CL_ENTRY& E : ST.PLAYERS) {
          if (E.SLOT == ST.SELF && E.STATE == PS_LIVE) {
            ALIVE_ = true;
          }
        }
        S_.SENDTO(PORT_, CL_DATA(ST.TICK, 0, ASKED ? 0 : PLACT_SJ, 0, 0, ACK));
        ASKED = true;
      }
    }
  }
  uint16_t PORT_;
  TUDPSOCKET S_;
  std::thread T_;
  std::atomic<bool> STOP_{false};
  std::atomic<bool> ALIVE_{false};
};

// The row of one player in status text: the ping may be any small number.
static void EXPECTROW(const std::string& ROW, const std::string& FRONT, const std::string& NAME) {
  EXPECT_EQ(ROW.substr(0, FRONT.size()), FRONT) << ROW;
  ASSERT_GE(ROW.size(), FRONT.size() + NAME.size() + 6) << ROW;
  EXPECT_EQ(ROW.substr(ROW.size() - NAME.size() - 2), "  " + NAME) << ROW;
  int PING =
      std::atoi(ROW.substr(FRONT.size(), ROW.size() - NAME.size() - 2 - FRONT.size()).c_str());
  EXPECT_LE(PING, 5) << ROW;
}

TEST(ClientToolE2E, StatusOfADefaultServer) {
  TSCRATCH DIR;
  TSERVERRUN SV(DIR, {});
  ASSERT_GT(SV.PORT, 0);
  TPEER ALEX(uint16_t(SV.PORT), "Alex", 0);
  ASSERT_TRUE(ALEX.WAITALIVE());

  TRESULT R = RUNCLIENT({"status", SV.ADDR()});
  ASSERT_EQ(R.STATUS, 0) << R.ERR;
  EXPECT_EQ(R.ERR, "");
  ASSERT_EQ(R.OUT.size(), 9u) << R.TEXT();
  EXPECT_EQ(R.OUT[0], "server:       Brastok Server");
  EXPECT_EQ(R.OUT[1], "map:          DefMap");
  EXPECT_EQ(R.OUT[2], "score limit:  20");
  EXPECT_EQ(R.OUT[3], "team play:    no");
  EXPECT_EQ(R.OUT[4], "player limit: 10");
  EXPECT_EQ(R.OUT[5].substr(0, 14), "round trip:   ");
  EXPECT_LE(std::atoi(R.OUT[5].c_str() + 14), 100) << R.OUT[5];
  EXPECT_EQ(R.OUT[6], "players:      1"); // the asking client leaves itself out
  EXPECT_EQ(R.OUT[7], "  slot  team  state      score  ping  name");
  EXPECTROW(R.OUT[8], "     1     0  alive          0  ", "Alex");

  R = RUNCLIENT({"status", "--json", SV.ADDR()});
  ASSERT_EQ(R.STATUS, 0) << R.ERR;
  ASSERT_EQ(R.OUT.size(), 1u);
  const std::string& J = R.OUT[0];
  std::string FRONT = "{\"server\":\"Brastok Server\",\"map\":\"DefMap\",\"scorelimit\":20,"
                      "\"teamplay\":false,\"maxplayers\":10,\"players\":[{\"slot\":1,\"name\":"
                      "\"Alex\",\"team\":0,\"state\":\"alive\",\"score\":0,\"ping\":";
  EXPECT_EQ(J.substr(0, FRONT.size()), FRONT) << J;
  EXPECT_LE(JSONNUMBER(J, "ping"), 5) << J;
  EXPECT_LE(JSONNUMBER(J, "rtt_ms"), 100) << J;
  EXPECT_NE(J.find("}],\"rtt_ms\":"), std::string::npos) << J;

  // The status query takes no slot: nothing shows on the console.
  EXPECT_FALSE(SV.WAITLINE("status connected!", 1000));
  EXPECT_EQ(SV.P.STOP(SIGTERM), 0);
}

TEST(ClientToolE2E, StatusWithTeamPlayAndACustomName) {
  TSCRATCH DIR;
  TSERVERRUN SV(DIR, {"-teams", "1", "-name", "Test Arena", "-score", "5", "-maxplayers", "4"});
  ASSERT_GT(SV.PORT, 0);
  TPEER ALEX(uint16_t(SV.PORT), "Alex", 2);
  ASSERT_TRUE(ALEX.WAITALIVE());
  TRESULT R = RUNCLIENT({"status", SV.ADDR(), "--json", "--name", "Op", "--team", "1"});
  ASSERT_EQ(R.STATUS, 0) << R.ERR;
  ASSERT_EQ(R.OUT.size(), 1u);
  std::string FRONT = "{\"server\":\"Test Arena\",\"map\":\"DefMap\",\"scorelimit\":5,"
                      "\"teamplay\":true,\"maxplayers\":4,\"players\":[{\"slot\":1,\"name\":"
                      "\"[SO]Alex\",\"team\":2,\"state\":\"alive\",\"score\":0,\"ping\":";
  EXPECT_EQ(R.OUT[0].substr(0, FRONT.size()), FRONT) << R.OUT[0];
  // The name and team are those of a connect, which the query needs not.
  EXPECT_FALSE(SV.WAITLINE("[MU]Op connected!", 1000));
  EXPECT_EQ(SV.P.STOP(SIGTERM), 0);
}

TEST(ClientToolE2E, WatchShowsConnectJoinAndChatLines) {
  TSCRATCH DIR;
  TSERVERRUN SV(DIR, {});
  ASSERT_GT(SV.PORT, 0);
  TPROCESS W({CLIENT, "watch", SV.ADDR()});
  std::string L;
  ASSERT_TRUE(W.READLINE(L, 3000)) << W.ERRTEXT();
  // The line logged before the watcher came, then its own connect line.
  EXPECT_EQ(L, "Playerlimit: 10, scorelimit: 20, teamplay: no");
  ASSERT_TRUE(W.READLINE(L, 3000));
  EXPECT_EQ(L, "watch connected!");

  TRESULT R = RUNCLIENT({"load", "-n", "1", "-t", "2", "--name", "Alex", SV.ADDR()}, 10000);
  EXPECT_EQ(R.STATUS, 0) << R.TEXT() << R.ERR;
  std::vector<std::string> GOT;
  while (W.READLINE(L, 3000)) {
    GOT.push_back(L);
    if (L == "Alex1 disconnected!") {
      break;
    }
  }
  EXPECT_EQ(GOT, (std::vector<std::string>{"Alex1 connected!", "Alex1 has joined the game!",
                                           "Alex1: Alex1 says hello #1", "Alex1 disconnected!"}));
  // Ctrl-C: the watcher leaves the server before it ends.
  EXPECT_EQ(W.STOP(SIGINT, 3000), 0);
  EXPECT_EQ(W.ERRTEXT(), "");
  EXPECT_TRUE(SV.WAITLINE("watch disconnected!"));
  EXPECT_EQ(SV.P.STOP(SIGTERM), 0);
}

TEST(ClientToolE2E, DownloadedMapLoadsAgainToTheSameText) {
  // A map file with blanks at the ends of rows and an empty row, and the
  // built-in map, whose text starts with an empty row.
  const std::string ARENA = "446202\nAAAAAAAAAA\nA@  1   @A\nA  e  e  A\n\n"
                            "A 5  8  6A\nA@  9   @A  \nAAAAAAAAAA\n";
  for (bool BUILTIN : {false, true}) {
    SCOPED_TRACE(BUILTIN ? "built-in map" : "map file");
    TSCRATCH DIR;
    std::vector<std::string> ARGS;
    if (!BUILTIN) {
      DIR.WRITEMAP("arena", ARENA);
      ARGS = {"-map", "arena"};
    }
    std::string COPY = DIR.PATH() + "/maps/copy.brsk";
    {
      TSERVERRUN SV(DIR, ARGS);
      ASSERT_GT(SV.PORT, 0);
      TRESULT R = RUNCLIENT({"map", "-o", COPY, SV.ADDR()});
      ASSERT_EQ(R.STATUS, 0) << R.ERR;
      std::string NAME = BUILTIN ? "DefMap" : "arena";
      std::string ROWS = BUILTIN ? "15" : "7";
      EXPECT_EQ(R.TEXT(), "map " + NAME + ": " + ROWS + " rows written to " + COPY + "\n");
      EXPECT_EQ(SV.P.STOP(SIGTERM), 0);
    }
    if (!BUILTIN) {
      EXPECT_EQ(READFILE(COPY), ARENA);
    } else {
      EXPECT_EQ(READFILE(COPY).substr(0, 22), "446202\n\n ACAAmBBmAACA\n");
    }
    // The copy, played by a new server, comes down as the same text.
    TSERVERRUN SV(DIR, {"-map", "copy"});
    ASSERT_GT(SV.PORT, 0);
    std::string AGAIN = DIR.PATH() + "/again.brsk";
    TRESULT R = RUNCLIENT({"map", "-o", AGAIN, SV.ADDR()});
    ASSERT_EQ(R.STATUS, 0) << R.ERR;
    EXPECT_EQ(READFILE(AGAIN), READFILE(COPY));
    R = RUNCLIENT({"status", "--json", SV.ADDR()});
    ASSERT_EQ(R.OUT.size(), 1u);
    EXPECT_NE(R.OUT[0].find("\"map\":\"copy\""), std::string::npos) << R.OUT[0];
    EXPECT_EQ(SV.P.STOP(SIGTERM), 0);
  }
}

TEST(ClientToolE2E, LoadRunOfEightPlayers) {
  TSCRATCH DIR;
  TSERVERRUN SV(DIR, {});
  ASSERT_GT(SV.PORT, 0);
  TRESULT R = RUNCLIENT({"load", "-n", "8", "-t", "10", "--json", SV.ADDR()}, 25000);
  ASSERT_EQ(R.STATUS, 0) << R.TEXT() << R.ERR;
  ASSERT_EQ(R.OUT.size(), 1u);
  const std::string& J = R.OUT[0];
  std::cout << J << "\n"; // the figures, for the record
  EXPECT_EQ(JSONNUMBER(J, "connected"), 8) << J;
  EXPECT_EQ(JSONNUMBER(J, "refused"), 0) << J;
  EXPECT_EQ(JSONNUMBER(J, "anomaly_count"), 0) << J;
  EXPECT_NE(J.find("\"anomalies\":[]"), std::string::npos) << J;
  EXPECT_GE(JSONNUMBER(J, "seconds"), 10) << J;
  EXPECT_GE(JSONNUMBER(J, "state_packets_per_player_per_second"), 25) << J;
  EXPECT_GT(JSONNUMBER(J, "samples"), 500) << J;
  EXPECT_GE(JSONNUMBER(J, "median"), 1) << J;
  EXPECT_LE(JSONNUMBER(J, "median"), 2) << J;
  EXPECT_EQ(JSONNUMBER(J, "not_applied"), 0) << J;
  // Every log line the server logged while a player was there reached it.
  EXPECT_GT(JSONNUMBER(J, "expected"), 8 * 8) << J;
  EXPECT_EQ(JSONNUMBER(J, "received"), JSONNUMBER(J, "expected")) << J;
  EXPECT_GT(JSONNUMBER(J, "datagrams_sent"), 8 * 250) << J;
  size_t CHAT = J.find("\"chat\":");
  ASSERT_NE(CHAT, std::string::npos);
  EXPECT_GE(JSONNUMBER(J.substr(CHAT), "sent"), 8 * 2) << J;
  EXPECT_EQ(JSONNUMBER(J.substr(CHAT), "seen"), JSONNUMBER(J.substr(CHAT), "sent")) << J;
  EXPECT_EQ(SV.P.STOP(SIGTERM), 0);
}

// One load process plays on several servers: a report for each real one,
// in the order given, and the error of a server that answers garbage.
TEST(ClientToolE2E, LoadRunOnSeveralServersFromOneProcess) {
  TSCRATCH DIR;
  TSERVERRUN A(DIR, {"-bots", "3"}), B(DIR, {"-bots", "3"});
  ASSERT_GT(A.PORT, 0);
  ASSERT_GT(B.PORT, 0);
  TUDPSOCKET FAKE;
  ASSERT_TRUE(FAKE.OK());
  const std::string F = "127.0.0.1:" + std::to_string(FAKE.PORT());
  std::atomic<bool> DONE{false};
  std::thread T([&] {
    std::string D;
    uint16_t FROM = 0;
    while (!DONE && !FAKE.RECV(D, 100, &FROM)) {
    }
    FAKE.SENDTO(FROM, std::string("\x6e\x01", 2)); // a state packet cut short
  });
  TRESULT R = RUNCLIENT(
      {"load", "-n", "2", "-t", "3", "--timeout", "1", "--json", A.ADDR(), F, B.ADDR()}, 25000);
  DONE = true;
  T.join();
  EXPECT_EQ(R.STATUS, 1) << R.TEXT() << R.ERR;
  EXPECT_EQ(R.ERR, "brastok_client: " + F +
                       " sent datagrams that are not server packets (bad length: state packet "
                       "of 2 bytes does not parse to its length)\n");
  ASSERT_EQ(R.OUT.size(), 2u) << R.TEXT();
  for (size_t K = 0; K < 2; K++) {
    const std::string& J = R.OUT[K];
    EXPECT_NE(J.find("\"server\":\"" + (K == 0 ? A : B).ADDR() + "\""), std::string::npos) << J;
    EXPECT_EQ(JSONNUMBER(J, "connected"), 2) << J;
    EXPECT_EQ(JSONNUMBER(J, "anomaly_count"), 0) << J;
    EXPECT_GE(JSONNUMBER(J, "state_packets_per_player_per_second"), 25) << J;
    EXPECT_GT(JSONNUMBER(J.substr(J.find("\"state_spacing_ms\"")), "samples"), 100) << J;
    EXPECT_EQ(JSONNUMBER(J, "received"), JSONNUMBER(J, "expected")) << J;
  }
  EXPECT_EQ(A.P.STOP(SIGTERM), 0);
  EXPECT_EQ(B.P.STOP(SIGTERM), 0);
}

TEST(ClientToolE2E, FullServerAnswersServerFull) {
  TSCRATCH DIR;
  TSERVERRUN SV(DIR, {});
  ASSERT_GT(SV.PORT, 0);
  // 24 players from 127.0.0.1 take every slot, and with it every connect
  // the server takes from that address in 10 seconds.
  TPROCESS LOAD({CLIENT, "load", "-n", "24", "-t", "4", SV.ADDR()});
  std::string L;
  int CONNECTED = 0;
  long END = NOWMS() + 5000;
  while (CONNECTED < 24 && SV.P.READLINE(L, int(std::max(1L, END - NOWMS())))) {
    CONNECTED += L.size() > 11 && L.substr(L.size() - 11) == " connected!" ? 1 : 0;
  }
  ASSERT_EQ(CONNECTED, 24);
  // The 25th connect therefore comes from another loopback address.
  TRESULT R = RUNCLIENT({"map", "-o", "-", "--bind", "127.0.0.2", SV.ADDR()});
  EXPECT_EQ(R.STATUS, 5) << R.TEXT() << R.ERR;
  EXPECT_EQ(R.ERR, "brastok_client: " + SV.ADDR() + " is full: all 24 slots are taken\n");
  EXPECT_TRUE(R.OUT.empty());
  // From 127.0.0.1 it is dropped without an answer.
  R = RUNCLIENT({"map", "-o", "-", "--timeout", "1", SV.ADDR()});
  EXPECT_EQ(R.STATUS, 3) << R.TEXT() << R.ERR;
  EXPECT_EQ(R.ERR, "brastok_client: no answer from " + SV.ADDR() + " within 1 s\n");

  std::string OUT;
  while (LOAD.READLINE(L, 10000)) {
    OUT += L + "\n";
  }
  EXPECT_EQ(LOAD.WAIT(5000), 0) << OUT << LOAD.ERRTEXT();
  EXPECT_NE(OUT.find("24 connected, 0 refused"), std::string::npos) << OUT;
  EXPECT_NE(OUT.find("anomalies:      none"), std::string::npos) << OUT;
  EXPECT_EQ(SV.P.STOP(SIGTERM), 0);
}

TEST(ClientToolE2E, BadInputGetsOneLineAndAnExitStatus) {
  struct {
    std::vector<std::string> ARGS;
    int STATUS;
    const char* ERR;
  } CASES[] = {
      {{}, 2, "missing command"},
      {{"status"}, 2, "missing server address"},
      {{"status", "127.0.0.1:70000"}, 2, "bad port '70000'"},
      {{"status", "no-such-host.invalid"}, 2, "unknown host 'no-such-host.invalid'"},
      {{"load", "-n", "30", "-t", "1", "127.0.0.1"}, 2, "bad -n '30'"},
      {{"status", "--bind", "192.0.2.1", "127.0.0.1"}, 2, "cannot send from 192.0.2.1"},
  };
  for (const auto& C : CASES) {
    SCOPED_TRACE(C.ERR);
    TRESULT R = RUNCLIENT(C.ARGS);
    EXPECT_EQ(R.STATUS, C.STATUS);
    EXPECT_EQ(R.ERR.rfind("brastok_client: ", 0), 0u) << R.ERR;
    EXPECT_NE(R.ERR.find(C.ERR), std::string::npos) << R.ERR;
    EXPECT_EQ(std::count(R.ERR.begin(), R.ERR.end(), '\n'), 1) << R.ERR;
  }
}

TEST(ClientToolE2E, AnswersOfAStrangeServer) {
  // A fake server that takes the connect and answers it with one datagram.
  struct {
    std::string REPLY; // empty: no answer
    int STATUS;
    const char* ERR;
  } CASES[] = {
      {std::string("\x70\x1c", 2), 4, "speaks protocol version 28; this client speaks 29"},
      {std::string("\x71", 1), 5, "is full"},
      {"", 3, "no answer from"},
      {"GET / HTTP/1.0", 1, "not server packets (unknown packet: id 0x47, 14 bytes)"},
      {std::string("\x6e\x01", 2), 1, "state packet of 2 bytes does not parse to its length"},
  };
  for (const auto& C : CASES) {
    SCOPED_TRACE(C.ERR);
    TUDPSOCKET FAKE;
    ASSERT_TRUE(FAKE.OK());
    TPROCESS P({CLIENT, "status", "--timeout", "0.5", "127.0.0.1:" + std::to_string(FAKE.PORT())});
    std::string D;
    uint16_t FROM = 0;
    // The status query first, which this server does not know; then the
    // connect message.
    ASSERT_TRUE(FAKE.RECV(D, 3000, &FROM));
    EXPECT_EQ(D, std::string("\x78\0\0\0\0", 5));
    while (D[0] == 0x78 && FAKE.RECV(D, 3000, &FROM)) {
    }
    EXPECT_EQ(D, std::string("\x66\x1d\x06status\x00", 10)); // the connect message
    if (!C.REPLY.empty()) {
      FAKE.SENDTO(FROM, C.REPLY);
    }
    EXPECT_EQ(P.WAIT(5000), C.STATUS);
    std::string ERR = P.ERRTEXT();
    EXPECT_NE(ERR.find(C.ERR), std::string::npos) << ERR;
    EXPECT_EQ(std::count(ERR.begin(), ERR.end(), '\n'), 1) << ERR;
  }
}

TEST(ClientToolE2E, StatusOfThreeServersOneOfThemStopped) {
  TSCRATCH D1, D2, D3;
  TSERVERRUN A(D1, {"-name", "Alpha"});
  TSERVERRUN B(D2, {"-name", "Beta", "-teams", "1"});
  TSERVERRUN C(D3, {});
  ASSERT_GT(A.PORT, 0);
  ASSERT_GT(B.PORT, 0);
  ASSERT_GT(C.PORT, 0);
  TPEER ALEX(uint16_t(A.PORT), "Alex", 0);
  ASSERT_TRUE(ALEX.WAITALIVE());
  EXPECT_EQ(C.P.STOP(SIGTERM), 0);
  std::string FLEET = D1.PATH() + "/fleet";
  std::ofstream(FLEET) << "# the fleet\n" << A.ADDR() << "\n" << C.ADDR() << "  # stopped\n\n";

  // The order given: the command line, then the file.
  TRESULT R = RUNCLIENT({"status", B.ADDR(), "--file", FLEET});
  EXPECT_EQ(R.STATUS, 3) << R.TEXT() << R.ERR;
  EXPECT_EQ(R.ERR, "");
  ASSERT_EQ(R.OUT.size(), 4u) << R.TEXT();
  EXPECT_EQ(R.OUT[0].substr(0, 25), "address          server  ") << R.TEXT();
  std::string ROWB = R.OUT[1], ROWA = R.OUT[2];
  EXPECT_EQ(ROWB.substr(0, B.ADDR().size() + 9), B.ADDR() + "  Beta   ") << R.TEXT();
  EXPECT_NE(ROWB.find("  DefMap     0/10     0     20  yes  "), std::string::npos) << R.TEXT();
  EXPECT_EQ(ROWA.substr(0, A.ADDR().size() + 9), A.ADDR() + "  Alpha  ") << R.TEXT();
  EXPECT_NE(ROWA.find("  DefMap     1/10     0     20  no   "), std::string::npos) << R.TEXT();
  EXPECT_EQ(ROWA.substr(ROWA.size() - 3), " ms");
  EXPECT_EQ(R.OUT[3], C.ADDR() + "  no answer (port unreachable)");

  R = RUNCLIENT({"status", "--json", A.ADDR(), B.ADDR()});
  EXPECT_EQ(R.STATUS, 0) << R.TEXT() << R.ERR;
  ASSERT_EQ(R.OUT.size(), 1u);
  nlohmann::json J = nlohmann::json::parse(R.OUT[0]);
  ASSERT_EQ(J.size(), 2u);
  EXPECT_EQ(J[0]["address"], A.ADDR());
  EXPECT_EQ(J[0]["humans"], 1);
  EXPECT_EQ(J[1]["server"], "Beta");
  EXPECT_EQ(J[1]["teamplay"], true);
  EXPECT_LE(J[1]["rtt_ms"].get<int>(), 100);
  EXPECT_EQ(A.P.STOP(SIGTERM), 0);
  EXPECT_EQ(B.P.STOP(SIGTERM), 0);
}

TEST(ClientToolE2E, LoadRunThroughALossyRelay) {
  TSCRATCH DIR;
  TSERVERRUN SV(DIR, {"-bots", "4"});
  ASSERT_GT(SV.PORT, 0);
  TPROCESS RELAY({CLIENT, "relay", "0", SV.ADDR(), "--loss", "5", "--delay", "40", "--jitter", "10",
                  "--seed", "7"});
  std::string L;
  ASSERT_TRUE(RELAY.READLINE(L, 3000)) << RELAY.ERRTEXT();
  ASSERT_EQ(L.substr(0, 12), "relay: port ") << L;
  std::string VIA = "127.0.0.1:" + std::to_string(std::atoi(L.c_str() + 12));
  TRESULT R = RUNCLIENT({"load", "-n", "8", "-t", "8", "--json", VIA}, 25000);
  ASSERT_EQ(R.STATUS, 0) << R.TEXT() << R.ERR;
  const std::string& J = R.OUT.at(0);
  std::cout << J << "\n"; // the figures, for the record
  EXPECT_EQ(JSONNUMBER(J, "anomaly_count"), 0) << J;
  EXPECT_EQ(JSONNUMBER(J, "received"), JSONNUMBER(J, "expected")) << J;
  EXPECT_GT(JSONNUMBER(J, "state_packets_missing"), 0) << J;
  EXPECT_GT(JSONNUMBER(J, "samples"), 100) << J;
  EXPECT_GE(JSONNUMBER(J, "median"), 2) << J; // 80 ms there and back
  EXPECT_EQ(RELAY.STOP(SIGINT), 0);
  std::vector<std::string> TOLD;
  while (RELAY.READLINE(L, 1000)) {
    TOLD.push_back(L);
  }
  ASSERT_EQ(TOLD.size(), 3u);
  EXPECT_EQ(TOLD[0], "relay: 8 clients");
  EXPECT_EQ(TOLD[1].substr(0, 15), "to the server: ");
  // Delays are drawn evenly from 30 to 50 ms, so their mean lies close to 40 on either side.
  size_t AT = TOLD[1].find("mean delay ");
  ASSERT_NE(AT, std::string::npos) << TOLD[1];
  double MEAN = std::atof(TOLD[1].c_str() + AT + 11);
  EXPECT_GT(MEAN, 38.0) << TOLD[1];
  EXPECT_LT(MEAN, 42.0) << TOLD[1];
  EXPECT_EQ(SV.P.STOP(SIGTERM), 0);
}

TEST(ClientToolE2E, LoadRunSaysWhenPlayersCouldNotPlay) {
  // Nobody can stand on a map without a spawn point.
  TSCRATCH DIR;
  DIR.WRITEMAP("nospawn", "446202\nAAAAAAAA\nA  1   A\nA  e  5A\nAAAAAAAA\n");
  TSERVERRUN SV(DIR, {"-map", "nospawn"});
  ASSERT_GT(SV.PORT, 0);
  TRESULT R = RUNCLIENT({"load", "-n", "2", "-t", "3", SV.ADDR()});
  EXPECT_EQ(R.STATUS, 7) << R.TEXT() << R.ERR;
  EXPECT_NE(
      R.TEXT().find("\nnot playing:    0 never joined the game, 2 never saw a move applied\n"),
      std::string::npos)
      << R.TEXT();
  EXPECT_EQ(R.ERR, "brastok_client: the players could not play: 0 never joined the game, 2 never "
                   "saw a move applied\n");
  EXPECT_EQ(SV.P.STOP(SIGTERM), 0);
}

TEST(ClientToolE2E, StatusOfAServerFullOfBotsTakesNoSlot) {
  TSCRATCH DIR;
  TSERVERRUN SV(DIR, {"-bots", "24"});
  ASSERT_GT(SV.PORT, 0);
  TPEER ALEX(uint16_t(SV.PORT), "Alex", 0);
  ASSERT_TRUE(ALEX.WAITALIVE());
  ASSERT_TRUE(SV.WAITLINE("BOT #23 connected!"));
  TRESULT R = RUNCLIENT({"status", SV.ADDR()});
  ASSERT_EQ(R.STATUS, 0) << R.TEXT() << R.ERR;
  EXPECT_EQ(R.OUT.at(6), "players:      24") << R.TEXT();
  ASSERT_EQ(R.OUT.size(), 8u + 24u) << R.TEXT();
  EXPECTROW(R.OUT[8], "     1     0  alive          0  ", "Alex");
  EXPECT_EQ(R.OUT[31].substr(0, 6), "    24") << R.OUT[31];
  EXPECT_EQ(R.OUT[31].substr(R.OUT[31].size() - 9), "  BOT #23") << R.OUT[31];
  // No slot, so nothing on the console.
  std::vector<std::string> SEEN;
  SV.WAITLINE("", 1000, &SEEN);
  for (const std::string& L : SEEN) {
    EXPECT_EQ(L.find("status"), std::string::npos) << L;
  }
  EXPECT_EQ(SV.P.STOP(SIGTERM), 0);
}
