// The recorder (-record FILE): everything the server reads from outside, at
// the point where it reads it, so brastok_replay can run the same match
// again. Entries gather in one buffer and go to the file in one write at the
// end of the start-up and of every cycle: a killed server leaves whole
// blocks and at most one cut short.
//
// The file: the line "brastok-record 1\n", then blocks, each a varint byte
// count and that many bytes of entries. The first block is the start-up, each
// further one a cycle. An entry is a tag byte and its fields; numbers are
// LEB128 varints (signed ones zigzag-coded), texts a varint length and bytes.
//   'A' count, texts     the command line
//   'Q' 8 bytes          QRY_SEED, least significant first
//   'N' code, port       the socket's start: REC_STARTED, or the line it failed
//                        with (REC_STARTS), and the port bound
//   'T' two signed       SV_NOWMS and SV_UTCMS, each less the one before
//   'L' text             a console command line
//   'P' admin, address, text   a command line of the admin API (a replay
//                        older than the admin API reads it as damage)
//   'O' text             a console line of a part a replay does not run
//   'F' path, found, text   a file the server read (a map, the ban file)
//   'D' 4 address bytes, port, text   a datagram received
//   'B'                  a receive that counted but carried nothing
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "hooks.hpp"
#include "record/record.hpp"
#include "server/server.hpp"

const char* const REC_MAGIC = "brastok-record";

static void REC_RECWRITE(bool FRAMED);

// PATH with the UTC time UTCMS, and past the first try a count, inserted
// before its extension: match.rec, match-20261207T115203Z.rec,
// match-20261207T115203Z-2.rec.
static std::string REC_NEWNAME(const std::string& PATH, int64_t UTCMS, int K) {
  using namespace std::chrono;
  sys_seconds T{seconds{UTCMS / 1000}};
  sys_days D = floor<days>(T);
  year_month_day YMD{D};
  hh_mm_ss HMS{T - D};
  char STAMP[32];
  std::snprintf(STAMP, sizeof STAMP, "-%04d%02u%02uT%02d%02d%02dZ", int(YMD.year()),
                unsigned(YMD.month()), unsigned(YMD.day()), int(HMS.hours().count()),
                int(HMS.minutes().count()), int(HMS.seconds().count()));
  std::string EXT = std::filesystem::path(PATH).extension().string();
  return PATH.substr(0, PATH.size() - EXT.size()) + STAMP +
         (K > 1 ? "-" + std::to_string(K) : std::string()) + EXT;
}

bool REC_RECORDOPEN(const std::string& PATH, const std::vector<std::string>& ARGS,
                    std::string& ERR) {
  // A recording never overwrites a file: after a crash the service starts
  // again at once, and the recording of the match that crashed is what the
  // operator needs most.
  std::string NAME = PATH;
  std::FILE* F = REC_OPENFILE(NAME, "wb", true);
  for (int K = 1; F == nullptr && errno == EEXIST && K <= 100; K++) {
    NAME = REC_NEWNAME(PATH, SV_UTCMS, K);
    F = REC_OPENFILE(NAME, "wb", true);
  }
  if (F == nullptr) {
    ERR = "cannot open record file " + NAME + ": " + std::strerror(errno);
    return false;
  }
  if (NAME != PATH) {
    SC_NOTE("record file " + PATH + " exists: recording to " + NAME);
  }
  REC_RECORDCLOSE();
  REC_RECF = F;
  REC_RECORDPATH = NAME;
  REC_RECNOW = 0;
  REC_RECUTC = 0;
  REC_RECSIZE = 0;
  REC_RECLIMIT = uint64_t(OPT_RECORDMAX) << 20;
  // A loaded cycle writes a few kilobytes; the buffer grows to that once.
  REC_RECBUF.reserve(64 * 1024);
  REC_RECBUF.clear();
  REC_RECBUF += std::string(REC_MAGIC) + " " + std::to_string(REC_VERSION) + "\n";
  REC_RECWRITE(false);
  REC_RECBUF += 'A';
  REC_PUTVARINT(REC_RECBUF, ARGS.size());
  for (const std::string& A : ARGS) {
    REC_PUTTEXT(REC_RECBUF, A);
  }
  // The clocks main() read before the start-up: the ban file's expiry times
  // and the query's cookie periods are read against them.
  REC_RECORDCLOCKS();
  return true;
}

void REC_RECORDCLOSE() {
  if (REC_RECF != nullptr) {
    std::fclose(REC_RECF);
  }
  REC_RECF = nullptr;
  REC_RECORDPATH.clear();
  REC_RECBUF.clear();
}

std::string* REC_ENTRY(char TAG) {
  if (REC_RECF == nullptr) {
    return nullptr;
  }
  REC_RECBUF += TAG;
  return &REC_RECBUF;
}

void REC_RECORDCLOCKS() {
  if (REC_RECF == nullptr) {
    return;
  }
  REC_RECBUF += 'T';
  REC_PUTSIGNED(REC_RECBUF, SV_NOWMS - REC_RECNOW);
  REC_PUTSIGNED(REC_RECBUF, SV_UTCMS - REC_RECUTC);
  REC_RECNOW = SV_NOWMS;
  REC_RECUTC = SV_UTCMS;
}

void REC_RECORDOUTPUT(const std::string& LINE) {
  if (std::string* B = REC_ENTRY('O')) {
    REC_PUTTEXT(*B, LINE);
  }
}

void REC_RECORDLINE(const std::string& LINE) {
  if (std::string* B = REC_ENTRY('L')) {
    REC_PUTTEXT(*B, LINE);
  }
}

void REC_RECORDAPI(const std::string& ADMIN, const std::string& ADDRESS, const std::string& LINE) {
  if (std::string* B = REC_ENTRY('P')) {
    REC_PUTTEXT(*B, ADMIN);
    REC_PUTTEXT(*B, ADDRESS);
    REC_PUTTEXT(*B, LINE);
  }
}

// Writes the buffer in one write: the header as it is, a block behind its
// length.
static void REC_RECWRITE(bool FRAMED) {
  if (FRAMED) {
    std::string HEAD;
    REC_PUTVARINT(HEAD, REC_RECBUF.size());
    REC_RECBUF.insert(0, HEAD);
  }
  // A record with a hole in it would replay another match: on a failed
  // write, or before the size the operator allows is passed, it stops, and
  // the replay ends at the last whole block (a short write is cut off).
  bool FULL = REC_RECSIZE + REC_RECBUF.size() > REC_RECLIMIT;
  if (FULL) {
    SC_WARN("record file " + REC_RECORDPATH + " has reached -recordmax " +
            std::to_string(REC_RECLIMIT >> 20) + " MiB; the recording ends here, the game goes on");
  } else if (!REC_WRITEFILE(REC_RECF, REC_RECBUF)) {
    SC_WARN("cannot write record file " + REC_RECORDPATH + ": " + std::strerror(errno) +
            "; the recording ends here, the game goes on");
    FULL = true;
  }
  if (FULL) {
    std::fclose(REC_RECF);
    REC_RECF = nullptr;
  }
  REC_RECSIZE += REC_RECBUF.size();
  REC_RECBUF.clear();
}

void REC_RECORDFLUSH() {
  if (REC_RECF != nullptr) {
    REC_RECWRITE(true);
  }
}

bool REC_READTEXT(const std::string& PATH, std::string& TEXT) {
  TEXT.clear();
  bool FOUND = false;
  if (REC_REPLAYING) {
    // The recorded server read its files in this same order.
    if (!REC_REPLAYFILES.empty() && REC_REPLAYFILES.front().PATH == PATH) {
      FOUND = REC_REPLAYFILES.front().FOUND;
      TEXT = std::move(REC_REPLAYFILES.front().TEXT);
      REC_REPLAYFILES.pop_front();
    } else {
      SC_WARN("the replay reads " + PATH + ", which the recorded server did not read here");
    }
    return FOUND;
  }
  // Readable is enough: maps on a read-only volume are maps all the same.
  std::error_code EC;
  if (std::filesystem::is_regular_file(PATH, EC)) {
    std::ifstream F(PATH, std::ios::binary);
    if (F.is_open()) {
      FOUND = true;
      TEXT.assign(std::istreambuf_iterator<char>(F), std::istreambuf_iterator<char>());
    }
  }
  if (std::string* B = REC_ENTRY('F')) {
    REC_PUTTEXT(*B, PATH);
    *B += char(FOUND ? 1 : 0);
    REC_PUTTEXT(*B, TEXT);
  }
  return FOUND;
}
