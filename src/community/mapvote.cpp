// The end-of-match map vote: when the score board begins, up to three maps
// are offered that are neither the current one nor one of the two played
// before it; the map with most votes when the board ends is played next.
#include "community/community.hpp"
#include "hooks.hpp"
#include "server/server.hpp"

static bool COM_USED(int E) {
  return SV_MAPL[E].NAME != "-";
}

void COM_SCOREBOARD() {
  if (OPT_VOTES == 0 || COM_MAPS.N > 0) {
    return;
  }
  int USED = 0;
  for (int E = 1; E <= MAXMAPLIST; E++) {
    USED += COM_USED(E) ? 1 : 0;
  }
  if (USED < 3) {
    return;
  }
  // In the rotation's order from the current map: of maps with as many
  // votes, the one the rotation reaches first is offered first. The two maps
  // played before the current one are left out, unless that leaves fewer
  // than two to choose from (a list of three or four maps would otherwise
  // soon offer one map, or none).
  for (int PASS = 0; PASS < 2 && COM_MAPS.N < 2; PASS++) {
    COM_MAPS.N = 0;
    for (int K = 1; K < MAXMAPLIST && COM_MAPS.N < COM_MAPCHOICES; K++) {
      int E = (SV_MAP.NUM - 1 + K) % MAXMAPLIST + 1;
      bool RECENT = E == COM_PLAYED[1] || E == COM_PLAYED[2];
      if (COM_USED(E) && E != SV_MAP.NUM && (PASS == 1 || !RECENT)) {
        COM_MAPS.ENTRY[COM_MAPS.N] = uint8_t(E);
        COM_MAPS.NAME[COM_MAPS.N] = SV_MAPL[E].NAME;
        COM_MAPS.N++;
      }
    }
  }
  std::string OFFER = "next map?";
  for (int K = 0; K < COM_MAPS.N; K++) {
    OFFER += std::string(K > 0 ? "," : "") + " !" + std::to_string(K + 1) + " " + COM_MAPS.NAME[K];
  }
  COM_NOTICE(OFFER);
}

// The votes for each map offered, of the voters present.
static void COM_MAPCOUNT(int (&COUNT)[COM_MAPCHOICES]) {
  for (int& C : COUNT) {
    C = 0;
  }
  for (const std::string& IP : COM_VOTERS()) {
    auto IT = COM_MAPS.BALLOTS.find(IP);
    if (IT != COM_MAPS.BALLOTS.end()) {
      COUNT[IT->second - 1]++;
    }
  }
}

void COM_MAPBALLOT(uint8_t CID, int CHOICE) {
  auto [IT, NEW] = COM_MAPS.BALLOTS.try_emplace(SV_CLIENTSLIST[CID].IP, CHOICE);
  if (!NEW && IT->second == CHOICE) {
    return; // the same ballot again: nothing new to tell
  }
  IT->second = CHOICE;
  int COUNT[COM_MAPCHOICES];
  COM_MAPCOUNT(COUNT);
  std::string TALLY = "map votes:";
  for (int K = 0; K < COM_MAPS.N; K++) {
    TALLY +=
        std::string(K > 0 ? "," : "") + " " + COM_MAPS.NAME[K] + " " + std::to_string(COUNT[K]);
  }
  COM_NOTICE(TALLY);
}

uint8_t COM_NEXTMAP(uint8_t N) {
  if (COM_MAPS.N == 0) {
    return N;
  }
  int COUNT[COM_MAPCHOICES];
  COM_MAPCOUNT(COUNT);
  // A tie goes to the map offered first: the one the rotation reaches first.
  int BEST = 0;
  for (int K = 1; K < COM_MAPS.N; K++) {
    BEST = COUNT[K] > COUNT[BEST] ? K : BEST;
  }
  TMAPVOTE M = std::move(COM_MAPS);
  COM_MAPS = {};
  // No vote, or the operator has changed the list since: the rotation goes on.
  if (COUNT[BEST] == 0 || SV_MAPL[M.ENTRY[BEST]].NAME != M.NAME[BEST]) {
    return N;
  }
  COM_NOTICE("next map by vote: " + M.NAME[BEST]);
  return M.ENTRY[BEST];
}
