// The Brastok dedicated server: start up, then one game cycle every 30 ms
// until SIGINT, SIGTERM or the console's quit.
#include <random>

#include "hosting/hosting.hpp"
#include "net/transport.hpp"
#include "ops/ops.hpp"
#include "server/server.hpp"
#include "web/web.hpp"

// The clocks are read here only, once before each cycle.
static void SV_READCLOCKS() {
  SV_NOWMS = SC_NOWMS();
  SV_UTCMS = SC_UTCMS();
  OPS_RECORDCLOCKS();
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
  SC_CATCHSTOP();
  std::random_device RANDOM;
  OPS_QSEED = (uint64_t(RANDOM()) << 32) | RANDOM();
  if (!OPS_START(ARGS)) {
    return 1;
  }
  SV_READCLOCKS(); // the ban file's expiry times are read against them
  bool STARTED = GAMESTART(ARGS);
  OPS_RECORDSTART(STARTED);
  if (!STARTED || !WEB_START()) {
    NET_STOP();
    return 1;
  }
  if (!HOST_START()) {
    WEB_STOP();
    NET_STOP();
    return 1;
  }
  OPS_STDINON = true;
  while (!SC_STOPASKED() && !OPS_QUITASKED) {
    SV_READCLOCKS();
    int64_t START = SV_NOWMS;
    WEB_CYCLEBEGIN();
    GAMECYCLE();
    OPS_CONSOLE();
    HOST_CYCLE();
    OPS_RECORDFLUSH();
    if (SC_HUPASKED()) {
      OPS_LOGREOPEN(); // logrotate has moved the log file away
    }
    WEB_PUBLISH(SV_HUMANS() > 0 ? FPS_INT : 1000);
    if (OPS_QUITASKED) {
      break;
    }
    if (SV_HUMANS() > 0) {
      SC_SLEEP(FPS_INT);
      continue;
    }
    // With no human the cycle only handles datagrams and commands: wait for
    // one of them instead of waking every 30 ms (a stop signal ends the wait
    // too, or at the latest the second is up). Cycles still start at least
    // 30 ms apart, so a stream of datagrams cannot run them back to back.
    NET_WAIT(1000, OPS_CONSOLEFD());
    int64_t LEFT = START + FPS_INT - SC_NOWMS();
    if (LEFT > 0) {
      SC_SLEEP(int(LEFT));
    }
  }
  HOST_STOP();
  WEB_STOP();
  NET_STOP();
  return 0;
}
