// Bot fill: bots give their place to humans and come back where there is room.
#include "clients/clients.hpp"
#include "ops/ops.hpp"

// The order in which bots came: OPS_BOTSEQ[slot] grows with each bot noted,
// 0 for a slot without a bot or a bot not noted yet. Bots are noted before
// every bot is added, so at most one bot, the newest, is not noted.
static uint32_t OPS_BOTSEQ[MAXCLIENTS + 1];
static uint32_t OPS_BOTNEXT = 0;

static void OPS_NOTEBOTS() {
  for (int I = 1; I <= MAXCLIENTS; I++) {
    const TCLIENT& C = SV_CLIENTSLIST[I];
    if (!C.EXIST || !C.BOT) {
      OPS_BOTSEQ[I] = 0;
    } else if (OPS_BOTSEQ[I] == 0) {
      OPS_BOTSEQ[I] = ++OPS_BOTNEXT;
    }
  }
}

// The slot of the newest bot (only among the bots in the game when
// PLAYING), or 0 when there is none.
static uint8_t OPS_NEWESTBOT(bool PLAYING) {
  uint8_t NEWEST = 0;
  uint32_t NEWESTSEQ = 0;
  for (int I = 1; I <= MAXCLIENTS; I++) {
    const TCLIENT& C = SV_CLIENTSLIST[I];
    if (!C.EXIST || !C.BOT || (PLAYING && !C.PLAY)) {
      continue;
    }
    uint32_t SEQ = OPS_BOTSEQ[I] != 0 ? OPS_BOTSEQ[I] : UINT32_MAX;
    if (NEWEST == 0 || SEQ >= NEWESTSEQ) {
      NEWEST = uint8_t(I);
      NEWESTSEQ = SEQ;
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
  OPS_NOTEBOTS();
  // A new bot joins the game at once: it counts as playing already, and so
  // do the bots still waiting to join.
  int HUMANSPLAYING = 0;
  for (int I = 1; I <= MAXCLIENTS; I++) {
    const TCLIENT& C = SV_CLIENTSLIST[I];
    HUMANSPLAYING += C.EXIST && !C.BOT && C.PLAY ? 1 : 0;
  }
  return HUMANSPLAYING + SV_BOTC < SV_MAXPLAYERS;
}
