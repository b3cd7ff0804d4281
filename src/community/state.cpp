// The community room's state and its start values.
#include "community/community.hpp"

TVOTE COM_VOTE;
std::unordered_map<std::string, int64_t> COM_CALLED;
TMAPVOTE COM_MAPS;
uint8_t COM_PLAYED[3];
std::map<std::string, TMUTE> COM_MUTED;

void COM_RESET() {
  COM_VOTE = {};
  COM_CALLED.clear();
  COM_MAPS = {};
  for (uint8_t& E : COM_PLAYED) {
    E = 0;
  }
  COM_MUTED.clear();
}
