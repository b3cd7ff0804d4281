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
//   'O' text             a console line of a part a replay does not run
//   'F' path, found, text   a file the server read (a map, the ban file)
//   'D' 4 address bytes, port, text   a datagram received
//   'B'                  a receive that counted but carried nothing
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "record/record.hpp"
#include "server/server.hpp"

const char* const REC_MAGIC = "brastok-record";

static void REC_RECWRITE(bool FRAMED);

bool REC_RECORDOPEN(const std::string& PATH, const std::vector<std::string>& ARGS,
                    std::string& ERR) {
  std::FILE* F = REC_OPENFILE(PATH, "wb", true);
  if (F == nullptr) {
    ERR = "cannot open record file " + PATH + ": " + std::strerror(errno);
    return false;
  }
  REC_RECORDCLOSE();
  REC_RECF = F;
  REC_RECORDPATH = PATH;
  REC_RECNOW = 0;
  REC_RECUTC = 0;
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

// Writes the buffer in one write: the header as it is, a block behind its
// length.
static void REC_RECWRITE(bool FRAMED) {
  if (FRAMED) {
    std::string HEAD;
    REC_PUTVARINT(HEAD, REC_RECBUF.size());
    REC_RECBUF.insert(0, HEAD);
  }
  if (!REC_WRITEFILE(REC_RECF, REC_RECBUF)) {
    SC_WARN("cannot write record file " + REC_RECORDPATH + ": " + std::strerror(errno) +
            "; the recording ends here, the game goes on");
    // A record with a hole in it would replay another match: it stops here,
    // and the replay ends at the last whole block.
    std::fclose(REC_RECF);
    REC_RECF = nullptr;
  }
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
