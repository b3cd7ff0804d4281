#include "harness.hpp"

#include <charconv>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "admin/admin.hpp"
#include "clientproto.hpp"
#include "maps/maps.hpp"
#include "net/memnet.hpp"
#include "replay.hpp"
#include "server/server.hpp"
#include "support/fullload.hpp"

static std::vector<std::string> FUZZ_LINES;

[[noreturn]] static void FUZZ_FAIL(const std::string& WHAT) {
  std::fprintf(stderr, "invariant broken: %s\n", WHAT.c_str());
  std::abort();
}

std::string FUZZ_SLOTFAULT() {
  int CLIENTS = 0, PLAYERS = 0, BOTS = 0;
  for (int I = 1; I <= MAXCLIENTS; I++) {
    const TCLIENT& C = SV_CLIENTSLIST[I];
    if (!C.EXIST) {
      continue;
    }
    CLIENTS++;
    PLAYERS += C.PLAY ? 1 : 0;
    BOTS += C.BOT ? 1 : 0;
    if (uint16_t(SV_LOGI - C.LOGI) >= 0x8000) {
      return "slot " + std::to_string(I) + " holds log lines the server has not logged";
    }
    bool LIVE = C.PLAY && C.HITS > 0;
    bool INSIDE = C.X / MAPGRIDSIZE >= 1 && C.X / MAPGRIDSIZE <= MAXMAPGRIDI &&
                  C.Y / MAPGRIDSIZE >= 1 && C.Y / MAPGRIDSIZE <= MAXMAPGRIDI;
    if (LIVE && SV_MAP.SPN > 0 && !INSIDE) {
      return "live player in slot " + std::to_string(I) + " outside the grid at " +
             std::to_string(C.X) + "," + std::to_string(C.Y);
    }
  }
  if (CLIENTS != SV_CURCLIENTS || PLAYERS != SV_CURPLAYERS || BOTS != SV_BOTC) {
    return "counters " + std::to_string(SV_CURCLIENTS) + "/" + std::to_string(SV_CURPLAYERS) + "/" +
           std::to_string(SV_BOTC) + " for slots " + std::to_string(CLIENTS) + "/" +
           std::to_string(PLAYERS) + "/" + std::to_string(BOTS);
  }
  return {};
}

void FUZZ_CHECKSLOTS() {
  std::string FAULT = FUZZ_SLOTFAULT();
  if (!FAULT.empty()) {
    FUZZ_FAIL(FAULT);
  }
}

static void FUZZ_CYCLE() {
  GAMECYCLE();
  FUZZ_CHECKSLOTS();
  FUZZ_LINES.clear();
}

static void FUZZ_BEGIN() {
  FUZZ_LINES.clear(); // the console of the last input
  SV_RESETSTATE();
  MEMNET_RESET();
  MEMNET_RECORD = false;
  SC_CAPTURE = &FUZZ_LINES;
  SC_WARNCAPTURE = &FUZZ_LINES;
}

// Map files are written and read in a scratch folder of the process, made
// once and removed when the process ends. The harness works there and goes
// back to the folder it came from when it ends (the fuzzer writes its corpus
// relative to that).
struct TINSCRATCH {
  std::filesystem::path BACK = std::filesystem::current_path();
  TINSCRATCH();
  ~TINSCRATCH() { std::filesystem::current_path(BACK); }
};

TINSCRATCH::TINSCRATCH() {
  namespace fs = std::filesystem;
  struct TSCRATCH {
    fs::path PATH;
    TSCRATCH() {
      char T[] = "/tmp/brastok-fuzz-XXXXXX";
      if (mkdtemp(T) == nullptr) {
        FUZZ_FAIL("no scratch folder");
      }
      PATH = T;
      fs::create_directories(PATH / "maps");
    }
    ~TSCRATCH() {
      std::error_code EC;
      fs::remove_all(PATH, EC);
    }
  };
  static TSCRATCH SCRATCH;
  fs::current_path(SCRATCH.PATH);
}

void FUZZ_DATAGRAMS(const uint8_t* DATA, size_t SIZE) {
  FUZZ_BEGIN();
  size_t P = 0;
  uint8_t SETUP = SIZE > 0 ? DATA[P++] : 0;
  GAMESTART({"-bots", std::to_string(SETUP >> 4), "-teams", std::to_string(SETUP & 1),
             "-maxplayers", std::to_string(2 + ((SETUP >> 1) & 7)), "-score", "3"});
  if (SETUP & 0x8) {
    MAPFROMSTR(1, OPENMAP_TEXT() + '\0');
    SV_LOADCURMAP(1);
  }
  // Each datagram: a head byte (sender in the low 3 bits, cycles to run after
  // it in the high 5), a length byte (255: a datagram too long to take),
  // then the bytes.
  while (P + 1 < SIZE) {
    uint8_t HEAD = DATA[P++];
    uint8_t LEN = DATA[P++];
    std::string IP = "10.0.0." + std::to_string(1 + ((HEAD >> 1) & 3));
    uint16_t PORT = uint16_t(1000 + (HEAD & 1));
    if (LEN == 255) {
      MEMNET_PUSH(IP, PORT, std::string(size_t(MAXBUFFER + 1), char(DATA[P - 1])));
    } else {
      size_t N = std::min<size_t>(LEN, SIZE - P);
      MEMNET_PUSH(IP, PORT, std::string(reinterpret_cast<const char*>(DATA + P), N));
      P += N;
    }
    for (int K = 0; K < (HEAD >> 3); K++) {
      FUZZ_CYCLE();
    }
  }
  for (int K = 0; K < 40; K++) {
    FUZZ_CYCLE();
  }
}

void FUZZ_MAPFILE(const uint8_t* DATA, size_t SIZE) {
  TINSCRATCH HERE;
  std::ofstream("maps/fuzz.brsk", std::ios::binary | std::ios::trunc)
      .write(reinterpret_cast<const char*>(DATA), std::streamsize(SIZE));
  FUZZ_BEGIN();
  MEMNET_RECORD = true;
  GAMESTART({"-map", "fuzz", "-bots", "6", "-maxplayers", "8", "-score", "2"});
  const std::string IP = "10.0.0.1";
  MEMNET_PUSH(IP, 1000, CL_CONNECT("fuzzer", 1));
  FUZZ_CYCLE();
  for (int T = 0; T < 300; T++) {
    // A client that joins, walks, fires and now and then asks for the map.
    uint8_t ACT = T == 1 ? PLACT_SJ : T % 40 == 0 ? PLACT_MI : PLACT_AR;
    const TCLIENT& C = SV_CLIENTSLIST[1];
    MEMNET_PUSH(
        IP, 1000,
        CL_DATA(SV_PINGVAR, uint16_t(T * 7), ACT, uint16_t(C.X + 5), uint16_t(C.Y + 3), SV_LOGI));
    FUZZ_CYCLE();
    for (const MEMNET_DGRAM& D : MEMNET_OUT) {
      if (!D.DATA.empty() && uint8_t(D.DATA[0]) == CLMPMSG_MAP && D.DATA.size() < MAXBUFFER) {
        CL_MAPINFO M;
        if (!CL_PARSEMAP(D.DATA, M)) {
          FUZZ_FAIL("map-information packet does not parse");
        }
      }
    }
    MEMNET_OUT.clear();
  }
}

// An independent reading of an unsigned number, to check the server's own.
static bool FUZZ_REFNUMBER(const std::string& S, uint32_t& V) {
  if (S.size() > 255) {
    return false;
  }
  size_t P = S.find_first_not_of(" \t");
  if (P == std::string::npos) {
    return false;
  }
  if (S[P] == '+') {
    P++;
  }
  int BASE = 10;
  std::string REST = S.substr(P);
  for (const auto& [PREFIX, B] : std::vector<std::pair<std::string, int>>{
           {"0x", 16}, {"0X", 16}, {"$", 16}, {"x", 16}, {"X", 16}, {"%", 2}, {"&", 8}}) {
    if (REST.rfind(PREFIX, 0) == 0) {
      BASE = B;
      REST = REST.substr(PREFIX.size());
      break;
    }
  }
  if (REST.empty() || REST[0] == '+' || REST[0] == '-') {
    return false;
  }
  uint64_t R = 0;
  auto [END, EC] = std::from_chars(REST.data(), REST.data() + REST.size(), R, BASE);
  if (EC != std::errc() || END != REST.data() + REST.size() || R > 0xFFFFFFFFu) {
    return false;
  }
  V = uint32_t(R);
  return true;
}

void FUZZ_CMDLINE(const uint8_t* DATA, size_t SIZE) {
  TINSCRATCH HERE;
  FUZZ_BEGIN();
  std::vector<std::string> ARGS(1);
  for (size_t I = 0; I < SIZE && ARGS.size() <= 64; I++) {
    if (DATA[I] == 0) {
      ARGS.emplace_back();
    } else {
      ARGS.back() += char(DATA[I]);
    }
  }
  // The edge's files are not this harness's: -log and -record would write
  // wherever the input says.
  for (size_t P = 0; P < ARGS.size(); P += 2) {
    if (ARGS[P] == "-log" || ARGS[P] == "-record") {
      ARGS[P] = "-x";
    }
  }
  for (const std::string& A : ARGS) {
    uint32_t V = 0, W = 0;
    bool OK = SV_READNUMBER(A, V);
    bool REFOK = FUZZ_REFNUMBER(A, W);
    if (OK != REFOK || (OK && V != W) || (!OK && V != 0)) {
      FUZZ_FAIL("number \"" + A + "\" read as " + std::to_string(V) + " (" + std::to_string(OK) +
                "), expected " + std::to_string(W) + " (" + std::to_string(REFOK) + ")");
    }
    if (S2W(A) != uint16_t(V) || S2B(A) != uint8_t(V)) {
      FUZZ_FAIL("S2W/S2B disagree with the value of \"" + A + "\"");
    }
  }
  DEFAULTMAPS();
  SV_STARTPARAMS(ARGS);
  if (SV_MAXPLAYERS < 2 || SV_MAXPLAYERS > 24 || SV_BOTCOUNT > 24 || SV_SCORELIMIT < 1 ||
      SV_BOTTEAMS < 1 || SV_BOTTEAMS > 4) {
    FUZZ_FAIL("a setting outside its bounds");
  }
  if (SV_MAPL[1].NAME == "-") {
    FUZZ_FAIL("no map in entry 1");
  }
}

void FUZZ_RECORDING(const uint8_t* DATA, size_t SIZE) {
  FUZZ_BEGIN();
  static std::vector<std::string> SAID;
  SAID.clear();
  RP_CAPTURE = &SAID;
  std::istringstream IN(std::string(reinterpret_cast<const char*>(DATA), SIZE));
  RP_REPLAY(IN, SIZE, "fuzz.rec", false);
  RP_CAPTURE = nullptr;
  FUZZ_CHECKSLOTS();
  FUZZ_LINES.clear();
}

static std::string FUZZ_DOTTED(uint32_t A) {
  return std::to_string(A >> 24) + "." + std::to_string(A >> 16 & 255) + "." +
         std::to_string(A >> 8 & 255) + "." + std::to_string(A & 255);
}

// The lines of the list as the file holds them, a line's carriage returns
// at its end aside (the reading takes one of them off).
static std::vector<std::string> FUZZ_BANRAWS() {
  std::vector<std::string> R;
  for (const TBAN& B : ADM_BANLINES) {
    std::string L = B.RAW;
    while (!L.empty() && L.back() == '\r') {
      L.pop_back();
    }
    R.push_back(L);
  }
  return R;
}

void FUZZ_BANFILE(const uint8_t* DATA, size_t SIZE) {
  TINSCRATCH HERE;
  std::ofstream("bans.txt", std::ios::binary | std::ios::trunc)
      .write(reinterpret_cast<const char*>(DATA), std::streamsize(SIZE));
  FUZZ_BEGIN();
  SV_NOWMS = 1000000;
  SV_UTCMS = 1796644800000; // 2026-12-07T12:00:00Z
  GAMESTART({"-banfile", "bans.txt"});
  // Every entry's first and last address and its neighbours: the index
  // answers as a scan of the list does.
  std::vector<uint32_t> ASK = {0, 0xFFFFFFFFu, 0x0A000001u};
  for (const TBAN& B : ADM_BANLINES) {
    uint32_t LAST = B.NET | (B.BITS == 0 ? ~0u : ~(~0u << (32 - B.BITS)));
    for (uint32_t A : {B.NET, LAST, B.NET - 1, LAST + 1}) {
      ASK.push_back(A);
    }
  }
  for (uint32_t A : ASK) {
    bool SCAN = false;
    for (const TBAN& B : ADM_BANLINES) {
      uint32_t MASK = B.BITS == 0 ? 0u : ~0u << (32 - B.BITS);
      SCAN = SCAN || (B.ENTRY && (A & MASK) == B.NET && !(B.TIMED && SV_NOWMS >= B.UNTILMS));
    }
    if (ADM_BANNED(FUZZ_DOTTED(A)) != SCAN) {
      FUZZ_FAIL("ban lookup of " + FUZZ_DOTTED(A) + " differs from the scan");
    }
  }
  // A change rewrites the file; read again, it is the same list.
  ADM_RUNCOMMAND("ban 10.9.8.7 5");
  for (const TBAN& B : ADM_BANLINES) {
    if (B.ENTRY) {
      ADM_RUNCOMMAND("unban " + FUZZ_DOTTED(B.NET) + "/" + std::to_string(B.BITS));
      break;
    }
  }
  ADM_RUNCOMMAND("bans");
  std::vector<std::string> BEFORE = FUZZ_BANRAWS();
  int ENTRIES = ADM_BANENTRIES;
  SV_RESETSTATE();
  SV_NOWMS = 1000000;
  SV_UTCMS = 1796644800000;
  FUZZ_LINES.clear();
  ADM_BANFILE("bans.txt");
  if (FUZZ_BANRAWS() != BEFORE || ADM_BANENTRIES != ENTRIES) {
    FUZZ_FAIL("the rewritten ban file reads back as another list");
  }
  FUZZ_LINES.clear();
}

void FUZZ_CONSOLE(const uint8_t* DATA, size_t SIZE) {
  TINSCRATCH HERE;
  FUZZ_BEGIN();
  GAMESTART({"-bots", "3", "-maxplayers", "4", "-score", "3"});
  MEMNET_PUSH("10.0.0.1", 1000, CL_CONNECT("one", 0));
  MEMNET_PUSH("10.0.0.2", 1000, CL_CONNECT("two", 1));
  FUZZ_CYCLE();
  // The input comes in pieces of up to 64 bytes, a cycle after each, as
  // reads of standard input would bring it.
  for (size_t P = 0; P < SIZE && !SV_QUITASKED; P += 64) {
    ADM_TAKEINPUT(reinterpret_cast<const char*>(DATA) + P, std::min<size_t>(64, SIZE - P));
    FUZZ_CYCLE();
    if (SV_MAXPLAYERS < 2 || SV_MAXPLAYERS > MAXCLIENTS || SV_BOTCOUNT > MAXCLIENTS ||
        SV_SCORELIMIT < 1) {
      FUZZ_FAIL("a command left a setting outside its bounds");
    }
  }
  for (int K = 0; K < 20; K++) {
    FUZZ_CYCLE();
  }
}
