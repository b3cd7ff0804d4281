// State broadcast: the state packet of every tick, and the map-information
// and event-log packets of each slot's per-tick update.
#include <algorithm>

#include "clients/clients.hpp"
#include "net/net.hpp"

uint8_t PLAYER_STATE(uint8_t PID) {
  const TCLIENT& C = SV_CLIENTSLIST[PID];
  if (!C.EXIST) {
    return PS_NONE;
  }
  if (!C.PLAY) {
    return PS_SPEC;
  }
  if (C.HITS == 0) {
    return PS_DEAD;
  }
  if (C.T_GANIM == 0) {
    return PS_LIVE;
  }
  return PS_ATTA;
}

void NET_WRITEITEMS() {
  NET_WRITEBYTE(SV_MAP.ITN);
  for (int I = 1; I <= MAXMAPITEMS && SV_MAP.ITL[I].KIND != 0; I++) {
    const TITEM& IT = SV_MAP.ITL[I];
    if (IT.RESP == 0) {
      NET_WRITEBYTE(uint8_t(I));
    }
  }
}

void NET_WRITEMAP(uint8_t I, size_t NAMEMAX) {
  const TMAPINLIST& E = SV_MAPL[I];
  for (int P = 1; P <= MAXMAPBUFFER && E.MAP[P] != 0; P++) {
    NET_WRITECHAR(E.MAP[P]);
  }
  NET_WRITEBYTE(0);
  NET_WRITESTRING(E.NAME.substr(0, NAMEMAX));
}

void NET_OUTPUT() {
  NET_CLEARBUFFER();
  NET_WRITEBYTE(CLMPMSG_SHAP);
  NET_WRITEWORD(SV_PINGVAR);
  NET_WRITEWORD(SV_SCOREBOARD);
  NET_WRITEBYTE(SV_CURCLIENTS);
  for (int I = 1; I <= MAXCLIENTS; I++) {
    const TCLIENT& C = SV_CLIENTSLIST[I];
    if (!C.EXIST) {
      continue;
    }
    uint8_t ST = PLAYER_STATE(uint8_t(I));
    NET_WRITEBYTE(uint8_t(I));
    NET_WRITEBYTE(ST);
    NET_WRITEBYTE(C.PING);
    if (ST >= PS_DEAD) {
      NET_WRITEBYTE(C.SCORE);
    }
    if (ST >= PS_LIVE) {
      NET_WRITEWORD(C.X);
      NET_WRITEWORD(C.Y);
      NET_WRITEWORD(C.DIR);
    }
    if (ST == PS_ATTA) {
      NET_WRITEBYTE(C.GUN);
    }
  }
  NET_WRITEITEMS();
  // The common part is built once; only the six-byte tail differs.
  uint16_t TAIL = NET_BUFP;
  for (int I = 1; I <= MAXCLIENTS; I++) {
    const TCLIENT& C = SV_CLIENTSLIST[I];
    if (!C.EXIST || C.BOT || !PLAYER_MAYSEND(uint8_t(I))) {
      continue;
    }
    NET_BUFP = TAIL;
    NET_WRITEBYTE(uint8_t(I));
    NET_WRITEBYTE(C.HITS);
    NET_WRITEBYTE(C.ARMOR);
    NET_WRITEBYTE(C.AMMO[1]);
    NET_WRITEBYTE(C.AMMO[2]);
    NET_WRITEBYTE(C.GUN);
    NET_COUNTSENT();
    NET_SEND(C.IP, C.PORT);
  }
}

// How many characters of the map name and of the server name the
// map-information packet carries. The map text and the player list must
// arrive whole, and a packet cut at the end of the buffer would carry length
// bytes that lie. When all would not fit, the two names give way: each keeps
// at least half of the room left, and the shorter one keeps all it has. The
// last byte of the buffer stays unused: a string reader of this codec never
// reaches it.
static void NET_MAPINFONAMES(size_t& MAPNAME, size_t& SVNAME) {
  const TMAPINLIST& E = SV_MAPL[SV_MAP.NUM];
  // id, log base, end of text, settings, count, two name lengths, the spare byte
  size_t USED = 1 + 2 + 1 + 3 + 1 + 2 + 1;
  for (int P = 1; P <= MAXMAPBUFFER && E.MAP[P] != 0; P++) {
    USED++;
  }
  for (int I = 1; I <= MAXCLIENTS; I++) {
    const TCLIENT& P = SV_CLIENTSLIST[I];
    USED += P.EXIST ? 3 + std::min(P.NAME.size(), size_t(255)) : 0;
  }
  size_t ROOM = USED < size_t(MAXBUFFER) ? size_t(MAXBUFFER) - USED : 0;
  MAPNAME = std::min(E.NAME.size(), size_t(255));
  SVNAME = std::min(SV_NAME.size(), size_t(255));
  if (MAPNAME + SVNAME > ROOM) {
    if (MAPNAME <= ROOM / 2) {
      SVNAME = ROOM - MAPNAME;
    } else if (SVNAME <= ROOM / 2) {
      MAPNAME = ROOM - SVNAME;
    } else {
      MAPNAME = ROOM / 2;
      SVNAME = ROOM - MAPNAME;
    }
  }
}

void NET_SENDMAPINFO(uint8_t CID) {
  TCLIENT& C = SV_CLIENTSLIST[CID];
  if (C.ACT != PLACT_MI || C.T_MAP != 0) {
    return;
  }
  C.T_MAP = 15;
  size_t MAPNAME, SVNAME;
  NET_MAPINFONAMES(MAPNAME, SVNAME);
  NET_CLEARBUFFER();
  NET_WRITEBYTE(CLMPMSG_MAP);
  NET_WRITEWORD(C.LOGI);
  NET_WRITEMAP(SV_MAP.NUM, MAPNAME);
  NET_WRITESTRING(SV_NAME.substr(0, SVNAME));
  NET_WRITEBYTE(SV_SCORELIMIT);
  NET_WRITEBYTE(SV_TEAMPLAY);
  NET_WRITEBYTE(SV_MAXPLAYERS);
  NET_WRITEBYTE(SV_CURCLIENTS);
  for (int I = 1; I <= MAXCLIENTS; I++) {
    const TCLIENT& P = SV_CLIENTSLIST[I];
    if (P.EXIST) {
      NET_WRITEBYTE(uint8_t(I));
      NET_WRITEBYTE(P.TEAM);
      NET_WRITESTRING(P.NAME);
    }
  }
  NET_COUNTSENT();
  NET_SEND(C.IP, C.PORT);
}

void NET_SENDLOG(uint8_t CID) {
  TCLIENT& C = SV_CLIENTSLIST[CID];
  // Line numbers are compared modulo 65536: the backlog is the distance
  // from the client's line to the newest one.
  uint16_t BACKLOG = uint16_t(SV_LOGI - C.LOGI);
  if (BACKLOG == 0 || C.BOT) {
    return;
  }
  // A client that is sent nothing is still removed when it falls too far
  // behind; its send timer stays as it is for when it speaks.
  bool SEND = PLAYER_MAYSEND(CID);
  if (SEND && C.T_SL != 0) {
    return;
  }
  if (BACKLOG >= MAXLOG) {
    // The lines it lacks are no longer all in the log.
    PLAYER_REMOVE(CID);
    return;
  }
  if (!SEND) {
    return;
  }
  C.T_SL = SENDLLTIME;
  uint16_t COUNT = BACKLOG < MAXMISSLMESS ? BACKLOG : MAXMISSLMESS;
  NET_CLEARBUFFER();
  NET_WRITEBYTE(CLMPMSG_LOGL);
  NET_WRITEWORD(uint16_t(C.LOGI + COUNT));
  NET_WRITEBYTE(uint8_t(COUNT));
  for (int K = 1; K <= COUNT; K++) {
    NET_WRITESTRING(SV_LOG[BACKLOG - K]);
  }
  NET_COUNTSENT();
  NET_SEND(C.IP, C.PORT);
}
