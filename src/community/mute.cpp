// Mute: the chat lines of a muted address are dropped, whatever slot or port
// they come from. The list lives in memory: a mute ends when its minutes are
// up, when it is lifted, or when the server stops.
#include "community/community.hpp"
#include "server/server.hpp"

std::string COM_MUTE(const std::string& IP, uint32_t MINUTES, const std::string& NAME) {
  int64_t UNTIL = MINUTES == 0 ? INT64_MAX : SV_NOWMS + int64_t(MINUTES) * 60000;
  COM_MUTED[IP] = TMUTE{UNTIL, NAME};
  return "muted " + IP + " (" + NAME + ") " +
         (MINUTES == 0 ? std::string("until unmuted") : "for " + std::to_string(MINUTES) + " min");
}

bool COM_UNMUTE(const std::string& IP) {
  return COM_ISMUTED(IP) && COM_MUTED.erase(IP) > 0;
}

bool COM_ISMUTED(const std::string& IP) {
  if (COM_MUTED.empty()) {
    return false; // the common case costs nothing
  }
  auto IT = COM_MUTED.find(IP);
  if (IT == COM_MUTED.end()) {
    return false;
  }
  if (SV_NOWMS >= IT->second.UNTILMS) {
    COM_MUTED.erase(IT);
    return false;
  }
  return true;
}

std::vector<std::string> COM_MUTELIST() {
  std::erase_if(COM_MUTED, [](const auto& E) { return SV_NOWMS >= E.second.UNTILMS; });
  std::vector<std::string> R;
  for (const auto& [IP, M] : COM_MUTED) {
    std::string LEFT = " until unmuted";
    if (M.UNTILMS != INT64_MAX) {
      int64_t S = (M.UNTILMS - SV_NOWMS + 999) / 1000;
      LEFT = ", " + std::to_string(S / 60) + " min " + std::to_string(S % 60) + " s left";
    }
    R.push_back(IP + " (" + M.NAME + ")" + LEFT);
  }
  return R;
}
