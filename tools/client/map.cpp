// map: the map being played, saved as a map file.
#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fstream>

#include "peer.hpp"
#include "server/server.hpp"

bool CL_MAPFILE(const std::string& TEXT, std::string& FILE, std::string& ERR) {
  if (TEXT.size() < 6) {
    ERR = "the map text (" + std::to_string(TEXT.size()) +
          " characters) is too short for its six-character header";
    return false;
  }
  if (TEXT.find('\n') != std::string::npos) {
    ERR = "the map text holds a line feed, which a map file cannot carry";
    return false;
  }
  // Each row becomes a line; the server reads each line back with a CR after
  // it and turns the last CR into the end of the text, so every CR returns.
  FILE = TEXT.substr(0, 6) + "\n";
  std::string ROWS = TEXT.substr(6);
  size_t AT = 0;
  for (;;) {
    size_t CR = ROWS.find('\r', AT);
    FILE += ROWS.substr(AT, CR == std::string::npos ? std::string::npos : CR - AT) + "\n";
    if (CR == std::string::npos) {
      break;
    }
    AT = CR + 1;
  }
  return true;
}

int CL_MAPCMD(const CL_OPTIONS& O) {
  CL_LOOKAT L;
  int R = CL_LOOK(O, false, L);
  if (R != CL_EXIT_OK) {
    return R;
  }
  const CL_MAPINFO& M = L.M;
  std::string FILE, ERR;
  if (!CL_MAPFILE(M.MAPTEXT, FILE, ERR)) {
    CL_ERROR("cannot save map '" + SC_PRINTABLE(M.MAPNAME) + "': " + ERR);
    return CL_EXIT_FAIL;
  }
  if (O.OUTFILE == "-") {
    CL_OUT(FILE);
    return CL_EXIT_OK;
  }
  std::ofstream F(O.OUTFILE, std::ios::binary | std::ios::trunc);
  F << FILE;
  F.close();
  if (!F) {
    CL_ERROR("cannot write " + O.OUTFILE + ": " + std::strerror(errno));
    return CL_EXIT_FAIL;
  }
  size_t ROWS = size_t(std::count(FILE.begin(), FILE.end(), '\n')) - 1;
  CL_OUT("map " + SC_PRINTABLE(M.MAPNAME) + ": " + std::to_string(ROWS) + " rows written to " +
         O.OUTFILE + "\n");
  return CL_EXIT_OK;
}
