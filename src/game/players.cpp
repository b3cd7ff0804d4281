// The per-tick update of every slot, the action step that applies a client's
// (or a bot's) action code, and the scoring that ends a map.
#include "clients/clients.hpp"
#include "game/game.hpp"
#include "hooks.hpp"
#include "net/net.hpp"

void PLAYER_ACTIONS(uint8_t CID) {
  TCLIENT& C = SV_CLIENTSLIST[CID];
  if (SV_SCOREBOARD > 0) {
    C.ACT = 0;
  }
  if (C.PLAY) {
    if (C.HITS > 0) {
      // The move first, then the pick-ups where it ended, then the weapon.
      if (SV_SCOREBOARD == 0) {
        if (!C.BOT) {
          PLAYER_MOVE(CID);
        }
        PLAYER_ITEMS(CID);
      }
      if (C.ACT >= PLACT_G1 && C.ACT <= PLACT_G5 && C.GUNS[C.ACT]) {
        C.NGUN = C.ACT;
      }
      if (C.ACT == PLACT_AR && C.T_RELOAD == 0) {
        PLAYER_SHOOT(CID);
      }
    } else if (C.T_RELOAD == 0 && C.ACT == PLACT_AR) {
      PLAYER_RESPAWN(CID);
      C.T_RELOAD = 10; // no shot in the first ticks back
    }
  }
  if (C.ACT == PLACT_SJ) {
    PLAYER_SPECJOIN(CID);
  }
}

static void PLAYER_TICK(uint8_t I) {
  TCLIENT& C = SV_CLIENTSLIST[I];
  // Ping only while the counter is not below the echo: after a wrap, or for
  // a bogus echo, the last ping stays.
  if (SV_PINGVAR >= C.PVAR) {
    C.PING = uint8_t(SV_PINGVAR - C.PVAR);
  }
  if (C.T_SJ > 0) {
    C.T_SJ--;
  }
  // The chosen weapon comes into the hand in the first tick that begins with
  // the reload over, not in the tick in which it ends.
  if (C.T_RELOAD > 0) {
    C.T_RELOAD--;
  } else {
    C.GUN = C.NGUN;
  }
  if (C.T_CHAT > 0) {
    C.T_CHAT--;
  }
  if (C.T_SL > 0) {
    C.T_SL--;
  }
  if (C.T_MAP > 0) {
    C.T_MAP--;
  }
  if (C.T_GANIM > 0) {
    C.T_GANIM--;
  }
  // The budget is set, not added: 35 data messages per 33 ticks.
  if (SV_PINGVAR % FPS_NUM == 0) {
    C.T_MMSGS = FPS_NUM + 2;
  }
  if (!C.HEARD && C.T_UNHEARD < 255) {
    C.T_UNHEARD++;
  }
  // A client never heard since its connect gets nothing after a while; it
  // still times out as usual, and the log step still removes it when it
  // falls too far behind.
  if (PLAYER_MAYSEND(I)) {
    NET_SENDMAPINFO(I);
  }
  NET_SENDLOG(I);
}

void SV_PLAYERS() {
  for (int I = 1; I <= MAXCLIENTS; I++) {
    if (SV_CLIENTSLIST[I].EXIST && !PLAYER_TIMEOUT(uint8_t(I))) {
      PLAYER_TICK(uint8_t(I));
    }
  }
}

void SV_TEAMSCORE() {
  TArr<uint8_t, 0, MAXTEAMS - 1> S = {};
  // The test is made on the running sum after every slot, so the member who
  // completes the limit is where the team is found.
  for (int I = 1; I <= MAXCLIENTS; I++) {
    const TCLIENT& C = SV_CLIENTSLIST[I];
    if (!C.EXIST || !C.PLAY) {
      continue;
    }
    uint8_t T = C.TEAM % MAXTEAMS;
    S[T] = uint8_t(S[T] + C.SCORE);
    if (S[T] == SV_SCORELIMIT) {
      SV_ADDMSG(SV_LOGLINE({LOGMESSID_TSCORE, T}));
      SV_SCORELIMITHIT();
      return;
    }
  }
}

void SV_SCORELIMITHIT() {
  SV_SCOREBOARD = SCOREBOARDTIME;
  HOOK_SCOREBOARD();
}
