// Shooting and damage: a shot is traced and resolved at once, in fixed steps
// along the shooter's facing, in single precision.
#include <cmath>

#include "clients/clients.hpp"
#include "game/game.hpp"

void PLAYER_SHOOT(uint8_t PID) {
  TCLIENT& C = SV_CLIENTSLIST[PID];
  if (C.T_RELOAD == 0) {
    C.GUN = C.NGUN;
  }
  uint8_t G = C.GUN;
  uint8_t K = GUNS_AMTYPE[G];
  // Without enough ammunition nothing happens, not even a change of weapon.
  if (C.AMMO[K] < GUNS_AMTAKE[G]) {
    return;
  }
  C.T_RELOAD = GUNS_RELOAD[G];
  C.T_GANIM = GUNS_GANIM[G];
  PLAYER_BULLET(PID);
  C.AMMO[K] = uint8_t(C.AMMO[K] - GUNS_AMTAKE[G]);
}

// A float position as a 16-bit map coordinate: truncated toward zero through
// a signed integer, then its low 16 bits (a negative float converted straight
// to an unsigned type would be undefined).
static uint16_t SHOOT_COORD(float V) {
  return uint16_t(uint32_t(int32_t(V)) & 0xFFFF);
}

void PLAYER_BULLET(uint8_t PID) {
  const TCLIENT& C = SV_CLIENTSLIST[PID];
  uint8_t G = C.GUN;
  // The spread comes from the tick counter; no random number is drawn.
  int32_t DISP = 0;
  if (GUNS_DISPER[G] > 0) {
    DISP = int32_t(SV_PINGVAR % (2 * GUNS_DISPER[G])) - GUNS_DISPER[G];
  }
  float D = float(double((int32_t(C.DIR) + DISP + 360) % 360) * DEGTORAD);
  float SX = float(double(GUNS_BSTEP[G]) * std::cos(double(D)));
  float SY = float(double(GUNS_BSTEP[G]) * std::sin(double(D)));
  uint16_t DIST = 0;
  float STX = float(C.X);
  float STY = float(C.Y);
  uint16_t SOX = C.X;
  uint16_t SOY = C.Y;
  for (;;) {
    // The wall test comes first at every point.
    if (CGGXY(SOX, SOY) == CG_B) {
      return;
    }
    uint8_t CID = PLAYERINPOINT(SOX, SOY, PID);
    if (CID > 0) {
      PLAYER_DAMAGE(PID, CID, G);
      return;
    }
    DIST = uint16_t(DIST + GUNS_BSTEP[G]);
    STX = STX + SX;
    SOX = SHOOT_COORD(STX);
    STY = STY + SY;
    SOY = SHOOT_COORD(STY);
    if (DIST > GUNS_BDIST[G]) {
      return;
    }
  }
}

void PLAYER_DAMAGE(uint8_t A, uint8_t E, uint8_t G) {
  TCLIENT& V = SV_CLIENTSLIST[E];
  uint8_t DH = GUNS_DAMAGE[G];
  uint8_t DA;
  // Armour soaks what it can cover at half cost to health; damage beyond the
  // armour hurts in full.
  if (V.ARMOR >= DH) {
    DA = DH;
    DH = uint8_t(DH / 2);
  } else {
    DH = uint8_t(V.ARMOR / 2 + (DH - V.ARMOR));
    DA = V.ARMOR;
  }
  V.ARMOR = uint8_t(V.ARMOR - DA);
  V.HITS = V.HITS >= DH ? uint8_t(V.HITS - DH) : 0;
  if (V.HITS != 0) {
    return;
  }
  TCLIENT& K = SV_CLIENTSLIST[A];
  V.T_RELOAD = PLAYERRESPTIME;
  K.SCORE++;
  SV_STATS.KILLS[G]++;
  SV_ADDMSG(SV_LOGLINE({LOGMESSID_KILL, G, A, E}));
  if (SV_TEAMPLAY != 0) {
    SV_TEAMSCORE();
  } else if (K.SCORE == SV_SCORELIMIT) {
    SV_ADDMSG(SV_LOGLINE({LOGMESSID_SCORE, A}));
    SV_SCORELIMITHIT();
  }
}
