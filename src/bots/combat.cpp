// Bot sight and combat: one candidate slot a tick; a visible enemy is turned
// toward by up to 8 degrees a tick and fired at once the bot faces it.
#include <cmath>
#include <cstdlib>

#include "bots/bots.hpp"
#include "game/game.hpp"

bool LINE_SEE(uint16_t X0, uint16_t Y0, uint16_t X1, uint16_t Y1) {
  // Counted in 32 bits: a distance held at 65535 plus one must not wrap to
  // zero samples.
  uint32_t D = uint32_t(DIST2(X0, Y0, X1, Y1)) + 1;
  int32_t SX = int32_t(std::trunc(double(int32_t(X1) - int32_t(X0)) / double(D) * 20.0));
  int32_t SY = int32_t(std::trunc(double(int32_t(Y1) - int32_t(Y0)) / double(D) * 20.0));
  uint16_t PX = X0;
  uint16_t PY = Y0;
  // The start point is tested first; the end point need not be.
  while (D > 0) {
    if (CGGXY(PX, PY) == CG_B) {
      return true;
    }
    PX = uint16_t(PX + SX);
    PY = uint16_t(PY + SY);
    D = D < 20 ? 0 : D - 20;
  }
  return false;
}

bool BOT_CHECK_ENEMY(uint8_t I, uint8_t E) {
  if (E == I || E < 1 || E > MAXCLIENTS) {
    return false;
  }
  const TCLIENT& B = SV_CLIENTSLIST[I];
  const TCLIENT& C = SV_CLIENTSLIST[E];
  if (!C.EXIST || !C.PLAY || C.HITS == 0) {
    return false;
  }
  if (SV_TEAMPLAY != 0 && C.TEAM == B.TEAM) {
    return false;
  }
  // Traced from the candidate toward the bot.
  return !LINE_SEE(C.X, C.Y, B.X, B.Y);
}

void BOT_CHOOSE_GUN(uint8_t CID) {
  TCLIENT& C = SV_CLIENTSLIST[CID];
  const TCLIENT& E = SV_CLIENTSLIST[C.B_EN];
  uint16_t DIS = DIST3(C.X, C.Y, E.X, E.Y);
  uint8_t NG = 1;
  if (C.AMMO[1] > 0) {
    NG = 2;
    if (C.GUNS[3]) {
      NG = 3;
    } else if (C.AMMO[2] > 0 && C.GUNS[5]) {
      NG = 5;
    }
    if (DIS < 1000 && C.GUNS[4]) {
      NG = 4;
    }
    if (DIS < 50) {
      NG = 1;
    }
  } else if (C.AMMO[2] > 0 && C.GUNS[5]) {
    NG = 5;
  }
  if (C.GUN != NG) {
    C.ACT = NG;
  }
}

void BOT_ATTACK(uint8_t CID) {
  TCLIENT& C = SV_CLIENTSLIST[CID];
  if (!BOT_CHECK_ENEMY(CID, C.B_EN)) {
    // Nobody to fight: face the walk, and look at the next slot next tick.
    C.DIR = C.B_MDIR;
    C.B_EN = uint8_t(C.B_EN % MAXCLIENTS + 1);
    return;
  }
  const TCLIENT& E = SV_CLIENTSLIST[C.B_EN];
  uint16_t D = P_DIR(C.X, C.Y, E.X, E.Y);
  int32_t DD = DIR_DIFF(C.DIR, D);
  // A target right behind (-180) is approached through growing degrees.
  if (std::abs(DD) < 8) {
    C.DIR = D;
  } else if (DD < 0) {
    C.DIR = uint16_t((int32_t(C.DIR) + 368) % 360);
  } else {
    C.DIR = uint16_t((int32_t(C.DIR) + 352) % 360);
  }
  if (C.DIR == D) {
    BOT_CHOOSE_GUN(CID);
    if (C.ACT == 0) {
      C.ACT = PLACT_AR;
    }
  }
}
