// A server at full load, for benchmarks and the allocation test: one human
// spectator over the in-memory transport, who sends one data message every
// cycle (echoing the tick, acknowledging the log, as a real client does), and
// 23 bots fighting free-for-all. The match never ends: the score board is
// cleared as soon as it starts, so the load stays the same.
#pragma once

#include <string>
#include <vector>

// A 64-by-64 map with few walls: long traces and long sight lines.
std::string OPENMAP_TEXT();

// Starts the server on the built-in map, or on the open map, connects the
// human and runs WARMUP cycles.
void FULLLOAD_START(bool OPENMAP, int WARMUP = 1000);
// One game cycle at full load.
void FULLLOAD_TICK();

// The console lines of the load (cleared by every tick).
extern std::vector<std::string> FULLLOAD_LINES;
