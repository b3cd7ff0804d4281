// Text for watchers: names, chat and map texts come from players and map
// files as bytes; the JSON documents and the page need UTF-8.
#include "status/status.hpp"

std::string STATUS_UTF8TEXT(std::string_view S) {
  std::string R;
  R.reserve(S.size());
  size_t I = 0;
  while (I < S.size()) {
    unsigned char C = static_cast<unsigned char>(S[I]);
    // The length of a well-formed UTF-8 sequence starting here, or 0:
    // overlong forms, surrogates and code points past U+10FFFF are not.
    size_t N = 0;
    if (C < 0x80) {
      N = 1;
    } else if (C >= 0xC2 && C <= 0xF4) {
      size_t WANT = C < 0xE0 ? 2 : C < 0xF0 ? 3 : 4;
      unsigned char LO = 0x80;
      unsigned char HI = 0xBF;
      if (C == 0xE0) {
        LO = 0xA0;
      } else if (C == 0xED) {
        HI = 0x9F;
      } else if (C == 0xF0) {
        LO = 0x90;
      } else if (C == 0xF4) {
        HI = 0x8F;
      }
      size_t K = 1;
      while (K < WANT && I + K < S.size()) {
        unsigned char D = static_cast<unsigned char>(S[I + K]);
        if (D < (K == 1 ? LO : 0x80) || D > (K == 1 ? HI : 0xBF)) {
          break;
        }
        K++;
      }
      N = K == WANT ? WANT : 0;
    }
    if (N > 0) {
      R.append(S.substr(I, N));
      I += N;
      continue;
    }
    // Not UTF-8: the byte is read as its Latin-1 character.
    R += char(0xC0 | (C >> 6));
    R += char(0x80 | (C & 0x3F));
    I++;
  }
  return R;
}
