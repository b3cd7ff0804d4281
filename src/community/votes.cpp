// The players' votes: one at a time, open for 30 seconds, passing when more
// than half of the voters present say yes (the caller's ballot is a yes). A
// vote that passes acts through the console's own commands, so it can do
// nothing the operator could not.
#include <algorithm>

#include "admin/admin.hpp"
#include "community/community.hpp"
#include "server/server.hpp"

// An answer to slot CID, which every client sees: "Alex: TEXT".
static void COM_ANSWER(uint8_t CID, const std::string& TEXT) {
  COM_NOTICE(SV_CLIENTSLIST[CID].NAME + ": " + TEXT);
}

// The yes and no ballots of the voters present, and how many voters there
// are. A voter who left counts no more; one who comes back counts again.
static void COM_COUNT(int& YES, int& NO, int& N) {
  std::vector<std::string> V = COM_VOTERS();
  YES = 0;
  NO = 0;
  N = int(V.size());
  for (const std::string& IP : V) {
    auto IT = COM_VOTE.BALLOTS.find(IP);
    if (IT != COM_VOTE.BALLOTS.end()) {
      (IT->second ? YES : NO)++;
    }
  }
}

// Ends the vote with its result and, when it passed, does what it asked. The
// vote is over before that: a map change it makes finds none running.
static void COM_VOTEEND(bool PASSED, int YES, int N) {
  TVOTE V = std::move(COM_VOTE);
  COM_VOTE = {};
  COM_NOTICE(std::string(PASSED ? "vote passed: " : "vote failed: ") + V.WHAT + " (" +
             std::to_string(YES) + " of " + std::to_string(N) + " yes)");
  if (!PASSED) {
    return;
  }
  switch (V.KIND) {
  case COM_KICKVOTE:
    // A ban of the address, not a kick of the slot: whoever holds the
    // address now goes, and it cannot come back at once from another port.
    ADM_BANKICK(V.IP, COM_KICKMINUTES, "vote kick: " + V.NAME);
    break;
  case COM_MAPVOTE:
    // The operator may have changed the map list since the vote began.
    if (SV_MAPL[V.ENTRY].NAME == V.MAPNAME) {
      ADM_EXECUTE("map " + std::to_string(V.ENTRY));
    }
    break;
  case COM_NEXTVOTE:
    ADM_EXECUTE("next");
    break;
  default:
    break;
  }
}

// Ends the running vote once it is decided: more than half of the voters
// present say yes, or so many say no that it cannot pass, or its time is
// up. True when it ended.
static bool COM_DECIDE() {
  int YES, NO, N;
  COM_COUNT(YES, NO, N);
  bool PASSED = 2 * YES > N;
  if (PASSED || 2 * NO >= N || SV_NOWMS >= COM_VOTE.ENDMS) {
    COM_VOTEEND(PASSED, YES, N);
    return true;
  }
  return false;
}

void COM_TICK() {
  if (COM_VOTE.KIND != COM_NOVOTE) {
    COM_DECIDE();
  }
}

// True, with an answer, when a vote runs: there is one at a time.
static bool COM_RUNNING(uint8_t CID) {
  COM_TICK(); // one whose time is up is over, even between two ticks
  if (COM_VOTE.KIND == COM_NOVOTE) {
    return false;
  }
  COM_ANSWER(CID, "a vote is running: " + COM_VOTE.WHAT);
  return true;
}

// Starts vote V for slot CID, unless its address started one within the
// last minute.
static void COM_START(uint8_t CID, TVOTE V) {
  const TCLIENT& C = SV_CLIENTSLIST[CID];
  auto IT = COM_CALLED.find(C.IP);
  if (IT != COM_CALLED.end() && SV_NOWMS - IT->second < COM_CALLMS) {
    int64_t LEFT = (IT->second + COM_CALLMS - SV_NOWMS + 999) / 1000;
    COM_ANSWER(CID, "one vote a minute, " + std::to_string(LEFT) + " s to wait");
    return;
  }
  // Only the last minute's callers are kept.
  std::erase_if(COM_CALLED, [](const auto& E) { return SV_NOWMS - E.second >= COM_CALLMS; });
  COM_CALLED[C.IP] = SV_NOWMS;
  V.ENDMS = SV_NOWMS + COM_VOTEMS;
  V.BALLOTS[C.IP] = true;
  COM_VOTE = std::move(V);
  COM_NOTICE(C.NAME + " asks: " + COM_VOTE.WHAT + "? !yes or !no within " +
             std::to_string(COM_VOTEMS / 1000) + " s");
  COM_DECIDE(); // a lone voter decides at once
}

void COM_VOTEKICK(uint8_t CID, const std::string& ARG) {
  if (COM_RUNNING(CID)) {
    return;
  }
  bool NUMBER =
      !ARG.empty() && ARG.size() <= 2 && ARG.find_first_not_of("0123456789") == std::string::npos;
  int S = NUMBER ? std::stoi(ARG) : 0;
  if (S < 1 || S > MAXCLIENTS) {
    COM_ANSWER(CID, "!votekick SLOT, a slot number");
    return;
  }
  const TCLIENT& T = SV_CLIENTSLIST[S];
  if (!T.EXIST || T.BOT) {
    COM_ANSWER(CID, "slot " + ARG + (T.EXIST ? " is a bot" : " is free"));
    return;
  }
  if (int(COM_VOTERS().size()) < COM_KICKHUMANS) {
    COM_ANSWER(CID, "a kick needs " + std::to_string(COM_KICKHUMANS) + " players here");
    return;
  }
  TVOTE V{};
  V.KIND = COM_KICKVOTE;
  V.WHAT = "kick " + T.NAME;
  V.IP = T.IP;
  V.NAME = T.NAME;
  COM_START(CID, std::move(V));
}

void COM_VOTEMAP(uint8_t CID, const std::string& ARG) {
  if (COM_RUNNING(CID)) {
    return;
  }
  uint8_t E = 0;
  std::string NAMES;
  for (int I = 1; I <= MAXMAPLIST; I++) {
    const std::string& NAME = SV_MAPL[I].NAME;
    if (NAME != "-") {
      E = NAME == ARG ? uint8_t(I) : E;
      NAMES += " " + NAME;
    }
  }
  if (E == 0) {
    COM_ANSWER(CID, "!votemap NAME, one of:" + NAMES);
    return;
  }
  if (E == SV_MAP.NUM) {
    COM_ANSWER(CID, ARG + " is being played");
    return;
  }
  TVOTE V{};
  V.KIND = COM_MAPVOTE;
  V.WHAT = "map " + ARG;
  V.ENTRY = E;
  V.MAPNAME = ARG;
  COM_START(CID, std::move(V));
}

void COM_VOTENEXT(uint8_t CID, const std::string&) {
  if (COM_RUNNING(CID)) {
    return;
  }
  TVOTE V{};
  V.KIND = COM_NEXTVOTE;
  V.WHAT = "next map";
  COM_START(CID, std::move(V));
}

// A ballot of slot CID's address; a second one replaces the first.
static void COM_BALLOT(uint8_t CID, bool YES) {
  COM_TICK();
  if (COM_VOTE.KIND == COM_NOVOTE) {
    COM_ANSWER(CID, "no vote is running");
    return;
  }
  auto [IT, NEW] = COM_VOTE.BALLOTS.try_emplace(SV_CLIENTSLIST[CID].IP, YES);
  if (!NEW && IT->second == YES) {
    return; // the same ballot again: nothing new to tell
  }
  IT->second = YES;
  if (!COM_DECIDE()) {
    int Y, NO, N;
    COM_COUNT(Y, NO, N);
    COM_NOTICE(COM_VOTE.WHAT + ": " + std::to_string(Y) + " yes, " + std::to_string(NO) +
               " no of " + std::to_string(N));
  }
}

void COM_YES(uint8_t CID, const std::string&) {
  COM_BALLOT(CID, true);
}

void COM_NO(uint8_t CID, const std::string&) {
  COM_BALLOT(CID, false);
}
