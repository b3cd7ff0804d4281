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
//   'Q' 8 bytes          OPS_QSEED, least significant first
//   'N' ok byte, port    the socket's start: its result and the port bound
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

#include "ops/ops.hpp"
#include "server/server.hpp"

const char* const OPS_RECMAGIC = "brastok-record";

std::string OPS_RECORDPATH;
bool OPS_REPLAYING = false;
std::deque<OPS_RECFILE> OPS_REPLAYFILES;

static std::FILE* OPS_RECF = nullptr;
static std::string OPS_RECBUF;
static int64_t OPS_RECNOW = 0;
static int64_t OPS_RECUTC = 0;

static void OPS_RECWRITE(bool FRAMED);

void OPS_PUTVARINT(std::string& B, uint64_t V) {
  while (V >= 0x80) {
    B += char(uint8_t(V) | 0x80);
    V >>= 7;
  }
  B += char(uint8_t(V));
}

void OPS_PUTSIGNED(std::string& B, int64_t V) {
  // Zigzag: small magnitudes of either sign take few bytes.
  OPS_PUTVARINT(B, (uint64_t(V) << 1) ^ uint64_t(V >> 63));
}

void OPS_PUTTEXT(std::string& B, std::string_view S) {
  OPS_PUTVARINT(B, S.size());
  B.append(S);
}

bool OPS_GETVARINT(std::string_view& B, uint64_t& V) {
  V = 0;
  for (int SHIFT = 0; SHIFT < 64; SHIFT += 7) {
    if (B.empty()) {
      return false;
    }
    uint8_t C = uint8_t(B[0]);
    B.remove_prefix(1);
    V |= uint64_t(C & 0x7F) << SHIFT;
    if ((C & 0x80) == 0) {
      return true;
    }
  }
  return false;
}

bool OPS_GETSIGNED(std::string_view& B, int64_t& V) {
  uint64_t U;
  if (!OPS_GETVARINT(B, U)) {
    return false;
  }
  V = int64_t(U >> 1) ^ -int64_t(U & 1);
  return true;
}

bool OPS_GETTEXT(std::string_view& B, std::string& S) {
  uint64_t N;
  if (!OPS_GETVARINT(B, N) || N > B.size()) {
    return false;
  }
  S.assign(B.substr(0, size_t(N)));
  B.remove_prefix(size_t(N));
  return true;
}

bool OPS_RECORDOPEN(const std::string& PATH, const std::vector<std::string>& ARGS,
                    std::string& ERR) {
  std::FILE* F = OPS_OPENFILE(PATH, "wb", true);
  if (F == nullptr) {
    ERR = "cannot open record file " + PATH + ": " + std::strerror(errno);
    return false;
  }
  OPS_RECORDCLOSE();
  OPS_RECF = F;
  OPS_RECORDPATH = PATH;
  OPS_RECNOW = 0;
  OPS_RECUTC = 0;
  // A loaded cycle writes a few kilobytes; the buffer grows to that once.
  OPS_RECBUF.reserve(64 * 1024);
  OPS_RECBUF.clear();
  OPS_RECBUF += std::string(OPS_RECMAGIC) + " " + std::to_string(OPS_RECVERSION) + "\n";
  OPS_RECWRITE(false);
  OPS_RECBUF += 'A';
  OPS_PUTVARINT(OPS_RECBUF, ARGS.size());
  for (const std::string& A : ARGS) {
    OPS_PUTTEXT(OPS_RECBUF, A);
  }
  return true;
}

void OPS_RECORDCLOSE() {
  if (OPS_RECF != nullptr) {
    std::fclose(OPS_RECF);
  }
  OPS_RECF = nullptr;
  OPS_RECORDPATH.clear();
  OPS_RECBUF.clear();
}

std::string* OPS_RECENTRY(char TAG) {
  if (OPS_RECF == nullptr) {
    return nullptr;
  }
  OPS_RECBUF += TAG;
  return &OPS_RECBUF;
}

void OPS_RECORDCLOCKS() {
  if (OPS_RECF == nullptr) {
    return;
  }
  OPS_RECBUF += 'T';
  OPS_PUTSIGNED(OPS_RECBUF, SV_NOWMS - OPS_RECNOW);
  OPS_PUTSIGNED(OPS_RECBUF, SV_UTCMS - OPS_RECUTC);
  OPS_RECNOW = SV_NOWMS;
  OPS_RECUTC = SV_UTCMS;
}

void OPS_RECORDOUTPUT(const std::string& LINE) {
  if (std::string* B = OPS_RECENTRY('O')) {
    OPS_PUTTEXT(*B, LINE);
  }
}

void OPS_RECORDLINE(const std::string& LINE) {
  if (std::string* B = OPS_RECENTRY('L')) {
    OPS_PUTTEXT(*B, LINE);
  }
}

// Writes the buffer in one write: the header as it is, a block behind its
// length.
static void OPS_RECWRITE(bool FRAMED) {
  if (FRAMED) {
    std::string HEAD;
    OPS_PUTVARINT(HEAD, OPS_RECBUF.size());
    OPS_RECBUF.insert(0, HEAD);
  }
  if (!OPS_WRITEFILE(OPS_RECF, OPS_RECBUF)) {
    SC_WARN("cannot write record file " + OPS_RECORDPATH + ": " + std::strerror(errno) +
            "; the recording ends here, the game goes on");
    // A record with a hole in it would replay another match: it stops here,
    // and the replay ends at the last whole block.
    std::fclose(OPS_RECF);
    OPS_RECF = nullptr;
  }
  OPS_RECBUF.clear();
}

void OPS_RECORDFLUSH() {
  if (OPS_RECF != nullptr) {
    OPS_RECWRITE(true);
  }
}

bool OPS_READTEXT(const std::string& PATH, std::string& TEXT) {
  TEXT.clear();
  bool FOUND = false;
  if (OPS_REPLAYING) {
    // The recorded server read its files in this same order.
    if (!OPS_REPLAYFILES.empty() && OPS_REPLAYFILES.front().PATH == PATH) {
      FOUND = OPS_REPLAYFILES.front().FOUND;
      TEXT = std::move(OPS_REPLAYFILES.front().TEXT);
      OPS_REPLAYFILES.pop_front();
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
  if (std::string* B = OPS_RECENTRY('F')) {
    OPS_PUTTEXT(*B, PATH);
    *B += char(FOUND ? 1 : 0);
    OPS_PUTTEXT(*B, TEXT);
  }
  return FOUND;
}
