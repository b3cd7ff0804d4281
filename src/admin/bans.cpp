// The ban list: IPv4 addresses and ranges whose datagrams are dropped unread,
// for good or until a time, and the ban file that keeps them across starts.
//
// The file holds one entry a line, "ADDRESS[/BITS] [EXPIRY] [# comment]",
// EXPIRY in UTC as 2026-12-07T13:00:00Z. It is read at start and rewritten
// after every change: a new file renamed over the old one, so a crash leaves
// either the old list or the new one. Lines that are not entries (comments,
// blank lines, lines that cannot be read) are written back as they stood.
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <vector>

#include "admin/admin.hpp"
#include "clients/clients.hpp"
#include "net/net.hpp"
#include "record/record.hpp"
#include "server/server.hpp"

static uint32_t ADM_MASK(uint8_t BITS) {
  return BITS == 0 ? 0u : ~0u << (32 - BITS);
}

// ADDRESS or ADDRESS/BITS, the address cut to its network.
static bool ADM_PARSENET(const std::string& S, uint32_t& NET, uint8_t& BITS) {
  size_t SLASH = S.find('/');
  BITS = 32;
  if (SLASH != std::string::npos) {
    std::string B = S.substr(SLASH + 1);
    if (B.empty() || B.size() > 2 || B.find_first_not_of("0123456789") != std::string::npos ||
        std::stoi(B) > 32) {
      return false;
    }
    BITS = uint8_t(std::stoi(B));
  }
  if (!NET_READIPV4(S.substr(0, SLASH), NET)) {
    return false;
  }
  NET &= ADM_MASK(BITS);
  return true;
}

static std::string ADM_NETTEXT(uint32_t NET, uint8_t BITS) {
  std::string S;
  for (int K = 3; K >= 0; K--) {
    S += std::to_string((NET >> (8 * K)) & 255u) + (K > 0 ? "." : "");
  }
  return BITS < 32 ? S + "/" + std::to_string(BITS) : S;
}

// UTC as 2026-12-07T13:00:00Z, and back.
static std::string ADM_UTCTEXT(int64_t MS) {
  using namespace std::chrono;
  sys_seconds T{seconds{MS / 1000}};
  sys_days D = floor<days>(T);
  year_month_day YMD{D};
  hh_mm_ss HMS{T - D};
  char BUF[32];
  std::snprintf(BUF, sizeof BUF, "%04d-%02u-%02uT%02d:%02d:%02dZ", int(YMD.year()),
                unsigned(YMD.month()), unsigned(YMD.day()), int(HMS.hours().count()),
                int(HMS.minutes().count()), int(HMS.seconds().count()));
  return BUF;
}

static bool ADM_PARSEUTC(const std::string& S, int64_t& MS) {
  using namespace std::chrono;
  int Y, MO, D, H, MI, SE;
  char END = 0;
  if (S.size() != 20 ||
      std::sscanf(S.c_str(), "%4d-%2d-%2dT%2d:%2d:%2d%c", &Y, &MO, &D, &H, &MI, &SE, &END) != 7 ||
      END != 'Z' || H > 23 || MI > 59 || SE > 59 || H < 0 || MI < 0 || SE < 0) {
    return false;
  }
  year_month_day YMD{year{Y}, month{unsigned(MO)}, day{unsigned(D)}};
  if (!YMD.ok()) {
    return false;
  }
  sys_seconds T = sys_days{YMD} + hours{H} + minutes{MI} + seconds{SE};
  MS = int64_t(T.time_since_epoch().count()) * 1000;
  return true;
}

// One line of the ban file as an entry; false when it is not one.
static bool ADM_PARSEBAN(const std::string& LINE, TBAN& B) {
  std::string BODY = LINE.substr(0, LINE.find('#'));
  std::vector<std::string> W;
  size_t P = 0;
  while (P < BODY.size()) {
    size_t E = BODY.find_first_of(" \t", P);
    E = E == std::string::npos ? BODY.size() : E;
    if (E > P) {
      W.push_back(BODY.substr(P, E - P));
    }
    P = E + 1;
  }
  B = TBAN{};
  B.ENTRY = true;
  B.RAW = LINE;
  if (W.empty() || W.size() > 2 || !ADM_PARSENET(W[0], B.NET, B.BITS)) {
    return false;
  }
  B.TIMED = W.size() == 2;
  if (B.TIMED && !ADM_PARSEUTC(W[1], B.UNTILUTC)) {
    return false;
  }
  B.UNTILMS = SV_NOWMS + (B.UNTILUTC - SV_UTCMS);
  return true;
}

static bool ADM_EXPIRED(const TBAN& B) {
  return B.ENTRY && B.TIMED && SV_NOWMS >= B.UNTILMS;
}

static void ADM_BANSAVE() {
  // A replay runs the recorded bans again but leaves the files alone.
  if (ADM_BANPATH.empty() || !ADM_BANWRITABLE || REC_REPLAYING) {
    return;
  }
  std::string TMP = ADM_BANPATH + ".new";
  {
    std::ofstream F(TMP, std::ios::binary | std::ios::trunc);
    for (const TBAN& B : ADM_BANLINES) {
      if (!ADM_EXPIRED(B)) {
        F << B.RAW << '\n';
      }
    }
    F.close();
    if (!F) {
      SC_WARN("ban file not written: cannot write " + TMP);
      return;
    }
  }
  std::error_code EC;
  std::filesystem::rename(TMP, ADM_BANPATH, EC);
  if (EC) {
    SC_WARN("ban file not written: " + ADM_BANPATH + ": " + EC.message());
  }
}

// Drops the entries whose time is up; true when there were any.
static bool ADM_BANPRUNE() {
  size_t N = ADM_BANLINES.size();
  std::erase_if(ADM_BANLINES, ADM_EXPIRED);
  ADM_BANENTRIES = 0;
  for (const TBAN& B : ADM_BANLINES) {
    ADM_BANENTRIES += B.ENTRY ? 1 : 0;
  }
  return ADM_BANLINES.size() != N;
}

void ADM_BANFILE(const std::string& PATH) {
  ADM_BANLINES.clear();
  ADM_BANENTRIES = 0;
  ADM_BANPATH = PATH;
  ADM_BANWRITABLE = true;
  // The text comes through the edge's one door for files, so a recording
  // holds it and a replay has the same bans.
  std::string TEXT;
  if (!REC_READTEXT(PATH, TEXT)) {
    std::error_code EC;
    if (std::filesystem::exists(PATH, EC)) {
      ADM_BANWRITABLE = false;
      SC_WARN("ban file cannot be read, and will not be rewritten: " + PATH);
    }
    return; // a missing file is written with the first ban
  }
  std::istringstream F(TEXT);
  std::string LINE;
  for (int N = 1; std::getline(F, LINE); N++) {
    if (!LINE.empty() && LINE.back() == '\r') {
      LINE.pop_back();
    }
    TBAN B;
    size_t AT = LINE.find_first_not_of(" \t");
    bool NOTHING = AT == std::string::npos || LINE[AT] == '#';
    bool OK = !NOTHING && ADM_PARSEBAN(LINE, B);
    if (!NOTHING && !OK) {
      SC_WARN("ban file " + PATH + " line " + std::to_string(N) +
              " cannot be read, kept as it stands: " + LINE);
    }
    if (!OK) {
      B = TBAN{};
      B.RAW = LINE;
    }
    ADM_BANLINES.push_back(B);
  }
  ADM_BANPRUNE();
}

bool ADM_BANNED(const std::string& IP) {
  if (ADM_BANENTRIES == 0) {
    return false;
  }
  uint32_t A;
  if (!NET_READIPV4(IP, A)) {
    return false;
  }
  for (const TBAN& B : ADM_BANLINES) {
    if (B.ENTRY && (A & ADM_MASK(B.BITS)) == B.NET && !ADM_EXPIRED(B)) {
      return true;
    }
  }
  return false;
}

// The time left of a timed ban, as "59 min 30 s".
static std::string ADM_LEFTTEXT(const TBAN& B) {
  int64_t S = (B.UNTILMS - SV_NOWMS + 999) / 1000;
  return std::to_string(S / 60) + " min " + std::to_string(S % 60) + " s";
}

std::string ADM_BANADD(const std::string& WHAT, uint32_t MINUTES, const std::string& COMMENT) {
  TBAN B{};
  B.ENTRY = true;
  if (!ADM_PARSENET(WHAT, B.NET, B.BITS)) {
    return {};
  }
  if (MINUTES > 0) {
    B.TIMED = true;
    int64_t MS = int64_t(MINUTES) * 60000;
    B.UNTILMS = SV_NOWMS + MS;
    B.UNTILUTC = SV_UTCMS + MS;
  }
  std::string NET = ADM_NETTEXT(B.NET, B.BITS);
  B.RAW = NET + (B.TIMED ? " " + ADM_UTCTEXT(B.UNTILUTC) : "") +
          (COMMENT.empty() ? "" : " # " + SC_PRINTABLE(COMMENT));
  // A second ban of the same address or range replaces the first.
  bool REPLACED = false;
  for (TBAN& O : ADM_BANLINES) {
    if (O.ENTRY && O.NET == B.NET && O.BITS == B.BITS && !REPLACED) {
      O = B;
      REPLACED = true;
    }
  }
  if (!REPLACED) {
    ADM_BANLINES.push_back(B);
  }
  ADM_BANPRUNE();
  ADM_BANSAVE();
  return "banned " + NET +
         (B.TIMED ? " for " + std::to_string(MINUTES) + " min, until " + ADM_UTCTEXT(B.UNTILUTC)
                  : " for good");
}

std::string ADM_BANREMOVE(const std::string& WHAT) {
  uint32_t NET;
  uint8_t BITS;
  if (!ADM_PARSENET(WHAT, NET, BITS)) {
    return "not an IPv4 address or range: " + WHAT;
  }
  size_t N = ADM_BANLINES.size();
  std::erase_if(ADM_BANLINES, [&](const TBAN& B) {
    return B.ENTRY && B.NET == NET && B.BITS == BITS && !ADM_EXPIRED(B);
  });
  if (ADM_BANLINES.size() == N) {
    return "not banned: " + ADM_NETTEXT(NET, BITS);
  }
  ADM_BANPRUNE();
  ADM_BANSAVE();
  return {};
}

std::vector<std::string> ADM_BANLIST() {
  if (ADM_BANPRUNE()) {
    ADM_BANSAVE();
  }
  std::vector<std::string> R;
  for (const TBAN& B : ADM_BANLINES) {
    if (!B.ENTRY) {
      continue;
    }
    size_t HASH = B.RAW.find('#');
    R.push_back(ADM_NETTEXT(B.NET, B.BITS) +
                (B.TIMED ? " until " + ADM_UTCTEXT(B.UNTILUTC) + ", " + ADM_LEFTTEXT(B) + " left"
                         : " for good") +
                (HASH == std::string::npos ? "" : " " + B.RAW.substr(HASH)));
  }
  return R;
}
