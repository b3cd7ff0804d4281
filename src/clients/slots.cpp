// Client slots: a client is its IPv4 address and UDP port, bound to one of
// the 24 slots. The counters SV_CURCLIENTS, SV_CURPLAYERS and SV_BOTC change
// only together with the slot fields they count.
#include "clients/clients.hpp"
#include "game/game.hpp"
#include "hooks.hpp"

uint8_t PLAYER_CLAIM() {
  if (SV_CURCLIENTS >= MAXCLIENTS) {
    return 0;
  }
  uint8_t T = 0;
  for (int I = 1; I <= MAXCLIENTS && T == 0; I++) {
    if (!SV_CLIENTSLIST[I].EXIST) {
      T = uint8_t(I);
    }
  }
  if (T == 0) {
    return 0;
  }
  TCLIENT& C = SV_CLIENTSLIST[T];
  C.EXIST = true;
  C.PLAY = false;
  C.SCORE = 0;
  C.T_SJ = 0;
  C.T_SL = 0;
  C.T_GANIM = 0;
  C.T_RELOAD = 0;
  C.T_TTL = 0;
  C.T_CHAT = 0;
  C.T_MAP = 0;
  C.T_MMSGS = FPS_NUM;
  C.CLAIMNO = ++SV_CLAIMS;
  HOOK_CLAIMED(T);
  return T;
}

std::string PLAYER_TAGNAME(uint8_t TEAM, const std::string& NAME) {
  return ("[" + std::string(TEAMCHAR[TEAM % MAXTEAMS]) + "]" + NAME).substr(0, PLAYERMAXNAME);
}

uint8_t PLAYER_NEW(const std::string& SIP, uint16_t SPORT) {
  uint8_t T = PLAYER_CLAIM();
  if (T == 0) {
    return 0;
  }
  TCLIENT& C = SV_CLIENTSLIST[T];
  C.IP = SIP.substr(0, 15);
  C.PORT = SPORT;
  // One line below the newest: the client is owed the last line logged
  // before it came and its own connect line.
  C.LOGI = uint16_t(SV_LOGI - 1);
  C.BOT = false;
  // Nothing of the slot's previous occupant may show: no map it did not ask
  // for, no stranger's ping.
  C.DIR = 0;
  C.MX = 0;
  C.MY = 0;
  C.ACT = 0;
  C.PING = 0;
  C.PVAR = SV_PINGVAR;
  C.HEARD = false;
  C.T_UNHEARD = 0;
  PLAYER_RESPAWN(T);
  SV_CURCLIENTS++;
  return T;
}

uint8_t PLAYER_A2I(const std::string& IP, uint16_t PORT) {
  for (int I = 1; I <= MAXCLIENTS; I++) {
    TCLIENT& C = SV_CLIENTSLIST[I];
    // A bot's address 0.0.0.0:0 is nobody's: a datagram claiming it must not
    // steer or remove the bot.
    if (C.EXIST && !C.BOT && C.PORT == PORT && C.IP == IP) {
      C.T_TTL = 0; // any datagram at all keeps the client alive
      return uint8_t(I);
    }
  }
  return 0;
}

void PLAYER_REMOVE(uint8_t PID) {
  TCLIENT& C = SV_CLIENTSLIST[PID];
  if (!C.EXIST) {
    return;
  }
  SV_CURCLIENTS--;
  if (C.PLAY) {
    SV_CURPLAYERS--;
  }
  // Only EXIST is cleared: the log printer below still reads the name.
  C.EXIST = false;
  SV_ADDMSG(SV_LOGLINE({LOGMESSID_CDCON, PID}));
  if (C.BOT) {
    SV_BOTC--;
  }
}

bool PLAYER_MAYSEND(uint8_t PID) {
  const TCLIENT& C = SV_CLIENTSLIST[PID];
  return C.HEARD || C.T_UNHEARD <= UNHEARDTICKS;
}

void SV_KICKALL() {
  for (int I = 1; I <= MAXCLIENTS; I++) {
    PLAYER_REMOVE(uint8_t(I));
  }
}

bool PLAYER_TIMEOUT(uint8_t PID) {
  TCLIENT& C = SV_CLIENTSLIST[PID];
  C.T_TTL++;
  if (C.T_TTL < PLAYERTTL) {
    return false;
  }
  SV_ADDMSG(SV_LOGLINE({LOGMESSID_COUT, PID}));
  PLAYER_REMOVE(PID);
  return true;
}
