// Clients and event log: the 24 slots keyed by address and port, and the
// numbered event log that the console prints and every client receives.
#pragma once

#include <cstdint>
#include <string>

#include "server/state.hpp"

// ---- slots (slots.cpp) ----

// Takes the lowest free slot for a new occupant (a client or a bot): EXIST,
// PLAY false, SCORE 0, the timers 0 and the data-message budget; the rest is
// the caller's. 0 when the server is full; the counters are the caller's too.
uint8_t PLAYER_CLAIM();
// NAME with the tag of TEAM in front, cut to PLAYERMAXNAME: a name in team play.
std::string PLAYER_TAGNAME(uint8_t TEAM, const std::string& NAME);
// Claims the lowest free slot for SIP:SPORT; 0 when the server is full.
uint8_t PLAYER_NEW(const std::string& SIP, uint16_t SPORT);
// The occupied slot of IP:PORT, or 0; a hit restarts its silence count.
uint8_t PLAYER_A2I(const std::string& IP, uint16_t PORT);
// Frees slot PID if it is occupied and logs the disconnect.
void PLAYER_REMOVE(uint8_t PID);
// True when the slot may be sent packets: its client has been heard since it
// connected, or it connected no more than UNHEARDTICKS ticks ago.
bool PLAYER_MAYSEND(uint8_t PID);
// Frees every slot, in slot order.
void SV_KICKALL();
// Counts one tick of silence; at PLAYERTTL the client is logged as timed out
// and removed, and the result is true.
bool PLAYER_TIMEOUT(uint8_t PID);

// ---- event log (log.cpp) ----

void SV_CLEARLOG();
// Numbers, stores and prints one log line.
void SV_ADDMSG(const std::string& MSG);
// Renders one log line as console text and prints it.
void SC_LOGMESS(const std::string& ST);
// The console text of a log line, from the names the slots hold now.
std::string SC_LOGTEXT(const std::string& ST);
// The same, with the name of a slot given by NAMEOF(slot, CTX): a client
// renders the lines from the names it has learnt.
using SC_NAMEOF = std::string (*)(uint8_t SLOT, const void* CTX);
std::string SC_LOGTEXT(const std::string& ST, SC_NAMEOF NAMEOF, const void* CTX);

// A log line from its bytes: SV_LOGLINE({LOGMESSID_KILL, G, A, E}).
std::string SV_LOGLINE(std::initializer_list<uint8_t> BYTES);
