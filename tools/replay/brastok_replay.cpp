// brastok_replay: runs a server recorded with -record again, over the
// in-memory transport and without sleeping, and prints the console lines the
// recorded server printed; with --packets also the datagrams it sent.
#include <CLI/CLI.hpp>
#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

#include "admin/admin.hpp"
#include "net/memnet.hpp"
#include "net/net.hpp"
#include "query/query.hpp"
#include "record/record.hpp"
#include "server/server.hpp"

// Exit statuses: 0 replayed (a recording cut short included), 1 the file
// cannot be read, is of another format or is damaged.
constexpr int RP_EXIT_OK = 0;
constexpr int RP_EXIT_FILE = 1;

static std::string RP_PATH;

static int RP_FAIL(const std::string& WHY) {
  std::fprintf(stderr, "brastok_replay: %s: %s\n", RP_PATH.c_str(), WHY.c_str());
  return RP_EXIT_FILE;
}

// The next block of the recording: 1 read, 0 the recording ended between
// blocks, -1 it ends inside one.
static int RP_NEXTBLOCK(std::istream& F, std::string& BLOCK) {
  uint64_t N = 0;
  for (int SHIFT = 0;; SHIFT += 7) {
    int C = F.get();
    if (C == EOF) {
      return SHIFT == 0 ? 0 : -1;
    }
    if (SHIFT > 56) {
      return -1;
    }
    N |= uint64_t(C & 0x7F) << SHIFT;
    if ((C & 0x80) == 0) {
      break;
    }
  }
  BLOCK.resize(size_t(N));
  F.read(BLOCK.data(), std::streamsize(N));
  return uint64_t(F.gcount()) == N ? 1 : -1;
}

// One block, entry by entry, into the state the replay needs before it runs
// the start-up or the cycle: the clocks, the datagrams queued on the
// in-memory transport, the files to serve, the console lines to run, and in
// the start-up block the command line, the seed and the socket's start.
struct RP_BLOCK {
  std::vector<std::string> ARGS;
  std::vector<std::string> LINES;
  bool STARTED = false;
};

static bool RP_READBLOCK(std::string_view B, RP_BLOCK& R) {
  while (!B.empty()) {
    char TAG = B[0];
    B.remove_prefix(1);
    uint64_t N;
    int64_t D;
    std::string S;
    switch (TAG) {
    case 'A':
      if (!REC_GETVARINT(B, N)) {
        return false;
      }
      for (uint64_t K = 0; K < N; K++) {
        if (!REC_GETTEXT(B, S)) {
          return false;
        }
        R.ARGS.push_back(S);
      }
      break;
    case 'Q':
      if (B.size() < 8) {
        return false;
      }
      QRY_SEED = 0;
      for (int K = 7; K >= 0; K--) {
        QRY_SEED = (QRY_SEED << 8) | uint8_t(B[size_t(K)]);
      }
      B.remove_prefix(8);
      break;
    case 'N':
      if (B.size() < 3) {
        return false;
      }
      R.STARTED = B[0] != 0;
      MEMNET_BINDFAILS = !R.STARTED;
      MEMNET_BOUNDPORT = uint16_t(uint8_t(B[1]) | uint8_t(B[2]) << 8);
      B.remove_prefix(3);
      break;
    case 'T':
      if (!REC_GETSIGNED(B, D)) {
        return false;
      }
      SV_NOWMS += D;
      if (!REC_GETSIGNED(B, D)) {
        return false;
      }
      SV_UTCMS += D;
      break;
    case 'L':
      if (!REC_GETTEXT(B, S)) {
        return false;
      }
      R.LINES.push_back(S);
      break;
    case 'O':
      // Printed where the recorded server printed it: before the cycle.
      if (!REC_GETTEXT(B, S)) {
        return false;
      }
      SC_WRITELN(S);
      break;
    case 'F': {
      TRECFILE F;
      if (!REC_GETTEXT(B, F.PATH) || B.empty()) {
        return false;
      }
      F.FOUND = B[0] != 0;
      B.remove_prefix(1);
      if (!REC_GETTEXT(B, F.TEXT)) {
        return false;
      }
      REC_REPLAYFILES.push_back(std::move(F));
      break;
    }
    case 'D': {
      if (B.size() < 6) {
        return false;
      }
      std::string IP;
      for (int K = 0; K < 4; K++) {
        IP += (K > 0 ? "." : "") + std::to_string(uint8_t(B[size_t(K)]));
      }
      uint16_t PORT = uint16_t(uint8_t(B[4]) | uint8_t(B[5]) << 8);
      B.remove_prefix(6);
      if (!REC_GETTEXT(B, S)) {
        return false;
      }
      MEMNET_PUSH(IP, PORT, S);
      break;
    }
    case 'B':
      // A receive that counted but carried nothing: the in-memory transport
      // reports a datagram too long for the buffer the same way.
      MEMNET_PUSH("0.0.0.0", 0, std::string(size_t(MAXBUFFER) + 1, '\0'));
      break;
    default:
      return false;
    }
  }
  return true;
}

static void RP_PRINTPACKETS(uint64_t CYCLE) {
  static const char HEX[] = "0123456789abcdef";
  if (MEMNET_OUT.empty()) {
    return;
  }
  std::string OUT = "cycle " + std::to_string(CYCLE) + "\n";
  for (const MEMNET_DGRAM& P : MEMNET_OUT) {
    OUT += "-> " + P.IP + ":" + std::to_string(P.PORT) + " ";
    for (unsigned char C : P.DATA) {
      OUT += HEX[C >> 4];
      OUT += HEX[C & 15];
    }
    OUT += '\n';
  }
  std::fwrite(OUT.data(), 1, OUT.size(), stdout);
  std::fflush(stdout);
  MEMNET_OUT.clear();
}

static int RP_RUN(bool PACKETS) {
  std::ifstream F(RP_PATH, std::ios::binary);
  if (!F.is_open()) {
    return RP_FAIL("cannot be opened");
  }
  std::string HEAD;
  std::getline(F, HEAD);
  std::string MAGIC = std::string(REC_MAGIC) + " ";
  if (HEAD.compare(0, MAGIC.size(), MAGIC) != 0) {
    return RP_FAIL("not a recording of brastok_server -record");
  }
  if (HEAD != MAGIC + std::to_string(REC_VERSION)) {
    return RP_FAIL("a recording of format version " + HEAD.substr(MAGIC.size()) +
                   "; this replay reads version " + std::to_string(REC_VERSION) + " only");
  }
  REC_REPLAYING = true;
  MEMNET_RECORD = PACKETS;
  std::string BLOCK;
  int GOT = RP_NEXTBLOCK(F, BLOCK);
  RP_BLOCK START;
  if (GOT != 1) {
    return RP_FAIL("the recording ends before its start-up was written");
  }
  if (!RP_READBLOCK(BLOCK, START)) {
    return RP_FAIL("its start-up is damaged");
  }
  if (!GAMESTART(START.ARGS)) {
    return RP_EXIT_OK; // the recorded server did not start either
  }
  uint64_t CYCLE = 0;
  while ((GOT = RP_NEXTBLOCK(F, BLOCK)) == 1) {
    CYCLE++;
    RP_BLOCK C;
    if (!RP_READBLOCK(BLOCK, C)) {
      return RP_FAIL("cycle " + std::to_string(CYCLE) + " is damaged");
    }
    // In the order main() runs them: the cycle, then the console lines read
    // after it.
    GAMECYCLE();
    for (const std::string& L : C.LINES) {
      ADM_RUNCOMMAND(L);
    }
    if (!MEMNET_IN.empty()) {
      std::fprintf(stderr,
                   "brastok_replay: cycle %llu left datagrams unread: the replay "
                   "differs from the recorded server\n",
                   (unsigned long long)CYCLE);
      MEMNET_IN.clear();
    }
    if (PACKETS) {
      RP_PRINTPACKETS(CYCLE);
    }
  }
  if (GOT < 0) {
    std::fprintf(stderr,
                 "brastok_replay: %s: the recording is cut short (the server was stopped "
                 "inside a cycle); replayed up to cycle %llu, the last whole one\n",
                 RP_PATH.c_str(), (unsigned long long)CYCLE);
  }
  return RP_EXIT_OK;
}

int main(int argc, char** argv) {
  CLI::App APP{"Runs a server recorded with brastok_server -record FILE again and prints\n"
               "the console lines it printed.",
               "brastok_replay"};
  bool PACKETS = false;
  APP.add_option("FILE", RP_PATH, "the recording")->required();
  APP.add_flag("--packets", PACKETS,
               "also print, after each cycle that sent any, the line \"cycle N\" and one "
               "line \"-> IP:PORT HEX\" per datagram sent");
  CLI11_PARSE(APP, argc, argv);
  return RP_RUN(PACKETS);
}
