// The ban list: IPv4 addresses and ranges whose datagrams are dropped unread,
// for good or until a time, and the ban file that keeps them across starts.
//
// The file holds one entry a line, "ADDRESS[/BITS] [EXPIRY] [# comment]",
// EXPIRY in UTC as 2026-12-07T13:00:00Z. It is read at start and rewritten
// after every change: a new file renamed over the old one, so a crash leaves
// either the old list or the new one. Lines that are not entries (comments,
// blank lines, lines that cannot be read) are written back as they stood.
//
// A datagram's sender is looked up in an index of the entries by prefix
// length, with as many hash lookups as there are lengths in use (at most
// 33), whatever the size of the list.
#include <bit>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <random>
#include <sstream>
#include <vector>
#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>
#include <windows.h>
#else
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

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

// UTC as 2026-12-07T13:00:00Z (SC_UTCTEXT), and back.
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

// The file a name leads to: symbolic links followed, so that a link stays
// a link and the file it names is the one rewritten.
static std::filesystem::path ADM_BANTARGET(const std::string& PATH) {
  std::filesystem::path T = PATH;
  std::error_code EC;
  for (int K = 0; K < 40 && std::filesystem::is_symlink(T, EC); K++) {
    std::filesystem::path L = std::filesystem::read_symlink(T, EC);
    if (EC) {
      break;
    }
    T = L.is_absolute() ? L : T.parent_path() / L;
  }
  return T;
}

#ifndef _WIN32
// Writes TEXT to a new file beside TARGET, with TARGET's mode (and owner
// where that is allowed), forces it to the disk and renames it over TARGET,
// then forces the folder: after a crash or a power loss the file is the old
// list or the new one, whole. The new file's name is this process's own, so
// two servers sharing a ban file never write into each other's. Empty text,
// or why the file was not written.
static std::string ADM_BANREPLACE(const std::filesystem::path& TARGET, const std::string& TEXT) {
  struct stat ST;
  bool HAD = stat(TARGET.c_str(), &ST) == 0;
  std::random_device RANDOM;
  std::string TMP;
  int FD = -1;
  for (int K = 0; K < 16 && FD < 0; K++) {
    char TAG[32];
    std::snprintf(TAG, sizeof TAG, ".%ld-%08x.new", long(getpid()), unsigned(RANDOM()));
    TMP = TARGET.string() + TAG;
    FD = open(TMP.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, HAD ? 0600 : 0666);
    if (FD < 0 && errno != EEXIST) {
      break;
    }
  }
  if (FD < 0) {
    return "cannot create " + TMP + ": " + std::strerror(errno);
  }
  if (HAD) {
    // Owner first: changing it may clear the set-id bits the mode restores.
    (void)!fchown(FD, ST.st_uid, ST.st_gid);
    (void)!fchmod(FD, ST.st_mode & 07777);
  }
  std::string WHY;
  for (size_t AT = 0; AT < TEXT.size() && WHY.empty();) {
    ssize_t K = write(FD, TEXT.data() + AT, TEXT.size() - AT);
    if (K < 0 && errno != EINTR) {
      WHY = "cannot write " + TMP + ": " + std::strerror(errno);
    }
    AT += K > 0 ? size_t(K) : 0;
  }
  if (WHY.empty() && fsync(FD) != 0) {
    WHY = "cannot write " + TMP + ": " + std::strerror(errno);
  }
  if (close(FD) != 0 && WHY.empty()) {
    WHY = "cannot write " + TMP + ": " + std::strerror(errno);
  }
  if (WHY.empty() && std::rename(TMP.c_str(), TARGET.c_str()) != 0) {
    WHY = "cannot replace " + TARGET.string() + ": " + std::strerror(errno);
  }
  if (!WHY.empty()) {
    unlink(TMP.c_str());
    return WHY;
  }
  std::filesystem::path DIR = TARGET.parent_path().empty() ? "." : TARGET.parent_path();
  int DFD = open(DIR.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (DFD >= 0) {
    fsync(DFD);
    close(DFD);
  }
  return {};
}
#else
// Windows: a new file of this process's own beside TARGET, committed to the
// disk and moved over TARGET.
static std::string ADM_BANREPLACE(const std::filesystem::path& TARGET, const std::string& TEXT) {
  std::random_device RANDOM;
  char TAG[32];
  std::snprintf(TAG, sizeof TAG, ".%lu-%08x.new", (unsigned long)GetCurrentProcessId(),
                unsigned(RANDOM()));
  std::string TMP = TARGET.string() + TAG;
  int FD = _open(TMP.c_str(), _O_WRONLY | _O_CREAT | _O_EXCL | _O_BINARY, _S_IREAD | _S_IWRITE);
  std::FILE* F = FD < 0 ? nullptr : _fdopen(FD, "wb");
  if (F == nullptr) {
    return "cannot create " + TMP + ": " + std::strerror(errno);
  }
  bool OK = std::fwrite(TEXT.data(), 1, TEXT.size(), F) == TEXT.size();
  OK = std::fflush(F) == 0 && _commit(_fileno(F)) == 0 && OK;
  OK = std::fclose(F) == 0 && OK;
  std::error_code EC;
  if (OK) {
    std::filesystem::rename(TMP, TARGET, EC);
  }
  if (!OK || EC) {
    std::remove(TMP.c_str());
    return OK ? "cannot replace " + TARGET.string() + ": " + EC.message() : "cannot write " + TMP;
  }
  return {};
}
#endif

std::string ADM_BANSAVE() {
  // A replay runs the recorded bans again but leaves the files alone.
  if (ADM_BANPATH.empty() || REC_REPLAYING) {
    return {};
  }
  if (!ADM_BANWRITABLE) {
    return "the ban file " + ADM_BANPATH + " could not be read at start and is left as it was";
  }
  std::string TEXT;
  for (const TBAN& B : ADM_BANLINES) {
    if (!ADM_EXPIRED(B)) {
      TEXT += B.RAW + '\n';
    }
  }
  return ADM_BANREPLACE(ADM_BANTARGET(ADM_BANPATH), TEXT);
}

// The index key of a network: its prefix length above its address.
static uint64_t ADM_BANKEY(uint32_t NET, uint8_t BITS) {
  return (uint64_t(BITS) << 32) | NET;
}

// Drops the entries whose time is up and builds the index anew from the
// rest; true when any was dropped. Every change of the list ends with this.
static bool ADM_BANPRUNE() {
  size_t N = ADM_BANLINES.size();
  std::erase_if(ADM_BANLINES, ADM_EXPIRED);
  ADM_BANENTRIES = 0;
  ADM_BANINDEX.clear();
  ADM_BANBITS = 0;
  for (const TBAN& B : ADM_BANLINES) {
    if (!B.ENTRY) {
      continue;
    }
    ADM_BANENTRIES++;
    // The same network twice (a file may hold it so) is banned until the
    // later of the two.
    int64_t UNTIL = B.TIMED ? B.UNTILMS : INT64_MAX;
    auto [IT, NEW] = ADM_BANINDEX.try_emplace(ADM_BANKEY(B.NET, B.BITS), UNTIL);
    IT->second = std::max(IT->second, UNTIL);
    ADM_BANBITS |= uint64_t(1) << B.BITS;
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
  if (ADM_BANBITS == 0) {
    return false;
  }
  uint32_t A;
  if (!NET_READIPV4(IP, A)) {
    return false;
  }
  for (uint64_t LEFT = ADM_BANBITS; LEFT != 0; LEFT &= LEFT - 1) {
    uint8_t BITS = uint8_t(std::countr_zero(LEFT));
    auto IT = ADM_BANINDEX.find(ADM_BANKEY(A & ADM_MASK(BITS), BITS));
    if (IT != ADM_BANINDEX.end() && SV_NOWMS < IT->second) {
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
  B.RAW = NET + (B.TIMED ? " " + SC_UTCTEXT(B.UNTILUTC, false) : "") +
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
  return "banned " + NET +
         (B.TIMED
              ? " for " + std::to_string(MINUTES) + " min, until " + SC_UTCTEXT(B.UNTILUTC, false)
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
  return {};
}

std::vector<std::string> ADM_BANLIST() {
  if (ADM_BANPRUNE() && ADM_BANWRITABLE) {
    std::string WHY = ADM_BANSAVE();
    if (!WHY.empty()) {
      SC_WARN("ban file not written: " + WHY);
    }
  }
  std::vector<std::string> R;
  for (const TBAN& B : ADM_BANLINES) {
    if (!B.ENTRY) {
      continue;
    }
    size_t HASH = B.RAW.find('#');
    R.push_back(ADM_NETTEXT(B.NET, B.BITS) +
                (B.TIMED
                     ? " until " + SC_UTCTEXT(B.UNTILUTC, false) + ", " + ADM_LEFTTEXT(B) + " left"
                     : " for good") +
                (HASH == std::string::npos ? "" : " " + B.RAW.substr(HASH)));
  }
  return R;
}

bool ADM_BANKICK(const std::string& WHAT, uint32_t MINUTES, const std::string& COMMENT) {
  std::string ANSWER = ADM_BANADD(WHAT, MINUTES, COMMENT);
  if (ANSWER.empty()) {
    return false;
  }
  // A ban the file does not keep holds until the server stops: the operator
  // must hear that it was not saved.
  std::string WHY = ADM_BANSAVE();
  if (WHY.empty()) {
    SC_WRITELN(ANSWER);
  } else {
    SC_ERROR(ANSWER + ", but not saved: " + WHY);
  }
  for (int I = 1; I <= MAXCLIENTS; I++) {
    const TCLIENT& C = SV_CLIENTSLIST[I];
    if (C.EXIST && !C.BOT && ADM_BANNED(C.IP)) {
      PLAYER_REMOVE(uint8_t(I));
    }
  }
  return true;
}
