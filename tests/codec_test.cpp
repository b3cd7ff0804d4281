// The packet codec: wire encodings and the edges of the 5000-byte buffer.
#include "net/net.hpp"
#include "support/testserver.hpp"

class CodecTest : public TServerTest {};

static std::string BUILT() {
  return std::string(reinterpret_cast<const char*>(&NET_BUF[1]), size_t(NET_BUFP - 1));
}

TEST_F(CodecTest, WordIsLittleEndianAndReadsBack) {
  NET_CLEARBUFFER();
  NET_WRITEWORD(4660);
  EXPECT_EQ(BUILT(), BYTES({0x34, 0x12}));
  NET_BUFP = 1;
  EXPECT_EQ(NET_READWORD(), 4660);
  EXPECT_EQ(NET_BUFP, 3);
}

TEST_F(CodecTest, StringsCarryTheirLengthByte) {
  struct {
    size_t LEN;     // length of the text written
    size_t ONWIRE;  // bytes it takes
    size_t READLEN; // length read back
  } CASES[] = {
      {0, 1, 0},
      {1, 2, 1},
      {255, 256, 255},
      // Longer texts are cut to 255, so the length byte and the characters
      // that follow agree.
      {256, 256, 255},
      {1000, 256, 255},
  };
  for (const auto& C : CASES) {
    SCOPED_TRACE(C.LEN);
    std::string S(C.LEN, 'q');
    NET_CLEARBUFFER();
    NET_WRITESTRING(S);
    ASSERT_EQ(size_t(NET_BUFP - 1), C.ONWIRE);
    EXPECT_EQ(NET_BUF[1], uint8_t(C.READLEN));
    NET_BUFP = 1;
    EXPECT_EQ(NET_READSTRING(), std::string(C.READLEN, 'q'));
    EXPECT_EQ(size_t(NET_BUFP - 1), C.ONWIRE);
  }
}

TEST_F(CodecTest, ReadsAtTheEndOfTheBuffer) {
  NET_CLEARBUFFER();
  NET_BUF[4999] = 7;
  NET_BUF[5000] = 9;
  NET_BUFP = 5000;
  EXPECT_EQ(NET_READWORD(), 0); // a word never straddles the end
  EXPECT_EQ(NET_BUFP, 5000);
  EXPECT_EQ(NET_READBYTE(), 9);
  EXPECT_EQ(NET_BUFP, 5001);
  EXPECT_EQ(NET_READBYTE(), 0);
  EXPECT_EQ(NET_READCHAR(), 0);
  EXPECT_EQ(NET_READSTRING(), "");
  EXPECT_EQ(NET_BUFP, 5001);
  NET_BUFP = 4999;
  EXPECT_EQ(NET_READWORD(), 7 + 256 * 9);
  EXPECT_EQ(NET_BUFP, 5001);
}

TEST_F(CodecTest, StringCutAtTheBufferEnd) {
  NET_CLEARBUFFER();
  NET_BUF[4990] = 20;
  for (int P = 4991; P <= 5000; P++) {
    NET_BUF[P] = uint8_t('a' + P - 4991);
  }
  NET_BUFP = 4990;
  // Only positions 4991 to 4999: a string never takes the last byte.
  EXPECT_EQ(NET_READSTRING(), "abcdefghi");
  EXPECT_EQ(NET_BUFP, 5000);
}

TEST_F(CodecTest, WritesAtTheEndOfTheBuffer) {
  NET_CLEARBUFFER();
  NET_BUFP = 5000;
  NET_WRITEWORD(0xFFFF);
  EXPECT_EQ(NET_BUFP, 5000);
  EXPECT_EQ(NET_BUF[5000], 0);
  NET_WRITEBYTE(42);
  EXPECT_EQ(NET_BUF[5000], 42);
  EXPECT_EQ(NET_BUFP, 5001);
  NET_WRITEBYTE(43);
  NET_WRITECHAR('x');
  NET_WRITESTRING("abc");
  EXPECT_EQ(NET_BUFP, 5001);
  EXPECT_EQ(NET_BUF[5000], 42);

  // A string that does not fit is cut at the end while its length stays.
  NET_BUFP = 4998;
  NET_WRITESTRING("abcd");
  EXPECT_EQ(NET_BUF[4998], 4);
  EXPECT_EQ(NET_BUF[4999], 'a');
  EXPECT_EQ(NET_BUF[5000], 'b');
  EXPECT_EQ(NET_BUFP, 5001);
}

TEST_F(CodecTest, ShortDatagramReadsAsZeros) {
  SEND("10.0.0.1", 1000, BYTES({5, 0x34, 0x12}));
  ASSERT_EQ(NET_RECEIVE(), 3);
  EXPECT_EQ(NET_READBYTE(), 5);
  EXPECT_EQ(NET_READWORD(), 4660);
  EXPECT_EQ(NET_READSTRING(), "");
  EXPECT_EQ(NET_READWORD(), 0);
  // A string cut short by the sender reads with characters 0 in its place.
  SEND("10.0.0.1", 1000, BYTES({4, 'a', 'b'}));
  ASSERT_EQ(NET_RECEIVE(), 3);
  EXPECT_EQ(NET_READSTRING(), BYTES({'a', 'b', 0, 0}));
}

TEST_F(CodecTest, SendTakesTheBuiltPacketAndLeavesIt) {
  NET_CLEARBUFFER();
  for (int I = 0; I < 10; I++) {
    NET_WRITEBYTE(uint8_t(I));
  }
  NET_SEND("10.0.0.1", 1000);
  NET_SEND("10.0.0.2", 2000);
  ASSERT_EQ(MEMNET_OUT.size(), 2u);
  EXPECT_EQ(MEMNET_OUT[0].DATA, BYTES({0, 1, 2, 3, 4, 5, 6, 7, 8, 9}));
  EXPECT_EQ(MEMNET_OUT[1].DATA, MEMNET_OUT[0].DATA);
  EXPECT_EQ(MEMNET_OUT[1].IP, "10.0.0.2");
  EXPECT_EQ(MEMNET_OUT[1].PORT, 2000);
  EXPECT_EQ(NET_BUFP, 11);
}

TEST_F(CodecTest, ShortDatagramAfterALongPacketStillReadsAsZeros) {
  // Clearing touches only what was used since the last clear; what a long
  // packet (or a long datagram) left must still be gone.
  NET_CLEARBUFFER();
  NET_BUFP = 4000;
  NET_WRITESTRING(std::string(255, 'x'));
  NET_BUFP = 10; // the cursor set back, as for the tails of the state packet
  NET_WRITEBYTE(1);
  SEND("10.0.0.1", 1000, std::string(3000, 'y'));
  SEND("10.0.0.1", 1000, BYTES({5}));
  ASSERT_EQ(NET_RECEIVE(), 3000);
  ASSERT_EQ(NET_RECEIVE(), 1);
  for (int P = 2; P <= MAXBUFFER; P++) {
    ASSERT_EQ(NET_BUF[P], 0) << P;
  }
  NET_CLEARBUFFER();
  NET_BUFP = 4255;
  NET_WRITEBYTE(9);
  NET_CLEARBUFFER();
  EXPECT_EQ(NET_BUF[4255], 0);
}
