// The main loop's seams: only the server program runs them, and only it
// links the HTTP side.
#include <random>

#include "admin/admin.hpp"
#include "hooks.hpp"
#include "hosting/hosting.hpp"
#include "query/query.hpp"
#include "record/record.hpp"
#include "server/server.hpp"
#include "web/web.hpp"

void HOOK_START() {
  std::random_device RANDOM;
  QRY_SEED = (uint64_t(RANDOM()) << 32) | RANDOM();
}

int HOOK_NEWADMIN(const std::vector<std::string>& ARGS) {
  if (ARGS.size() != 3) {
    SC_ERROR("usage: brastok_server -newadmin NAME ROLE (ROLE: moderator or admin)");
    return 2;
  }
  return ADM_NEWADMIN(ARGS[1], ARGS[2]);
}

void HOOK_CLOCKS() {
  REC_RECORDCLOCKS();
}

bool HOOK_STARTED(bool OK) {
  REC_RECORDSTART(OK);
  if (!OK || !WEB_START()) {
    return false;
  }
  // Once the port is bound and the HTTP side is up; a setting hosting cannot
  // use stops the start.
  HOST_AGONES = OPT_AGONES;
  if (!HOST_START()) {
    WEB_STOP();
    return false;
  }
  ADM_STDINON = true;
  return true;
}

void HOOK_CYCLEBEGIN() {
  WEB_CYCLEBEGIN();
}

void HOOK_CYCLEEND() {
  ADM_CONSOLE();
  HOST_CYCLE();
  ADM_RUNQUEUED();
  WEB_APIANSWERS();
  REC_RECORDFLUSH();
  if (SC_HUPASKED()) {
    REC_LOGREOPEN(); // logrotate has moved the log file away
    ADM_ADMINSRELOAD();
  }
  WEB_PUBLISH(SV_HUMANS() > 0 ? FPS_INT : 1000);
  WEB_PLAYNEWS();
}

int HOOK_WAITFD() {
  return ADM_CONSOLEFD();
}

void HOOK_STOP() {
  HOST_STOP();
  WEB_STOP();
}
