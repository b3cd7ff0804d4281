// The game's seams that reach the players' votes: a vote that passes acts
// through the console's commands, and so reaches the whole game and the
// transport. Only programs that run the game cycle call these.
#include "community/community.hpp"
#include "hooks.hpp"

void HOOK_TICK() {
  COM_TICK();
}

void HOOK_SCOREBOARD() {
  COM_SCOREBOARD();
}

uint8_t HOOK_NEXTMAP(uint8_t N) {
  return COM_NEXTMAP(N);
}
