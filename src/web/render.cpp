// The documents of the HTTP side, made from one snapshot: the status JSON
// (also the payload of every event of the stream) and the metrics text.
#include <nlohmann/json.hpp>

#include "web/web.hpp"

static const char* WEB_STATENAME(uint8_t ST) {
  switch (ST) {
  case PS_SPEC:
    return "spectator";
  case PS_DEAD:
    return "dead";
  case PS_LIVE:
    return "live";
  case PS_ATTA:
    return "attacking";
  default:
    return "none";
  }
}

std::string WEB_STATUSJSON(const TSNAPSHOT& S, bool WITHMAP) {
  // Filled key by key: a stream makes one of these per tick, and this way
  // costs half of building it from nested lists.
  using json = nlohmann::json;
  json J;
  J["name"] = STATUS_UTF8TEXT(S.NAME.VIEW());
  J["version"] = SV_VERSION;
  J["protocol"] = PVER;
  json& MAP = J["map"];
  MAP["name"] = STATUS_UTF8TEXT(S.MAPNAME.VIEW());
  MAP["entry"] = S.MAPNUM;
  MAP["loads"] = S.MAPLOADS;
  if (WITHMAP) {
    MAP["text"] = STATUS_UTF8TEXT(S.MAPTEXT.VIEW());
  }
  json& SET = J["settings"];
  SET["scorelimit"] = S.SCORELIMIT;
  SET["maxplayers"] = S.MAXPLAYERS;
  SET["teamplay"] = S.TEAMPLAY != 0;
  SET["bots"] = S.BOTCOUNT;
  SET["botteams"] = S.BOTTEAMS;
  J["tick"] = S.PINGVAR;
  J["scoreboard"] = S.SCOREBOARD;
  json& SLOTS = J["slots"] = json::array();
  for (int I = 0; I < S.NSLOTS; I++) {
    const TSNAPSLOT& C = S.SLOTS[I];
    // Addresses stay off a page anybody may read.
    json& O = SLOTS.emplace_back();
    O["slot"] = C.SLOT;
    O["name"] = STATUS_UTF8TEXT(C.NAME.VIEW());
    O["team"] = C.TEAM;
    O["state"] = WEB_STATENAME(C.STATE);
    O["score"] = C.SCORE;
    O["ping"] = C.PING;
    O["bot"] = C.BOT;
    O["x"] = C.X;
    O["y"] = C.Y;
    O["dir"] = C.DIR;
    O["health"] = C.HITS;
    O["armour"] = C.ARMOR;
    O["weapon"] = C.GUN >= 1 && C.GUN <= NUMGUNS ? GUNS_NAME[C.GUN] : "";
  }
  json& ITEMS = J["items"] = json::array();
  for (int I = 0; I < S.NITEMS; I++) {
    const TSNAPITEM& IT = S.ITEMS[I];
    json& O = ITEMS.emplace_back();
    O["x"] = IT.X;
    O["y"] = IT.Y;
    O["kind"] = std::string(1, IT.KIND);
    O["present"] = IT.PRESENT;
  }
  json& LOG = J["log"] = json::array();
  for (int I = 0; I < S.NLOG; I++) {
    LOG.push_back(STATUS_UTF8TEXT(S.LOG[I].TEXT.VIEW()));
  }
  return J.dump();
}

// ---- metrics ----

static void WEB_HEAD(std::string& O, const char* NAME, const char* TYPE, const char* HELP) {
  O += std::string("# HELP ") + NAME + " " + HELP + "\n# TYPE " + NAME + " " + TYPE + "\n";
}

static void WEB_SAMPLE(std::string& O, const std::string& NAME, uint64_t V) {
  O += NAME + " " + std::to_string(V) + "\n";
}

static void WEB_ONE(std::string& O, const char* NAME, const char* TYPE, const char* HELP,
                    uint64_t V) {
  WEB_HEAD(O, NAME, TYPE, HELP);
  WEB_SAMPLE(O, NAME, V);
}

std::string WEB_METRICS(const TSNAPSHOT& S, const WEB_LOOPSTATS& L) {
  const TCOUNTERS& C = S.STATS;
  std::string O;
  O.reserve(4096);
  WEB_HEAD(O, "brastok_slots", "gauge", "Client slots held, by holder.");
  WEB_SAMPLE(O, "brastok_slots{holder=\"player\"}", uint64_t(S.HUMANS - S.SPECTATORS));
  WEB_SAMPLE(O, "brastok_slots{holder=\"spectator\"}", S.SPECTATORS);
  WEB_SAMPLE(O, "brastok_slots{holder=\"bot\"}", S.BOTC);
  WEB_ONE(O, "brastok_ticks_total", "counter", "Game ticks played.", C.TICKS);

  WEB_HEAD(O, "brastok_cycle_duration_seconds", "histogram", "Duration of one game cycle.");
  uint64_t UPTO = 0;
  for (int B = 0; B <= WEB_NBUCKETS; B++) {
    UPTO += L.BUCKETS[B];
    char LE[32];
    if (B < WEB_NBUCKETS) {
      std::snprintf(LE, sizeof LE, "%g", WEB_BUCKETS[B]);
    } else {
      std::snprintf(LE, sizeof LE, "+Inf");
    }
    WEB_SAMPLE(O, std::string("brastok_cycle_duration_seconds_bucket{le=\"") + LE + "\"}", UPTO);
  }
  char SUM[64];
  std::snprintf(SUM, sizeof SUM, "%.9f", L.SECONDS);
  O += std::string("brastok_cycle_duration_seconds_sum ") + SUM + "\n";
  WEB_SAMPLE(O, "brastok_cycle_duration_seconds_count", L.CYCLES);

  WEB_ONE(O, "brastok_datagrams_received_total", "counter", "UDP datagrams received.", C.DGIN);
  WEB_ONE(O, "brastok_received_bytes_total", "counter", "Bytes of the UDP datagrams received.",
          C.BYTESIN);
  WEB_ONE(O, "brastok_datagrams_sent_total", "counter", "UDP datagrams sent.", C.DGOUT);
  WEB_ONE(O, "brastok_sent_bytes_total", "counter", "Bytes of the UDP datagrams sent.", C.BYTESOUT);
  WEB_HEAD(O, "brastok_datagrams_dropped_total", "counter",
           "UDP datagrams dropped before any handler acted on them, by reason.");
  const std::pair<const char*, uint64_t> DROPS[] = {
      {"empty", C.DROPEMPTY},    {"oversized", C.DROPOVERSIZED},     {"over_budget", C.DROPBUDGET},
      {"no_slot", C.DROPNOSLOT}, {"connect_limit", C.DROPCONNLIMIT}, {"banned", C.DROPBANNED}};
  for (const auto& [WHY, N] : DROPS) {
    WEB_SAMPLE(O, std::string("brastok_datagrams_dropped_total{reason=\"") + WHY + "\"}", N);
  }
  WEB_HEAD(O, "brastok_connects_total", "counter",
           "Connect messages from senders without a slot, by outcome.");
  const std::pair<const char*, uint64_t> CONNS[] = {{"accepted", C.CONNOK},
                                                    {"wrong_version", C.CONNWRONGVER},
                                                    {"server_full", C.CONNFULL},
                                                    {"connect_limit", C.DROPCONNLIMIT}};
  for (const auto& [HOW, N] : CONNS) {
    WEB_SAMPLE(O, std::string("brastok_connects_total{outcome=\"") + HOW + "\"}", N);
  }
  WEB_HEAD(O, "brastok_kills_total", "counter", "Kills, by the killer's weapon.");
  for (int G = 1; G <= NUMGUNS; G++) {
    WEB_SAMPLE(O, std::string("brastok_kills_total{weapon=\"") + GUNS_NAME[G] + "\"}", C.KILLS[G]);
  }
  WEB_ONE(O, "brastok_map_changes_total", "counter", "Maps loaded after the first.",
          S.MAPLOADS > 0 ? S.MAPLOADS - 1 : 0);
  WEB_ONE(O, "brastok_log_lines_total", "counter", "Event-log lines.", C.LOGLINES);
  WEB_ONE(O, "brastok_start_time_seconds", "gauge", "Start of the server, seconds since 1970.",
          uint64_t(L.STARTUNIX));
  WEB_HEAD(O, "brastok_build_info", "gauge", "The server's release and protocol version.");
  O += std::string("brastok_build_info{version=\"") + SV_VERSION + "\",protocol=\"" +
       std::to_string(PVER) + "\"} 1\n";
  return O;
}
