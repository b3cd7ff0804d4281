// The packet codec: a cursor over the one 5000-byte buffer, with readers and
// writers of bytes, characters, little-endian words and length-prefixed
// strings. Nothing here knows about sockets.
#include <algorithm>

#include "net/net.hpp"

void NET_CLEARBUFFER() {
  NET_BUF = {};
  NET_BUFP = 1;
}

uint8_t NET_READBYTE() {
  if (NET_BUFP > MAXBUFFER) {
    return 0;
  }
  return NET_BUF[NET_BUFP++];
}

char NET_READCHAR() {
  return char(NET_READBYTE());
}

uint16_t NET_READWORD() {
  if (NET_BUFP > MAXBUFFER - 1) {
    return 0;
  }
  uint16_t W = uint16_t(NET_BUF[NET_BUFP] | (NET_BUF[NET_BUFP + 1] << 8));
  NET_BUFP = uint16_t(NET_BUFP + 2);
  return W;
}

std::string NET_READSTRING() {
  int32_t SL = NET_READBYTE();
  // A string never runs into the last byte of the buffer.
  if (NET_BUFP + SL > MAXBUFFER) {
    SL = MAXBUFFER - NET_BUFP;
  }
  std::string S;
  if (SL > 0) {
    S.assign(reinterpret_cast<const char*>(&NET_BUF[NET_BUFP]), size_t(SL));
    NET_BUFP = uint16_t(NET_BUFP + SL);
  }
  return S;
}

void NET_WRITEBYTE(uint8_t B) {
  if (NET_BUFP <= MAXBUFFER) {
    NET_BUF[NET_BUFP++] = B;
  }
}

void NET_WRITECHAR(char B) {
  NET_WRITEBYTE(uint8_t(B));
}

void NET_WRITEWORD(uint16_t B) {
  // A word is never split at the end of the buffer.
  if (NET_BUFP <= MAXBUFFER - 1) {
    NET_BUF[NET_BUFP] = uint8_t(B & 0xFF);
    NET_BUF[NET_BUFP + 1] = uint8_t(B >> 8);
    NET_BUFP = uint16_t(NET_BUFP + 2);
  }
}

void NET_WRITESTRING(const std::string& S) {
  // The length byte holds at most 255: a longer text is cut there, so the
  // length and the characters that follow always agree.
  size_t N = std::min<size_t>(S.size(), 255);
  NET_WRITEBYTE(uint8_t(N));
  // At the end of the buffer the characters are cut while the length byte
  // keeps N; the datagram simply ends there.
  size_t ROOM = NET_BUFP <= MAXBUFFER ? size_t(MAXBUFFER - NET_BUFP + 1) : 0;
  size_t K = std::min(N, ROOM);
  if (K > 0) {
    std::copy_n(S.data(), K, reinterpret_cast<char*>(&NET_BUF[NET_BUFP]));
    NET_BUFP = uint16_t(NET_BUFP + K);
  }
}
