// What each seam of the core does: the calls into the edge's rooms. The
// network's seams are in hooks_net.cpp and the main loop's in hooks_main.cpp,
// so a program that links the core without a transport (the client tool)
// or without the main loop (tests, the replay) needs neither.
#include "hooks.hpp"

#include "admin/admin.hpp"
#include "query/query.hpp"
#include "record/record.hpp"
#include "status/status.hpp"

bool HOOK_OPENFILES(const std::vector<std::string>& ARGS) {
  return REC_OPENFILES(ARGS);
}

void HOOK_BANFILE(const std::string& PATH) {
  ADM_BANFILE(PATH);
}

void HOOK_ADMINSFILE(const std::string& PATH) {
  ADM_ADMINSFILE(PATH);
}

void HOOK_RESET() {
  STATUS_RESET();
  ADM_RESET();
  QRY_RESET();
  REC_RESET();
}

void HOOK_LOGLINE(const std::string& LINE) {
  REC_JSONLOG(LINE);
  STATUS_ONLOG(LINE);
}

bool HOOK_READTEXT(const std::string& PATH, std::string& TEXT) {
  return REC_READTEXT(PATH, TEXT);
}

void HOOK_MAPLOADED(uint8_t I) {
  REC_JSONMAP(I);
}
