// The Brastok dedicated server: start up, then one game cycle every 30 ms
// until SIGINT or SIGTERM.
#include "net/transport.hpp"
#include "ops/ops.hpp"
#include "server/server.hpp"
#include "web/web.hpp"

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
  if (!OPS_START(ARGS)) {
    return 1;
  }
  if (!GAMESTART(ARGS) || !WEB_START()) {
    NET_STOP();
    return 1;
  }
  while (!SC_STOPASKED()) {
    SV_NOWMS = SC_NOWMS();
    WEB_CYCLEBEGIN();
    GAMECYCLE();
    WEB_PUBLISH(SV_HUMANS() > 0 ? FPS_INT : 1000);
    if (SV_HUMANS() > 0) {
      SC_SLEEP(FPS_INT);
      continue;
    }
    // With no human the cycle only handles datagrams: wait for one instead
    // of waking every 30 ms (a stop signal ends the wait too, or at the
    // latest the second is up). The cycles that did not run still count for
    // the clock of the connect limit.
    int64_t T0 = SC_NOWMS();
    NET_WAIT(1000);
    SV_CYCLES += uint32_t((SC_NOWMS() - T0) / FPS_INT);
  }
  WEB_STOP();
  NET_STOP();
  return 0;
}
