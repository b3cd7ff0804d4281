// Counts heap allocations by replacing the global operator new. Link
// countnew.cpp into a program to count its allocations.
#pragma once

#include <cstdint>

extern uint64_t COUNTNEW_ALLOCS;
