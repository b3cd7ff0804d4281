// The status snapshot: one fixed-size picture of the match, taken from the
// globals in one place for everything that shows the server to operators.
#include "net/net.hpp"
#include "status/status.hpp"

static void STATUS_MAPTEXT(TSNAPSHOT& S) {
  const TMAPINLIST& M = SV_MAPL[SV_MAP.NUM];
  size_t N = 0;
  while (N < size_t(MAXMAPBUFFER) && M.MAP[int(N) + 1] != 0) {
    N++;
  }
  S.MAPTEXT.SET(std::string_view(&M.MAP[1], N));
}

void STATUS_TAKE(TSNAPSHOT& S) {
  S.SEQ++;
  S.TAKENMS = SV_NOWMS;
  S.CYCLES = SV_CYCLES;
  S.NAME.SET(SV_NAME);
  S.MAPNUM = SV_MAP.NUM;
  if (SV_MAP.NUM >= 1 && SV_MAP.NUM <= MAXMAPLIST) {
    S.MAPNAME.SET(SV_MAPL[SV_MAP.NUM].NAME);
    // The text only changes with a map load, and the list only before one:
    // copy them then, not every cycle.
    if (S.MAPLOADS != SV_STATS.MAPLOADS || S.SEQ == 1) {
      STATUS_MAPTEXT(S);
      for (int I = 1; I <= MAXMAPLIST; I++) {
        S.MAPLIST[I - 1].SET(SV_MAPL[I].NAME);
      }
    }
  }
  S.MAPLOADS = SV_STATS.MAPLOADS;
  S.SCORELIMIT = SV_SCORELIMIT;
  S.MAXPLAYERS = SV_MAXPLAYERS;
  S.TEAMPLAY = SV_TEAMPLAY;
  S.BOTCOUNT = SV_BOTCOUNT;
  S.BOTTEAMS = SV_BOTTEAMS;
  S.PINGVAR = SV_PINGVAR;
  S.SCOREBOARD = SV_SCOREBOARD;
  S.CURCLIENTS = SV_CURCLIENTS;
  S.CURPLAYERS = SV_CURPLAYERS;
  S.BOTC = SV_BOTC;
  S.HUMANS = 0;
  S.SPECTATORS = 0;
  S.NSLOTS = 0;
  for (int I = 1; I <= MAXCLIENTS; I++) {
    const TCLIENT& C = SV_CLIENTSLIST[I];
    if (!C.EXIST) {
      continue;
    }
    TSNAPSLOT& O = S.SLOTS[S.NSLOTS++];
    O.SLOT = uint8_t(I);
    O.NAME.SET(C.NAME);
    O.IP.SET(C.IP);
    O.PORT = C.PORT;
    O.BOT = C.BOT;
    O.STATE = PLAYER_STATE(uint8_t(I));
    O.TEAM = C.TEAM;
    O.SCORE = C.SCORE;
    O.PING = C.PING;
    O.X = C.X;
    O.Y = C.Y;
    O.DIR = C.DIR;
    O.HITS = C.HITS;
    O.ARMOR = C.ARMOR;
    O.GUN = C.GUN;
    O.CLAIMEDMS = STATUS_CLAIMEDMS[I];
    if (!C.BOT) {
      S.HUMANS++;
      if (!C.PLAY) {
        S.SPECTATORS++;
      }
    }
  }
  S.NITEMS = 0;
  for (int I = 1; I <= MAXMAPITEMS && SV_MAP.ITL[I].KIND != 0; I++) {
    const TITEM& IT = SV_MAP.ITL[I];
    S.ITEMS[S.NITEMS++] = TSNAPITEM{IT.X, IT.Y, IT.KIND, IT.RESP == 0};
  }
  // The lines change only when one is added: copy them then.
  if (S.LOGSEQ != STATUS_LOGSEQ || S.SEQ == 1) {
    S.LOGSEQ = STATUS_LOGSEQ;
    S.NLOG = uint8_t(STATUS_LOGCOUNT);
    for (int K = 0; K < STATUS_LOGCOUNT; K++) {
      int AT = (STATUS_LOGNEXT - STATUS_LOGCOUNT + K + STATUS_LOGLINES) % STATUS_LOGLINES;
      S.LOG[K] = STATUS_LOGRING[AT];
    }
  }
  S.STATS = SV_STATS;
}
