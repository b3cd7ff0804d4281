// The replay: the recording's blocks read one by one, each turned into what
// the server read in that start-up or cycle (clocks, datagrams queued on the
// in-memory transport, file texts, console lines), and then the start-up or
// the cycle run. The file is not trusted: every length is held to what is
// left of the file or of its block, every sum is checked, and what the file
// says is escaped before it reaches a terminal.
#include "replay.hpp"

#include <cstdio>
#include <fstream>
#include <string_view>

#include "admin/admin.hpp"
#include "net/memnet.hpp"
#include "net/net.hpp"
#include "query/query.hpp"
#include "record/record.hpp"
#include "server/server.hpp"

std::vector<std::string>* RP_CAPTURE = nullptr;

static void RP_SAY(const std::string& LINE) {
  if (RP_CAPTURE != nullptr) {
    RP_CAPTURE->push_back(LINE);
    return;
  }
  std::fprintf(stderr, "brastok_replay: %s\n", LINE.c_str());
}

// The next block of the recording, LEFT bytes of the file being left: 1
// read, 0 the file ended between blocks, -1 it ends inside one (a length
// past what is left: cut short or damaged).
static int RP_NEXTBLOCK(std::istream& F, uint64_t& LEFT, std::string& BLOCK) {
  if (LEFT == 0) {
    return 0;
  }
  std::string HEAD;
  while (HEAD.size() < REC_MAXVARINT && LEFT > 0) {
    int C = F.get();
    if (C == EOF) {
      return -1;
    }
    LEFT--;
    HEAD += char(C);
    if ((C & 0x80) == 0) {
      break;
    }
  }
  std::string_view H = HEAD;
  uint64_t N;
  if (!REC_GETVARINT(H, N) || N > LEFT) {
    return -1;
  }
  BLOCK.resize(size_t(N));
  F.read(BLOCK.data(), std::streamsize(N));
  if (uint64_t(F.gcount()) != N) {
    return -1;
  }
  LEFT -= N;
  return 1;
}

// A command line of the block: the console's, or the admin API's with who
// sent it from where.
struct TRPLINE {
  bool API;
  std::string ADMIN, ADDRESS, LINE;
};

// What a block tells beside the state it sets: the command line and the
// socket's start in the start-up block, the command lines in a cycle's.
struct TRPBLOCK {
  std::vector<std::string> ARGS;
  std::vector<TRPLINE> LINES;
};

// One block, entry by entry, into the state the replay needs before it runs
// the start-up or the cycle; false when the block is damaged.
static bool RP_READBLOCK(std::string_view B, TRPBLOCK& R) {
  int RECEIVES = 0; // a cycle reads at most NET_MAXINPERCYCLE results
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
    case 'N': {
      if (B.size() < 3) {
        return false;
      }
      uint8_t CODE = uint8_t(B[0]);
      const TRECSTART* FAILED = nullptr;
      for (const TRECSTART& S : REC_STARTS) {
        FAILED = S.CODE == CODE ? &S : FAILED;
      }
      if (CODE != REC_STARTED && FAILED == nullptr) {
        return false;
      }
      MEMNET_BINDFAILS = CODE != REC_STARTED;
      if (FAILED != nullptr) {
        MEMNET_FAILLINE = FAILED->LINE;
      }
      MEMNET_BOUNDPORT = uint16_t(uint8_t(B[1]) | uint8_t(B[2]) << 8);
      B.remove_prefix(3);
      break;
    }
    case 'T':
      // The clocks are sums of what the file says: a sum past what they
      // hold is damage, not a clock.
      if (!REC_GETSIGNED(B, D) || __builtin_add_overflow(SV_NOWMS, D, &SV_NOWMS)) {
        return false;
      }
      if (!REC_GETSIGNED(B, D) || __builtin_add_overflow(SV_UTCMS, D, &SV_UTCMS)) {
        return false;
      }
      break;
    case 'L':
      if (!REC_GETTEXT(B, S)) {
        return false;
      }
      R.LINES.push_back({false, {}, {}, S});
      break;
    case 'P': {
      TRPLINE L{true, {}, {}, {}};
      if (!REC_GETTEXT(B, L.ADMIN) || !REC_GETTEXT(B, L.ADDRESS) || !REC_GETTEXT(B, L.LINE)) {
        return false;
      }
      R.LINES.push_back(std::move(L));
      break;
    }
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
      if (B.size() < 6 || ++RECEIVES > NET_MAXINPERCYCLE) {
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
      // A receive that counted but carried nothing: one that fails in its
      // place in the queue.
      if (++RECEIVES > NET_MAXINPERCYCLE) {
        return false;
      }
      MEMNET_IN.push_back({"0.0.0.0", 0, {}, true});
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

int RP_REPLAY(std::istream& F, uint64_t SIZE, const std::string& NAME, bool PACKETS) {
  auto FAIL = [&](const std::string& WHY) {
    RP_SAY(NAME + ": " + WHY);
    return RP_EXIT_FILE;
  };
  // The format line, read no further than it can reach.
  const std::string MAGIC = std::string(REC_MAGIC) + " ";
  std::string HEAD;
  for (int C; HEAD.size() < 64 && (C = F.get()) != EOF && C != '\n';) {
    HEAD += char(C);
  }
  if (HEAD.size() + 1 > SIZE || HEAD.compare(0, MAGIC.size(), MAGIC) != 0) {
    return FAIL("not a recording of brastok_server -record");
  }
  if (HEAD != MAGIC + std::to_string(REC_VERSION)) {
    return FAIL("a recording of format version " + SC_PRINTABLE(HEAD.substr(MAGIC.size())) +
                "; this replay reads version " + std::to_string(REC_VERSION) + " only");
  }
  uint64_t LEFT = SIZE - HEAD.size() - 1;
  SV_RESETSTATE();
  MEMNET_RESET();
  QRY_SEED = 0;
  REC_REPLAYING = true;
  MEMNET_RECORD = PACKETS;
  std::string BLOCK;
  TRPBLOCK START;
  if (RP_NEXTBLOCK(F, LEFT, BLOCK) != 1) {
    return FAIL("the recording ends before its start-up was written");
  }
  if (!RP_READBLOCK(BLOCK, START)) {
    return FAIL("its start-up is damaged");
  }
  if (!GAMESTART(START.ARGS)) {
    return RP_EXIT_OK; // the recorded server did not start either
  }
  uint64_t CYCLE = 0;
  int GOT;
  while ((GOT = RP_NEXTBLOCK(F, LEFT, BLOCK)) == 1) {
    CYCLE++;
    TRPBLOCK C;
    if (!RP_READBLOCK(BLOCK, C)) {
      return FAIL("cycle " + std::to_string(CYCLE) + " is damaged");
    }
    // In the order main() runs them: the cycle, then the console lines read
    // after it and the admin API's commands (whose answers went to the
    // admin, not to the console).
    GAMECYCLE();
    for (const TRPLINE& L : C.LINES) {
      if (L.API) {
        std::vector<std::string> ANSWER;
        ADM_RUNAPI(L.ADMIN, L.ADDRESS, L.LINE, ANSWER);
      } else {
        ADM_RUNCOMMAND(L.LINE);
      }
    }
    if (!MEMNET_IN.empty()) {
      RP_SAY("cycle " + std::to_string(CYCLE) +
             " left datagrams unread: the replay differs from the recorded server");
      MEMNET_IN.clear();
    }
    if (PACKETS) {
      RP_PRINTPACKETS(CYCLE);
    }
  }
  if (GOT < 0) {
    // The recorder cuts a failed write back and stops between blocks, so a
    // block running past the end is damage, or a server killed inside its
    // write: what came before it was replayed all the same.
    return FAIL("the recording is cut short or damaged: cycle " + std::to_string(CYCLE + 1) +
                " runs past the end of the file; replayed up to cycle " + std::to_string(CYCLE) +
                ", the last whole one");
  }
  return RP_EXIT_OK;
}

int RP_REPLAYFILE(const std::string& PATH, bool PACKETS) {
  std::ifstream F(PATH, std::ios::binary);
  std::streamoff SIZE = -1;
  if (F.is_open() && F.seekg(0, std::ios::end)) {
    SIZE = F.tellg();
    F.seekg(0);
  }
  if (SIZE < 0 || !F) {
    RP_SAY(PATH + ": cannot be opened");
    return RP_EXIT_FILE;
  }
  return RP_REPLAY(F, uint64_t(SIZE), PATH, PACKETS);
}
