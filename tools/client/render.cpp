// Everything the tool prints about a server: status, log lines, the score
// table and the summary of a load run, as text and as JSON.
#include <nlohmann/json.hpp>

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "client.hpp"
#include "clients/clients.hpp"
#include "server/server.hpp"

// ---- rendering ----

using CL_JSON = nlohmann::ordered_json; // keys in the order written

// Names and texts are raw bytes, read as Latin-1 the way the console shows
// them; JSON wants UTF-8.
static std::string CL_UTF8(const std::string& S) {
  std::string R;
  for (unsigned char C : S) {
    if (C < 0x80) {
      R += char(C);
    } else {
      R += char(0xC0 | (C >> 6));
      R += char(0x80 | (C & 0x3F));
    }
  }
  return R;
}

// A JSON document as one line. The library leaves DEL and the C1 controls
// (U+0080 to U+009F) as they are; they are escaped as well, so that a
// terminal showing the output never takes a player's name for a command.
static std::string CL_DUMP(const CL_JSON& J) {
  std::string D = J.dump(), R;
  char U[8];
  for (size_t I = 0; I < D.size(); I++) {
    unsigned char C = uint8_t(D[I]);
    unsigned char N = I + 1 < D.size() ? uint8_t(D[I + 1]) : 0;
    if (C == 0x7F) {
      R += "\\u007f";
    } else if (C == 0xC2 && N >= 0x80 && N < 0xA0) {
      std::snprintf(U, sizeof U, "\\u%04x", unsigned(N));
      R += U;
      I++;
    } else {
      R += char(C);
    }
  }
  return R;
}

std::string CL_JSONSTRING(const std::string& S) {
  return CL_DUMP(CL_JSON(CL_UTF8(S)));
}

std::string CL_FIXED1(double V) {
  char B[64];
  std::snprintf(B, sizeof B, "%.1f", V);
  return B;
}

const char* CL_STATENAME(uint8_t STATE) {
  switch (STATE) {
  case PS_SPEC:
    return "spectator";
  case PS_DEAD:
    return "dead";
  case PS_LIVE:
    return "alive";
  case PS_ATTA:
    return "firing";
  default:
    return "unknown";
  }
}

// The settings, which the map information and the query's answer both tell.
template <class T>
static CL_STATUSINFO CL_SETTINGS(const T& M) {
  CL_STATUSINFO I;
  I.SERVERNAME = M.SERVERNAME;
  I.MAPNAME = M.MAPNAME;
  I.SCORELIMIT = M.SCORELIMIT;
  I.TEAMPLAY = M.TEAMPLAY;
  I.MAXPLAYERS = M.MAXPLAYERS;
  return I;
}

CL_STATUSINFO CL_MAKESTATUS(const CL_MAPINFO& M, const CL_STATE& S) {
  CL_STATUSINFO I = CL_SETTINGS(M);
  for (const CL_LISTED& P : M.PLAYERS) {
    if (P.SLOT == S.SELF) {
      continue;
    }
    CL_PLAYERROW R;
    R.SLOT = P.SLOT;
    R.TEAM = P.TEAM;
    R.NAME = P.NAME;
    R.BOT = CL_BOTNAME(P.NAME);
    for (const CL_ENTRY& E : S.PLAYERS) {
      if (E.SLOT == P.SLOT) {
        R.STATE = E.STATE;
        R.SCORE = E.SCORE;
        R.PING = E.PING;
      }
    }
    I.PLAYERS.push_back(R);
    (R.BOT ? I.BOTS : I.HUMANS)++;
  }
  return I;
}

bool CL_BOTNAME(const std::string& NAME) {
  size_t AT = NAME.size() > 4 && NAME[0] == '[' && NAME[3] == ']' ? 4 : 0;
  return NAME.compare(AT, 5, "BOT #") == 0;
}

CL_STATUSINFO CL_QUERYSTATUS(const CL_QINFO& Q) {
  CL_STATUSINFO I = CL_SETTINGS(Q);
  I.HUMANS = Q.HUMANS;
  I.BOTS = Q.BOTS;
  for (const CL_QPLAYER& P : Q.PLAYERS) {
    CL_PLAYERROW R;
    R.SLOT = P.SLOT;
    R.TEAM = P.TEAM;
    R.NAME = P.NAME;
    R.SCORE = P.SCORE;
    R.PING = P.PING;
    R.BOT = (P.FLAGS & CL_QF_BOT) != 0;
    R.STATE = (P.FLAGS & CL_QF_INGAME) == 0  ? PS_SPEC
              : (P.FLAGS & CL_QF_ALIVE) != 0 ? PS_LIVE
                                             : PS_DEAD;
    I.PLAYERS.push_back(R);
  }
  return I;
}

static std::string CL_PAD(const std::string& S, size_t W, bool RIGHT) {
  if (S.size() >= W) {
    return S;
  }
  std::string F(W - S.size(), ' ');
  return RIGHT ? F + S : S + F;
}

std::string CL_STATUSTEXT(const CL_STATUSINFO& I) {
  std::string T;
  T += "server:       " + SC_PRINTABLE(I.SERVERNAME) + "\n";
  T += "map:          " + SC_PRINTABLE(I.MAPNAME) + "\n";
  T += "score limit:  " + std::to_string(I.SCORELIMIT) + "\n";
  T += "team play:    " + std::string(I.TEAMPLAY != 0 ? "yes" : "no") + "\n";
  T += "player limit: " + std::to_string(I.MAXPLAYERS) + "\n";
  if (I.RTTMS >= 0) {
    T += "round trip:   " + std::to_string(I.RTTMS) + " ms\n";
  }
  T += "players:      " + std::to_string(I.PLAYERS.size()) + "\n";
  if (!I.PLAYERS.empty()) {
    T += "  slot  team  state      score  ping  name\n";
    for (const CL_PLAYERROW& R : I.PLAYERS) {
      T += "  " + CL_PAD(std::to_string(R.SLOT), 4, true) + "  " +
           CL_PAD(std::to_string(R.TEAM), 4, true) + "  " +
           CL_PAD(CL_STATENAME(R.STATE), 9, false) + "  " +
           CL_PAD(std::to_string(R.SCORE), 5, true) + "  " +
           CL_PAD(std::to_string(R.PING), 4, true) + "  " + SC_PRINTABLE(R.NAME) + "\n";
    }
  }
  return T;
}

std::string CL_STATUSJSON(const CL_STATUSINFO& I) {
  CL_JSON J = {{"server", CL_UTF8(I.SERVERNAME)},
               {"map", CL_UTF8(I.MAPNAME)},
               {"scorelimit", I.SCORELIMIT},
               {"teamplay", I.TEAMPLAY != 0},
               {"maxplayers", I.MAXPLAYERS}};
  J["players"] = CL_JSON::array();
  for (const CL_PLAYERROW& R : I.PLAYERS) {
    J["players"].push_back({{"slot", R.SLOT},
                            {"name", CL_UTF8(R.NAME)},
                            {"team", R.TEAM},
                            {"state", CL_STATENAME(R.STATE)},
                            {"score", R.SCORE},
                            {"ping", R.PING}});
  }
  if (I.RTTMS >= 0) {
    J["rtt_ms"] = I.RTTMS;
  }
  return CL_DUMP(J) + "\n";
}

// The columns of the fleet view; a server that did not answer shows what
// went wrong after its address.
std::string CL_FLEETTEXT(const std::vector<CL_FLEETROW>& ROWS) {
  std::vector<std::vector<std::string>> CELLS = {
      {"address", "server", "map", "players", "bots", "score", "teams", "round trip"}};
  for (const CL_FLEETROW& R : ROWS) {
    if (R.STATUS != CL_EXIT_OK) {
      CELLS.push_back({R.ADDRESS, R.ERROR});
      continue;
    }
    const CL_STATUSINFO& I = R.INFO;
    CELLS.push_back({R.ADDRESS, SC_PRINTABLE(I.SERVERNAME), SC_PRINTABLE(I.MAPNAME),
                     std::to_string(I.HUMANS) + "/" + std::to_string(I.MAXPLAYERS),
                     std::to_string(I.BOTS), std::to_string(I.SCORELIMIT),
                     I.TEAMPLAY != 0 ? "yes" : "no", std::to_string(I.RTTMS) + " ms"});
  }
  // Text to the left, numbers to the right; the message of a server that
  // failed runs on from the second column.
  const bool RIGHT[] = {false, false, false, true, true, true, false, true};
  size_t W[8] = {};
  for (const auto& ROW : CELLS) {
    for (size_t K = 0; K < ROW.size(); K++) {
      W[K] = std::max(W[K], ROW.size() == 8 || K == 0 ? ROW[K].size() : 0);
    }
  }
  std::string T;
  for (const auto& ROW : CELLS) {
    std::string L;
    for (size_t K = 0; K < ROW.size(); K++) {
      bool LAST = K + 1 == ROW.size();
      L += (K > 0 ? "  " : "") + (LAST && !RIGHT[K] ? ROW[K] : CL_PAD(ROW[K], W[K], RIGHT[K]));
    }
    T += L + "\n";
  }
  return T;
}

std::string CL_FLEETJSON(const std::vector<CL_FLEETROW>& ROWS) {
  CL_JSON J = CL_JSON::array();
  for (const CL_FLEETROW& R : ROWS) {
    if (R.STATUS != CL_EXIT_OK) {
      J.push_back({{"address", R.ADDRESS}, {"error", CL_UTF8(R.ERROR)}, {"status", R.STATUS}});
      continue;
    }
    const CL_STATUSINFO& I = R.INFO;
    J.push_back({{"address", R.ADDRESS},
                 {"server", CL_UTF8(I.SERVERNAME)},
                 {"map", CL_UTF8(I.MAPNAME)},
                 {"humans", I.HUMANS},
                 {"maxplayers", I.MAXPLAYERS},
                 {"bots", I.BOTS},
                 {"scorelimit", I.SCORELIMIT},
                 {"teamplay", I.TEAMPLAY != 0},
                 {"rtt_ms", I.RTTMS}});
  }
  return CL_DUMP(J) + "\n";
}

void CL_NAMESFROMMAP(CL_NAMES& N, const CL_MAPINFO& M) {
  for (const CL_LISTED& P : M.PLAYERS) {
    if (P.SLOT >= 1 && P.SLOT <= MAXCLIENTS) {
      N.NAME[P.SLOT] = P.NAME;
      N.TEAM[P.SLOT] = P.TEAM;
      N.KNOWN[P.SLOT] = true;
    }
  }
}

// A slot the client has no name for shows as #N.
static std::string CL_SLOTNAME(uint8_t C, const void* CTX) {
  const CL_NAMES& N = *static_cast<const CL_NAMES*>(CTX);
  if (C >= 1 && C <= MAXCLIENTS && N.KNOWN[C]) {
    return N.NAME[C];
  }
  return "#" + std::to_string(C);
}

std::string CL_LOGTEXT(CL_NAMES& N, const std::string& LINE) {
  // A connect line tells the new client's name and team.
  if (LINE.size() >= 2 && uint8_t(LINE[0]) == LOGMESSID_CCON) {
    uint8_t C = uint8_t(LINE[1]);
    if (C >= 1 && C <= MAXCLIENTS) {
      N.TEAM[C] = LINE.size() > 2 ? uint8_t(LINE[2]) : 0;
      N.NAME[C] = LINE.size() > 3 ? LINE.substr(3, PLAYERMAXNAME) : std::string();
      N.KNOWN[C] = true;
    }
  }
  return SC_LOGTEXT(LINE, CL_SLOTNAME, &N);
}

std::string CL_SCORETABLE(const CL_NAMES& N, const CL_STATE& S, uint8_t TEAMPLAY) {
  std::vector<CL_ENTRY> ROWS;
  for (const CL_ENTRY& E : S.PLAYERS) {
    if (E.STATE >= PS_DEAD) {
      ROWS.push_back(E);
    }
  }
  std::stable_sort(ROWS.begin(), ROWS.end(),
                   [](const CL_ENTRY& A, const CL_ENTRY& B) { return A.SCORE > B.SCORE; });
  std::string T = "Score board\n";
  for (const CL_ENTRY& E : ROWS) {
    T += "  " + CL_PAD(std::to_string(E.SCORE), 3, true) + "  " +
         SC_PRINTABLE(CL_SLOTNAME(E.SLOT, &N)) + "\n";
  }
  if (TEAMPLAY != 0) {
    int SUM[MAXTEAMS] = {};
    bool HAS[MAXTEAMS] = {};
    for (const CL_ENTRY& E : ROWS) {
      uint8_t TM = E.SLOT <= MAXCLIENTS ? N.TEAM[E.SLOT] % MAXTEAMS : 0;
      SUM[TM] += E.SCORE;
      HAS[TM] = true;
    }
    std::vector<int> ORDER;
    for (int K = 0; K < MAXTEAMS; K++) {
      if (HAS[K]) {
        ORDER.push_back(K);
      }
    }
    std::stable_sort(ORDER.begin(), ORDER.end(), [&](int A, int B) { return SUM[A] > SUM[B]; });
    for (int K : ORDER) {
      T += "  " + CL_PAD(std::to_string(SUM[K]), 3, true) + "  " + TEAMNAME[K] + " team\n";
    }
  }
  return T;
}

// ---- figures of a load run ----

uint32_t CL_PERCENTILE(std::vector<uint32_t> V, double P) {
  if (V.empty()) {
    return 0;
  }
  std::sort(V.begin(), V.end());
  size_t RANK = size_t(std::ceil(P / 100.0 * double(V.size())));
  RANK = std::clamp(RANK, size_t(1), V.size());
  return V[RANK - 1];
}

static std::string CL_TICKS(uint32_t N) {
  return std::to_string(N) + (N == 1 ? " tick" : " ticks");
}

// Microseconds as milliseconds with one decimal.
static std::string CL_MS(uint32_t US) {
  return CL_FIXED1(US / 1000.0);
}

static double CL_PERPLAYERSECOND(const CL_LOADSUMMARY& S) {
  if (S.CONNECTED == 0 || S.SECONDS <= 0) {
    return 0;
  }
  return double(S.STATES) / S.CONNECTED / S.SECONDS;
}

std::string CL_NETTEXT(uint64_t MISSING, uint64_t LATE, uint64_t REPEATED) {
  return std::to_string(MISSING) + " state packets missing, " + std::to_string(LATE) + " late, " +
         std::to_string(REPEATED) + " log lines received more than once";
}

std::string CL_NOPLAYTEXT(const CL_LOADSUMMARY& S) {
  return std::to_string(S.NEVERJOINED) + " never joined the game, " + std::to_string(S.NEVERMOVED) +
         " never saw a move applied";
}

std::string CL_LOADTEXT(const CL_LOADSUMMARY& S) {
  std::string T;
  T += "load run:       " + std::to_string(S.PLAYERS) + " players on " + S.SERVER + " for " +
       CL_FIXED1(S.SECONDS) + " s\n";
  T += "players:        " + std::to_string(S.CONNECTED) + " connected, " +
       std::to_string(S.REFUSED) + " refused, " + std::to_string(S.RECONNECTS) + " reconnects\n";
  T += "not playing:    " + CL_NOPLAYTEXT(S) + "\n";
  T += "state packets:  " + CL_FIXED1(CL_PERPLAYERSECOND(S)) + " per player per second (" +
       std::to_string(S.STATES) + " in all)\n";
  if (!S.SPACINGS.empty()) {
    T += "state spacing:  median " + CL_MS(CL_PERCENTILE(S.SPACINGS, 50)) +
         " ms, 99th percentile " + CL_MS(CL_PERCENTILE(S.SPACINGS, 99)) + " ms, most " +
         CL_MS(*std::max_element(S.SPACINGS.begin(), S.SPACINGS.end())) + " ms\n";
  }
  T += "network:        " + CL_NETTEXT(S.STATESMISSING, S.STATESLATE, S.LOGRESENT) + "\n";
  T += "datagrams:      " + std::to_string(S.SENT) + " sent, " + std::to_string(S.RECEIVED) +
       " received\n";
  if (S.LATENCIES.empty()) {
    T += "input latency:  no move seen applied (" + std::to_string(S.MOVESLOST) + " not applied)\n";
  } else {
    T += "input latency:  median " + CL_TICKS(CL_PERCENTILE(S.LATENCIES, 50)) +
         ", 99th percentile " + CL_TICKS(CL_PERCENTILE(S.LATENCIES, 99)) + " (" +
         std::to_string(S.LATENCIES.size()) + " moves, " + std::to_string(S.MOVESLOST) +
         " not applied)\n";
  }
  T += "log lines:      " + std::to_string(S.LOGTAKEN) + " received of " +
       std::to_string(S.LOGEXPECTED) + " expected (" + std::to_string(S.LOGRESENT) + " resent)\n";
  T += "chat:           " + std::to_string(S.CHATSENT) + " sent, " + std::to_string(S.CHATSEEN) +
       " seen back\n";
  T += "game:           " + std::to_string(S.KILLS) + " kills, " + std::to_string(S.PICKUPS) +
       " pick-ups\n";
  if (S.ANOMALYCOUNT == 0) {
    T += "anomalies:      none\n";
  } else {
    T += "anomalies:      " + std::to_string(S.ANOMALYCOUNT) + "\n";
    for (const CL_ANOMALY& A : S.ANOMALIES) {
      T += "  " + SC_PRINTABLE(A.PLAYER) + ": " + A.KIND + ": " + A.DETAIL + "\n";
    }
    if (S.ANOMALIES.size() < S.ANOMALYCOUNT) {
      T += "  (" + std::to_string(S.ANOMALYCOUNT - S.ANOMALIES.size()) + " more)\n";
    }
  }
  return T;
}

// A figure with one decimal, as the text shows it.
static double CL_ROUND1(double V) {
  return std::strtod(CL_FIXED1(V).c_str(), nullptr);
}

std::string CL_LOADJSON(const CL_LOADSUMMARY& S) {
  CL_JSON LAT = {{"samples", S.LATENCIES.size()}, {"median", nullptr}, {"p99", nullptr}};
  if (!S.LATENCIES.empty()) {
    LAT["median"] = CL_PERCENTILE(S.LATENCIES, 50);
    LAT["p99"] = CL_PERCENTILE(S.LATENCIES, 99);
  }
  LAT["not_applied"] = S.MOVESLOST;
  CL_JSON GAP = {
      {"samples", S.SPACINGS.size()}, {"median", nullptr}, {"p99", nullptr}, {"max", nullptr}};
  if (!S.SPACINGS.empty()) {
    GAP["median"] = CL_ROUND1(CL_PERCENTILE(S.SPACINGS, 50) / 1000.0);
    GAP["p99"] = CL_ROUND1(CL_PERCENTILE(S.SPACINGS, 99) / 1000.0);
    GAP["max"] = CL_ROUND1(*std::max_element(S.SPACINGS.begin(), S.SPACINGS.end()) / 1000.0);
  }
  CL_JSON J = {{"server", CL_UTF8(S.SERVER)},
               {"players", S.PLAYERS},
               {"connected", S.CONNECTED},
               {"refused", S.REFUSED},
               {"reconnects", S.RECONNECTS},
               {"never_joined", S.NEVERJOINED},
               {"never_moved", S.NEVERMOVED},
               {"seconds", CL_ROUND1(S.SECONDS)},
               {"state_packets", S.STATES},
               {"state_packets_per_player_per_second", CL_ROUND1(CL_PERPLAYERSECOND(S))},
               {"datagrams_sent", S.SENT},
               {"datagrams_received", S.RECEIVED},
               {"network",
                {{"state_packets_missing", S.STATESMISSING},
                 {"state_packets_late", S.STATESLATE},
                 {"log_lines_repeated", S.LOGRESENT}}},
               {"input_latency_ticks", LAT},
               {"state_spacing_ms", GAP},
               {"log_lines",
                {{"received", S.LOGTAKEN}, {"expected", S.LOGEXPECTED}, {"resent", S.LOGRESENT}}},
               {"chat", {{"sent", S.CHATSENT}, {"seen", S.CHATSEEN}}},
               {"kills", S.KILLS},
               {"pickups", S.PICKUPS},
               {"anomaly_count", S.ANOMALYCOUNT},
               {"anomalies", CL_JSON::array()}};
  for (const CL_ANOMALY& A : S.ANOMALIES) {
    J["anomalies"].push_back(
        {{"player", CL_UTF8(A.PLAYER)}, {"kind", CL_UTF8(A.KIND)}, {"detail", CL_UTF8(A.DETAIL)}});
  }
  return CL_DUMP(J) + "\n";
}
