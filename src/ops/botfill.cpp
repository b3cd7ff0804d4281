// Bot fill: bots give their place to humans and come back where there is room.
#include "clients/clients.hpp"
#include "ops/ops.hpp"

uint8_t OPS_NEWESTBOT(bool PLAYING) {
  uint8_t NEWEST = 0;
  for (int I = 1; I <= MAXCLIENTS; I++) {
    const TCLIENT& C = SV_CLIENTSLIST[I];
    if (C.EXIST && C.BOT && (C.PLAY || !PLAYING) &&
        (NEWEST == 0 || C.CLAIMNO > SV_CLIENTSLIST[NEWEST].CLAIMNO)) {
      NEWEST = uint8_t(I);
    }
  }
  return NEWEST;
}

void OPS_BOTFILLSLOT() {
  if (SV_BOTFILL == 0 || SV_CURCLIENTS < MAXCLIENTS) {
    return;
  }
  uint8_t B = OPS_NEWESTBOT(false);
  if (B != 0) {
    PLAYER_REMOVE(B); // logs the bot's disconnect, like any departure
  }
}

void OPS_BOTFILLPLAY(uint8_t PID) {
  const TCLIENT& C = SV_CLIENTSLIST[PID];
  if (SV_BOTFILL == 0 || C.BOT || C.PLAY || SV_CURPLAYERS < SV_MAXPLAYERS) {
    return;
  }
  uint8_t B = OPS_NEWESTBOT(true);
  if (B != 0) {
    PLAYER_REMOVE(B);
  }
}

bool OPS_BOTFILLROOM() {
  if (SV_BOTFILL == 0) {
    return true;
  }
  // A new bot joins the game at once: it counts as playing already, and so
  // do the bots still waiting to join.
  int HUMANSPLAYING = 0;
  for (int I = 1; I <= MAXCLIENTS; I++) {
    const TCLIENT& C = SV_CLIENTSLIST[I];
    HUMANSPLAYING += C.EXIST && !C.BOT && C.PLAY ? 1 : 0;
  }
  return HUMANSPLAYING + SV_BOTC < SV_MAXPLAYERS;
}
