// The admin console's commands: one table entry per command (name, words it
// takes, handler, help) and one small handler each. A command acts on the
// game only through the core's own procedures, so it can do nothing a rule
// forbids; answers are console lines, refusals one "error: " line.
#include <vector>

#include "admin/admin.hpp"
#include "bots/bots.hpp"
#include "clients/clients.hpp"
#include "community/community.hpp"
#include "game/game.hpp"
#include "hosting/hosting.hpp"
#include "maps/maps.hpp"
#include "record/record.hpp"
#include "server/server.hpp"

// A whole decimal number from LO to HI, or an error naming WHAT.
static bool ADM_NUMBER(const std::string& S, uint32_t LO, uint32_t HI, const char* WHAT,
                       uint32_t& V) {
  V = 0;
  bool OK = !S.empty() && S.size() <= 9;
  for (char C : S) {
    OK = OK && C >= '0' && C <= '9';
    V = V * 10 + uint32_t(C - '0');
  }
  if (!OK || V < LO || V > HI) {
    SC_ERROR(std::string(WHAT) + " must be a number from " + std::to_string(LO) + " to " +
             std::to_string(HI) + ": " + S);
    return false;
  }
  return true;
}

// An occupied slot named by its number.
static bool ADM_SLOT(const std::string& S, uint8_t& SLOT) {
  uint32_t V;
  if (!ADM_NUMBER(S, 1, MAXCLIENTS, "slot", V)) {
    return false;
  }
  if (!SV_CLIENTSLIST[int(V)].EXIST) {
    SC_ERROR("slot " + S + " is free");
    return false;
  }
  SLOT = uint8_t(V);
  return true;
}

static const char* ADM_STATENAME(uint8_t STATE) {
  switch (STATE) {
  case PS_SPEC:
    return "spectator";
  case PS_DEAD:
    return "dead";
  default:
    return "alive";
  }
}

static void ADM_STATUS(const TWORDS&) {
  TSNAPSHOT& S = ADM_SNAP;
  STATUS_TAKE(S);
  for (int K = 0; K < S.NSLOTS; K++) {
    const TSNAPSLOT& O = S.SLOTS[K];
    std::string WHERE =
        O.BOT ? std::string("bot") : std::string(O.IP.VIEW()) + ":" + std::to_string(O.PORT);
    SC_WRITELN("slot " + std::to_string(O.SLOT) + " \"" + std::string(O.NAME.VIEW()) + "\" team " +
               std::to_string(O.TEAM) + " " + ADM_STATENAME(O.STATE) + " score " +
               std::to_string(O.SCORE) + " ping " + std::to_string(O.PING) + " " + WHERE);
  }
  SC_WRITELN("map \"" + std::string(S.MAPNAME.VIEW()) + "\" entry " + std::to_string(S.MAPNUM) +
             ", tick " + std::to_string(S.PINGVAR) + ", scoreboard " +
             std::to_string(S.SCOREBOARD) + ", players " + std::to_string(S.CURPLAYERS) + "/" +
             std::to_string(S.MAXPLAYERS) + ", clients " + std::to_string(S.CURCLIENTS) + "/" +
             std::to_string(MAXCLIENTS) + ", scorelimit " + std::to_string(S.SCORELIMIT) +
             ", bots " + std::to_string(S.BOTCOUNT) + ", teamplay " + B2SYN(S.TEAMPLAY));
}

static void ADM_SAY(const TWORDS& A) {
  // A log line is one wire string: the kind byte and at most 254 bytes.
  SV_ADDMSG(char(LOGMESSID_SMSG) + A[0].substr(0, 254));
}

static void ADM_KICK(const TWORDS& A) {
  uint8_t SLOT;
  if (ADM_SLOT(A[0], SLOT)) {
    HOST_ONKICK(SLOT);
    PLAYER_REMOVE(SLOT);
  }
}

static void ADM_BAN(const TWORDS& A) {
  std::string WHAT = A[0];
  std::string COMMENT;
  if (WHAT.find('.') == std::string::npos) {
    uint8_t SLOT;
    if (!ADM_SLOT(WHAT, SLOT)) {
      return;
    }
    const TCLIENT& C = SV_CLIENTSLIST[SLOT];
    if (C.BOT) {
      SC_ERROR("slot " + WHAT + " is a bot, which has no address (kick it instead)");
      return;
    }
    WHAT = C.IP;
    COMMENT = C.NAME;
  }
  uint32_t MINUTES = 0;
  if (A.size() == 2 && !ADM_NUMBER(A[1], 1, 99999999, "minutes", MINUTES)) {
    return;
  }
  if (!ADM_BANKICK(WHAT, MINUTES, COMMENT)) {
    SC_ERROR("not an IPv4 address or range: " + WHAT);
    return;
  }
  HOST_ONBAN(WHAT, MINUTES, COMMENT);
}

static void ADM_UNBAN(const TWORDS& A) {
  std::string WHY = ADM_BANREMOVE(A[0]);
  if (!WHY.empty()) {
    SC_ERROR(WHY);
    return;
  }
  WHY = ADM_BANSAVE();
  if (WHY.empty()) {
    SC_WRITELN("unbanned " + A[0]);
  } else {
    SC_ERROR("unbanned " + A[0] + ", but not saved: " + WHY);
  }
}

static void ADM_BANS(const TWORDS&) {
  std::vector<std::string> L = ADM_BANLIST();
  if (L.empty()) {
    SC_WRITELN("no bans");
  }
  for (const std::string& S : L) {
    SC_WRITELN(S);
  }
}

// A human's slot, for the commands that act on its address.
static bool ADM_HUMAN(const std::string& S, uint8_t& SLOT) {
  if (!ADM_SLOT(S, SLOT)) {
    return false;
  }
  if (SV_CLIENTSLIST[SLOT].BOT) {
    SC_ERROR("slot " + S + " is a bot, which has no address");
    return false;
  }
  return true;
}

static void ADM_MUTE(const TWORDS& A) {
  if (A.empty()) {
    std::vector<std::string> L = COM_MUTELIST();
    if (L.empty()) {
      SC_WRITELN("no mutes");
    }
    for (const std::string& S : L) {
      SC_WRITELN(S);
    }
    return;
  }
  uint8_t SLOT;
  uint32_t MINUTES = 0;
  if (!ADM_HUMAN(A[0], SLOT) ||
      (A.size() == 2 && !ADM_NUMBER(A[1], 1, 99999999, "minutes", MINUTES))) {
    return;
  }
  const TCLIENT& C = SV_CLIENTSLIST[SLOT];
  SC_WRITELN(COM_MUTE(C.IP, MINUTES, C.NAME));
}

static void ADM_UNMUTE(const TWORDS& A) {
  // By address too: a muted player who has left has no slot.
  std::string IP = A[0];
  uint8_t SLOT;
  if (IP.find('.') == std::string::npos) {
    if (!ADM_HUMAN(IP, SLOT)) {
      return;
    }
    IP = SV_CLIENTSLIST[SLOT].IP;
  }
  if (!COM_UNMUTE(IP)) {
    SC_ERROR("not muted: " + IP);
    return;
  }
  SC_WRITELN("unmuted " + IP);
}

static void ADM_CANCELVOTE(const TWORDS&) {
  if (!COM_CANCELVOTE() && !COM_CANCELMAPVOTE()) {
    SC_ERROR("no vote is running");
  }
}

static void ADM_NEXT(const TWORDS&) {
  SV_SCOREBOARD = 0;
  SV_MAPNEXT();
}

// The map-list entry of a map named in the list, or else read from its file
// into a free entry (the built-in map keeps its place); 0 with an error.
static uint8_t ADM_MAPENTRY(const std::string& NAME) {
  for (int I = 1; I <= MAXMAPLIST; I++) {
    if (SV_MAPL[I].NAME == NAME && NAME != "-") {
      return uint8_t(I);
    }
  }
  // The loader's warnings say why a file is refused: they become the error.
  std::vector<std::string> WHY;
  std::vector<std::string>* KEEP = SC_WARNCAPTURE;
  SC_WARNCAPTURE = &WHY;
  uint8_t I = MAPFROMFILE(NAME, true);
  SC_WARNCAPTURE = KEEP;
  if (I == 0) {
    SC_ERROR("map " + NAME + " cannot be had" + (WHY.empty() ? "" : ": " + WHY[0]));
  }
  for (size_t K = I == 0 ? 1 : 0; K < WHY.size(); K++) {
    SC_WARN(WHY[K]);
  }
  return I;
}

static void ADM_MAP(const TWORDS& A) {
  uint8_t I = 0;
  bool NUMBER = A[0].find_first_not_of("0123456789") == std::string::npos;
  if (NUMBER) {
    uint32_t V;
    if (!ADM_NUMBER(A[0], 1, MAXMAPLIST, "map-list entry", V)) {
      return;
    }
    if (SV_MAPL[int(V)].NAME == "-") {
      SC_ERROR("map-list entry " + A[0] + " is free");
      return;
    }
    I = uint8_t(V);
  } else if ((I = ADM_MAPENTRY(A[0])) == 0) {
    return;
  }
  // As a map change at the end of a score board, to the entry asked for.
  SV_SCOREBOARD = 0;
  SV_KICKALL();
  SV_LOADCURMAP(I);
}

static void ADM_BOTS(const TWORDS& A) {
  uint32_t V;
  if (!ADM_NUMBER(A[0], 0, MAXCLIENTS, "bots", V)) {
    return;
  }
  SV_BOTCOUNT = uint8_t(V);
  // The newest bots leave at once; more come one a tick as usual.
  while (SV_BOTC > SV_BOTCOUNT) {
    PLAYER_REMOVE(BOT_NEWEST(false));
  }
}

// A score limit at or below a score already reached ends the match now, as
// reaching it would have; otherwise the match would run on past the limit.
static void ADM_SCOREREACHED() {
  if (SV_SCOREBOARD != 0) {
    return;
  }
  TArr<int, 0, MAXTEAMS - 1> TEAM = {};
  int BEST = 0;
  for (int I = 1; I <= MAXCLIENTS; I++) {
    const TCLIENT& C = SV_CLIENTSLIST[I];
    if (!C.EXIST || !C.PLAY) {
      continue;
    }
    TEAM[C.TEAM % MAXTEAMS] += C.SCORE;
    if (SV_TEAMPLAY == 0 && C.SCORE >= SV_SCORELIMIT &&
        (BEST == 0 || C.SCORE > SV_CLIENTSLIST[BEST].SCORE)) {
      BEST = I;
    }
  }
  if (SV_TEAMPLAY == 0) {
    if (BEST != 0) {
      SV_ADDMSG(SV_LOGLINE({LOGMESSID_SCORE, uint8_t(BEST)}));
      SV_SCORELIMITHIT();
    }
    return;
  }
  int T = 0;
  for (int K = 1; K < MAXTEAMS; K++) {
    T = TEAM[K] > TEAM[T] ? K : T;
  }
  if (TEAM[T] >= SV_SCORELIMIT) {
    SV_ADDMSG(SV_LOGLINE({LOGMESSID_TSCORE, uint8_t(T)}));
    SV_SCORELIMITHIT();
  }
}

static void ADM_SCORE(const TWORDS& A) {
  uint32_t V;
  if (ADM_NUMBER(A[0], 1, 255, "score", V)) {
    SV_SCORELIMIT = uint8_t(V);
    ADM_SCOREREACHED();
  }
}

static void ADM_MAXPLAYERS(const TWORDS& A) {
  // Players already in the game beyond a lower limit stay; nobody joins
  // until the count is below it.
  uint32_t V;
  if (ADM_NUMBER(A[0], 2, MAXCLIENTS, "maxplayers", V)) {
    SV_MAXPLAYERS = uint8_t(V);
  }
}

static void ADM_QUIT(const TWORDS&) {
  SV_QUITASKED = true;
}

static void ADM_HELP(const TWORDS&);

const TCOMMAND ADM_COMMANDS[] = {
    {"status", 0, 0, "moderator", ADM_STATUS, "status", "slots, map and settings"},
    {"say", 1, -1, "moderator", ADM_SAY, "say TEXT", "a server notice to every client"},
    {"kick", 1, 1, "moderator", ADM_KICK, "kick SLOT", "frees the slot, a bot's too"},
    {"ban", 1, 2, "admin", ADM_BAN, "ban SLOT|ADDRESS[/BITS] [MINUTES]",
     "bans an address or range, for good or for MINUTES, and kicks it"},
    {"unban", 1, 1, "admin", ADM_UNBAN, "unban ADDRESS[/BITS]", "lifts a ban"},
    {"bans", 0, 0, "admin", ADM_BANS, "bans", "the ban list with the time left"},
    {"mute", 0, 2, "moderator", ADM_MUTE, "mute [SLOT [MINUTES]]",
     "drops the chat of the slot's address until unmuted, or for MINUTES; alone: the mutes"},
    {"unmute", 1, 1, "moderator", ADM_UNMUTE, "unmute SLOT|ADDRESS", "lifts a mute"},
    {"cancelvote", 0, 0, "moderator", ADM_CANCELVOTE, "cancelvote",
     "ends the players' vote without a result"},
    {"next", 0, 0, "admin", ADM_NEXT, "next", "ends the match and loads the next map"},
    {"map", 1, 1, "admin", ADM_MAP, "map N|NAME", "plays map-list entry N or the map NAME"},
    {"bots", 1, 1, "admin", ADM_BOTS, "bots N", "bots wanted, 0 to 24"},
    {"score", 1, 1, "admin", ADM_SCORE, "score N", "score limit, 1 to 255"},
    {"maxplayers", 1, 1, "admin", ADM_MAXPLAYERS, "maxplayers N", "player limit, 2 to 24"},
    {"help", 0, 0, "admin", ADM_HELP, "help", "this list"},
    {"quit", 0, 0, "admin", ADM_QUIT, "quit", "stops the server"},
};

const size_t ADM_NCOMMANDS = sizeof ADM_COMMANDS / sizeof ADM_COMMANDS[0];

static void ADM_HELP(const TWORDS&) {
  for (const TCOMMAND& C : ADM_COMMANDS) {
    std::string U = C.USAGE;
    U.resize(36, ' ');
    SC_WRITELN(U + C.HELP);
  }
}

static bool ADM_BLANK(char C) {
  return C == ' ' || C == '\t';
}

// The first word of a line, from P on; P moves past it and the blanks
// after it.
static std::string ADM_WORD(std::string_view LINE, size_t& P) {
  size_t B = P;
  while (P < LINE.size() && !ADM_BLANK(LINE[P])) {
    P++;
  }
  std::string W(LINE.substr(B, P - B));
  while (P < LINE.size() && ADM_BLANK(LINE[P])) {
    P++;
  }
  return W;
}

const TCOMMAND* ADM_FINDCOMMAND(std::string_view LINE) {
  size_t P = 0;
  while (P < LINE.size() && ADM_BLANK(LINE[P])) {
    P++;
  }
  std::string NAME = ADM_WORD(LINE, P);
  for (const TCOMMAND& C : ADM_COMMANDS) {
    if (NAME == C.NAME) {
      return &C;
    }
  }
  return nullptr;
}

// Runs a line through the table; false when it is empty, which is no
// command.
static bool ADM_DISPATCH(const std::string& LINE) {
  size_t P = 0;
  while (P < LINE.size() && ADM_BLANK(LINE[P])) {
    P++;
  }
  if (P == LINE.size()) {
    return false;
  }
  std::string NAME = ADM_WORD(LINE, P);
  const TCOMMAND* CMD = ADM_FINDCOMMAND(NAME);
  if (CMD == nullptr) {
    SC_ERROR("unknown command: " + NAME + " (help lists the commands)");
    return true;
  }
  TWORDS A;
  if (CMD->MAXARGS < 0) {
    if (P < LINE.size()) {
      A.push_back(LINE.substr(P));
    }
  } else {
    while (P < LINE.size()) {
      A.push_back(ADM_WORD(LINE, P));
    }
  }
  size_t MAX = CMD->MAXARGS < 0 ? 1 : size_t(CMD->MAXARGS);
  if (A.size() < size_t(CMD->MINARGS) || A.size() > MAX) {
    SC_ERROR(std::string("usage: ") + CMD->USAGE);
    return true;
  }
  CMD->RUN(A);
  return true;
}

void ADM_RUNCOMMAND(const std::string& LINE) {
  REC_RECORDLINE(LINE);
  uint32_t ERRORS = SC_ERRORS;
  if (ADM_DISPATCH(LINE)) {
    ADM_ATTRIBUTE("console", "", LINE, SC_ERRORS == ERRORS);
  }
}

void ADM_EXECUTE(const std::string& LINE) {
  ADM_DISPATCH(LINE);
}

bool ADM_RUNAPI(const std::string& ADMIN, const std::string& ADDRESS, const std::string& LINE,
                std::vector<std::string>& ANSWER) {
  REC_RECORDAPI(ADMIN, ADDRESS, LINE);
  std::vector<std::string>* KEEP = SC_ANSWER;
  SC_ANSWER = &ANSWER;
  uint32_t ERRORS = SC_ERRORS;
  bool RAN = ADM_DISPATCH(LINE);
  SC_ANSWER = KEEP;
  bool OK = SC_ERRORS == ERRORS;
  if (RAN) {
    ADM_ATTRIBUTE(ADMIN, ADDRESS, LINE, OK);
  }
  return OK;
}
