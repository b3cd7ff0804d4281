// The built server with -votes 1 and three players at their own loopback
// addresses: a vote kick passes, and the kicked address cannot come back
// from another port.
#include <gtest/gtest.h>
#include <signal.h>

#include <memory>

#include "clientproto.hpp"
#include "process.hpp"
#include "support/testpaths.hpp"
#include "udpsocket.hpp"

static const std::string SERVER = BRASTOK_SERVER_BIN;

TEST(VotesProcess, AVoteKickKeepsTheAddressOut) {
  TSCRATCH DIR;
  TPROCESS P({SERVER, "-port", "0", "-votes", "1"}, DIR.PATH());
  std::string L;
  ASSERT_TRUE(P.READLINE(L));
  uint16_t PORT = uint16_t(PORTOFLINE(L));
  ASSERT_GT(PORT, 0) << L;
  ASSERT_TRUE(P.READLINE(L));
  ASSERT_TRUE(P.READLINE(L));
  const char* NAMES[] = {"Alex", "Bea", "Cy"};
  std::vector<std::unique_ptr<TUDPSOCKET>> C;
  for (int K = 0; K < 3; K++) {
    C.push_back(std::make_unique<TUDPSOCKET>("127.0.0." + std::to_string(K + 1), 0));
    ASSERT_TRUE(C[K]->OK());
    C[K]->SENDTO("127.0.0.1", PORT, CL_CONNECT(NAMES[K], 0));
    ASSERT_TRUE(P.READLINE(L));
    EXPECT_EQ(L, std::string(NAMES[K]) + " connected!");
  }
  C[0]->SENDTO("127.0.0.1", PORT, CL_CHAT("!votekick 3"));
  ASSERT_TRUE(P.READLINE(L));
  EXPECT_EQ(L, "Alex asks: kick Cy? !yes or !no within 30 s");
  C[1]->SENDTO("127.0.0.1", PORT, CL_CHAT("!yes"));
  ASSERT_TRUE(P.READLINE(L));
  EXPECT_EQ(L, "vote passed: kick Cy (2 of 3 yes)");
  ASSERT_TRUE(P.READLINE(L));
  EXPECT_EQ(L.rfind("banned 127.0.0.3 for 10 min, until ", 0), 0u) << L;
  ASSERT_TRUE(P.READLINE(L));
  EXPECT_EQ(L, "Cy disconnected!");
  // Cy from a new port, then Dee: the server reads them in that order, and
  // only Dee gets a slot.
  TUDPSOCKET AGAIN("127.0.0.3", 0), DEE("127.0.0.4", 0);
  AGAIN.SENDTO("127.0.0.1", PORT, CL_CONNECT("Cy", 0));
  DEE.SENDTO("127.0.0.1", PORT, CL_CONNECT("Dee", 0));
  ASSERT_TRUE(P.READLINE(L));
  EXPECT_EQ(L, "Dee connected!");
  EXPECT_EQ(P.STOP(SIGTERM, 3000), 0);
  EXPECT_EQ(P.ERRTEXT(), "");
}
