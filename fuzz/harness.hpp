// Fuzzing harnesses: each feeds one input to the server over the in-memory
// transport and checks the slot table after every cycle. A broken invariant
// aborts with a message, which the fuzzer (or the replay test) reports.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

// The input is cut into datagrams from eight senders (four addresses, two
// ports each), with game cycles run in between; bots present, a map loaded.
void FUZZ_DATAGRAMS(const uint8_t* DATA, size_t SIZE);
// The input is a map file: read into the map list, loaded, then a few hundred
// cycles of a bot match on it, with a human asking for the map.
void FUZZ_MAPFILE(const uint8_t* DATA, size_t SIZE);
// The input is a command line (arguments separated by 0 bytes), and each
// argument a number for the text-to-number conversions.
void FUZZ_CMDLINE(const uint8_t* DATA, size_t SIZE);
// The input is a recording, replayed as brastok_replay replays it.
void FUZZ_RECORDING(const uint8_t* DATA, size_t SIZE);
// The input is a ban file: read at start, every sender it names looked up
// against a plain scan of the list, then a ban and an unban rewrite it, and
// the rewritten file must read back as the same list.
void FUZZ_BANFILE(const uint8_t* DATA, size_t SIZE);
// The input is what the console reads from standard input, on a server with
// bots and two clients, with game cycles run between its lines.
void FUZZ_CONSOLE(const uint8_t* DATA, size_t SIZE);

// The invariants of the slot table: the counters equal the slots they count,
// no client's LOGI is ahead of SV_LOGI, live players stand in playable cells
// (when the map has spawn points; without, a new player keeps the position
// his slot had). The first one broken, described, or empty when all hold.
std::string FUZZ_SLOTFAULT();
// Aborts with the description when an invariant is broken.
void FUZZ_CHECKSLOTS();
