// Bot navigation: directions, the choice of a walk goal by need, and one step
// a tick that slides along walls and turns away when stuck. There is no path
// finding: a bot heads straight for its goal.
#include <cmath>
#include <cstdlib>

#include "bots/bots.hpp"
#include "game/game.hpp"

int32_t DIR_DIFF(uint16_t DIR1, uint16_t DIR2) {
  // % rounds toward zero, so the inner remainder keeps the dividend's sign.
  return ((int32_t(DIR1) - int32_t(DIR2)) % 360 + 540) % 360 - 180;
}

uint16_t DIR_TURN(uint16_t D1, uint16_t D2, uint8_t SPD) {
  int32_t D = DIR_DIFF(D2, D1);
  if (std::abs(D) <= SPD) {
    return D2;
  }
  // An exactly opposite target (-180) is approached through falling degrees.
  if (D < 0) {
    return uint16_t((int32_t(D1) + 360 - SPD) % 360);
  }
  return uint16_t((int32_t(D1) + 360 + SPD) % 360);
}

uint16_t P_DIR(uint16_t X0, uint16_t Y0, uint16_t X1, uint16_t Y1) {
  int32_t VX = int32_t(X1) - int32_t(X0);
  int32_t VY = int32_t(Y1) - int32_t(Y0);
  if (VX == 0 && VY == 0) {
    return 0;
  }
  int32_t R;
  if (std::abs(VX) > std::abs(VY)) {
    R = int32_t(std::trunc(double(VY) / double(VX) * 45.0));
  } else {
    R = 90 - int32_t(std::trunc(double(VX) / double(VY) * 45.0));
  }
  if (VY < 0) {
    if (R < 0) {
      R += 360;
    } else if (R > 0) {
      R += 180;
    }
  } else if (R < 0) {
    R += 180;
  }
  if (VX < 0 && R == 0) {
    R = 180;
  }
  return uint16_t(R);
}

void BOT_TRAGET(uint8_t CID) {
  TCLIENT& C = SV_CLIENTSLIST[CID];
  uint16_t DM = 9999;
  uint16_t D0 = DIST3(C.X, C.Y, C.B_MX, C.B_MY);
  // Rule A: hurt, go for health or armour. Rule B: short of bullets, go for
  // bullets or a missing weapon 3 or 4. Rule C: well off, now and then wander
  // to a weapon item picked at random.
  enum { RULE_A, RULE_B, RULE_C } RULE;
  if (C.HITS < 90) {
    RULE = RULE_A;
  } else if (C.AMMO[1] < 90) {
    RULE = RULE_B;
  } else {
    RULE = RULE_C;
  }
  for (int IT = 1; IT <= MAXMAPITEMS && SV_MAP.ITL[IT].KIND != 0; IT++) {
    const TITEM& I = SV_MAP.ITL[IT];
    char K = I.KIND;
    if (I.RESP != 0 || !MAP_ITEMS(K)) {
      continue;
    }
    if (RULE == RULE_C) {
      if (ITEMSP_GUN[K] > 0) {
        // Drawn for every weapon item, before the distance is looked at.
        uint32_t DRAW = BOT_RANDOM(5);
        if (DRAW == 0 && D0 < 64) {
          C.B_MX = I.X;
          C.B_MY = I.Y;
        }
      }
      continue;
    }
    bool WANTED;
    if (RULE == RULE_A) {
      WANTED = ITEMSP_HITS[K] > 0 || ITEMSP_ARMOR[K] > 0;
    } else {
      WANTED = (ITEMSP_GUN[K] == 3 && !C.GUNS[3]) || (ITEMSP_GUN[K] == 4 && !C.GUNS[4]) ||
               ITEMSP_AMMO[1][K] > 0;
    }
    if (!WANTED) {
      continue;
    }
    // Only a strictly nearer item replaces the goal: ties go to the lower
    // item number.
    uint16_t D = DIST3(C.X, C.Y, I.X, I.Y);
    if (D < DM) {
      DM = D;
      C.B_MX = I.X;
      C.B_MY = I.Y;
    }
  }
}

// One step component: the trunc of a float direction's cosine or sine times
// the step length, taken through a signed integer.
static int32_t BOT_STEP(double V) {
  return int32_t(std::trunc(V * PLAYERSPEED));
}

void BOT_TRYMOVE(uint8_t CID) {
  TCLIENT& C = SV_CLIENTSLIST[CID];
  float A = float(double(C.B_MDIR) * DEGTORAD);
  uint16_t NX = uint16_t(int32_t(C.X) + BOT_STEP(std::cos(double(A))));
  uint16_t NY = uint16_t(int32_t(C.Y) + BOT_STEP(std::sin(double(A))));
  // x first, then y from the x that stands: a bot slides along walls.
  if (PLAYER_SQUAREFREE(NX, C.Y)) {
    C.X = NX;
  }
  if (PLAYER_SQUAREFREE(C.X, NY)) {
    C.Y = NY;
  }
}

void BOT_MOVE(uint8_t CID) {
  TCLIENT& C = SV_CLIENTSLIST[CID];
  if (SV_PINGVAR % 15 == 0) {
    BOT_TRAGET(CID);
  }
  C.B_MDIR = DIR_TURN(C.B_MDIR, P_DIR(C.X, C.Y, C.B_MX, C.B_MY), 7);
  uint16_t PX = C.X;
  uint16_t PY = C.Y;
  BOT_TRYMOVE(CID);
  if (C.X == PX && C.Y == PY) {
    // Stuck: turn by 0 to 189 degrees taken from the tick counter.
    C.B_MDIR = uint16_t((C.B_MDIR + 360 + SV_PINGVAR % 190) % 360);
    BOT_TRYMOVE(CID);
    return;
  }
  if (DIST2(C.X, C.Y, PX, PY) < 10) {
    // Cut short by a wall: walk on at full speed the way it actually went.
    C.B_MDIR = P_DIR(PX, PY, C.X, C.Y);
    C.X = PX;
    C.Y = PY;
    BOT_TRYMOVE(CID);
    if (C.X == PX && C.Y == PY) {
      C.B_MDIR = uint16_t((C.B_MDIR + 540) % 360);
      BOT_TRYMOVE(CID);
    }
  }
}
