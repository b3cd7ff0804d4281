// Floods and abuse against the built server on 127.0.0.1. A well-behaved
// player (brastok_client load) plays through every flood and must not
// notice it: a state packet every tick, its moves applied within two ticks,
// every log line delivered. Junk leaves no line on the console, and the
// server's memory does not grow. A forged source address draws a bounded
// number of packets. Every flood is paced, bounded in count and time, and
// stops by itself.
#include <gtest/gtest.h>
#include <signal.h>

#include <chrono>
#include <functional>
#include <memory>
#include <random>

#include "clientproto.hpp"
#include "process.hpp"
#include "server/state.hpp"
#include "support/testpaths.hpp"
#include "udpsocket.hpp"

static const std::string SERVER = BRASTOK_SERVER_BIN;
static const std::string CLIENT = BRASTOK_CLIENT_BIN;

// The number after "KEY": in a JSON text (the first such key), or -1.
static double JSONNUMBER(const std::string& J, const std::string& KEY) {
  size_t AT = J.find("\"" + KEY + "\":");
  if (AT == std::string::npos) {
    return -1;
  }
  return std::strtod(J.c_str() + AT + KEY.size() + 3, nullptr);
}

static bool STARTSWITH(const std::string& S, const std::string& FRONT) {
  return S.rfind(FRONT, 0) == 0;
}

// What the server's resident memory may grow by while it is flooded (see
// the test). The sanitizer's allocator keeps freed blocks in quarantine and
// hands out fresh memory instead, so there the figure grows with the
// allocations made, leaked or not, and only a gross leak can show.
#if defined(__SANITIZE_ADDRESS__)
constexpr long RSSTOLERANCEKB = 4096;
#else
constexpr long RSSTOLERANCEKB = 256;
#endif

// The server under test, started with "-port 0" in a scratch folder; its
// console lines are kept as they are read.
struct TSERVER {
  TSCRATCH DIR;
  std::unique_ptr<TPROCESS> P;
  uint16_t PORT = 0;
  std::vector<std::string> LINES;
  explicit TSERVER(const std::vector<std::string>& ARGS) {
    std::vector<std::string> A = {SERVER, "-port", "0"};
    A.insert(A.end(), ARGS.begin(), ARGS.end());
    P = std::make_unique<TPROCESS>(A, DIR.PATH());
    std::string L;
    if (P->READLINE(L)) {
      PORT = uint16_t(PORTOFLINE(L));
    }
    P->READLINE(L); // the two server lines
    P->READLINE(L);
  }
  std::string ADDR() const { return "127.0.0.1:" + std::to_string(PORT); }
  // Reads console lines into LINES until one equals TEXT, at most MS.
  bool WAITLINE(const std::string& TEXT, int MS) { return P->WAITLINE(TEXT, MS, &LINES); }
  // Reads console lines until COUNT lines equal to TEXT have come since
  // FROM, at most MS.
  bool WAITCOUNT(const std::string& TEXT, size_t FROM, int COUNT, int MS) {
    long END = NOWMS() + MS;
    auto SEEN = [&] { return std::count(LINES.begin() + long(FROM), LINES.end(), TEXT); };
    std::string L;
    while (SEEN() < COUNT && P->READLINE(L, int(std::max(1L, END - NOWMS())))) {
      LINES.push_back(L);
    }
    return SEEN() >= COUNT;
  }
};

// Sends the datagrams MAKE builds, RATE a second spread evenly over MS
// milliseconds, from the sockets in turn; between sends DURING runs (it
// must not block). Returns the count sent, at most RATE * MS / 1000.
static uint64_t FLOOD(const std::vector<TUDPSOCKET*>& FROM, uint16_t PORT, int RATE, int MS,
                      const std::function<std::string(uint64_t)>& MAKE,
                      const std::function<void()>& DURING = nullptr) {
  const uint64_t MAX = uint64_t(RATE) * uint64_t(MS) / 1000;
  long START = NOWMS();
  uint64_t SENT = 0;
  for (long NOW = START; NOW - START < MS && SENT < MAX; NOW = NOWMS()) {
    uint64_t DUE = std::min(MAX, uint64_t(RATE) * uint64_t(NOW - START) / 1000);
    for (; SENT < DUE; SENT++) {
      FROM[SENT % FROM.size()]->SENDTO(PORT, MAKE(SENT));
    }
    if (DURING) {
      DURING();
    }
    usleep(1000);
  }
  return SENT;
}

// What one socket was sent by the server, by packet kind.
struct TTALLY {
  int STATE = 0, LOG = 0, MAP = 0, FULL = 0, OTHER = 0;
  uint64_t BYTES = 0;
  int ALL() const { return STATE + LOG + MAP + FULL + OTHER; }
  void TAKE(TUDPSOCKET& S, int MS = 0) {
    std::string D;
    while (S.RECV(D, MS)) {
      BYTES += D.size();
      uint8_t ID = D.empty() ? 0 : uint8_t(D[0]);
      (ID == CLMPMSG_SHAP     ? STATE
       : ID == CLMPMSG_LOGL   ? LOG
       : ID == CLMPMSG_MAP    ? MAP
       : ID == CLMPMSG_SVFULL ? FULL
                              : OTHER)++;
      MS = 0;
    }
  }
};

// A client on a plain socket that connects and is seen in a state packet.
static bool JOIN(TUDPSOCKET& S, uint16_t PORT, const std::string& NAME) {
  S.SENDTO(PORT, CL_CONNECT(NAME, 0));
  long END = NOWMS() + 3000;
  std::string D;
  while (NOWMS() < END) {
    if (S.RECV(D, 100) && !D.empty() && uint8_t(D[0]) == CLMPMSG_SHAP) {
      return true;
    }
  }
  return false;
}

// One load player for LOADMS while FLOODFN runs; checks what it saw. The
// flood starts once the player is in and ends before the player leaves.
static void PLAYTHROUGH(TSERVER& SV, const std::string& WHAT, int LOADMS,
                        const std::function<void(int)>& FLOODFN) {
  SCOPED_TRACE(WHAT);
  TPROCESS LOAD(
      {CLIENT, "load", "-n", "1", "-t", std::to_string(LOADMS / 1000), "--json", SV.ADDR()});
  ASSERT_TRUE(SV.WAITLINE("load1 connected!", 3000));
  FLOODFN(LOADMS - 1000);
  std::string J;
  ASSERT_TRUE(LOAD.READLINE(J, LOADMS + 5000));
  EXPECT_EQ(LOAD.WAIT(3000), 0) << J << LOAD.ERRTEXT();
  EXPECT_TRUE(SV.WAITLINE("load1 disconnected!", 3000));
  std::printf("[ flood    ] %-10s %5.1f state packets/s, latency median %g p99 %g ticks\n",
              WHAT.c_str(), JSONNUMBER(J, "state_packets_per_player_per_second"),
              JSONNUMBER(J, "median"), JSONNUMBER(J, "p99"));
  EXPECT_EQ(JSONNUMBER(J, "anomaly_count"), 0) << J;
  // The tick is 30 ms of sleep plus the cycle itself: at most 33.3 a second.
  EXPECT_GE(JSONNUMBER(J, "state_packets_per_player_per_second"), 30) << J;
  EXPECT_GT(JSONNUMBER(J, "samples"), 0) << J;
  EXPECT_LE(JSONNUMBER(J, "p99"), 2) << J;
  EXPECT_EQ(JSONNUMBER(J, "received"), JSONNUMBER(J, "expected")) << J; // every log line
}

// Lines that only the load player and the bots can cause: joining, chat,
// kills, leaving.
static void EXPECTNOTRACE(const std::vector<std::string>& LINES, size_t FROM) {
  for (size_t I = FROM; I < LINES.size(); I++) {
    EXPECT_TRUE(STARTSWITH(LINES[I], "load1") || STARTSWITH(LINES[I], "BOT #")) << LINES[I];
  }
}

// The floods one after the other on one server with three bots and one
// well-behaved player. The rates stay below what the socket's receive
// buffer (212 KB by default) holds between two cycles: beyond that the
// kernel drops datagrams, the player's among them, before the server could
// see them.
TEST(Hardening, FloodsAndAbuseLeaveThePlayerUndisturbed) {
  const int BOTS = 3;
  const int LOADMS = 4000;
  TSERVER SV({"-bots", std::to_string(BOTS), "-maxplayers", "24"});
  ASSERT_GT(SV.PORT, 0);
  std::mt19937 RNG(6);

  // Warm-up: a plain run brings the bots in and touches every path of a
  // match once, so the memory measured after it is the steady state.
  PLAYTHROUGH(SV, "none", 3000, [](int MS) { usleep(useconds_t(MS) * 1000); });
  const long RSSBEFORE = SV.P->RSSKB();
  ASSERT_GT(RSSBEFORE, 0);

  // The junk comes from another address than the player's: junk that
  // starts like a connect counts against its address's connects.
  std::vector<std::unique_ptr<TUDPSOCKET>> OWN;
  std::vector<TUDPSOCKET*> JUNKERS;
  for (int I = 0; I < 8; I++) {
    OWN.push_back(std::make_unique<TUDPSOCKET>("127.0.0.2", 0));
    ASSERT_TRUE(OWN.back()->OK());
    JUNKERS.push_back(OWN.back().get());
  }

  // Random bytes of random length, any first byte but a connect that would
  // be taken (a connect is no junk).
  size_t FROM = SV.LINES.size();
  PLAYTHROUGH(SV, "junk", LOADMS, [&](int MS) {
    FLOOD(JUNKERS, SV.PORT, 2000, MS, [&](uint64_t) {
      std::string D(1 + RNG() % 512, '\0');
      for (char& C : D) {
        C = char(RNG());
      }
      if (uint8_t(D[0]) == SVMPMSG_CCON && D.size() > 1 && uint8_t(D[1]) == PVER) {
        D[1] = 0;
      }
      return D;
    });
  });
  EXPECTNOTRACE(SV.LINES, FROM);

  // Datagrams longer than the packet buffer, some as long as UDP allows.
  FROM = SV.LINES.size();
  PLAYTHROUGH(SV, "oversized", LOADMS, [&](int MS) {
    FLOOD(JUNKERS, SV.PORT, 250, MS, [&](uint64_t N) {
      size_t LEN = N % 25 == 0 ? 65507 : 5001 + RNG() % 4000;
      // A valid connect at the front: read cut short, it would be taken.
      std::string D = CL_CONNECT("big", 0);
      D.resize(LEN, 'x');
      return D;
    });
  });
  EXPECTNOTRACE(SV.LINES, FROM);

  FROM = SV.LINES.size();
  PLAYTHROUGH(SV, "empty", LOADMS, [&](int MS) {
    FLOOD(JUNKERS, SV.PORT, 4000, MS, [](uint64_t) { return std::string(); });
  });
  EXPECTNOTRACE(SV.LINES, FROM);

  // A connected client sends data messages thirty times faster than its
  // budget, with every field random.
  {
    TUDPSOCKET S("127.0.0.1", 0);
    FROM = SV.LINES.size();
    PLAYTHROUGH(SV, "data", LOADMS, [&](int MS) {
      ASSERT_TRUE(JOIN(S, SV.PORT, "flood"));
      TTALLY T;
      FLOOD(
          {&S}, SV.PORT, 1000, MS - 100,
          [&](uint64_t) {
            return CL_DATA(uint16_t(RNG()), uint16_t(RNG()), uint8_t(RNG() % 16), uint16_t(RNG()),
                           uint16_t(RNG()), uint16_t(RNG()));
          },
          [&] { T.TAKE(S); });
      S.SENDTO(SV.PORT, CL_DISCONNECT());
      EXPECT_GT(T.STATE, 0);
    });
    EXPECT_TRUE(SV.WAITCOUNT("flood disconnected!", FROM, 1, 3000));
  }

  // A connected client sends the longest chat line as fast as it can: the
  // cool-down lets one through every 60 ticks.
  {
    TUDPSOCKET S("127.0.0.1", 0);
    FROM = SV.LINES.size();
    long SPAMMS = 0;
    PLAYTHROUGH(SV, "chat", LOADMS, [&](int MS) {
      ASSERT_TRUE(JOIN(S, SV.PORT, "spam"));
      long T0 = NOWMS();
      FLOOD(
          {&S}, SV.PORT, 500, MS - 100, [](uint64_t) { return CL_CHAT(std::string(255, 'z')); },
          [&] { TTALLY().TAKE(S); });
      SPAMMS = NOWMS() - T0;
      S.SENDTO(SV.PORT, CL_DISCONNECT());
    });
    EXPECT_TRUE(SV.WAITCOUNT("spam disconnected!", FROM, 1, 3000));
    long CHATS = std::count_if(SV.LINES.begin() + long(FROM), SV.LINES.end(),
                               [](const std::string& L) { return STARTSWITH(L, "spam: "); });
    EXPECT_GE(CHATS, 1);
    EXPECT_LE(CHATS, SPAMMS / (CHATTIME * FPS_INT) + 1);
  }

  // 200 ports of another address connect again and again, and never speak:
  // the address's 24 connects in ten seconds take the free slots (the rest
  // are told the server is full), each silent slot is sent packets for 33
  // ticks only, and every one of them times out.
  const int FREE = MAXCLIENTS - 1 - BOTS;
  std::vector<std::unique_ptr<TUDPSOCKET>> STORM;
  std::vector<TUDPSOCKET*> STORMERS;
  for (int I = 0; I < 200; I++) {
    STORM.push_back(std::make_unique<TUDPSOCKET>("127.0.0.3", 0));
    ASSERT_TRUE(STORM.back()->OK());
    STORMERS.push_back(STORM.back().get());
  }
  std::vector<TTALLY> GOT(STORM.size());
  auto TAKEALL = [&] {
    for (size_t I = 0; I < STORM.size(); I++) {
      GOT[I].TAKE(*STORM[I]);
    }
  };
  const std::string STORMCONNECT = CL_CONNECT("storm", 0);
  FROM = SV.LINES.size();
  uint64_t STORMSENT = 0;
  PLAYTHROUGH(SV, "connects", LOADMS, [&](int MS) {
    STORMSENT = FLOOD(STORMERS, SV.PORT, 400, MS, [&](uint64_t) { return STORMCONNECT; });
  });
  EXPECT_EQ(std::count(SV.LINES.begin() + long(FROM), SV.LINES.end(), "storm connected!"), FREE);
  ASSERT_TRUE(SV.WAITCOUNT("storm time out!", FROM, FREE, 15000));
  TAKEALL();
  TTALLY SUM;
  int MOSTSTATE = 0, MOSTLOG = 0;
  for (const TTALLY& T : GOT) {
    MOSTSTATE = std::max(MOSTSTATE, T.STATE);
    MOSTLOG = std::max(MOSTLOG, T.LOG);
    SUM.STATE += T.STATE;
    SUM.LOG += T.LOG;
    SUM.FULL += T.FULL;
    SUM.MAP += T.MAP;
    SUM.OTHER += T.OTHER;
    SUM.BYTES += T.BYTES;
  }
  EXPECT_EQ(MOSTSTATE, int(UNHEARDTICKS));
  EXPECT_LE(MOSTLOG, 3); // in the tick of the connect, and 15 and 30 ticks later
  EXPECT_EQ(SUM.STATE, FREE * int(UNHEARDTICKS));
  EXPECT_EQ(SUM.FULL, CONNMAX - FREE);
  EXPECT_EQ(SUM.MAP + SUM.OTHER, 0);
  std::printf("[ flood    ] connects: %llu sent (%llu bytes), %d slots taken, %llu bytes back "
              "(%.2f per byte)\n",
              (unsigned long long)STORMSENT, (unsigned long long)(STORMSENT * STORMCONNECT.size()),
              FREE, (unsigned long long)SUM.BYTES,
              double(SUM.BYTES) / double(STORMSENT * STORMCONNECT.size()));

  // After all of it the server holds no more memory than after the warm-up.
  // The tolerance covers what a steady server may still touch for the first
  // time (a page of the heap, of the stack or of stdio); it is far below
  // what a leak of the smallest heap block per flood datagram would add
  // (tens of thousands of datagrams, 32 bytes or more each).
  const long RSSAFTER = SV.P->RSSKB();
  std::printf("[ flood    ] resident memory %ld KiB before the floods, %ld KiB after\n", RSSBEFORE,
              RSSAFTER);
  EXPECT_LE(RSSAFTER, RSSBEFORE + RSSTOLERANCEKB);
  EXPECT_EQ(SV.P->STOP(SIGTERM), 0);
  EXPECT_EQ(SV.P->ERRTEXT(), "");
}

// One connect message from a forged (silent) address, on a server with
// bots: it draws the state packets of 33 ticks and the log packets of those
// ticks, and then nothing more, though the slot lives on until its time-out.
TEST(Hardening, ForgedConnectDrawsABoundedAnswer) {
  TSERVER SV({"-bots", "4"});
  ASSERT_GT(SV.PORT, 0);
  TUDPSOCKET VICTIM("127.0.0.4", 0);
  ASSERT_TRUE(VICTIM.OK());
  const std::string CONNECT = CL_CONNECT("Alex", 0); // 8 bytes
  VICTIM.SENDTO(SV.PORT, CONNECT);
  ASSERT_TRUE(SV.WAITLINE("Alex connected!", 3000));
  TTALLY T;
  long END = NOWMS() + 3000; // 33 ticks are 1.1 s or a little more
  while (NOWMS() < END) {
    T.TAKE(VICTIM, 100);
  }
  std::printf("[ forged   ] one connect of %zu bytes drew %d state and %d log packets, %llu bytes "
              "(%.1f per byte)\n",
              CONNECT.size(), T.STATE, T.LOG, (unsigned long long)T.BYTES,
              double(T.BYTES) / double(CONNECT.size()));
  EXPECT_EQ(T.STATE, int(UNHEARDTICKS));
  EXPECT_GE(T.LOG, 1);
  EXPECT_LE(T.LOG, 3);
  EXPECT_EQ(T.MAP + T.FULL + T.OTHER, 0);
  // Each state packet lists at most five slots (bots 10 or 11 bytes, the
  // victim 3), the items and the tail; each log packet at most 10 lines.
  EXPECT_LE(T.BYTES, uint64_t(UNHEARDTICKS) * (6 + 4 * 11 + 3 + 1 + 128 + 6) + 3 * (4 + 10 * 24));
  EXPECT_EQ(SV.P->STOP(SIGTERM), 0);
}
