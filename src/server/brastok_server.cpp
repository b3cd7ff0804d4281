// The Brastok dedicated server: start up, then one game cycle every 30 ms
// until SIGINT, SIGTERM or the console's quit.
#include <cstdio>

#include "hooks.hpp"
#include "net/transport.hpp"
#include "server/server.hpp"

// The clocks are read here only, once before each cycle.
static void SV_READCLOCKS() {
  SV_NOWMS = SC_NOWMS();
  SV_UTCMS = SC_UTCMS();
  HOOK_CLOCKS();
}

int main(int argc, char** argv) {
  std::vector<std::string> ARGS(argv + 1, argv + argc);
  if (ARGS.size() == 1 && ARGS[0] == "--help") {
    std::fputs(SV_HELPTEXT().c_str(), stdout);
    return 0;
  }
  if (ARGS.size() == 1 && ARGS[0] == "--version") {
    std::puts(SV_VERSIONTEXT().c_str());
    return 0;
  }
  if (!ARGS.empty() && ARGS[0] == "-newadmin") {
    return HOOK_NEWADMIN(ARGS);
  }
  SC_CATCHSTOP();
  HOOK_START();
  SV_READCLOCKS(); // the ban file's expiry times are read against them
  if (!HOOK_STARTED(GAMESTART(ARGS))) {
    NET_STOP();
    return 1;
  }
  while (!SC_STOPASKED() && !SV_QUITASKED) {
    SV_READCLOCKS();
    int64_t START = SV_NOWMS;
    HOOK_CYCLEBEGIN();
    GAMECYCLE();
    HOOK_CYCLEEND();
    if (SV_QUITASKED) {
      break;
    }
    if (SV_HUMANS() > 0) {
      SC_SLEEP(FPS_INT);
      continue;
    }
    // With no human the cycle only handles datagrams and commands: wait for
    // one of them (a console line, an admin API command) instead of waking
    // every 30 ms (a stop signal ends the wait too, or at the latest the
    // second is up). Cycles still start at least 30 ms apart, so a stream of
    // datagrams cannot run them back to back.
    NET_WAIT(1000, HOOK_WAITFD());
    int64_t LEFT = START + FPS_INT - SC_NOWMS();
    if (LEFT > 0) {
      SC_SLEEP(int(LEFT));
    }
  }
  HOOK_STOP();
  NET_STOP();
  return 0;
}
