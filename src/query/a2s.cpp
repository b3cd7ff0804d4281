// The standard query (A2S) that server lists, gamedig and LinuxGSM's monitor
// speak: A2S_INFO, A2S_PLAYER and A2S_RULES on the game's port, each behind
// the challenge, answered from the status snapshot in one datagram. Like the
// status query it takes no slot, logs no line and counts as no player.
#include <algorithm>
#include <cstring>
#include <iterator>
#include <limits>

#include "net/net.hpp"
#include "query/query.hpp"

static_assert(std::numeric_limits<float>::is_iec559, "A2S sends IEEE 754 floats");

// ---- writing an answer ----

static void QRY_PUTU32(uint32_t V) {
  for (int K = 0; K < 4; K++) {
    NET_WRITEBYTE(uint8_t(V >> (8 * K)));
  }
}

static void QRY_PUTFLOAT(float F) {
  uint32_t U;
  std::memcpy(&U, &F, sizeof U);
  QRY_PUTU32(U);
}

// The header of a whole (unsplit) answer and its type.
static void QRY_PUTHEAD(uint8_t TYPE) {
  NET_CLEARBUFFER();
  QRY_PUTU32(0xFFFFFFFFu);
  NET_WRITEBYTE(TYPE);
}

// Text as an A2S string holds it: UTF-8 by the status's one reading, with a
// zero byte (which would end the string early) shown as U+FFFD, and at most
// MAX bytes, never cut inside a character.
static std::string QRY_A2STEXT(std::string_view S, size_t MAX) {
  std::string T;
  for (char C : STATUS_UTF8TEXT(S)) {
    if (C == 0) {
      T += "\xEF\xBF\xBD";
    } else {
      T += C;
    }
  }
  if (T.size() > MAX) {
    size_t N = MAX;
    while (N > 0 && (uint8_t(T[N]) & 0xC0) == 0x80) {
      N--;
    }
    T.resize(N);
  }
  return T;
}

// A zero-terminated string.
static void QRY_PUTTEXT(const std::string& T) {
  for (char C : T) {
    NET_WRITEBYTE(uint8_t(C));
  }
  NET_WRITEBYTE(0);
}

static size_t QRY_WRITTEN() {
  return size_t(NET_BUFP - 1);
}

// ---- the answers ----

#if defined(_WIN32)
constexpr uint8_t QRY_A2SOS = 'w';
#elif defined(__APPLE__)
constexpr uint8_t QRY_A2SOS = 'm';
#else
constexpr uint8_t QRY_A2SOS = 'l';
#endif
constexpr size_t QRY_A2SNAMEMAX = 255; // bytes of the server's and the map's name

static void QRY_WRITEINFO(const TSNAPSHOT& S) {
  static_assert(6 + 2 * (QRY_A2SNAMEMAX + 1) + 8 + 8 + 2 + 7 + 32 + 3 <= QRY_A2SMAX);
  QRY_PUTHEAD(QRY_S2A_INFO);
  NET_WRITEBYTE(PVER);
  QRY_PUTTEXT(QRY_A2STEXT(S.NAME.VIEW(), QRY_A2SNAMEMAX));
  QRY_PUTTEXT(QRY_A2STEXT(S.MAPNAME.VIEW(), QRY_A2SNAMEMAX));
  QRY_PUTTEXT(QRY_A2SFOLDER);
  QRY_PUTTEXT(QRY_A2SGAME);
  NET_WRITEWORD(0); // no Steam application
  // Players are the humans holding a slot (spectators too), as the status
  // query counts them; the maximum is the player limit; bots hold the rest.
  NET_WRITEBYTE(S.HUMANS);
  NET_WRITEBYTE(S.MAXPLAYERS);
  NET_WRITEBYTE(S.BOTC);
  NET_WRITEBYTE('d'); // dedicated
  NET_WRITEBYTE(QRY_A2SOS);
  NET_WRITEBYTE(0); // no password
  NET_WRITEBYTE(0); // no anti-cheat
  QRY_PUTTEXT(QRY_A2STEXT(SV_VERSION, 31));
  NET_WRITEBYTE(0x80); // extra data: the game port
  NET_WRITEWORD(NET_PORT);
}

static void QRY_WRITEPLAYERS(const TSNAPSHOT& S) {
  QRY_PUTHEAD(QRY_S2A_PLAYER);
  uint16_t COUNTAT = NET_BUFP;
  NET_WRITEBYTE(0);
  uint8_t N = 0;
  for (int K = 0; K < S.NSLOTS; K++) {
    const TSNAPSLOT& O = S.SLOTS[K];
    std::string NAME = QRY_A2STEXT(O.NAME.VIEW(), std::string::npos);
    // A name is at most 20 bytes, 60 as UTF-8 with every byte a zero: only
    // then can 24 players pass one datagram. Those that do not fit are left
    // out, and the count says how many are listed.
    if (QRY_WRITTEN() + 1 + NAME.size() + 1 + 4 + 4 > QRY_A2SMAX) {
      break;
    }
    NET_WRITEBYTE(N++); // the entry's index, from 0
    QRY_PUTTEXT(NAME);
    QRY_PUTU32(O.SCORE);
    int64_t MS = std::max<int64_t>(S.TAKENMS - O.CLAIMEDMS, 0);
    QRY_PUTFLOAT(float(MS) / 1000.0f); // seconds on the server
  }
  NET_BUF[COUNTAT] = N;
}

static void QRY_WRITERULES(const TSNAPSHOT& S) {
  const std::pair<const char*, uint8_t> RULES[] = {
      {"scorelimit", S.SCORELIMIT}, // -score
      {"maxplayers", S.MAXPLAYERS}, // -maxplayers, the player limit
      {"teamplay", S.TEAMPLAY},     // -teams, 0: off
      {"bots", S.BOTCOUNT},         // -bots, the bots wanted
      {"protocol", PVER},           // the game's protocol version
  };
  static_assert(std::size(RULES) * (16 + 4) + 7 <= QRY_A2SMAX);
  QRY_PUTHEAD(QRY_S2A_RULES);
  NET_WRITEWORD(uint16_t(std::size(RULES)));
  for (const auto& [NAME, VALUE] : RULES) {
    QRY_PUTTEXT(NAME);
    QRY_PUTTEXT(std::to_string(VALUE));
  }
}

// ---- the request ----

bool QRY_ISA2S() {
  return NET_BUFEND - 1 >= 4 && NET_BUF[1] == 0xFF && NET_BUF[2] == 0xFF && NET_BUF[3] == 0xFF &&
         NET_BUF[4] == 0xFF;
}

uint32_t QRY_A2SCOOKIE(uint32_t ADDR, uint16_t PORT, int64_t PERIOD) {
  uint32_t C = QRY_COOKIE(ADDR, PORT, PERIOD);
  return C != 0xFFFFFFFFu ? C : 0xFFFFFFFEu;
}

static uint32_t QRY_READU32AT(size_t AT) {
  uint32_t V = 0;
  for (int K = 3; K >= 0; K--) {
    V = (V << 8) | NET_BUF[int(AT) + K];
  }
  return V;
}

void QRY_A2S(const std::string& IP, uint16_t PORT) {
  size_t N = std::min<size_t>(size_t(NET_BUFEND - 1), QRY_A2SREADS);
  uint8_t TYPE = N >= 5 ? NET_BUF[5] : 0;
  // Where the request's challenge is, or 0 when it carries none. Anything
  // else that begins with four 0xFF bytes (an old or an unknown request,
  // which would draw an answer larger than itself) is dropped unanswered.
  size_t AT = 0;
  if (TYPE == QRY_A2S_INFO && N >= QRY_A2SINFOSIZE) {
    if (std::memcmp(&NET_BUF[6], QRY_A2SINFOTEXT, sizeof QRY_A2SINFOTEXT) != 0) {
      return;
    }
    AT = N >= QRY_A2SINFOSIZE + 4 ? QRY_A2SINFOSIZE + 1 : 0;
  } else if ((TYPE == QRY_A2S_PLAYER || TYPE == QRY_A2S_RULES) && N >= QRY_A2SCHALSIZE) {
    AT = 6;
  } else {
    return;
  }
  uint32_t ADDR = 0;
  NET_READIPV4(IP, ADDR); // a sender's address is always dotted IPv4 text
  if (!QRY_ALLOWED(ADDR)) {
    return;
  }
  int64_t PERIOD = QRY_PERIODOF(SV_NOWMS);
  uint32_t COOKIE = QRY_A2SCOOKIE(ADDR, PORT, PERIOD);
  uint32_t GOT = AT != 0 ? QRY_READU32AT(AT) : 0xFFFFFFFFu;
  if (GOT != COOKIE && GOT != QRY_A2SCOOKIE(ADDR, PORT, PERIOD - 1)) {
    // No larger than the smallest request.
    QRY_PUTHEAD(QRY_S2C_CHALLENGE);
    QRY_PUTU32(COOKIE);
  } else {
    STATUS_TAKE(QRY_SNAP);
    if (TYPE == QRY_A2S_INFO) {
      QRY_WRITEINFO(QRY_SNAP);
    } else if (TYPE == QRY_A2S_PLAYER) {
      QRY_WRITEPLAYERS(QRY_SNAP);
    } else {
      QRY_WRITERULES(QRY_SNAP);
    }
  }
  NET_COUNTSENT();
  NET_SEND(IP, PORT);
}
