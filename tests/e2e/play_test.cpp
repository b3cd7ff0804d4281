// The browser game's WebSocket bridge, from outside the built server: a
// session is answered byte for byte as a UDP client is, under the address
// its connection comes from; bans and slots hold for it; its end frees its
// slot at once; and a match with browser players replays line for line.
#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <functional>
#include <map>

#include "clientproto.hpp"
#include "httpclient.hpp"
#include "process.hpp"
#include "server/state.hpp"
#include "support/testpaths.hpp"
#include "udpsocket.hpp"
#include "wsclient.hpp"

static const std::string SERVER = BRASTOK_SERVER_BIN;
static const std::string REPLAY = BRASTOK_REPLAY_BIN;

static std::string HEXOF(const std::string& D) {
  static const char HEX[] = "0123456789abcdef";
  std::string R;
  for (unsigned char C : D) {
    R += HEX[C >> 4];
    R += HEX[C & 15];
  }
  return R;
}

// The server with -http on a free loopback port, its console piped.
struct TPLAYSERVER {
  TSCRATCH DIR;
  std::unique_ptr<TPROCESS> P;
  uint16_t UDP = 0;
  int HTTP = 0;
  std::vector<std::string> LINES;
  explicit TPLAYSERVER(std::vector<std::string> ARGS) {
    ARGS.insert(ARGS.begin(), {SERVER, "-port", "0", "-http", "0"});
    P = std::make_unique<TPROCESS>(ARGS, DIR.PATH(), true);
    std::string L;
    while (HTTP == 0 && P->READLINE(L)) {
      LINES.push_back(L);
      UDP = UDP != 0 ? UDP : uint16_t(PORTOFLINE(L));
      if (L.rfind("HTTP initialized! http://", 0) == 0) {
        HTTP = std::atoi(L.c_str() + L.rfind(':') + 1);
      }
    }
  }
  // Reads console lines until one holds TEXT, at most MS.
  bool WAITFOR(const std::string& TEXT, int MS = 3000) {
    long END = NOWMS() + MS;
    std::string L;
    while (P->READLINE(L, int(std::max(1L, END - NOWMS())))) {
      LINES.push_back(L);
      if (L.find(TEXT) != std::string::npos) {
        return true;
      }
    }
    return false;
  }
};

// A client of either kind, as a test drives it.
struct TPLAYPEER {
  std::function<void(const std::string&)> SEND;
  std::function<bool(std::string&, int)> RECV;
};

// Steps whose answers depend on nothing but the server's state: a connect
// of another version, data without a slot, a connect and the first packets
// after it, a chat line; then the disconnect.
static std::vector<std::string> SCRIPT(TPLAYPEER& C, TPLAYSERVER& S) {
  std::vector<std::string> GOT;
  std::string D;
  C.SEND(CL_CONNECT("ann", 0, PVER - 1));
  GOT.push_back(C.RECV(D, 2000) ? D : "none");
  C.SEND(CL_DATA(0, 0, 0, 0, 0, 0));
  GOT.push_back(C.RECV(D, 2000) ? D : "none");
  C.SEND(CL_CONNECT("ann", 0));
  for (int K = 0; K < 6; K++) {
    GOT.push_back(C.RECV(D, 2000) ? D : "none");
  }
  // The first log packet that carries the chat line (a line sent while the
  // chat cools down is lost, so it goes again until one is taken).
  bool SEEN = false;
  for (int K = 0; K < 40 && !SEEN; K++) {
    C.SEND(CL_CHAT("hello"));
    long END = NOWMS() + 150;
    while (!SEEN && C.RECV(D, int(std::max(1L, END - NOWMS())))) {
      CL_LOG L;
      if (CL_PARSELOG(D, L) && !L.LINES.empty() &&
          L.LINES.back().find("hello") != std::string::npos) {
        GOT.push_back(D);
        SEEN = true;
      }
    }
  }
  EXPECT_TRUE(SEEN);
  C.SEND(CL_DISCONNECT());
  EXPECT_TRUE(S.WAITFOR("ann disconnected!"));
  return GOT;
}

TEST(Play, ASessionIsAnsweredByteForByteAsAUdpClient) {
  const std::vector<std::string> ARGS = {"-bots", "0", "-name", "twins"};
  TPLAYSERVER A(ARGS), B(ARGS);
  ASSERT_GT(A.HTTP, 0);
  ASSERT_GT(B.HTTP, 0);

  TUDPSOCKET U;
  TPLAYPEER OVERUDP{[&](const std::string& D) { U.SENDTO(A.UDP, D); },
                    [&](std::string& D, int MS) { return U.RECV(D, MS); }};
  std::vector<std::string> BYUDP = SCRIPT(OVERUDP, A);

  TWSCLIENT W(B.HTTP);
  ASSERT_EQ(W.STATUS(), 101);
  EXPECT_EQ(W.SERVERFIELD(), "brastok"); // no library, no version
  TPLAYPEER OVERWS{[&](const std::string& D) { W.SEND(D); },
                   [&](std::string& D, int MS) { return W.RECV(D, MS); }};
  std::vector<std::string> BYWS = SCRIPT(OVERWS, B);
  ASSERT_EQ(BYUDP.size(), 9u);
  for (size_t K = 0; K < BYUDP.size(); K++) {
    EXPECT_EQ(HEXOF(BYWS[K]), HEXOF(BYUDP[K])) << "datagram " << K;
  }
  EXPECT_NE(BYUDP[0], "none");

  // The session's address is the browser's IP with its TCP source port.
  W.SEND(CL_CONNECT("web", 0));
  ASSERT_TRUE(B.WAITFOR("web connected!"));
  ASSERT_TRUE(B.P->WRITEIN("status\n"));
  EXPECT_TRUE(B.WAITFOR("127.0.0.1:" + std::to_string(W.LOCALPORT())));
}

TEST(Play, BansHoldAndAnEndedSessionFreesItsSlotAtOnce) {
  TPLAYSERVER S({"-bots", "0"});
  ASSERT_GT(S.HTTP, 0);
  {
    TWSCLIENT W(S.HTTP);
    ASSERT_EQ(W.STATUS(), 101);
    W.SEND(CL_CONNECT("web", 0));
    ASSERT_TRUE(S.WAITFOR("web connected!"));
    // The browser goes without a word: the slot goes with its connection,
    // long before a silent client would time out (255 ticks).
    long T0 = NOWMS();
    W.DROP();
    ASSERT_TRUE(S.WAITFOR("web disconnected!"));
    EXPECT_LT(NOWMS() - T0, 3000);
  }

  ASSERT_TRUE(S.P->WRITEIN("ban 127.0.0.3\n"));
  ASSERT_TRUE(S.WAITFOR("127.0.0.3"));
  EXPECT_EQ(TWSCLIENT(S.HTTP, "127.0.0.3").STATUS(), 403);
  TWSCLIENT OK(S.HTTP, "127.0.0.4");
  EXPECT_EQ(OK.STATUS(), 101);

  // Only binary messages of at most a datagram's size are datagrams: a
  // text message or a longer one ends the session.
  OK.SEND("hello", true);
  EXPECT_TRUE(OK.ENDED(3000));
  TWSCLIENT LONG(S.HTTP, "127.0.0.4");
  ASSERT_EQ(LONG.STATUS(), 101);
  LONG.SEND(std::string(MAXBUFFER + 1, '\x68'));
  EXPECT_TRUE(LONG.ENDED(3000));
}

TEST(Play, AUdpClientAndASessionNeverShareAnAddress) {
  TPLAYSERVER S({"-bots", "0"});
  ASSERT_GT(S.HTTP, 0);
  // A UDP client holds 127.0.0.5:X: a session from the same address and
  // port is refused.
  TUDPSOCKET U("127.0.0.5", 0);
  U.SENDTO(S.UDP, CL_CONNECT("udp", 0));
  ASSERT_TRUE(S.WAITFOR("udp connected!"));
  TWSCLIENT SAME(S.HTTP, "127.0.0.5", U.PORT());
  if (SAME.LOCALPORT() != 0) { // the TCP port was free to bind
    EXPECT_EQ(SAME.STATUS(), 409);
  }

  // A session holds 127.0.0.6:Y: UDP datagrams from there are not its own.
  TWSCLIENT W(S.HTTP, "127.0.0.6");
  ASSERT_EQ(W.STATUS(), 101);
  W.SEND(CL_CONNECT("web", 0));
  ASSERT_TRUE(S.WAITFOR("web connected!"));
  TUDPSOCKET FORGER("127.0.0.6", W.LOCALPORT());
  ASSERT_TRUE(FORGER.OK());
  FORGER.SENDTO(S.UDP, CL_DISCONNECT());
  FORGER.SENDTO(S.UDP, CL_DATA(0, 0, 0, 0, 0, 0));
  usleep(300000);
  W.SEND(CL_CHAT("still here"));
  ASSERT_TRUE(S.WAITFOR("web: still here"));
  for (const std::string& L : S.LINES) {
    EXPECT_EQ(L.find("web disconnected!"), std::string::npos) << L;
  }
  std::string D;
  EXPECT_FALSE(FORGER.RECV(D, 200)); // no answer went to it either
}

// A player that answers every state packet with its input: joins, turns,
// fires, and acknowledges the log. It keeps every datagram it received.
struct TPLAYDRIVER {
  std::vector<std::string> GOT;
  uint16_t LOGLAST = 0;
  int TURN = 0;
  // D arrived: the answer to send, or empty text.
  std::string ANSWER(const std::string& D) {
    GOT.push_back(D);
    CL_STATE S;
    CL_LOG L;
    if (CL_PARSELOG(D, L)) {
      LOGLAST = L.LAST;
    }
    if (!CL_PARSESTATE(D, S)) {
      return {};
    }
    uint16_t X = 0, Y = 0;
    for (const CL_ENTRY& E : S.PLAYERS) {
      if (E.SLOT == S.SELF) {
        X = E.X;
        Y = E.Y;
      }
    }
    TURN++;
    uint8_t ACT = TURN % 40 == 1 ? PLACT_SJ : TURN % 3 == 0 ? PLACT_G1 + 1 : 0;
    return CL_DATA(S.TICK, uint16_t(TURN * 7 % 360), ACT, X, Y, LOGLAST);
  }
};

TEST(Play, AMatchWithBrowserPlayersReplaysLineForLine) {
  TSCRATCH DIR;
  const std::string REC = DIR.PATH() + "/play.rec";
  TPLAYSERVER S({"-bots", "2", "-record", REC});
  ASSERT_GT(S.HTTP, 0);
  TWSCLIENT W(S.HTTP), GONE(S.HTTP, "127.0.0.7");
  ASSERT_EQ(W.STATUS(), 101);
  ASSERT_EQ(GONE.STATUS(), 101);
  TUDPSOCKET U;
  TPLAYDRIVER DW, DU, DG;
  W.SEND(CL_CONNECT("web", 0));
  GONE.SEND(CL_CONNECT("leaver", 1));
  U.SENDTO(S.UDP, CL_CONNECT("udp", 1));
  std::string D;
  for (int ROUND = 0; ROUND < 120; ROUND++) {
    while (W.RECV(D, 0)) {
      std::string A = DW.ANSWER(D);
      if (!A.empty()) {
        W.SEND(A);
      }
    }
    while (U.RECV(D, 0)) {
      std::string A = DU.ANSWER(D);
      if (!A.empty()) {
        U.SENDTO(S.UDP, A);
      }
    }
    while (ROUND < 60 && GONE.RECV(D, 0)) {
      std::string A = DG.ANSWER(D);
      if (!A.empty()) {
        GONE.SEND(A);
      }
    }
    if (ROUND == 40) {
      W.SEND(CL_CHAT("gg from the browser"));
    }
    if (ROUND == 60) {
      GONE.DROP();
    }
    usleep(15000);
  }
  ASSERT_TRUE(S.P->WRITEIN("quit\n"));
  EXPECT_EQ(S.P->WAIT(5000), 0);
  std::string L;
  while (S.P->READLINE(L, 5000)) {
    S.LINES.push_back(L);
  }
  while (W.RECV(D, 500)) {
    DW.ANSWER(D);
  }
  bool LEFT = false, CHAT = false;
  for (const std::string& X : S.LINES) {
    LEFT = LEFT || X == "leaver disconnected!";
    CHAT = CHAT || X == "web: gg from the browser";
  }
  EXPECT_TRUE(LEFT);
  EXPECT_TRUE(CHAT);

  TPROCESS R({REPLAY, REC});
  std::vector<std::string> AGAIN;
  while (R.READLINE(L, 20000)) {
    AGAIN.push_back(L);
  }
  EXPECT_EQ(AGAIN, S.LINES);
  EXPECT_EQ(R.WAIT(), 0);

  // What the browser received is what the replay sends to its address.
  TPROCESS P({REPLAY, "--packets", REC});
  std::vector<std::string> SENT;
  const std::string TO = "-> 127.0.0.1:" + std::to_string(W.LOCALPORT()) + " ";
  while (P.READLINE(L, 20000)) {
    if (L.rfind(TO, 0) == 0) {
      SENT.push_back(L.substr(TO.size()));
    }
  }
  std::vector<std::string> GOT;
  for (const std::string& X : DW.GOT) {
    GOT.push_back(HEXOF(X));
  }
  // The server stops its I/O at once: what its last cycle had for the
  // browser may not have gone out.
  EXPECT_GT(GOT.size(), 50u);
  ASSERT_GE(SENT.size(), GOT.size());
  EXPECT_LE(SENT.size() - GOT.size(), 4u);
  SENT.resize(GOT.size());
  EXPECT_EQ(SENT, GOT);
}
