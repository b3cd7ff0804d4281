// The opening steps both socket transports share (netstart.cpp), and the two
// each of them supplies. Only the transports include this.
#pragma once

#include <cstdint>
#include <string>

#include "net/net.hpp"

// Prints a start-up failure line, waits for Enter at a terminal, closes what
// is open; always false.
bool NET_FAIL(const char* LINE);
// Binds the socket to NET_PORT or the next port above it that binds (only
// NET_PORT in a strict start), sets NET_PORT to the port bound and prints
// the port line; false after printing the failure, and why on standard
// error.
bool NET_BINDFREEPORT();

// Supplied by each transport: binds its socket to PORT on NET_IP (on every
// local interface when it is empty): NET_BOUND, or else the system's reason
// in WHY and whether another port may still bind; and the port it is bound
// to, 0 when that cannot be read.
constexpr int NET_BOUND = 0;
constexpr int NET_BINDRETRY = 1; // this port failed: the next one may do
constexpr int NET_BINDNEVER = 2; // no port will do (the address is not this machine's)
int NET_BINDPORT(uint16_t PORT, std::string& WHY);
uint16_t NET_BOUNDPORT();
