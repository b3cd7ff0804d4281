// The grid as a walking player needs it: which moves the server takes whole,
// and shortest walks over free cells.
#include <algorithm>

#include "client.hpp"
#include "maps/maps.hpp"
#include "server/state.hpp"

// ---- the grid ----

void CL_LOADGRID(const std::string& TEXT, CL_GRID& G) {
  G = CL_GRID{};
  for (int A = 0; A <= MAXMAPGRIDO; A++) {
    for (int B = 0; B <= MAXMAPGRIDO; B++) {
      bool RING = A == 0 || B == 0 || A == MAXMAPGRIDO || B == MAXMAPGRIDO;
      G.CELL[A][B] = RING ? CG_B : CG_N;
    }
  }
  int X = 1, Y = 1;
  for (size_t P = 6; P < TEXT.size() && TEXT[P] != 0; P++) {
    char C = TEXT[P];
    if (C == '\r') {
      X = 1;
      Y++;
    } else if (X <= MAXMAPGRIDI) {
      G.CELL[X][Y] = MAP_BWALLS(C) ? CG_B : MAP_PWALLS(C) ? CG_P : CG_N;
      if (MAP_ITEMS(C) && G.ITEMX.size() < size_t(MAXMAPITEMS)) {
        G.ITEMX.push_back(uint16_t(X * MAPGRIDSIZE + MAPGRIDHSIZE));
        G.ITEMY.push_back(uint16_t(Y * MAPGRIDSIZE + MAPGRIDHSIZE));
      }
      X++;
    }
    if (Y > MAXMAPGRIDI) {
      break;
    }
  }
}

static uint8_t CL_CELLAT(const CL_GRID& G, uint16_t PX, uint16_t PY) {
  int CX = PX / MAPGRIDSIZE, CY = PY / MAPGRIDSIZE;
  if (CX >= 1 && CX <= MAXMAPGRIDI && CY >= 1 && CY <= MAXMAPGRIDI) {
    return G.CELL[CX][CY];
  }
  return CG_B;
}

static bool CL_SQUAREFREE(const CL_GRID& G, uint16_t X, uint16_t Y) {
  uint16_t XL = uint16_t(X - PLAYERWWIDTH), XH = uint16_t(X + PLAYERWWIDTH);
  uint16_t YL = uint16_t(Y - PLAYERWWIDTH), YH = uint16_t(Y + PLAYERWWIDTH);
  return CL_CELLAT(G, XL, YL) == CG_N && CL_CELLAT(G, XL, YH) == CG_N &&
         CL_CELLAT(G, XH, YH) == CG_N && CL_CELLAT(G, XH, YL) == CG_N;
}

bool CL_MOVEAPPLIES(const CL_GRID& G, uint16_t X, uint16_t Y, uint16_t MX, uint16_t MY) {
  int64_t DX = int64_t(MX) - X, DY = int64_t(MY) - Y;
  // The server's distance estimate takes exactly the offsets within 11 units.
  if (DX * DX + DY * DY >= (PLAYERSPEED + 1) * (PLAYERSPEED + 1)) {
    return false;
  }
  // One axis after the other, as the server moves.
  return CL_SQUAREFREE(G, MX, Y) && CL_SQUAREFREE(G, MX, MY);
}

bool CL_STEPTOWARD(const CL_GRID& G, uint16_t X, uint16_t Y, int TX, int TY, uint16_t& MX,
                   uint16_t& MY) {
  int DX = std::clamp(TX - int(X), -PLAYERSPEED, PLAYERSPEED);
  int DY = std::clamp(TY - int(Y), -PLAYERSPEED, PLAYERSPEED);
  // Line up on the shorter axis first, so steps follow the cell centres.
  bool XFIRST = DY == 0 || (DX != 0 && std::abs(TX - int(X)) <= std::abs(TY - int(Y)));
  for (int PASS = 0; PASS < 2; PASS++) {
    bool ALONGX = (PASS == 0) == XFIRST;
    int SX = ALONGX ? DX : 0, SY = ALONGX ? 0 : DY;
    if (SX == 0 && SY == 0) {
      continue;
    }
    uint16_t NX = uint16_t(int(X) + SX), NY = uint16_t(int(Y) + SY);
    if (CL_MOVEAPPLIES(G, X, Y, NX, NY)) {
      MX = NX;
      MY = NY;
      return true;
    }
  }
  return false;
}

std::vector<std::pair<uint8_t, uint8_t>> CL_PATH(const CL_GRID& G, int CX, int CY, int GX, int GY) {
  auto INSIDE = [](int A) { return A >= 1 && A <= MAXMAPGRIDI; };
  std::vector<std::pair<uint8_t, uint8_t>> PATH;
  if (!INSIDE(CX) || !INSIDE(CY) || !INSIDE(GX) || !INSIDE(GY) || G.CELL[GX][GY] != CG_N ||
      (CX == GX && CY == GY)) {
    return PATH;
  }
  // Breadth-first from the goal, so each cell knows its next step to it.
  static const int DX[4] = {1, -1, 0, 0}, DY[4] = {0, 0, 1, -1};
  int16_t NEXT[66][66];
  for (auto& ROW : NEXT) {
    std::fill(std::begin(ROW), std::end(ROW), int16_t(-1));
  }
  // Each cell enters the queue once at most, so it never holds more than the
  // grid; a plain array spares the load players an allocation per step.
  int16_t Q[66 * 66];
  size_t HEAD = 0, TAIL = 0;
  NEXT[GX][GY] = int16_t(GX * 66 + GY);
  Q[TAIL++] = int16_t(GX * 66 + GY);
  while (HEAD < TAIL && NEXT[CX][CY] < 0) {
    int X = Q[HEAD] / 66, Y = Q[HEAD] % 66;
    HEAD++;
    for (int K = 0; K < 4; K++) {
      int NX = X + DX[K], NY = Y + DY[K];
      if (INSIDE(NX) && INSIDE(NY) && NEXT[NX][NY] < 0 &&
          (G.CELL[NX][NY] == CG_N || (NX == CX && NY == CY))) {
        NEXT[NX][NY] = int16_t(X * 66 + Y);
        Q[TAIL++] = int16_t(NX * 66 + NY);
      }
    }
  }
  if (NEXT[CX][CY] < 0) {
    return PATH;
  }
  int X = CX, Y = CY;
  while (X != GX || Y != GY) {
    int N = NEXT[X][Y];
    X = N / 66;
    Y = N % 66;
    PATH.push_back({uint8_t(X), uint8_t(Y)});
  }
  return PATH;
}
