// Bot fill (-botfill): bots give their place to humans and come back where
// there is room. A rule of the bots' lifecycle, on the slots alone.
#include "bots/bots.hpp"
#include "clients/clients.hpp"

uint8_t BOT_NEWEST(bool PLAYING) {
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

void BOT_FILLSLOT() {
  if (SV_BOTFILL == 0 || SV_CURCLIENTS < MAXCLIENTS) {
    return;
  }
  uint8_t B = BOT_NEWEST(false);
  if (B != 0) {
    PLAYER_REMOVE(B); // logs the bot's disconnect, like any departure
  }
}

void BOT_FILLPLAY(uint8_t PID) {
  const TCLIENT& C = SV_CLIENTSLIST[PID];
  if (SV_BOTFILL == 0 || C.BOT || C.PLAY || SV_CURPLAYERS < SV_MAXPLAYERS) {
    return;
  }
  uint8_t B = BOT_NEWEST(true);
  if (B != 0) {
    PLAYER_REMOVE(B);
  }
}

bool BOT_FILLROOM() {
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
