// Game rules: geometry and movement, shooting and damage, items and respawn,
// the per-tick update of every slot and the scoring.
#pragma once

#include <cstdint>

#include "server/state.hpp"

// ---- geometry (geometry.cpp) ----

// Square root estimate: the reciprocal of the fast inverse square root with
// one Newton step. Never below the true root (beyond rounding).
float SQRT2(float NUMBER);
// Euclidean distance estimate, in whole map units.
uint16_t DIST2(int32_t DX0, int32_t DY0, int32_t DX1, int32_t DY1);
// Octagonal distance estimate.
uint16_t DIST3(int32_t DX, int32_t DY, int32_t DX1, int32_t DY1);
// Cell class under a point; CG_B outside the playable cells.
uint8_t CGGXY(uint16_t PX, uint16_t PY);
// The lowest slot of a live player, other than NOP (and not on NOP's team in
// team play), whose bullet square holds the point; 0 for none.
uint8_t PLAYERINPOINT(uint16_t X, uint16_t Y, uint8_t NOP);
// The move a human asks for, when it is near enough and free of walls.
void PLAYER_MOVE(uint8_t PID);
// True when a player's wall square centred at (X, Y) lies in free cells only.
bool PLAYER_SQUAREFREE(uint16_t X, uint16_t Y);

// ---- shooting (shoot.cpp) ----

void PLAYER_SHOOT(uint8_t PID);
void PLAYER_BULLET(uint8_t PID);
void PLAYER_DAMAGE(uint8_t A, uint8_t E, uint8_t G);

// ---- items, death and respawn (items.cpp) ----
// The loader fills item places from 1 on without a gap, so every loop over
// them stops at the first empty place (KIND 0): the places after it are
// empty too.

void PLAYER_ITEMS(uint8_t PLI);
void SV_MAPITEMS();
void PLAYER_RESPAWN(uint8_t PLI);
void PLAYER_SPECJOIN(uint8_t PID);

// ---- per-tick update and scoring (players.cpp) ----

void PLAYER_ACTIONS(uint8_t CID);
void SV_PLAYERS();
void SV_TEAMSCORE();
void SV_SCORELIMITHIT();
