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
