// What one connection has taken of the server's log lines and ticks.
#include "client.hpp"

// ---- log lines and ticks ----

bool CL_TAKELOG(CL_LOGTRACK& T, const CL_LOG& L, std::vector<std::string>& NEW) {
  uint16_t N = uint16_t(L.LINES.size());
  if (!T.STARTED) {
    if (N == 0) {
      return true;
    }
    T.STARTED = true;
    T.FIRST = uint16_t(L.LAST - N + 1);
    T.LAST = L.LAST;
    T.TAKEN += N;
    NEW.insert(NEW.end(), L.LINES.begin(), L.LINES.end());
    return true;
  }
  // How many of the packet's lines lie beyond the newest one held: none when
  // it repeats lines that were not yet acknowledged, or comes late.
  uint16_t AHEAD = uint16_t(L.LAST - T.LAST);
  if (AHEAD == 0 || AHEAD >= 32768) {
    T.RESENT += N;
    return true;
  }
  if (AHEAD <= N) {
    NEW.insert(NEW.end(), L.LINES.end() - AHEAD, L.LINES.end());
    T.RESENT += uint32_t(N - AHEAD);
    T.TAKEN += AHEAD;
    T.LAST = L.LAST;
    return true;
  }
  // Lines between the newest held and the packet's first were skipped.
  NEW.insert(NEW.end(), L.LINES.begin(), L.LINES.end());
  T.TAKEN += N;
  T.LAST = L.LAST;
  return false;
}

bool CL_TICKFORWARD(uint16_t PREV, uint16_t NEXT) {
  return uint16_t(NEXT - PREV) < 32768;
}
