// The opening steps both socket transports share (netstart.cpp), and the two
// each of them supplies. Only the transports include this.
#pragma once

#include <cstdint>

#include "net/net.hpp"

// Prints a start-up failure line, waits for Enter at a terminal, closes what
// is open; always false.
bool NET_FAIL(const char* LINE);
// Binds the socket to NET_PORT or the next port above it that binds, sets
// NET_PORT to the port bound and prints the port line; false after printing
// the failure.
bool NET_BINDFREEPORT();

// Supplied by each transport: binds its socket to PORT on every local
// interface; and the port it is bound to, 0 when that cannot be read.
bool NET_BINDPORT(uint16_t PORT);
uint16_t NET_BOUNDPORT();
