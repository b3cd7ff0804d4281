// The load command's players: one simulated player (CL_BOT), the players of
// one server and what they saw (CL_LOADRUN), and the steps of a run. How a
// run meets its sockets (one server, or many from one process) is in
// loadrun.cpp; what a player does in load.cpp.
#pragma once

#include <random>
#include <string>
#include <vector>

#include "peer.hpp"

// One simulated player.
struct CL_BOT {
  CL_PEER P;
  std::mt19937 RNG;
  bool REFUSED = false;
  bool EVERIN = false;
  std::string GRIDTEXT;
  CL_GRID G;
  bool HAVEGRID = false;
  // Walking: a path of cells, and the one move request in flight.
  std::vector<std::pair<uint8_t, uint8_t>> PATH;
  size_t PATHI = 0;
  bool PENDING = false;
  uint16_t PMX = 0, PMY = 0, PX0 = 0, PY0 = 0, PTICK = 0;
  uint16_t DIR = 0;
  int TURN = 7;
  uint32_t K = 0; // state packets in this connection
  uint32_t NEXTCHAT = 0, LASTJOIN = 0;
  bool JOINED = false;
  std::vector<uint8_t> ITEMS; // items present in the last state packet
  // Log lines of the connections that ended.
  uint64_t TAKENBEFORE = 0, EXPECTEDBEFORE = 0, RESENTBEFORE = 0;
  uint64_t CHATSENT = 0, CHATSEEN = 0, KILLS = 0, PICKUPS = 0, RECONNECTS = 0;
  uint64_t RUNSTATES = 0; // state packets while the run lasted
  uint64_t INGAME = 0;    // of those, the ones that show it in the game
  uint64_t FREE = 0;      // and alive with no score board: free to walk
  std::vector<uint32_t> LATENCIES;
  uint64_t MOVESLOST = 0;
  // When the last state packet of this connection came, to tell how evenly
  // the server's ticks arrive.
  int64_t LASTSTATEUS = 0;
  std::vector<uint32_t> SPACINGS;
};

// The players of one server and what they saw.
struct CL_LOADRUN {
  const CL_OPTIONS* O = nullptr;
  CL_ENDPOINT T;
  std::vector<CL_BOT> BOTS;
  CL_LOADSUMMARY S;
  bool RUNNING = true; // false while draining at the end
  bool STOPPED = false;
  long LASTLINE = 0; // when a bot last took a new log line
  int VERSIONFAIL = -1;
  long START = 0, RUNEND = 0, DRAINSTART = 0;
  int EXIT = CL_EXIT_OK; // why the run ended early, when it did
};

// Datagram D for bot B; ATUS is when it arrived in microseconds of a clock
// of the caller's choice (the same for every datagram of the run), or -1
// for now on the steady clock.
void CL_LOADDATAGRAM(CL_LOADRUN& L, CL_BOT& B, const std::string& D, long NOW, int64_t ATUS);
// Names and seeds the players of a run whose sockets are open, and sends
// their connects.
void CL_LOADBEGIN(CL_LOADRUN& L, long NOW);
// What a run does between two waits: sees whether it is over (false, with
// L.EXIT telling why when it failed), ends the play when the time is up, and
// connects again the players that need it.
bool CL_LOADSTEP(CL_LOADRUN& L, long NOW);
// Ends a run: the players leave, and its figures are added up. The exit
// status of the run; its report goes to OUT, errors to standard error.
int CL_LOADEND(CL_LOADRUN& L, std::string& OUT);
