// The replay of a recording made with brastok_server -record: the server run
// again over the in-memory transport and without sleeping. brastok_replay is
// main() around it; the tests and the recording's fuzzer call it directly.
#pragma once

#include <cstdint>
#include <istream>
#include <string>
#include <vector>

// Exit statuses: 0 replayed whole; 1 the file cannot be read, is of another
// format, or is damaged (a recording cut short included: what came before
// the damage was replayed).
constexpr int RP_EXIT_OK = 0;
constexpr int RP_EXIT_FILE = 1;

// Replays the recording in F, SIZE bytes, named NAME in messages. Console
// lines go out as the server prints them (SC_WRITELN); with PACKETS, after
// each cycle that sent any, the line "cycle N" and one line
// "-> IP:PORT HEX" per datagram sent, on standard output. What is wrong with
// the file goes to standard error as "brastok_replay: NAME: why", or into
// RP_CAPTURE when it is set. The exit status.
int RP_REPLAY(std::istream& F, uint64_t SIZE, const std::string& NAME, bool PACKETS);
// The replay of the file PATH.
int RP_REPLAYFILE(const std::string& PATH, bool PACKETS);
extern std::vector<std::string>* RP_CAPTURE;
