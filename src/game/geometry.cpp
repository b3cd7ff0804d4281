// Geometry: distances, the cell under a point, the player hit test and the
// movement of a human player against the grid.
#include <cstdlib>
#include <cstring>

#include "game/game.hpp"

float SQRT2(float NUMBER) {
  float X = NUMBER * 0.5f;
  uint32_t I;
  std::memcpy(&I, &NUMBER, sizeof I);
  I = 0x5F3759DFu - (I >> 1);
  float Y;
  std::memcpy(&Y, &I, sizeof Y);
  // The Newton step in double, rounded to single once.
  Y = float(double(Y) * (1.5 - double(X) * double(Y) * double(Y)));
  return 1.0f / Y;
}

uint16_t DIST2(int32_t DX0, int32_t DY0, int32_t DX1, int32_t DY1) {
  // Positions a client asks for are unchecked 16-bit values: their squared
  // offsets overflow 32 bits, and a wrapped sum could pass for a short step.
  // The sum is taken in double (exact for any 16-bit offsets) and a distance
  // beyond 16 bits is held at 65535 instead of wrapping.
  double A = std::abs(double(DX0) - double(DX1));
  double B = std::abs(double(DY0) - double(DY1));
  float R = SQRT2(float(A * A + B * B));
  if (R >= 65535.0f) {
    return 65535;
  }
  return uint16_t(int32_t(R));
}

uint16_t DIST3(int32_t DX, int32_t DY, int32_t DX1, int32_t DY1) {
  int64_t A = std::llabs(int64_t(DX1) - DX);
  int64_t B = std::llabs(int64_t(DY1) - DY);
  int64_t R = A < B ? (123 * B + 51 * A) / 128 : (123 * A + 51 * B) / 128;
  return uint16_t(R & 0xFFFF);
}

uint8_t CGGXY(uint16_t PX, uint16_t PY) {
  int CX = PX / MAPGRIDSIZE;
  int CY = PY / MAPGRIDSIZE;
  if (CX >= 1 && CX <= MAXMAPGRIDI && CY >= 1 && CY <= MAXMAPGRIDI) {
    return SV_MAP.CGRID[CX][CY];
  }
  return CG_B;
}

uint8_t PLAYERINPOINT(uint16_t X, uint16_t Y, uint8_t NOP) {
  int32_t X0 = int32_t(X) - PLAYERBWIDTH;
  int32_t Y0 = int32_t(Y) - PLAYERBWIDTH;
  int32_t X1 = int32_t(X) + PLAYERBWIDTH;
  int32_t Y1 = int32_t(Y) + PLAYERBWIDTH;
  for (int T = 1; T <= MAXCLIENTS; T++) {
    const TCLIENT& C = SV_CLIENTSLIST[T];
    if (T == NOP || !C.EXIST || !C.PLAY || C.HITS == 0) {
      continue;
    }
    if (!(X0 < C.X && C.X < X1 && Y0 < C.Y && C.Y < Y1)) {
      continue;
    }
    // NOP 0 leaves nobody out, and so spares no team.
    if (SV_TEAMPLAY != 0 && NOP != 0 && C.TEAM == SV_CLIENTSLIST[NOP].TEAM) {
      continue;
    }
    return uint8_t(T);
  }
  return 0;
}

bool PLAYER_SQUAREFREE(uint16_t X, uint16_t Y) {
  // Corners wrap as 16-bit values, like positions do.
  uint16_t XL = uint16_t(X - PLAYERWWIDTH);
  uint16_t XH = uint16_t(X + PLAYERWWIDTH);
  uint16_t YL = uint16_t(Y - PLAYERWWIDTH);
  uint16_t YH = uint16_t(Y + PLAYERWWIDTH);
  return CGGXY(XL, YL) == CG_N && CGGXY(XL, YH) == CG_N && CGGXY(XH, YH) == CG_N &&
         CGGXY(XH, YL) == CG_N;
}

void PLAYER_MOVE(uint8_t PID) {
  TCLIENT& C = SV_CLIENTSLIST[PID];
  if (DIST2(C.X, C.Y, C.MX, C.MY) > PLAYERSPEED) {
    return;
  }
  // One axis after the other: a push into a wall slides along it.
  if (PLAYER_SQUAREFREE(C.MX, C.Y)) {
    C.X = C.MX;
  }
  if (PLAYER_SQUAREFREE(C.X, C.MY)) {
    C.Y = C.MY;
  }
}
