// The recording's numbers and texts: LEB128 varints, signed ones
// zigzag-coded, and texts as a varint length and the bytes.
#include "record/record.hpp"

void REC_PUTVARINT(std::string& B, uint64_t V) {
  while (V >= 0x80) {
    B += char(uint8_t(V) | 0x80);
    V >>= 7;
  }
  B += char(uint8_t(V));
}

void REC_PUTSIGNED(std::string& B, int64_t V) {
  // Zigzag: small magnitudes of either sign take few bytes.
  REC_PUTVARINT(B, (uint64_t(V) << 1) ^ uint64_t(V >> 63));
}

void REC_PUTTEXT(std::string& B, std::string_view S) {
  REC_PUTVARINT(B, S.size());
  B.append(S);
}

bool REC_GETVARINT(std::string_view& B, uint64_t& V) {
  V = 0;
  for (size_t K = 0; K < REC_MAXVARINT; K++) {
    if (B.empty()) {
      return false;
    }
    uint8_t C = uint8_t(B[0]);
    B.remove_prefix(1);
    // The tenth byte holds the 64th bit alone: anything more would not fit.
    if (K == REC_MAXVARINT - 1 && C > 1) {
      return false;
    }
    V |= uint64_t(C & 0x7F) << (7 * K);
    if ((C & 0x80) == 0) {
      return true;
    }
  }
  return false;
}

bool REC_GETSIGNED(std::string_view& B, int64_t& V) {
  uint64_t U;
  if (!REC_GETVARINT(B, U)) {
    return false;
  }
  V = int64_t(U >> 1) ^ -int64_t(U & 1);
  return true;
}

bool REC_GETTEXT(std::string_view& B, std::string& S) {
  uint64_t N;
  if (!REC_GETVARINT(B, N) || N > B.size()) {
    return false;
  }
  S.assign(B.substr(0, size_t(N)));
  B.remove_prefix(size_t(N));
  return true;
}

const TRECSTART REC_STARTS[REC_NSTARTS] = {
    {0, "UDP initialization failed! [ bind() ]"},
    {2, "UDP initialization failed! [ socket() ]"},
    {3, "UDP initialization failed! [ ioctlsocket() ]"},
    {4, "WSAStartup error!"},
};
