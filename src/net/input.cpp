// Client messages: the receive loop of every cycle and one handler per
// message. Input acts on the game at once; nothing is queued.
#include "bots/bots.hpp"
#include "clients/clients.hpp"
#include "game/game.hpp"
#include "hooks.hpp"
#include "net/net.hpp"

// Replies go to the sender of the datagram being handled. The reply is built
// in the same buffer, so every field has been read before.
static void NET_REPLY(const std::string& IP, uint16_t PORT, uint8_t ID, bool WITHVERSION) {
  NET_CLEARBUFFER();
  NET_WRITEBYTE(ID);
  if (WITHVERSION) {
    NET_WRITEBYTE(PVER);
  }
  NET_COUNTSENT();
  NET_SEND(IP, PORT);
}

// FNV-1a of the address text: where its entry of the connect table starts.
static uint32_t NET_IPHASH(const std::string& IP) {
  uint32_t H = 2166136261u;
  for (unsigned char C : IP) {
    H = (H ^ C) * 16777619u;
  }
  return H;
}

bool NET_CONNECTALLOWED(const std::string& IP) {
  // The entry of this address among a few neighbouring places of the table;
  // a new address takes a free or expired place, or else the one least
  // recently used.
  constexpr int PROBES = 8;
  uint32_t H = NET_IPHASH(IP) % CONNTABLE;
  int AT = -1;
  int SPARE = -1;
  int64_t SPAREAGE = 0;
  for (int K = 0; K < PROBES && AT < 0; K++) {
    int I = int((H + uint32_t(K)) % CONNTABLE);
    TCONNLOG& E = NET_CONNLOG[I];
    if (E.N > 0 && E.IP == IP) {
      AT = I;
      continue;
    }
    int64_t AGE = E.N == 0 ? INT64_MAX : SV_NOWMS - E.CONNAT[0];
    if (SPARE < 0 || AGE > SPAREAGE) {
      SPARE = I;
      SPAREAGE = AGE;
    }
  }
  if (AT < 0) {
    AT = SPARE;
    NET_CONNLOG[AT].IP = IP;
    NET_CONNLOG[AT].N = 0;
  }
  TCONNLOG& E = NET_CONNLOG[AT];
  if (E.N == CONNMAX && SV_NOWMS - E.CONNAT[CONNMAX - 1] < CONNWINDOWMS) {
    return false;
  }
  for (int K = CONNMAX - 1; K > 0; K--) {
    E.CONNAT[K] = E.CONNAT[K - 1];
  }
  E.CONNAT[0] = SV_NOWMS;
  if (E.N < CONNMAX) {
    E.N++;
  }
  return true;
}

// SVMPMSG_CCON from a sender without a slot.
static void NET_ONCONNECT(const std::string& IP, uint16_t PORT) {
  // Beyond the limit a connect is dropped without a reply: one forged
  // address cannot draw more than a few slots' worth of packets.
  if (!NET_CONNECTALLOWED(IP)) {
    SV_STATS.DROPCONNLIMIT++;
    return;
  }
  if (NET_READBYTE() != PVER) {
    SV_STATS.CONNWRONGVER++;
    NET_REPLY(IP, PORT, CLMPMSG_WVER, true);
    return;
  }
  BOT_FILLSLOT();
  uint8_t CID = PLAYER_NEW(IP, PORT);
  if (CID == 0) {
    SV_STATS.CONNFULL++;
    NET_REPLY(IP, PORT, CLMPMSG_SVFULL, false);
    return;
  }
  SV_STATS.CONNOK++;
  TCLIENT& C = SV_CLIENTSLIST[CID];
  C.NAME = NET_READSTRING().substr(0, PLAYERMAXNAME);
  C.TEAM = uint8_t(NET_READBYTE() % MAXTEAMS);
  if (SV_TEAMPLAY != 0) {
    C.NAME = PLAYER_TAGNAME(C.TEAM, C.NAME);
  }
  SV_ADDMSG(SV_LOGLINE({LOGMESSID_CCON, CID, C.TEAM}) + C.NAME);
}

// True when line number U lies between FROM and TO, counting modulo 65536:
// line numbers wrap after 65535 and the window may straddle the wrap.
static bool NET_LINEWITHIN(uint16_t U, uint16_t FROM, uint16_t TO) {
  return uint16_t(U - FROM) <= uint16_t(TO - FROM);
}

// SVMPMSG_CDAT from the holder of slot CID.
static void NET_ONDATA(uint8_t CID) {
  TCLIENT& C = SV_CLIENTSLIST[CID];
  if (C.T_MMSGS == 0) {
    SV_STATS.DROPBUDGET++;
    return; // over budget: not even read
  }
  C.PVAR = NET_READWORD();
  C.DIR = NET_READWORD();
  C.ACT = NET_READBYTE();
  C.MX = NET_READWORD();
  C.MY = NET_READWORD();
  uint16_t U = NET_READWORD();
  // An old, repeated or impossible acknowledgement moves nothing.
  if (NET_LINEWITHIN(U, C.LOGI, SV_LOGI)) {
    C.LOGI = U;
  }
  // While the score board is shown the input is stored but has no effect.
  if (SV_SCOREBOARD == 0) {
    PLAYER_ACTIONS(CID);
  }
  C.T_MMSGS--;
}

// SVMPMSG_CCHAT from the holder of slot CID.
static void NET_ONCHAT(uint8_t CID) {
  TCLIENT& C = SV_CLIENTSLIST[CID];
  if (C.T_CHAT != 0) {
    return; // cooling down: the line is lost
  }
  C.T_CHAT = CHATTIME;
  // Kind and slot bytes plus the text must fit one wire string.
  std::string TEXT = NET_READSTRING().substr(0, NET_MAXCHAT);
  if (HOOK_CHAT(CID, TEXT)) {
    return; // a command, or a muted address: no chat line
  }
  SV_ADDMSG(SV_LOGLINE({LOGMESSID_CHAT, CID}) + TEXT);
}

// The ids of the game's own messages; any other is the edge's to take.
static bool NET_GAMEID(uint8_t MID) {
  return MID == SVMPMSG_CCON || MID == SVMPMSG_CDCON || MID == SVMPMSG_CDAT || MID == SVMPMSG_CCHAT;
}

static void NET_ONDATAGRAM() {
  std::string IP = NET_LASTINIP();
  // A banned sender is dropped before anything reads the datagram: no
  // reply, no slot, no count against the connect limit.
  if (HOOK_BANNED(IP)) {
    SV_STATS.DROPBANNED++;
    return;
  }
  uint16_t PORT = NET_LASTINPORT();
  // The lookup restarts a known sender's time-out before anything else:
  // every datagram from a slot's holder shows it is still there.
  uint8_t CID = PLAYER_A2I(IP, PORT);
  uint8_t MID = NET_READBYTE();
  if (CID == 0) {
    if (MID == SVMPMSG_CCON) {
      NET_ONCONNECT(IP, PORT);
      return;
    }
    if (!NET_GAMEID(MID) && HOOK_FOREIGN(IP, PORT)) {
      return; // the edge's (a status query): answered without a slot
    }
    SV_STATS.DROPNOSLOT++;
    if (MID == SVMPMSG_CDAT) {
      NET_REPLY(IP, PORT, CLMPMSG_NOCON, false);
    }
    return;
  }
  // Anything but a connect shows that the client at this address is real.
  if (MID != SVMPMSG_CCON) {
    SV_CLIENTSLIST[CID].HEARD = true;
  }
  switch (MID) {
  case SVMPMSG_CDCON:
    PLAYER_REMOVE(CID);
    break;
  case SVMPMSG_CDAT:
    NET_ONDATA(CID);
    break;
  case SVMPMSG_CCHAT:
    NET_ONCHAT(CID);
    break;
  case SVMPMSG_CCON:
    break; // a second connect: the slot stays as it is
  default:
    HOOK_FOREIGN(IP, PORT); // not the game's: the slot stays as it is
    break;
  }
}

void NET_INPUT() {
  // Read until nothing is waiting. An empty, oversized or failed datagram is
  // skipped, not taken for the end: a stream of them must not starve the
  // real ones behind it. A cycle handles at most NET_MAXINPERCYCLE datagrams
  // so a flood cannot hold the tick.
  NET_CLEARBUFFER();
  for (int N = 0; N < NET_MAXINPERCYCLE; N++) {
    int32_t R = NET_RECEIVE();
    HOOK_RECEIVED(R);
    if (R == NET_RECV_NONE) {
      break;
    }
    SV_STATS.DGIN++;
    if (R > 0) {
      SV_STATS.BYTESIN += uint32_t(R);
      NET_ONDATAGRAM();
    } else if (R == 0) {
      SV_STATS.DROPEMPTY++;
    } else {
      SV_STATS.DROPOVERSIZED++;
    }
  }
}
