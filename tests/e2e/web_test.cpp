// The HTTP side of the built server, against what a client over real UDP
// sees and what the test itself caused: the status JSON against a state
// packet of the same tick, the metrics (read with the Prometheus client's
// own parser) against the datagrams, connects, chat and kills of the run,
// and a storm of requests against the tick.
#include <gtest/gtest.h>
#include <httplib.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <map>
#include <nlohmann/json.hpp>
#include <thread>

#include "clientproto.hpp"
#include "process.hpp"
#include "server/state.hpp"
#include "udpsocket.hpp"

using nlohmann::json;
static const std::string SERVER = BRASTOK_SERVER_BIN;

static long NOWMS() {
  using namespace std::chrono;
  return long(duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count());
}

// The server with "-http 0": its UDP port, its HTTP port, its console.
struct TWEBSERVER {
  TSCRATCH DIR;
  std::unique_ptr<TPROCESS> P;
  uint16_t UDP = 0;
  int HTTP = 0;
  std::vector<std::string> LINES;
  explicit TWEBSERVER(std::vector<std::string> ARGS) {
    ARGS.insert(ARGS.begin(), {SERVER, "-port", "0", "-http", "0"});
    P = std::make_unique<TPROCESS>(ARGS, DIR.PATH());
    std::string L;
    for (int I = 0; I < 4 && P->READLINE(L); I++) {
      LINES.push_back(L);
      if (I == 0) {
        UDP = uint16_t(PORTOFLINE(L));
      }
      size_t AT = L.rfind(':');
      if (L.rfind("HTTP initialized! http://127.0.0.1:", 0) == 0) {
        HTTP = std::atoi(L.c_str() + AT + 1);
      }
    }
  }
  httplib::Result GET(const std::string& PATH) {
    httplib::Client C("127.0.0.1", HTTP);
    C.set_read_timeout(3);
    return C.Get(PATH.c_str());
  }
};

// The samples of a metrics text, as the Prometheus client reads them.
static json PROMPARSE(const std::string& TEXT) {
  TSCRATCH T;
  std::string IN = T.PATH() + "/metrics.txt";
  std::ofstream(IN) << TEXT;
  std::string CMD = std::string("/usr/bin/python3 ") + BRASTOK_E2E_DIR + "/promparse.py < " + IN;
  FILE* F = popen(CMD.c_str(), "r");
  std::string OUT;
  char BUF[4096];
  size_t N;
  while (F && (N = fread(BUF, 1, sizeof BUF, F)) > 0) {
    OUT.append(BUF, N);
  }
  int RC = F ? pclose(F) : -1;
  EXPECT_EQ(RC, 0) << OUT;
  return json::parse(OUT, nullptr, false);
}

// A spectator on a plain socket: connects, acknowledges its log lines,
// keeps every state packet by tick and counts what it sent and received.
struct TWATCHER {
  TUDPSOCKET S;
  uint16_t PORT;
  uint64_t SENT = 0, SENTBYTES = 0, GOT = 0, GOTBYTES = 0;
  uint16_t ACK = 0;
  std::map<uint16_t, CL_STATE> STATES;
  explicit TWATCHER(uint16_t P) : PORT(P) {}
  void SEND(const std::string& D) {
    S.SENDTO(PORT, D);
    SENT++;
    SENTBYTES += D.size();
  }
  // Takes what came within MS, answering each state packet with input.
  void PUMP(int MS) {
    long END = NOWMS() + MS;
    std::string D;
    while (S.RECV(D, int(std::max(0L, END - NOWMS())))) {
      GOT++;
      GOTBYTES += D.size();
      CL_STATE ST;
      CL_LOG LG;
      if (CL_PARSELOG(D, LG)) {
        ACK = LG.LAST;
      } else if (CL_PARSESTATE(D, ST)) {
        STATES[ST.TICK] = ST;
        SEND(CL_DATA(ST.TICK, 0, 0, 0, 0, ACK));
      }
      if (NOWMS() >= END) {
        break;
      }
    }
  }
};

TEST(Web, StatusAndMetricsShowTheMatchAsTheWireAndTheConsoleDo) {
  TWEBSERVER SV({"-bots", "6", "-name", "Web \xe9t\xc3\xa9"});
  ASSERT_GT(SV.UDP, 0);
  ASSERT_GT(SV.HTTP, 0) << SV.P->ERRTEXT();
  TWATCHER A(SV.UDP);
  A.SEND(CL_CONNECT("Ann", 1));
  A.PUMP(500);
  A.SEND(CL_CHAT("hi \xff"));
  TUDPSOCKET B;
  B.SENDTO(SV.UDP, CL_CONNECT("Bob", 0, PVER - 1)); // refused: wrong version
  // Until a bot killed another (or the player), at most 15 seconds.
  std::string L;
  int KILLS = 0;
  for (long END = NOWMS() + 15000; KILLS == 0 && NOWMS() < END;) {
    A.PUMP(30);
    while (SV.P->READLINE(L, 1)) {
      SV.LINES.push_back(L);
      KILLS += L.find(" > ") != std::string::npos;
    }
  }
  ASSERT_GT(KILLS, 0);

  // The status of one tick against the state packet of that tick.
  auto R = SV.GET("/status.json");
  ASSERT_TRUE(R);
  ASSERT_EQ(R->status, 200);
  json J = json::parse(R->body);
  A.PUMP(100);
  ASSERT_TRUE(A.STATES.count(J["tick"].get<uint16_t>()));
  const CL_STATE& W = A.STATES[J["tick"].get<uint16_t>()];
  EXPECT_EQ(J["name"], "Web \u00e9t\u00e9"); // a Latin-1 byte, then UTF-8
  EXPECT_EQ(J["version"], SV_VERSION);
  EXPECT_EQ(J["map"]["entry"], 1);
  EXPECT_EQ(J["settings"]["bots"], 6);
  EXPECT_EQ(J["scoreboard"], W.BOARD);
  ASSERT_EQ(J["slots"].size(), W.PLAYERS.size());
  const char* STATES[] = {"none", "spectator", "dead", "live", "attacking"};
  for (size_t I = 0; I < W.PLAYERS.size(); I++) {
    const CL_ENTRY& E = W.PLAYERS[I];
    const json& S = J["slots"][I];
    SCOPED_TRACE(S.dump());
    EXPECT_EQ(S["slot"], E.SLOT);
    EXPECT_EQ(S["state"], STATES[E.STATE]);
    EXPECT_EQ(S["ping"], E.PING);
    EXPECT_EQ(S["bot"], E.SLOT != W.SELF);
    if (E.STATE >= PS_DEAD) {
      EXPECT_EQ(S["score"], E.SCORE);
    }
    if (E.STATE >= PS_LIVE) {
      EXPECT_EQ(S["x"], E.X);
      EXPECT_EQ(S["y"], E.Y);
      EXPECT_EQ(S["dir"], E.DIR);
    }
    if (E.STATE == PS_ATTA) {
      EXPECT_EQ(S["weapon"], GUNS_NAME[E.GUN]);
    }
    if (E.SLOT == W.SELF) {
      EXPECT_EQ(S["name"], "Ann");
      EXPECT_EQ(S["health"], W.HITS);
      EXPECT_EQ(S["armour"], W.ARMOR);
    }
  }
  size_t PRESENT = 0;
  for (const json& IT : J["items"]) {
    PRESENT += IT["present"].get<bool>();
  }
  EXPECT_EQ(PRESENT, W.ITEMS.size());
  const json& LOG = J["log"];
  EXPECT_NE(std::find(LOG.begin(), LOG.end(), "Ann: hi \u00ff"), LOG.end()) << LOG.dump();

  // The player leaves: the match stands still, and every count settles.
  A.SEND(CL_DISCONNECT());
  A.PUMP(300);
  std::string D;
  uint64_t BGOT = 0, BGOTBYTES = 0;
  while (B.RECV(D, 0)) {
    BGOT++;
    BGOTBYTES += D.size();
  }
  while (SV.P->READLINE(L, 300)) {
    SV.LINES.push_back(L);
  }
  json M = PROMPARSE(SV.GET("/metrics")->body);
  ASSERT_TRUE(M.is_object());
  const uint64_t SENT = A.SENT + 1; // and Bob's connect
  EXPECT_EQ(M["brastok_datagrams_received_total"], SENT);
  EXPECT_EQ(M["brastok_received_bytes_total"], A.SENTBYTES + CL_CONNECT("Bob", 0, PVER - 1).size());
  EXPECT_EQ(M["brastok_datagrams_sent_total"], A.GOT + BGOT);
  EXPECT_EQ(M["brastok_sent_bytes_total"], A.GOTBYTES + BGOTBYTES);
  EXPECT_EQ(M["brastok_connects_total{outcome=accepted}"], 1);
  EXPECT_EQ(M["brastok_connects_total{outcome=wrong_version}"], 1);
  EXPECT_EQ(M["brastok_datagrams_dropped_total{reason=no_slot}"], 0);
  EXPECT_EQ(M["brastok_slots{holder=bot}"], 6);
  EXPECT_EQ(M["brastok_slots{holder=player}"], 0);
  EXPECT_EQ(M["brastok_ticks_total"], A.STATES.rbegin()->first);
  EXPECT_EQ(M["brastok_build_info{protocol=29,version=" + std::string(SV_VERSION) + "}"], 1);
  EXPECT_GT(M["brastok_cycle_duration_seconds_count"].get<double>(), 100);
  // Every event-log line is a console line; so is every kill, by weapon.
  size_t LOGLINES = SV.LINES.size() - 2; // the UDP and HTTP lines are not
  EXPECT_EQ(M["brastok_log_lines_total"], LOGLINES);
  for (int G = 1; G <= NUMGUNS; G++) {
    std::string TAG = std::string(" > ") + GUNS_NAME[G] + " > ";
    auto N = std::count_if(SV.LINES.begin(), SV.LINES.end(),
                           [&](const std::string& X) { return X.find(TAG) != std::string::npos; });
    EXPECT_EQ(M[std::string("brastok_kills_total{weapon=") + GUNS_NAME[G] + "}"], N) << TAG;
  }

  EXPECT_EQ(SV.GET("/healthz")->body, "ok\n");
  EXPECT_EQ(SV.GET("/nothing")->status, 404);
  httplib::Client C("127.0.0.1", SV.HTTP);
  EXPECT_EQ(C.Post("/metrics", "x", "text/plain")->status, 405);
  EXPECT_EQ(SV.P->STOP(SIGTERM), 0);
}

// The mean time between two state packets, over the packets that come
// within MS while DURING runs.
static double TICKMS(TWATCHER& A, int MS) {
  long END = NOWMS() + MS;
  std::vector<double> AT;
  std::string D;
  auto T0 = std::chrono::steady_clock::now();
  while (NOWMS() < END && A.S.RECV(D, 100)) {
    CL_STATE ST;
    if (CL_PARSESTATE(D, ST)) {
      AT.push_back(
          std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - T0).count());
      A.SEND(CL_DATA(ST.TICK, 0, 0, 0, 0, A.ACK));
    } else if (CL_LOG LG; CL_PARSELOG(D, LG)) {
      A.ACK = LG.LAST;
    }
  }
  return AT.size() < 2 ? 1e9 : (AT.back() - AT.front()) / double(AT.size() - 1);
}

// Page, status and metrics requests as fast as four connections take them,
// with two event streams open, for a few seconds: the tick keeps its pace.
TEST(Web, AStormOfRequestsDoesNotMoveTheTick) {
  TWEBSERVER SV({"-bots", "3"});
  ASSERT_GT(SV.HTTP, 0);
  TWATCHER A(SV.UDP);
  A.SEND(CL_CONNECT("Ann", 0));
  A.PUMP(500);
  const double QUIET = TICKMS(A, 2000);

  std::atomic<bool> STOP{false};
  std::atomic<uint64_t> DONE{0}, FAILED{0}, EVENTS{0};
  std::vector<std::thread> T;
  for (int K = 0; K < 4; K++) {
    T.emplace_back([&, K] {
      httplib::Client C("127.0.0.1", SV.HTTP);
      C.set_keep_alive(K % 2 == 0); // half of them a new connection per request
      const char* PATHS[] = {"/", "/metrics", "/status.json"};
      for (uint64_t I = 0; !STOP; I++) {
        auto R = C.Get(PATHS[I % 3]);
        (R && R->status == 200 ? DONE : FAILED)++;
      }
    });
  }
  for (int K = 0; K < 2; K++) {
    T.emplace_back([&] {
      httplib::Client C("127.0.0.1", SV.HTTP);
      C.Get("/events", [&](const char*, size_t) {
        EVENTS++;
        return !STOP;
      });
    });
  }
  const double STORM = TICKMS(A, 3000);
  STOP = true;
  for (auto& X : T) {
    X.join();
  }
  std::printf("[ storm    ] %llu requests (%llu failed), %llu event chunks; tick %.2f ms quiet, "
              "%.2f ms in the storm\n",
              (unsigned long long)DONE, (unsigned long long)FAILED, (unsigned long long)EVENTS,
              QUIET, STORM);
  EXPECT_GT(DONE, 100u);
  EXPECT_EQ(FAILED, 0u);
  EXPECT_GT(EVENTS, 50u);
  EXPECT_LE(STORM - QUIET, 2.0);
  EXPECT_EQ(SV.GET("/healthz")->status, 200);
  EXPECT_EQ(SV.P->STOP(SIGTERM), 0);
}
