// The map list: the built-in map and the map files named on the command line.
#include <algorithm>
#include <sstream>

#include "hooks.hpp"
#include "maps/maps.hpp"
#include "server/server.hpp"

// The header is kept and sent to clients; the server never reads it.
constexpr size_t MAPHEADER = 6;
// A row and its carriage return are counted in one byte.
constexpr size_t MAPMAXLINE = 254;

static const char* const MAPFREE = "-";
static const char* const MAPBUILTIN = "DefMap";

void DEFAULTMAPS() {
  // The ring of cells 0 and 65 blocks everything; nothing else writes it.
  for (int X = 0; X <= MAXMAPGRIDO; X++) {
    for (int Y = 0; Y <= MAXMAPGRIDO; Y++) {
      bool RING = X == 0 || Y == 0 || X == MAXMAPGRIDO || Y == MAXMAPGRIDO;
      SV_MAP.CGRID[X][Y] = RING ? CG_B : CG_N;
    }
  }
  for (int I = 1; I <= MAXMAPLIST; I++) {
    SV_MAPL[I].NAME = MAPFREE;
    SV_MAPL[I].MAP = {};
  }
  SV_MAPL[1].NAME = MAPBUILTIN;
  MAPFROMSTR(1, DEFMAPBUF);
}

void MAPFROMSTR(uint8_t I, const std::string& S) {
  size_t N = std::min<size_t>(S.size(), MAXMAPBUFFER);
  std::copy_n(S.data(), N, &SV_MAPL[I].MAP[1]);
}

std::string MAPFILEPATH(const std::string& FN) {
  bool SLASH = !SV_MAPDIR.empty() && SV_MAPDIR.back() == '/';
  return SV_MAPDIR + (SLASH ? "" : "/") + FN + ".brsk";
}

// One line of a text file without its line end; a line ends at LF, CR LF or
// a lone CR. False when the file has no line left.
static bool MAPREADLINE(std::istream& F, std::string& LINE) {
  LINE.clear();
  int C = F.get();
  if (C == EOF) {
    return false;
  }
  while (C != EOF && C != '\n' && C != '\r') {
    LINE += char(C);
    C = F.get();
  }
  if (C == '\r' && F.peek() == '\n') {
    F.get();
  }
  return true;
}

// Warns about a map the server takes but cannot play well: no spawn point or
// no free cell where it is played, or a grid larger than the one played
// (ROWS by COLS as the file holds it). The map is used all the same.
static void MAPCHECK(uint8_t I, const std::string& PATH, size_t ROWS, size_t COLS) {
  const TMAPINLIST& E = SV_MAPL[I];
  bool SPAWN = false;
  bool FREE = false;
  int X = 1;
  int Y = 1;
  // The cells as the current map reads them from the text.
  for (int P = MAPHEADER + 1; P <= MAXMAPBUFFER && E.MAP[P] != 0 && Y <= MAXMAPGRIDI; P++) {
    char C = E.MAP[P];
    if (C == '\r') {
      X = 1;
      Y++;
      continue;
    }
    if (X <= MAXMAPGRIDI) {
      SPAWN = SPAWN || MAP_SPAWNS(C);
      FREE = FREE || !MAP_PWALLS(C);
    }
    X++;
  }
  if (!SPAWN) {
    SC_WARN("map file " + PATH + " has no spawn point (@) where it is played");
  }
  if (!FREE) {
    SC_WARN("map file " + PATH + " has no free cell where it is played");
  }
  if (ROWS > size_t(MAXMAPGRIDI) || COLS > size_t(MAXMAPGRIDI)) {
    SC_WARN("map file " + PATH + " has " + std::to_string(ROWS) + " rows of up to " +
            std::to_string(COLS) + " cells; only 64 rows of 64 cells are played");
  }
}

uint8_t MAPFROMFILE(const std::string& FN, bool KEEPBUILTIN) {
  // A map named "-" would count as a free entry: never played, and as the
  // only map it would leave the server without a current map. Refused.
  if (FN == MAPFREE) {
    SC_WARN("map name \"-\" is reserved, map not added");
    return 0;
  }
  int I = 0;
  for (int K = 1; K <= MAXMAPLIST && I == 0; K++) {
    if (SV_MAPL[K].NAME == MAPFREE || (SV_MAPL[K].NAME == MAPBUILTIN && !KEEPBUILTIN)) {
      I = K;
    }
  }
  if (I == 0) {
    SC_WARN("map list is full, map not added: " + FN);
    return 0;
  }
  std::string PATH = MAPFILEPATH(FN);
  // The text comes through the edge, which records it (or serves it again
  // in a replay).
  std::string TEXT;
  if (!HOOK_READTEXT(PATH, TEXT)) {
    SC_WARN("map file not found or not readable: " + PATH);
    return 0;
  }
  std::istringstream F(TEXT);
  std::string LINE;
  if (!MAPREADLINE(F, LINE) || LINE.size() < MAPHEADER) {
    SC_WARN("map file refused, its first line is shorter than 6 characters: " + PATH);
    return 0;
  }
  TMAPINLIST& E = SV_MAPL[I];
  std::copy_n(LINE.data(), MAPHEADER, &E.MAP[1]);
  size_t COUNT = MAPHEADER;
  size_t ROWS = 0;
  size_t COLS = 0;
  size_t LASTROW = 0; // the last row that is not empty
  auto MEASURE = [&] {
    ROWS++;
    LASTROW = LINE.empty() ? LASTROW : ROWS;
    COLS = std::max(COLS, LINE.size());
  };
  while (COUNT < MAXMAPBUFFER && MAPREADLINE(F, LINE)) {
    MEASURE();
    if (LINE.size() > MAPMAXLINE) {
      LINE.resize(MAPMAXLINE);
    }
    LINE += '\r';
    // The line that would run past the buffer is cut at its end.
    size_t N = std::min(LINE.size(), MAXMAPBUFFER - COUNT);
    std::copy_n(LINE.data(), N, &E.MAP[int(COUNT + 1)]);
    COUNT += N;
  }
  E.NAME = FN;
  // The terminator replaces the carriage return after the last row; a file
  // with no rows gets it right behind the header.
  E.MAP[ROWS > 0 ? int(COUNT) : int(MAPHEADER + 1)] = 0;
  // Rows past the buffer are not kept, but they count for the warning.
  while (MAPREADLINE(F, LINE)) {
    MEASURE();
  }
  MAPCHECK(uint8_t(I), PATH, LASTROW, COLS);
  return uint8_t(I);
}
