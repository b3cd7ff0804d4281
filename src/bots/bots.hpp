// Bots: server-side players that join, walk the grid toward the items they
// need, see and fight their enemies by the same rules as humans.
#pragma once

#include <cstdint>

#include "server/state.hpp"

// ---- control (brastok_sv_botz.cpp) ----

// Adds at most one bot, then runs every bot for one tick.
void SV_BOTZ();
// Creates one bot in the lowest free slot, if there is one.
void SV_ADDBOT();
// One tick of the bot in slot CID.
void BOT_CODE(uint8_t CID);
// A whole random number from 0 to N - 1, from the fixed-seed generator.
uint32_t BOT_RANDOM(uint32_t N);

// ---- navigation (navigation.cpp) ----

// DIR1 - DIR2 brought into -180..179.
int32_t DIR_DIFF(uint16_t DIR1, uint16_t DIR2);
// D1 turned toward D2 by at most SPD degrees.
uint16_t DIR_TURN(uint16_t D1, uint16_t D2, uint8_t SPD);
// Pseudo-angle from (X0, Y0) to (X1, Y1): exact on the axes and diagonals,
// linear in the slope between them.
uint16_t P_DIR(uint16_t X0, uint16_t Y0, uint16_t X1, uint16_t Y1);
void BOT_TRAGET(uint8_t CID);
void BOT_TRYMOVE(uint8_t CID);
void BOT_MOVE(uint8_t CID);

// ---- sight and combat (combat.cpp) ----

// True when the sampled path from (X0, Y0) toward (X1, Y1) meets a wall.
bool LINE_SEE(uint16_t X0, uint16_t Y0, uint16_t X1, uint16_t Y1);
bool BOT_CHECK_ENEMY(uint8_t I, uint8_t E);
void BOT_CHOOSE_GUN(uint8_t CID);
void BOT_ATTACK(uint8_t CID);

// ---- bot fill (botfill.cpp) ----
//
// With -botfill the bots wanted are a fill, not a fixed number: a human who
// finds every slot taken, or the game full, takes the place of the newest
// bot, and bots come back, one per tick, only where there is room in the
// game. Without it these calls change nothing.

// The slot of the newest bot, the last to claim its slot (only among the
// bots in the game when PLAYING), or 0 when there is none.
uint8_t BOT_NEWEST(bool PLAYING);
// Frees the newest bot's slot when a human connects and every slot is
// taken (the connect handler, before it claims a slot).
void BOT_FILLSLOT();
// Makes room in the game for the human spectator in slot PID who asks to
// join, by removing the newest bot in the game when the player limit is
// reached (the join rule, before it checks the limit).
void BOT_FILLPLAY(uint8_t PID);
// Whether a bot may be added now: always without bot fill; with it, only
// while the humans in the game and the bots are fewer than the player limit
// (the bot control, before it adds a bot).
bool BOT_FILLROOM();
