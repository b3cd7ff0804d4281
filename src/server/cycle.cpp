// The game cycle: one tick of the server.
#include "bots/bots.hpp"
#include "game/game.hpp"
#include "hooks.hpp"
#include "maps/maps.hpp"
#include "net/net.hpp"
#include "server/server.hpp"

int SV_HUMANS() {
  return int(SV_CURCLIENTS) - int(SV_BOTC);
}

void GAMECYCLE() {
  SV_CYCLES++;
  NET_INPUT();
  // While no human holds a slot the match stands still: only datagrams are
  // handled, and the tick counter, the timers and the bots wait.
  if (SV_HUMANS() > 0) {
    SV_OTHER();
    SV_MAPITEMS();
    SV_PLAYERS();
    NET_OUTPUT();
  }
  NET_FLUSH();
}

void SV_OTHER() {
  SV_BOTZ();
  SV_PINGVAR = uint16_t(SV_PINGVAR + 1); // 65535 is followed by 0
  SV_STATS.TICKS++;
  if (SV_SCOREBOARD > 0) {
    SV_SCOREBOARD--;
    // The map changes in this same tick, before the items, the players and
    // the state packets of the tick.
    if (SV_SCOREBOARD == 0) {
      SV_MAPNEXT();
    }
  }
  HOOK_TICK();
}
