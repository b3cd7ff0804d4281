// The POSIX transport on 127.0.0.1: binding, receiving (odd datagrams
// included) and sending.
#include <gtest/gtest.h>

#include "net/net.hpp"
#include "server/server.hpp"
#include "udpsocket.hpp"

class TransportTest : public ::testing::Test {
protected:
  std::vector<std::string> LINES;
  void SetUp() override {
    SV_RESETSTATE();
    SC_CAPTURE = &LINES;
  }
  void TearDown() override {
    NET_STOP();
    SC_CAPTURE = nullptr;
  }
  // The next receive result, waiting a little for the datagram to arrive.
  static int32_t RECEIVEWAIT() {
    for (int I = 0; I < 200; I++) {
      int32_t R = NET_RECEIVE();
      if (R != NET_RECV_NONE) {
        return R;
      }
      usleep(1000);
    }
    return NET_RECV_NONE;
  }
};

TEST_F(TransportTest, TakenPortIsSkippedAndShown) {
  TUDPSOCKET HOLD(0, true);
  ASSERT_TRUE(HOLD.OK());
  NET_PORT = HOLD.PORT();
  ASSERT_TRUE(NET_START());
  EXPECT_GT(NET_PORT, HOLD.PORT());
  EXPECT_EQ(LINES,
            (std::vector<std::string>{"UDP initialized! UDP port: " + std::to_string(NET_PORT)}));
}

TEST_F(TransportTest, ReceivesDatagramsAndSkipsOddOnes) {
  NET_PORT = 0;
  ASSERT_TRUE(NET_START());
  TUDPSOCKET C;
  ASSERT_TRUE(C.OK());
  EXPECT_EQ(NET_RECEIVE(), NET_RECV_NONE); // nothing waiting: returns at once
  C.SENDTO(NET_PORT, std::string(5001, 'x'));
  C.SENDTO(NET_PORT, "");
  C.SENDTO(NET_PORT, std::string(5000, 'y'));
  C.SENDTO(NET_PORT, "abc");
  EXPECT_EQ(RECEIVEWAIT(), NET_RECV_BAD); // longer than the buffer
  EXPECT_EQ(NET_BUF[1], 0);               // and nothing of it kept
  EXPECT_EQ(RECEIVEWAIT(), 0);
  EXPECT_EQ(RECEIVEWAIT(), 5000);
  EXPECT_EQ(NET_BUF[5000], 'y');
  EXPECT_EQ(RECEIVEWAIT(), 3);
  EXPECT_EQ(NET_LASTINIP(), "127.0.0.1");
  EXPECT_EQ(NET_LASTINPORT(), C.PORT());
  EXPECT_EQ(NET_READBYTE(), 'a');

  NET_CLEARBUFFER();
  NET_WRITESTRING("pong");
  NET_SEND("127.0.0.1", C.PORT());
  NET_SEND("127.0.0.1", C.PORT());
  NET_FLUSH();
  std::string D;
  ASSERT_TRUE(C.RECV(D));
  EXPECT_EQ(D, std::string("\x04pong"));
  ASSERT_TRUE(C.RECV(D));
  EXPECT_EQ(D, std::string("\x04pong"));
}

// More datagrams wait than one batch takes, and the cycle stops reading in
// the middle of a batch (a cycle reads at most so many): the rest of that
// batch comes first in the next cycle, in order, before anything that
// arrived meanwhile; the wait between the cycles does not sleep on them.
// Closing the socket drops what it had taken but not handed out.
TEST_F(TransportTest, BatchLeftoversComeFirstInTheNextCycle) {
  NET_PORT = 0;
  ASSERT_TRUE(NET_START());
  TUDPSOCKET A, B;
  ASSERT_TRUE(A.OK() && B.OK());
  for (int I = 0; I < 40; I++) {
    A.SENDTO(NET_PORT, "a" + std::to_string(I));
  }
  B.SENDTO(NET_PORT, "b0");
  auto TAKE = [](std::vector<std::string>& GOT, uint16_t& PORT) {
    int32_t R = RECEIVEWAIT();
    if (R < 0) {
      return false;
    }
    GOT.push_back(std::string(reinterpret_cast<const char*>(&NET_BUF[1]), size_t(R)));
    PORT = NET_LASTINPORT();
    return true;
  };
  std::vector<std::string> GOT, WANT;
  uint16_t FROM = 0;
  for (int I = 0; I < 20; I++) {
    ASSERT_TRUE(TAKE(GOT, FROM));
    EXPECT_EQ(FROM, A.PORT());
    WANT.push_back("a" + std::to_string(I));
  }
  // The cycle ends here.
  NET_FLUSH();
  int64_t T0 = SC_NOWMS();
  NET_WAIT(5000);
  EXPECT_LT(SC_NOWMS() - T0, 2500); // datagrams were waiting: no sleep
  for (int I = 40; I < 45; I++) {
    A.SENDTO(NET_PORT, "a" + std::to_string(I));
  }
  for (int I = 20; I < 40; I++) {
    WANT.push_back("a" + std::to_string(I));
  }
  WANT.push_back("b0");
  for (int I = 40; I < 45; I++) {
    WANT.push_back("a" + std::to_string(I));
  }
  while (GOT.size() < WANT.size() && TAKE(GOT, FROM)) {
    EXPECT_EQ(FROM, GOT.back() == "b0" ? B.PORT() : A.PORT()) << GOT.back();
  }
  EXPECT_EQ(GOT, WANT);
  EXPECT_EQ(NET_RECEIVE(), NET_RECV_NONE);

  for (int I = 0; I < 3; I++) {
    A.SENDTO(NET_PORT, "old");
  }
  ASSERT_TRUE(TAKE(GOT, FROM));
  NET_STOP();
  ASSERT_TRUE(NET_START());
  EXPECT_EQ(NET_RECEIVE(), NET_RECV_NONE);
  A.SENDTO(NET_PORT, "new");
  ASSERT_TRUE(TAKE(GOT, FROM));
  EXPECT_EQ(GOT.back(), "new");
}
