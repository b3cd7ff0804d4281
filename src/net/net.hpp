// Networking: the packet codec over the one buffer, the client messages and
// the packets the server sends.
#pragma once

#include <cstdint>
#include <string>

#include "net/transport.hpp"
#include "server/state.hpp"

// ---- codec (codec.cpp) ----
// Readers return 0 past the end of the buffer and leave the cursor; writers
// write nothing that would not fit whole.
void NET_CLEARBUFFER();
// Clears the buffer and puts the N bytes of a received datagram at its start.
void NET_LOADBUFFER(const void* DATA, size_t N);
uint8_t NET_READBYTE();
char NET_READCHAR();
uint16_t NET_READWORD();
std::string NET_READSTRING();
void NET_WRITEBYTE(uint8_t B);
void NET_WRITECHAR(char B);
void NET_WRITEWORD(uint16_t B);
void NET_WRITESTRING(const std::string& S);
// Counts the datagram in NET_BUF as sent; called right before NET_SEND.
inline void NET_COUNTSENT() {
  SV_STATS.DGOUT++;
  SV_STATS.BYTESOUT += uint16_t(NET_BUFP - 1);
}
// Dotted IPv4 text, four decimal numbers 0 to 255, as a number (host order);
// false for any other text.
bool NET_READIPV4(const std::string& S, uint32_t& A);

// ---- client messages (input.cpp) ----

// Most datagrams handled in one cycle; the rest wait for the next one, so a
// flood cannot stretch a tick without bound.
constexpr int NET_MAXINPERCYCLE = 1024;
// Longest chat text kept: the kind and slot bytes in front of it must still
// fit a log line into one wire string.
constexpr size_t NET_MAXCHAT = 253;

// Reads and handles every waiting datagram (up to NET_MAXINPERCYCLE).
void NET_INPUT();
// Records a connect message from IP, or returns false when IP has had
// CONNMAX connects taken within the last CONNWINDOWMS milliseconds.
bool NET_CONNECTALLOWED(const std::string& IP);

// ---- state broadcast (output.cpp) ----

// Sends the state packet of this tick to every human client.
void NET_OUTPUT();
uint8_t PLAYER_STATE(uint8_t PID);
void NET_WRITEITEMS();
// The map text of map-list entry I, its end byte and its name, of which at
// most NAMEMAX characters.
void NET_WRITEMAP(uint8_t I, size_t NAMEMAX = 255);
// The map-information step and the log step of one slot's per-tick update.
void NET_SENDMAPINFO(uint8_t CID);
void NET_SENDLOG(uint8_t CID);
