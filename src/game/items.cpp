// Items, death and respawn: pick-ups, the countdown that brings items back,
// the start equipment on a spawn point, and the spectator/player toggle.
#include <algorithm>

#include "bots/bots.hpp"
#include "clients/clients.hpp"
#include "game/game.hpp"

void PLAYER_ITEMS(uint8_t PLI) {
  TCLIENT& C = SV_CLIENTSLIST[PLI];
  int32_t X0 = int32_t(C.X) - MAPGRIDHSIZE;
  int32_t Y0 = int32_t(C.Y) - MAPGRIDHSIZE;
  int32_t X1 = int32_t(C.X) + MAPGRIDHSIZE;
  int32_t Y1 = int32_t(C.Y) + MAPGRIDHSIZE;
  // Every present item under the square is handled; each gift is tested on
  // its own, and an item is taken when at least one gift applied.
  for (int IT = 1; IT <= MAXMAPITEMS && SV_MAP.ITL[IT].KIND != 0; IT++) {
    TITEM& I = SV_MAP.ITL[IT];
    char K = I.KIND;
    if (I.RESP != 0 || !MAP_ITEMS(K)) {
      continue;
    }
    if (!(X0 < I.X && I.X < X1 && Y0 < I.Y && I.Y < Y1)) {
      continue;
    }
    if (ITEMSP_HITS[K] > 0 && C.HITS < PLAYERMAXHITS) {
      I.RESP = ITEMSP_RESPT[K];
      C.HITS = uint8_t(std::min<int>(C.HITS + ITEMSP_HITS[K], PLAYERMAXHITS));
    }
    if (ITEMSP_ARMOR[K] > 0 && C.ARMOR < PLAYERMAXARMOR) {
      I.RESP = ITEMSP_RESPT[K];
      C.ARMOR = uint8_t(std::min<int>(C.ARMOR + ITEMSP_ARMOR[K], PLAYERMAXARMOR));
    }
    for (int AMT = 1; AMT <= 2; AMT++) {
      if (ITEMSP_AMMO[AMT][K] > 0 && C.AMMO[AMT] < PLAYERMAXAMMO[AMT]) {
        I.RESP = ITEMSP_RESPT[K];
        C.AMMO[AMT] = uint8_t(std::min<int>(C.AMMO[AMT] + ITEMSP_AMMO[AMT][K], PLAYERMAXAMMO[AMT]));
      }
    }
    // A weapon item is always taken; only a new weapon becomes the choice.
    uint8_t G = ITEMSP_GUN[K];
    if (G > 0) {
      if (!C.GUNS[G]) {
        C.NGUN = G;
      }
      C.GUNS[G] = true;
      I.RESP = ITEMSP_RESPT[K];
    }
  }
}

void SV_MAPITEMS() {
  SV_MAP.ITN = 0;
  for (int T = 1; T <= MAXMAPITEMS && SV_MAP.ITL[T].KIND != 0; T++) {
    TITEM& I = SV_MAP.ITL[T];
    if (I.RESP > 0) {
      I.RESP--;
    }
    if (I.RESP == 0) {
      SV_MAP.ITN++;
    }
  }
}

void PLAYER_RESPAWN(uint8_t PLI) {
  TCLIENT& C = SV_CLIENTSLIST[PLI];
  // The spawn point follows the tick counter alone.
  if (SV_MAP.SPN > 0) {
    const TRESPPOINT& SP = SV_MAP.SPL[SV_PINGVAR % SV_MAP.SPN + 1];
    C.X = SP.X;
    C.Y = SP.Y;
  }
  C.GUNS[1] = true;
  C.GUNS[2] = true;
  C.GUNS[3] = false;
  C.GUNS[4] = false;
  C.GUNS[5] = false;
  C.GUN = PLAYERSTARTGUN;
  C.NGUN = PLAYERSTARTGUN;
  C.HITS = PLAYERMAXHITS;
  C.ARMOR = PLAYERSTARTARMOR;
  C.AMMO[1] = PLAYERSTARTAMMO[1];
  C.AMMO[2] = PLAYERSTARTAMMO[2];
  C.T_RELOAD = 0;
  C.B_MX = C.X;
  C.B_MY = C.Y;
}

void PLAYER_SPECJOIN(uint8_t PID) {
  TCLIENT& C = SV_CLIENTSLIST[PID];
  if (C.T_SJ != 0) {
    return;
  }
  BOT_FILLPLAY(PID);
  // Every toggle respawns and clears the score, even one the limit refuses.
  PLAYER_RESPAWN(PID);
  C.SCORE = 0;
  if (C.PLAY) {
    C.PLAY = false;
    SV_CURPLAYERS--;
    SV_ADDMSG(SV_LOGLINE({LOGMESSID_LEAVE, PID}));
  } else if (SV_CURPLAYERS < SV_MAXPLAYERS) {
    C.PLAY = true;
    SV_CURPLAYERS++;
    SV_ADDMSG(SV_LOGLINE({LOGMESSID_ENTER, PID}));
  }
  C.T_SJ = 90;
}
