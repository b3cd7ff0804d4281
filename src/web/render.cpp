// The documents of the HTTP side, made from snapshots: the status JSON, what
// changed between two snapshots (the events of the stream), and the metrics
// text.
#include <algorithm>
#include <nlohmann/json.hpp>

#include "hosting/hosting.hpp"
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

bool WEB_PUBLIC;

// Which of a slot's fields a document shows: all of them on loopback; on a
// public address only what the state packet tells every client of the
// others (their health, armour and ammunition go to themselves alone, the
// weapon only while it fires).
enum { WEB_ALWAYS, WEB_FROMDEAD, WEB_FROMLIVE, WEB_FIRING, WEB_OWNONLY };
static bool WEB_SHOWN(int WHEN, uint8_t STATE, bool PUBLIC) {
  switch (WHEN) {
  case WEB_ALWAYS:
    return true;
  case WEB_FROMDEAD:
    return !PUBLIC || STATE >= PS_DEAD;
  case WEB_FROMLIVE:
    return !PUBLIC || STATE >= PS_LIVE;
  case WEB_FIRING:
    return !PUBLIC || STATE == PS_ATTA;
  default:
    return !PUBLIC;
  }
}

// The fields of slot C into O: every field shown (P null), or those that
// differ from the same slot's earlier picture P, where a field no longer
// shown becomes null. The one list of what a slot shows, for the status and
// its changes alike. With MOVES, a position and facing shown before and
// after go there instead, as four numbers: slot, x, y, facing.
static void WEB_SLOTFIELDS(nlohmann::json& O, const TSNAPSLOT& C, const TSNAPSLOT* P, bool PUBLIC,
                           nlohmann::json* MOVES = nullptr) {
  auto PUT = [&](const char* KEY, int WHEN, auto SAME, auto VALUE) {
    bool SHOWN = WEB_SHOWN(WHEN, C.STATE, PUBLIC);
    bool WAS = P != nullptr && WEB_SHOWN(WHEN, P->STATE, PUBLIC);
    if (SHOWN && !(WAS && SAME(*P))) {
      O[KEY] = VALUE();
    } else if (!SHOWN && WAS) {
      O[KEY] = nullptr;
    }
  };
  // Addresses stay off a page anybody may read.
  PUT(
      "name", WEB_ALWAYS, [&](const TSNAPSLOT& X) { return X.NAME.VIEW() == C.NAME.VIEW(); },
      [&] { return STATUS_UTF8TEXT(C.NAME.VIEW()); });
  PUT(
      "team", WEB_ALWAYS, [&](const TSNAPSLOT& X) { return X.TEAM == C.TEAM; },
      [&] { return C.TEAM; });
  PUT(
      "state", WEB_ALWAYS, [&](const TSNAPSLOT& X) { return X.STATE == C.STATE; },
      [&] { return WEB_STATENAME(C.STATE); });
  PUT(
      "score", WEB_FROMDEAD, [&](const TSNAPSLOT& X) { return X.SCORE == C.SCORE; },
      [&] { return C.SCORE; });
  PUT(
      "ping", WEB_ALWAYS, [&](const TSNAPSLOT& X) { return X.PING == C.PING; },
      [&] { return C.PING; });
  PUT(
      "bot", WEB_ALWAYS, [&](const TSNAPSLOT& X) { return X.BOT == C.BOT; }, [&] { return C.BOT; });
  if (MOVES != nullptr && P != nullptr && WEB_SHOWN(WEB_FROMLIVE, C.STATE, PUBLIC) &&
      WEB_SHOWN(WEB_FROMLIVE, P->STATE, PUBLIC)) {
    // Most of what changes while a match runs, so kept cheap: no objects.
    if (P->X != C.X || P->Y != C.Y || P->DIR != C.DIR) {
      for (uint16_t V : {uint16_t(C.SLOT), C.X, C.Y, C.DIR}) {
        MOVES->push_back(V);
      }
    }
  } else {
    PUT(
        "x", WEB_FROMLIVE, [&](const TSNAPSLOT& X) { return X.X == C.X; }, [&] { return C.X; });
    PUT(
        "y", WEB_FROMLIVE, [&](const TSNAPSLOT& X) { return X.Y == C.Y; }, [&] { return C.Y; });
    PUT(
        "dir", WEB_FROMLIVE, [&](const TSNAPSLOT& X) { return X.DIR == C.DIR; },
        [&] { return C.DIR; });
  }
  PUT(
      "health", WEB_OWNONLY, [&](const TSNAPSLOT& X) { return X.HITS == C.HITS; },
      [&] { return C.HITS; });
  PUT(
      "armour", WEB_OWNONLY, [&](const TSNAPSLOT& X) { return X.ARMOR == C.ARMOR; },
      [&] { return C.ARMOR; });
  PUT(
      "weapon", WEB_FIRING, [&](const TSNAPSLOT& X) { return X.GUN == C.GUN; },
      [&] { return C.GUN >= 1 && C.GUN <= NUMGUNS ? GUNS_NAME[C.GUN] : ""; });
  // A slot that did not change stays null, so costs nothing; any change
  // (a weapon drawn while standing still included) names its slot.
  if (P == nullptr || !O.is_null()) {
    O["slot"] = C.SLOT;
  }
}

static nlohmann::json WEB_SETTINGS(const TSNAPSHOT& S) {
  nlohmann::json SET;
  SET["scorelimit"] = S.SCORELIMIT;
  SET["maxplayers"] = S.MAXPLAYERS;
  SET["teamplay"] = S.TEAMPLAY != 0;
  SET["bots"] = S.BOTCOUNT;
  SET["botteams"] = S.BOTTEAMS;
  return SET;
}

std::string WEB_STATUSJSON(const TSNAPSHOT& S, bool WITHMAP, bool PUBLIC, bool FORADMIN) {
  // Filled key by key: this way costs half of building it from nested lists.
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
  J["settings"] = WEB_SETTINGS(S);
  J["tick"] = S.PINGVAR;
  J["scoreboard"] = S.SCOREBOARD;
  json& SLOTS = J["slots"] = json::array();
  for (int I = 0; I < S.NSLOTS; I++) {
    const TSNAPSLOT& C = S.SLOTS[I];
    json& O = SLOTS.emplace_back();
    WEB_SLOTFIELDS(O, C, nullptr, PUBLIC);
    if (FORADMIN && !C.BOT) {
      O["address"] = std::string(C.IP.VIEW()) + ":" + std::to_string(C.PORT);
    }
  }
  if (FORADMIN) {
    json& MAPS = J["maps"] = json::array();
    for (int I = 0; I < MAXMAPLIST; I++) {
      if (S.MAPLIST[I].VIEW() != "-") {
        MAPS.push_back({{"entry", I + 1}, {"name", STATUS_UTF8TEXT(S.MAPLIST[I].VIEW())}});
      }
    }
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

static bool WEB_SAMESETTINGS(const TSNAPSHOT& A, const TSNAPSHOT& B) {
  return A.SCORELIMIT == B.SCORELIMIT && A.MAXPLAYERS == B.MAXPLAYERS && A.TEAMPLAY == B.TEAMPLAY &&
         A.BOTCOUNT == B.BOTCOUNT && A.BOTTEAMS == B.BOTTEAMS;
}

bool WEB_DELTAJSON(const TSNAPSHOT& A, const TSNAPSHOT& B, bool PUBLIC, std::string& OUT) {
  using json = nlohmann::json;
  OUT.clear();
  // A map load changes the map text and every item: the whole status then.
  if (A.MAPLOADS != B.MAPLOADS || A.MAPNUM != B.MAPNUM || A.MAPNAME.VIEW() != B.MAPNAME.VIEW() ||
      A.NITEMS != B.NITEMS) {
    return false;
  }
  // The ring only ever grows to its size and then turns: lines added since A
  // are its last ones. Anything else (the ring emptied) cannot be told so.
  uint64_t ADDED = B.LOGSEQ - A.LOGSEQ;
  if (ADDED > uint64_t(STATUS_LOGLINES) ||
      std::min<uint64_t>(A.NLOG + ADDED, STATUS_LOGLINES) != B.NLOG) {
    return false;
  }
  json D = json::object();
  if (A.NAME.VIEW() != B.NAME.VIEW()) {
    D["name"] = STATUS_UTF8TEXT(B.NAME.VIEW());
  }
  if (!WEB_SAMESETTINGS(A, B)) {
    D["settings"] = WEB_SETTINGS(B);
  }
  if (A.PINGVAR != B.PINGVAR) {
    D["tick"] = B.PINGVAR;
  }
  if (A.SCOREBOARD != B.SCOREBOARD) {
    D["scoreboard"] = B.SCOREBOARD;
  }
  json MOVES = json::array();
  MOVES.get_ref<json::array_t&>().reserve(4 * size_t(B.NSLOTS));
  // Both slot lists ascend: walk them side by side.
  int I = 0, K = 0;
  while (I < A.NSLOTS || K < B.NSLOTS) {
    if (K == B.NSLOTS || (I < A.NSLOTS && A.SLOTS[I].SLOT < B.SLOTS[K].SLOT)) {
      D["gone"].push_back(A.SLOTS[I++].SLOT);
      continue;
    }
    const TSNAPSLOT* P = nullptr;
    if (I < A.NSLOTS && A.SLOTS[I].SLOT == B.SLOTS[K].SLOT) {
      P = &A.SLOTS[I++];
    }
    json O;
    WEB_SLOTFIELDS(O, B.SLOTS[K++], P, PUBLIC, &MOVES);
    if (!O.is_null()) {
      D["slots"].push_back(std::move(O));
    }
  }
  if (!MOVES.empty()) {
    D["moves"] = std::move(MOVES);
  }
  for (int N = 0; N < B.NITEMS; N++) {
    if (A.ITEMS[N].PRESENT != B.ITEMS[N].PRESENT) {
      D["items"].push_back(json::array({N, B.ITEMS[N].PRESENT}));
    }
  }
  for (int N = B.NLOG - int(ADDED); N < B.NLOG; N++) {
    D["log"].push_back(STATUS_UTF8TEXT(B.LOG[N].TEXT.VIEW()));
  }
  if (!D.empty()) {
    OUT = D.dump();
  }
  return true;
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

std::string WEB_METRICS(const TSNAPSHOT& S, const WEB_LOOPSTATS& L, const WEB_HTTPSTATS& H) {
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
  WEB_ONE(O, "brastok_http_connections", "gauge", "HTTP connections open.", H.OPEN);
  WEB_ONE(O, "brastok_http_event_streams", "gauge", "Event streams open.", H.STREAMS);
  WEB_ONE(O, "brastok_http_play_sessions", "gauge", "Browser game sessions (/play/ws) open.",
          H.PLAYS);
  WEB_HEAD(O, "brastok_http_closed_total", "counter",
           "HTTP connections closed by the server, by reason.");
  const std::pair<const char*, uint64_t> CLOSED[] = {
      {"address_cap", H.ADDRCAP}, {"connection_cap", H.CONNCAP}, {"made_room", H.MADEROOM},
      {"timeout", H.TIMEOUT},     {"too_large", H.TOOLARGE},     {"slow_reader", H.SLOWREADER}};
  for (const auto& [WHY, N] : CLOSED) {
    WEB_SAMPLE(O, std::string("brastok_http_closed_total{reason=\"") + WHY + "\"}", N);
  }
  WEB_HEAD(O, "brastok_webhook_deliveries_total", "counter",
           "Webhook bodies, by how their delivery ended.");
  const std::pair<const char*, uint64_t> HOOKS[] = {{"sent", HOST_STATS.SENT.load()},
                                                    {"failed", HOST_STATS.FAILED.load()},
                                                    {"dropped", HOST_STATS.DROPPED.load()}};
  for (const auto& [HOW, N] : HOOKS) {
    WEB_SAMPLE(O, std::string("brastok_webhook_deliveries_total{outcome=\"") + HOW + "\"}", N);
  }
  WEB_HEAD(O, "brastok_build_info", "gauge", "The server's release and protocol version.");
  O += std::string("brastok_build_info{version=\"") + SV_VERSION + "\",protocol=\"" +
       std::to_string(PVER) + "\"} 1\n";
  return O;
}
