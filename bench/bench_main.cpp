// Benchmarks of the server's hot paths, over the in-memory transport.
#include <benchmark/benchmark.h>
#include <cstdio>
#include <fstream>
#include <unistd.h>

#include "admin/admin.hpp"
#include "alloc/countnew.hpp"
#include "clientproto.hpp"
#include "game/game.hpp"
#include "maps/maps.hpp"
#include "net/memnet.hpp"
#include "net/net.hpp"
#include "record/record.hpp"
#include "server/server.hpp"
#include "status/status.hpp"
#include "support/fullload.hpp"
#include "web/web.hpp"

// GAMECYCLE at full load: one human and 23 bots fighting free-for-all,
// warmed up for 1,000 ticks. Counters: heap allocations per tick, and the
// share of ticks with a new log line (kills, respawns, joins).
// Argument 2: the built-in map with the JSON log and the recorder on, each
// cycle recorded as main() records it (its clocks before, one write after).
static void BM_GameCycle(benchmark::State& STATE) {
  bool OPEN = STATE.range(0) == 1;
  bool FILES = STATE.range(0) == 2;
  std::string LOG = "/tmp/brastok_bench_" + std::to_string(getpid());
  // The files are opened after the start, whose reset would close them.
  FULLLOAD_START(OPEN, 1000);
  if (FILES) {
    std::string ERR;
    if (!REC_LOGOPEN(LOG + ".jsonl", ERR) || !REC_RECORDOPEN(LOG + ".rec", {}, ERR)) {
      STATE.SkipWithError(ERR.c_str());
      return;
    }
  }
  uint64_t ALLOCS = COUNTNEW_ALLOCS;
  uint16_t LOGI = SV_LOGI;
  uint64_t TICKS = 0;
  for (auto _ : STATE) {
    if (FILES) {
      SV_NOWMS += FPS_INT;
      SV_UTCMS += FPS_INT;
      REC_RECORDCLOCKS();
    }
    FULLLOAD_TICK();
    if (FILES) {
      REC_RECORDFLUSH();
    }
    TICKS++;
  }
  STATE.counters["allocs/tick"] = double(COUNTNEW_ALLOCS - ALLOCS) / double(TICKS);
  STATE.counters["lines/tick"] = double(uint16_t(SV_LOGI - LOGI)) / double(TICKS);
  STATE.SetLabel(OPEN    ? "open 64x64 map"
                 : FILES ? "built-in map, -log and -record"
                         : "built-in map");
  if (FILES) {
    REC_LOGCLOSE();
    REC_RECORDCLOSE();
    std::remove((LOG + ".jsonl").c_str());
    std::remove((LOG + ".rec").c_str());
  }
}
BENCHMARK(BM_GameCycle)->Arg(0)->Arg(1)->Arg(2);

// What "-http" adds to a cycle at full load on the built-in map: the
// snapshot published after each cycle.
static void BM_WebPublish(benchmark::State& STATE) {
  FULLLOAD_START(false, 1000);
  WEB_OPEN();
  for (auto _ : STATE) {
    WEB_CYCLEBEGIN();
    WEB_PUBLISH(FPS_INT);
  }
  WEB_CLOSE();
}
BENCHMARK(BM_WebPublish);

// The documents of that match: the status JSON (what /status.json and a
// new event stream get), the metrics text, and an event of the stream: what
// changed over the 8 cycles between two events.
static void BM_WebDocuments(benchmark::State& STATE) {
  FULLLOAD_START(false, 1000);
  static TSNAPSHOT S, LATER;
  STATUS_TAKE(S);
  for (int I = 0; I < 8; I++) {
    FULLLOAD_TICK();
  }
  STATUS_TAKE(LATER);
  WEB_LOOPSTATS L{};
  size_t BYTES = 0;
  std::string DELTA;
  for (auto _ : STATE) {
    switch (STATE.range(0)) {
    case 0:
      BYTES = WEB_STATUSJSON(S, false, false).size();
      break;
    case 1:
      BYTES = WEB_METRICS(S, L, WEB_HTTPSTATS{}).size();
      break;
    default:
      WEB_DELTAJSON(S, LATER, false, DELTA);
      BYTES = DELTA.size();
    }
  }
  STATE.counters["bytes"] = double(BYTES);
  const char* LABELS[] = {"status JSON", "metrics", "event: 8 cycles' changes"};
  STATE.SetLabel(LABELS[STATE.range(0)]);
}
BENCHMARK(BM_WebDocuments)->Arg(0)->Arg(1)->Arg(2);

// NET_INPUT of one datagram from a sender that is not banned (a disconnect
// from an address without a slot), with 1 or 50,000 bans in force: mostly
// single addresses, every tenth a range, as a ban file holds them.
static void BM_BanCheck(benchmark::State& STATE) {
  SV_RESETSTATE();
  MEMNET_RESET();
  MEMNET_RECORD = false;
  static std::vector<std::string> SINK;
  SC_CAPTURE = &SINK;
  SC_WARNCAPTURE = &SINK;
  GAMESTART({});
  std::string PATH = "/tmp/brastok_bench_bans_" + std::to_string(getpid());
  {
    std::ofstream F(PATH, std::ios::binary);
    for (int64_t K = 0; K < STATE.range(0); K++) {
      uint32_t A = 0x0A000000u + uint32_t(K) * 7u;
      F << (A >> 24) << "." << (A >> 16 & 255) << "." << (A >> 8 & 255) << "." << (A & 255)
        << (K % 10 == 9 ? "/24" : "") << " # bench\n";
    }
  }
  ADM_BANFILE(PATH);
  std::remove(PATH.c_str());
  MEMNET_REPLAY = {{"192.0.2.7", 4000, std::string(1, char(SVMPMSG_CDCON))}};
  for (auto _ : STATE) {
    NET_INPUT();
  }
  STATE.counters["bans"] = double(ADM_BANENTRIES);
  SINK.clear();
}
BENCHMARK(BM_BanCheck)->Arg(1)->Arg(50000);

// Puts 24 human clients into the slots, alive and spread over the map, some
// of them firing: the largest state packet.
static void BENCH_24HUMANS() {
  SV_RESETSTATE();
  MEMNET_RESET();
  MEMNET_RECORD = false;
  static std::vector<std::string> SINK;
  SC_CAPTURE = &SINK;
  GAMESTART({"-maxplayers", "24"});
  for (int I = 1; I <= MAXCLIENTS; I++) {
    MEMNET_PUSH("10.2.0." + std::to_string(I), uint16_t(6000 + I), CL_CONNECT("player", 0));
  }
  GAMECYCLE();
  for (int I = 1; I <= MAXCLIENTS; I++) {
    TCLIENT& C = SV_CLIENTSLIST[I];
    C.PLAY = true;
    C.HEARD = true;
    C.X = uint16_t(200 + 20 * I);
    C.Y = 300;
    C.T_GANIM = I % 2 == 0 ? 3 : 0;
  }
  SV_CURPLAYERS = MAXCLIENTS;
  SINK.clear();
}

// NET_OUTPUT with 24 human recipients.
static void BM_NetOutput24(benchmark::State& STATE) {
  BENCH_24HUMANS();
  for (auto _ : STATE) {
    NET_OUTPUT();
  }
  STATE.counters["bytes/packet"] = double(MEMNET_SENTBYTES) / double(MEMNET_SENTN);
}
BENCHMARK(BM_NetOutput24);

// NET_INPUT draining 48 data messages: two from each of 24 clients.
static void BM_NetInput48(benchmark::State& STATE) {
  BENCH_24HUMANS();
  for (int R = 0; R < 2; R++) {
    for (int I = 1; I <= MAXCLIENTS; I++) {
      const TCLIENT& C = SV_CLIENTSLIST[I];
      MEMNET_REPLAY.push_back(
          {C.IP, C.PORT, CL_DATA(SV_PINGVAR, 90, 0, uint16_t(C.X + 1), C.Y, SV_LOGI)});
    }
  }
  for (auto _ : STATE) {
    for (int I = 1; I <= MAXCLIENTS; I++) {
      SV_CLIENTSLIST[I].T_MMSGS = 35; // the budget refill of a running server
    }
    NET_INPUT();
  }
}
BENCHMARK(BM_NetInput48);

// The codec: a 405-byte state packet written, then read back.
static void BM_Codec(benchmark::State& STATE) {
  for (auto _ : STATE) {
    NET_CLEARBUFFER();
    NET_WRITEBYTE(CLMPMSG_SHAP);
    NET_WRITEWORD(1000);
    NET_WRITEWORD(0);
    NET_WRITEBYTE(24);
    for (int I = 1; I <= 24; I++) {
      NET_WRITEBYTE(uint8_t(I));
      NET_WRITEBYTE(PS_ATTA);
      NET_WRITEBYTE(3);
      NET_WRITEBYTE(7);
      NET_WRITEWORD(uint16_t(100 * I));
      NET_WRITEWORD(200);
      NET_WRITEWORD(90);
      NET_WRITEBYTE(4);
    }
    NET_WRITEBYTE(128);
    for (int I = 1; I <= 128; I++) {
      NET_WRITEBYTE(uint8_t(I));
    }
    NET_WRITESTRING("tail!");
    uint32_t SUM = 0;
    NET_BUFP = 1;
    for (int I = 0; I < 200; I++) {
      SUM += NET_READWORD();
    }
    SUM += uint32_t(NET_READSTRING().size());
    benchmark::DoNotOptimize(SUM);
  }
}
BENCHMARK(BM_Codec);

// SV_LOADCURMAP of a full 64-by-64 map: every cell a character, with the
// most item places and spawn points the tables take.
static void BM_LoadMap64(benchmark::State& STATE) {
  SV_RESETSTATE();
  DEFAULTMAPS();
  std::string T = "FULL64";
  for (int Y = 1; Y <= 64; Y++) {
    for (int X = 1; X <= 64; X++) {
      int K = (X * 31 + Y * 17) % 29;
      T += K == 0 ? '@' : K == 1 ? char('0' + X % 10) : K < 8 ? 'A' : K < 12 ? 'q' : '.';
    }
    T += Y < 64 ? "\r" : "";
  }
  MAPFROMSTR(1, T + '\0');
  for (auto _ : STATE) {
    SV_LOADCURMAP(1);
  }
  STATE.counters["items"] = SV_MAP.ITN;
  STATE.counters["spawns"] = SV_MAP.SPN;
}
BENCHMARK(BM_LoadMap64);

BENCHMARK_MAIN();
