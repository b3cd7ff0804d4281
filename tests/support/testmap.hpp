// Maps drawn in a test: rows of cell characters, row 1 first, made the
// current map through the map list like any other map text.
#pragma once

#include <string>
#include <vector>

#include "maps/maps.hpp"

// The map text of these rows: a header, then the rows separated by carriage
// returns, then the terminator.
inline std::string TESTMAPTEXT(const std::vector<std::string>& ROWS) {
  std::string S = "446202";
  for (size_t I = 0; I < ROWS.size(); I++) {
    if (I > 0) {
      S += '\r';
    }
    S += ROWS[I];
  }
  S += '\0';
  return S;
}

// Puts the rows into map-list entry 1 and loads it as the current map.
inline void TESTMAP(const std::vector<std::string>& ROWS) {
  SV_MAPL[1].NAME = "test";
  MAPFROMSTR(1, TESTMAPTEXT(ROWS));
  SV_LOADCURMAP(1);
}

// N rows of N free cells.
inline std::vector<std::string> OPENROWS(int N) {
  return std::vector<std::string>(size_t(N), std::string(size_t(N), ' '));
}

// The centre of cell (CX, CY), in map units.
inline uint16_t CELLMID(int C) {
  return uint16_t(C * 64 + 32);
}
