// Chat commands: with -votes, a chat line that begins with "!" and names a
// command of the table is that command and not chat; any other line is chat,
// unless its address is muted.
#include <algorithm>

#include "clients/clients.hpp"
#include "community/community.hpp"
#include "hooks.hpp"
#include "server/server.hpp"

static void COM_HELP(uint8_t CID, const std::string& ARG);

struct TCHATCOMMAND {
  const char* NAME; // after the "!", in lower case
  bool BALLOT;      // a ballot, which a muted address may still cast
  void (*RUN)(uint8_t CID, const std::string& ARG);
};

static const TCHATCOMMAND COM_COMMANDS[] = {
    {"help", false, COM_HELP},       {"votekick", false, COM_VOTEKICK},
    {"votemap", false, COM_VOTEMAP}, {"votenext", false, COM_VOTENEXT},
    {"yes", true, COM_YES},          {"no", true, COM_NO},
};

static void COM_HELP(uint8_t, const std::string&) {
  COM_NOTICE("commands: !votekick SLOT, !votemap NAME, !votenext, !yes, !no; "
             "after a match !1 !2 !3");
}

std::vector<std::string> COM_VOTERS() {
  std::vector<std::string> V;
  for (int I = 1; I <= MAXCLIENTS; I++) {
    const TCLIENT& C = SV_CLIENTSLIST[I];
    if (C.EXIST && !C.BOT && std::find(V.begin(), V.end(), C.IP) == V.end()) {
      V.push_back(C.IP);
    }
  }
  return V;
}

static bool COM_BLANK(char C) {
  return C == ' ' || C == '\t';
}

// Runs TEXT as a command of slot CID when it names one; false when it does
// not (it is chat then). A muted address's commands are dropped, its
// ballots taken.
static bool COM_COMMAND(uint8_t CID, const std::string& TEXT, bool MUTED) {
  size_t P = 1;
  std::string NAME;
  for (; P < TEXT.size() && !COM_BLANK(TEXT[P]); P++) {
    char C = TEXT[P];
    NAME += C >= 'A' && C <= 'Z' ? char(C - 'A' + 'a') : C;
  }
  while (P < TEXT.size() && COM_BLANK(TEXT[P])) {
    P++;
  }
  size_t E = P;
  while (E < TEXT.size() && !COM_BLANK(TEXT[E])) {
    E++;
  }
  std::string ARG = TEXT.substr(P, E - P);
  // "!1" to "!3" are commands while the map vote offers that many maps.
  if (NAME.size() == 1 && NAME[0] >= '1' && NAME[0] < char('1' + COM_MAPS.N)) {
    COM_MAPBALLOT(CID, NAME[0] - '0');
    return true;
  }
  for (const TCHATCOMMAND& C : COM_COMMANDS) {
    if (NAME == C.NAME) {
      if (!MUTED || C.BALLOT) {
        C.RUN(CID, ARG);
      }
      return true;
    }
  }
  return false;
}

bool COM_CHAT(uint8_t CID, const std::string& TEXT) {
  if (OPT_VOTES == 0 && COM_MUTED.empty()) {
    return false;
  }
  bool MUTED = COM_ISMUTED(SV_CLIENTSLIST[CID].IP);
  if (OPT_VOTES != 0 && TEXT.size() > 1 && TEXT[0] == '!' && COM_COMMAND(CID, TEXT, MUTED)) {
    return true;
  }
  return MUTED;
}
