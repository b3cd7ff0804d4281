// What each seam of the core does: the calls into the edge's rooms. The
// network's seams are in hooks_net.cpp, the votes' in hooks_game.cpp and the
// main loop's in hooks_main.cpp, so a program that links the core without a
// transport or a game cycle (the client tool) or without the main loop
// (tests, the replay) needs none of them.
#include "hooks.hpp"

#include "admin/admin.hpp"
#include "community/community.hpp"
#include "hosting/hosting.hpp"
#include "query/query.hpp"
#include "record/record.hpp"
#include "status/status.hpp"

bool HOOK_OPENFILES(const std::vector<std::string>& ARGS) {
  return REC_OPENFILES(ARGS);
}

void HOOK_BANFILE(const std::string& PATH) {
  ADM_BANFILE(PATH);
}

void HOOK_WEBHOOK(const std::string& URL) {
  HOST_WEBHOOKADD(URL);
}

void HOOK_ADMINSFILE(const std::string& PATH) {
  ADM_ADMINSFILE(PATH);
}

void HOOK_RESET() {
  STATUS_RESET();
  ADM_RESET();
  COM_RESET();
  QRY_RESET();
  REC_RESET();
  HOST_RESET();
}

void HOOK_CLAIMED(uint8_t SLOT) {
  STATUS_ONCLAIM(SLOT);
}

void HOOK_LOGLINE(const std::string& LINE) {
  REC_JSONLOG(LINE);
  HOST_ONLOG(LINE);
  STATUS_ONLOG(LINE);
}

bool HOOK_READTEXT(const std::string& PATH, std::string& TEXT) {
  return REC_READTEXT(PATH, TEXT);
}

void HOOK_MAPLOADED(uint8_t I) {
  REC_JSONMAP(I);
  COM_MAPLOADED(I);
}
