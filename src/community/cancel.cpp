// Notices, and the votes that end without a result: cancelled by the
// operator, or void once another map is loaded. The map loader's seam
// reaches this file alone, which leans on the event log only, so a program
// that links the core without the game's cycle (the client tool) links none
// of the votes.
#include "clients/clients.hpp"
#include "community/community.hpp"

void COM_NOTICE(const std::string& TEXT) {
  // A log line is one wire string: the kind byte and at most 254 bytes.
  SV_ADDMSG(char(LOGMESSID_SMSG) + TEXT.substr(0, 254));
}

bool COM_CANCELVOTE() {
  if (COM_VOTE.KIND == COM_NOVOTE) {
    return false;
  }
  std::string WHAT = COM_VOTE.WHAT;
  COM_VOTE = {};
  COM_NOTICE("vote cancelled: " + WHAT);
  return true;
}

bool COM_CANCELMAPVOTE() {
  if (COM_MAPS.N == 0) {
    return false;
  }
  COM_MAPS = {};
  COM_NOTICE("map vote cancelled");
  return true;
}

void COM_MAPLOADED(uint8_t I) {
  COM_PLAYED[2] = COM_PLAYED[1];
  COM_PLAYED[1] = COM_PLAYED[0];
  COM_PLAYED[0] = I;
  // A map loaded by the operator in the score board ends the map vote
  // unheeded; a vote about the match that is over is void.
  if (COM_MAPS.N > 0) {
    COM_MAPS = {};
  }
  COM_CANCELVOTE();
}
