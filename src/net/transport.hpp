// The UDP transport: the only door to the network. The server links the
// POSIX socket implementation (brastok_net_posix.cpp), or on Windows the
// Winsock one (brastok_net_win32.cpp); tests link an in-memory one. Nothing
// above this header knows what a socket is.
#pragma once

#include <cstdint>
#include <string>

// NET_RECEIVE results other than a length.
constexpr int32_t NET_RECV_NONE = -1; // nothing is waiting
constexpr int32_t NET_RECV_BAD = -2;  // a datagram came but was lost: too long, or a failed read

// Opens the socket on NET_PORT, or on the next port above it that binds, and
// prints the port line. NET_PORT 0 takes any free port. False after printing
// the failure.
bool NET_START();
// Closes the socket; harmless when nothing is open.
void NET_STOP();
// Sends bytes 1 to NET_BUFP - 1 of NET_BUF as one datagram. The datagram may
// wait for NET_FLUSH; datagrams leave in the order they were sent.
void NET_SEND(const std::string& IP, uint16_t PORT);
// Sends every datagram still waiting. The game cycle ends with it.
void NET_FLUSH();
// Clears NET_BUF and receives one datagram into it: its length (0 for an
// empty datagram), NET_RECV_NONE or NET_RECV_BAD.
int32_t NET_RECEIVE();
// Waits at most MS milliseconds for a datagram to arrive; returns at once
// when one is waiting. A signal may end the wait early, and so does the file
// descriptor ALSOFD (the console) when it is not -1 and becomes readable.
void NET_WAIT(int MS, int ALSOFD = -1);
// Ends a NET_WAIT in progress at once; any thread may call it (the HTTP
// side's, when a browser's datagram or an admin's command comes while the
// server idles).
void NET_WAKE();
// Sender of the last datagram received: dotted IPv4 text and port.
std::string NET_LASTINIP();
uint16_t NET_LASTINPORT();
