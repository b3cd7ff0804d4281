// The packet codec: a cursor over the one 5000-byte buffer, with readers and
// writers of bytes, characters, little-endian words and length-prefixed
// strings. Nothing here knows about sockets.
#include <algorithm>

#include "net/net.hpp"

void NET_CLEARBUFFER() {
  // Every byte from NET_BUFEND on is 0 already.
  std::fill_n(&NET_BUF[1], NET_BUFEND - 1, uint8_t(0));
  NET_BUFEND = 1;
  NET_BUFP = 1;
}

void NET_LOADBUFFER(const void* DATA, size_t N) {
  NET_CLEARBUFFER();
  N = std::min<size_t>(N, MAXBUFFER);
  std::copy_n(static_cast<const uint8_t*>(DATA), N, &NET_BUF[1]);
  NET_BUFEND = uint16_t(N + 1);
}

// Called after every write: the cursor is one past the byte written last.
static void NET_WROTE() {
  NET_BUFEND = std::max(NET_BUFEND, NET_BUFP);
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
    NET_WROTE();
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
    NET_WROTE();
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
    NET_WROTE();
  }
}

bool NET_READIPV4(const std::string& S, uint32_t& A) {
  A = 0;
  size_t P = 0;
  for (int K = 0; K < 4; K++) {
    if (K > 0 && (P >= S.size() || S[P++] != '.')) {
      return false;
    }
    uint32_t V = 0;
    size_t B = P;
    while (P < S.size() && P - B < 3 && S[P] >= '0' && S[P] <= '9') {
      V = V * 10 + uint32_t(S[P++] - '0');
    }
    if (P == B || V > 255) {
      return false;
    }
    A = A << 8 | V;
  }
  return P == S.size();
}
