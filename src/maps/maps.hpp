// Maps: the map text format, the map list read at start, the current map's
// grid, item places and spawn points, and the rotation between maps.
#pragma once

#include <cstdint>
#include <string>

#include "server/state.hpp"

// ---- map list (maplist.cpp) ----

// The border ring of the grid, and the list holding only the built-in map.
void DEFAULTMAPS();
// Copies S into the text of map-list entry I (no terminator is written).
void MAPFROMSTR(uint8_t I, const std::string& S);
// Reads SV_MAPDIR/FN.brsk into the next free entry of the map list; a missing
// or refused file, or a full list, changes nothing (and is warned about). A
// map without a spawn point or a free cell, or larger than the played grid,
// is taken with a warning. Returns the entry taken, or 0. The first file
// takes the built-in map's entry unless KEEPBUILTIN.
uint8_t MAPFROMFILE(const std::string& FN, bool KEEPBUILTIN = false);
// The file of map FN: in SV_MAPDIR (relative to the working directory unless
// absolute), with its extension.
std::string MAPFILEPATH(const std::string& FN);

// ---- current map (curmap.cpp) ----

// Makes map-list entry I the current map; a free entry changes nothing.
void SV_LOADCURMAP(uint8_t I);
// Ends the match: frees every slot and loads the next used entry.
void SV_MAPNEXT();
