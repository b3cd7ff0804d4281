// The current map: its cell grid, item places and spawn points, built from
// one map-list entry, and the rotation to the next entry.
#include "clients/clients.hpp"
#include "hooks.hpp"
#include "maps/maps.hpp"

static uint8_t MAPCELLCLASS(char C) {
  // The wall test comes last: 'A'..'Z' are in both sets and end as CG_B.
  uint8_t CG = CG_N;
  if (MAP_PWALLS(C)) {
    CG = CG_P;
  }
  if (MAP_BWALLS(C)) {
    CG = CG_B;
  }
  return CG;
}

void SV_LOADCURMAP(uint8_t I) {
  const TMAPINLIST& E = SV_MAPL[I];
  if (E.NAME == "-") {
    return;
  }
  SV_STATS.MAPLOADS++;
  HOOK_MAPLOADED(I);
  for (int X = 1; X <= MAXMAPGRIDI; X++) {
    for (int Y = 1; Y <= MAXMAPGRIDI; Y++) {
      SV_MAP.CGRID[X][Y] = CG_N;
    }
  }
  // RESP, X and Y stay: a countdown that ran on the old map goes on here.
  for (int K = 1; K <= MAXMAPITEMS; K++) {
    SV_MAP.ITL[K].KIND = 0;
  }
  SV_MAP.ITN = 0;
  SV_MAP.SPN = 0;
  SV_MAP.NUM = I;

  int X = 1;
  int Y = 1;
  // The six header characters are skipped; the text ends at its terminator,
  // and never later than the end of its buffer.
  for (int P = 7; P <= MAXMAPBUFFER; P++) {
    char C = E.MAP[P];
    if (C == 0) {
      break;
    }
    if (C == '\r') {
      X = 1;
      Y++;
    } else if (X <= MAXMAPGRIDI) {
      SV_MAP.CGRID[X][Y] = MAPCELLCLASS(C);
      uint16_t CX = uint16_t(X * MAPGRIDSIZE + MAPGRIDHSIZE);
      uint16_t CY = uint16_t(Y * MAPGRIDSIZE + MAPGRIDHSIZE);
      // Past the tables' sizes the first places in text order are kept and
      // the rest are plain free cells.
      if (MAP_ITEMS(C) && SV_MAP.ITN < MAXMAPITEMS) {
        TITEM& IT = SV_MAP.ITL[++SV_MAP.ITN];
        IT.KIND = C;
        IT.X = CX;
        IT.Y = CY;
      }
      if (MAP_SPAWNS(C) && SV_MAP.SPN < MAXMAPSPAWNS) {
        TRESPPOINT& SP = SV_MAP.SPL[++SV_MAP.SPN];
        SP.X = CX;
        SP.Y = CY;
      }
      X++;
    }
    if (Y > MAXMAPGRIDI) {
      break;
    }
  }
}

void SV_MAPNEXT() {
  uint8_t P = SV_MAP.NUM;
  uint8_t N = P;
  // At most one round: entry 1 is never free, so the search ends there.
  for (int K = 0; K < MAXMAPLIST; K++) {
    N = uint8_t(N % MAXMAPLIST + 1);
    if (SV_MAPL[N].NAME != "-" || N == P) {
      break;
    }
  }
  // Chosen while the players are still there: a map vote counts their
  // ballots.
  N = HOOK_NEXTMAP(N);
  SV_KICKALL();
  SV_LOADCURMAP(N);
}
