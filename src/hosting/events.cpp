// The game thread's side of hosting: the options, the bodies of the webhook
// events, the queue they wait in, and the marks each cycle leaves for the I/O
// thread. Nothing here touches a socket: the game thread only copies a body
// into the queue under a short lock. The core links this half; the I/O half
// (Boost, OpenSSL, the thread) is linked into the server alone. Like the
// event log, this reaches for nothing of the game cycle or the network, so
// the client tool can link the event log and with it this file.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <deque>
#include <mutex>
#include <nlohmann/json.hpp>

#include "hosting/inside.hpp"
#include "server/server.hpp"
#include "status/status.hpp"

using HOST_JSON = nlohmann::ordered_json;

uint8_t HOST_AGONES;
std::vector<std::string> HOST_WEBHOOKS;
HOST_COUNTERS HOST_STATS;
bool HOST_ON;
void (*HOST_NOTIFY)();
std::atomic<int64_t> HOST_CYCLEMS;
std::atomic<int> HOST_HUMANS;

// One queue per webhook URL, so that a slow receiver holds up only its own
// deliveries.
struct HOST_QUEUE {
  std::deque<std::string> BODIES;
  bool BUSY; // one taken and not yet done
};
static std::mutex HOST_QLOCK;
static std::vector<HOST_QUEUE> HOST_QUEUES;
static std::vector<std::string> HOST_NOTES;
constexpr size_t HOST_MAXNOTES = 16;
// The map load whose match end was posted: a match ends once.
static uint32_t HOST_ENDEDLOAD;
static bool HOST_ENDED;

void HOST_WEBHOOKADD(const std::string& URL) {
  if (HOST_WEBHOOKS.size() >= HOST_MAXWEBHOOKS) {
    SC_WARN("option -webhook: at most " + std::to_string(HOST_MAXWEBHOOKS) +
            " URLs, this one ignored");
    return;
  }
  HOST_WEBHOOKS.push_back(URL);
}

int64_t HOST_NOWMS() {
  using namespace std::chrono;
  return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

void HOST_QUEUEOPEN() {
  std::lock_guard<std::mutex> L(HOST_QLOCK);
  HOST_QUEUES.assign(HOST_WEBHOOKS.size(), HOST_QUEUE{});
  HOST_NOTES.clear();
}

void HOST_ENQUEUE(const std::string& BODY) {
  if (HOST_WEBHOOKS.empty()) {
    return;
  }
  {
    std::lock_guard<std::mutex> L(HOST_QLOCK);
    for (HOST_QUEUE& Q : HOST_QUEUES) {
      if (Q.BODIES.size() >= HOST_QUEUEMAX) {
        HOST_STATS.DROPPED++;
      } else {
        Q.BODIES.push_back(BODY);
      }
    }
  }
  if (HOST_NOTIFY != nullptr) {
    HOST_NOTIFY();
  }
}

bool HOST_TAKE(size_t K, std::string& BODY) {
  std::lock_guard<std::mutex> L(HOST_QLOCK);
  if (K >= HOST_QUEUES.size() || HOST_QUEUES[K].BODIES.empty()) {
    return false;
  }
  HOST_QUEUE& Q = HOST_QUEUES[K];
  BODY = std::move(Q.BODIES.front());
  Q.BODIES.pop_front();
  Q.BUSY = true;
  return true;
}

void HOST_DONE(size_t K) {
  std::lock_guard<std::mutex> L(HOST_QLOCK);
  if (K < HOST_QUEUES.size()) {
    HOST_QUEUES[K].BUSY = false;
  }
}

void HOST_QUEUECLOSE() {
  std::lock_guard<std::mutex> L(HOST_QLOCK);
  for (HOST_QUEUE& Q : HOST_QUEUES) {
    HOST_STATS.DROPPED += Q.BODIES.size() + (Q.BUSY ? 1 : 0);
  }
  HOST_QUEUES.clear();
}

void HOST_NOTE(const std::string& TEXT) {
  std::lock_guard<std::mutex> L(HOST_QLOCK);
  if (HOST_NOTES.size() < HOST_MAXNOTES) {
    HOST_NOTES.push_back(TEXT);
  }
}

std::vector<std::string> HOST_TAKENOTES() {
  std::vector<std::string> NOTES;
  std::lock_guard<std::mutex> L(HOST_QLOCK);
  NOTES.swap(HOST_NOTES);
  return NOTES;
}

void HOST_RESET() {
  HOST_AGONES = 0;
  HOST_WEBHOOKS.clear();
  HOST_STATS.SENT = 0;
  HOST_STATS.FAILED = 0;
  HOST_STATS.DROPPED = 0;
  HOST_ON = false;
  HOST_NOTIFY = nullptr;
  HOST_CYCLEMS = 0;
  HOST_HUMANS = 0;
  HOST_ENDED = false;
  HOST_ENDEDLOAD = 0;
  std::lock_guard<std::mutex> L(HOST_QLOCK);
  HOST_QUEUES.clear();
  HOST_NOTES.clear();
}

// ---- bodies ----

// Text for the one-line "content": names as the console shows them (no byte
// can break the line), cut to fit Discord's 2000 characters with room to
// spare, never inside a UTF-8 sequence.
static std::string HOST_LINE(const std::string& S) {
  constexpr size_t MAX = 1900;
  if (S.size() <= MAX) {
    return S;
  }
  size_t N = MAX;
  while (N > 0 && (uint8_t(S[N]) & 0xC0) == 0x80) {
    N--;
  }
  return S.substr(0, N);
}

static std::string HOST_SHOWN(const std::string& S) {
  return SC_PRINTABLE(S);
}

// What every body carries. A player's name can hold "@everyone": mentions
// are switched off, so a chat channel is never pinged by one.
static HOST_JSON HOST_BODY(const char* EVENT, const std::string& CONTENT) {
  HOST_JSON J;
  J["content"] = HOST_LINE(HOST_SHOWN(SV_NAME) + ": " + CONTENT);
  J["allowed_mentions"] = {{"parse", HOST_JSON::array()}};
  J["event"] = EVENT;
  J["server"] = STATUS_UTF8TEXT(SV_NAME);
  J["port"] = NET_PORT;
  J["time"] = SC_UTCTEXT(SC_UTCNOWMS(), true);
  return J;
}

static std::string HOST_MAPNAME() {
  return SV_MAP.NUM >= 1 && SV_MAP.NUM <= MAXMAPLIST ? SV_MAPL[SV_MAP.NUM].NAME : std::string();
}

std::string HOST_STARTBODY() {
  std::string MAP = HOST_MAPNAME();
  HOST_JSON J = HOST_BODY(
      "start", "up on port " + std::to_string(NET_PORT) + ", map " + HOST_SHOWN(MAP) + ", " +
                   std::to_string(SV_MAXPLAYERS) + " players at most, score limit " +
                   std::to_string(SV_SCORELIMIT) + (SV_TEAMPLAY != 0 ? ", team play" : ""));
  J["version"] = SV_VERSION;
  J["map"] = STATUS_UTF8TEXT(MAP);
  J["maxplayers"] = SV_MAXPLAYERS;
  J["scorelimit"] = SV_SCORELIMIT;
  J["teamplay"] = SV_TEAMPLAY != 0;
  return J.dump();
}

std::string HOST_STOPBODY() {
  return HOST_BODY("stop", "stopping").dump();
}

// The match's players, best first (a tie goes to the lower slot).
static std::vector<uint8_t> HOST_RANKING() {
  std::vector<uint8_t> R;
  for (int I = 1; I <= MAXCLIENTS; I++) {
    const TCLIENT& C = SV_CLIENTSLIST[I];
    if (C.EXIST && C.PLAY) {
      R.push_back(uint8_t(I));
    }
  }
  std::stable_sort(R.begin(), R.end(), [](uint8_t A, uint8_t B) {
    return SV_CLIENTSLIST[A].SCORE > SV_CLIENTSLIST[B].SCORE;
  });
  return R;
}

static void HOST_MATCHEND(const std::string& LINE) {
  // A win line comes once per match; should another follow before the next
  // map, the match has already been posted.
  if (HOST_ENDED && HOST_ENDEDLOAD == SV_STATS.MAPLOADS) {
    return;
  }
  HOST_ENDED = true;
  HOST_ENDEDLOAD = SV_STATS.MAPLOADS;
  constexpr size_t TOP = 5;
  bool TEAM = uint8_t(LINE[0]) == LOGMESSID_TSCORE;
  uint8_t WHO = LINE.size() > 1 ? uint8_t(LINE[1]) : 0;
  std::vector<uint8_t> RANK = HOST_RANKING();
  std::string MAP = HOST_MAPNAME();
  std::string WON;
  HOST_JSON WINNER;
  if (TEAM) {
    WHO = WHO % MAXTEAMS;
    unsigned SUM = 0;
    for (uint8_t S : RANK) {
      SUM += SV_CLIENTSLIST[S].TEAM % MAXTEAMS == WHO ? SV_CLIENTSLIST[S].SCORE : 0;
    }
    WON = std::string("team ") + TEAMNAME[WHO] + " won with " + std::to_string(SUM);
    WINNER = {{"team", WHO}, {"name", TEAMNAME[WHO]}, {"score", SUM}};
  } else if (WHO >= 1 && WHO <= MAXCLIENTS) {
    const TCLIENT& C = SV_CLIENTSLIST[WHO];
    WON = HOST_SHOWN(C.NAME) + " won with " + std::to_string(C.SCORE);
    WINNER = {{"slot", WHO}, {"name", STATUS_UTF8TEXT(C.NAME)}, {"score", C.SCORE}};
  }
  HOST_JSON SCORES = HOST_JSON::array();
  std::string REST;
  for (size_t K = 0; K < RANK.size() && K < TOP; K++) {
    const TCLIENT& C = SV_CLIENTSLIST[RANK[K]];
    HOST_JSON O = {{"slot", RANK[K]}, {"name", STATUS_UTF8TEXT(C.NAME)}, {"score", C.SCORE}};
    if (SV_TEAMPLAY != 0) {
      O["team"] = C.TEAM;
    }
    O["bot"] = C.BOT;
    SCORES.push_back(O);
    if (TEAM || RANK[K] != WHO) {
      REST += (REST.empty() ? "; " : ", ") + HOST_SHOWN(C.NAME) + " " + std::to_string(C.SCORE);
    }
  }
  HOST_JSON J = HOST_BODY("matchend", "match over on " + HOST_SHOWN(MAP) + ", " + WON + REST);
  J["map"] = STATUS_UTF8TEXT(MAP);
  J["teamplay"] = SV_TEAMPLAY != 0;
  J[TEAM ? "winnerteam" : "winner"] = WINNER;
  J["scores"] = SCORES;
  HOST_ENQUEUE(J.dump());
}

void HOST_ONLOG(const std::string& LINE) {
  if (!HOST_ON || HOST_WEBHOOKS.empty() || LINE.empty()) {
    return;
  }
  uint8_t ID = uint8_t(LINE[0]);
  if (ID == LOGMESSID_SCORE || ID == LOGMESSID_TSCORE) {
    HOST_MATCHEND(LINE);
  }
}

void HOST_ONKICK(uint8_t SLOT) {
  if (!HOST_ON || HOST_WEBHOOKS.empty() || SLOT < 1 || SLOT > MAXCLIENTS) {
    return;
  }
  const TCLIENT& C = SV_CLIENTSLIST[SLOT];
  HOST_JSON J = HOST_BODY("kick", HOST_SHOWN(C.NAME) + " was kicked by an operator");
  J["slot"] = SLOT;
  J["name"] = STATUS_UTF8TEXT(C.NAME);
  J["bot"] = C.BOT;
  HOST_ENQUEUE(J.dump());
}

void HOST_ONBAN(const std::string& WHAT, uint32_t MINUTES, const std::string& NAME) {
  if (!HOST_ON || HOST_WEBHOOKS.empty()) {
    return;
  }
  // The content line goes to a chat channel: it names the player, never the
  // address. The address is a field, for the operator's own tools.
  std::string WHO = NAME.empty() ? std::string("an address") : HOST_SHOWN(NAME);
  std::string HOW = MINUTES == 0
                        ? std::string("for good")
                        : "for " + std::to_string(MINUTES) + " minute" + (MINUTES == 1 ? "" : "s");
  HOST_JSON J = HOST_BODY("ban", WHO + " was banned by an operator " + HOW);
  J["address"] = STATUS_UTF8TEXT(WHAT);
  J["name"] = STATUS_UTF8TEXT(NAME);
  J["minutes"] = MINUTES;
  HOST_ENQUEUE(J.dump());
}
