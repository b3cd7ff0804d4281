// Bot control: creation up to the number asked for, and one tick of each bot,
// which acts through the same action step as a human.
#include "bots/bots.hpp"
#include "clients/clients.hpp"
#include "game/game.hpp"
#include "server/server.hpp"

uint32_t BOT_RANDOM(uint32_t N) {
  // A linear congruential generator; the high bits of the product scale the
  // 32-bit state to 0..N-1.
  BOT_RANDSEED = BOT_RANDSEED * 134775813u + 1u;
  return uint32_t((uint64_t(BOT_RANDSEED) * N) >> 32);
}

void SV_BOTZ() {
  if (SV_BOTC < SV_BOTCOUNT && BOT_FILLROOM()) {
    SV_ADDBOT();
  }
  for (int I = 1; I <= MAXCLIENTS; I++) {
    if (SV_CLIENTSLIST[I].EXIST && SV_CLIENTSLIST[I].BOT) {
      BOT_CODE(uint8_t(I));
    }
  }
}

void SV_ADDBOT() {
  uint8_t T = PLAYER_CLAIM();
  if (T == 0) {
    return;
  }
  TCLIENT& C = SV_CLIENTSLIST[T];
  C.LOGI = SV_LOGI;
  C.BOT = true;
  C.B_EN = T; // its own slot stands for nobody
  C.HEARD = true;
  C.IP = "0.0.0.0";
  C.PORT = 0;
  // Bots are numbered in the order of their creation, not by slot.
  C.NAME = "BOT #" + B2S(uint8_t(SV_BOTC + 1));
  C.TEAM = SV_BOTTEAMS > 0 ? uint8_t(SV_BOTC % SV_BOTTEAMS) : 0;
  if (SV_TEAMPLAY > 0) {
    C.NAME = PLAYER_TAGNAME(C.TEAM, C.NAME);
  }
  SV_ADDMSG(SV_LOGLINE({LOGMESSID_CCON, T, C.TEAM}) + C.NAME);
  PLAYER_RESPAWN(T);
  SV_CURCLIENTS++;
  SV_BOTC++;
}

void BOT_CODE(uint8_t CID) {
  TCLIENT& C = SV_CLIENTSLIST[CID];
  // A bot never times out and never falls behind on the log.
  C.T_TTL = 0;
  C.PVAR = SV_PINGVAR;
  C.LOGI = SV_LOGI;
  C.ACT = 0;
  if (!C.PLAY) {
    C.ACT = PLACT_SJ;
  } else if (C.HITS == 0) {
    C.ACT = PLACT_AR;
  } else if (SV_SCOREBOARD == 0) {
    BOT_MOVE(CID);
    // While the weapon reloads the bot walks but does not aim or look.
    if (C.T_RELOAD == 0) {
      BOT_ATTACK(CID);
    }
  }
  PLAYER_ACTIONS(CID);
}
