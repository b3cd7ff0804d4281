// The client tool's sockets: the one place that speaks to the operating
// system's network interface. The rest of the tool sees handles, endpoints
// and plain results, so a port to another socket interface touches this
// file and socket.cpp alone.
#pragma once

#include <csignal>
#include <cstdint>
#include <string>
#include <vector>

// A socket handle; CL_NOSOCKET when none.
using CL_SOCKET = intptr_t;
constexpr CL_SOCKET CL_NOSOCKET = -1;

// An IPv4 address and port, in host order, with the text the user gave.
struct CL_ENDPOINT {
  uint32_t IP = 0;
  uint16_t PORT = 0;
  std::string TEXT; // HOST:PORT
};

// Set by Ctrl-C or SIGTERM once CL_CATCHSTOP has run; a wait then ends early.
extern volatile std::sig_atomic_t CL_STOPASKED;
void CL_CATCHSTOP();

// Milliseconds of a monotonic clock.
long CL_NOWMS();

// True when TEXT is a dotted IPv4 address such as 127.0.0.2.
bool CL_ISIPV4(const std::string& TEXT);
// HOST (a name or an IPv4 address) and PORT to an endpoint. False with a
// one-line reason.
bool CL_RESOLVE(const std::string& HOST, uint16_t PORT, CL_ENDPOINT& E, std::string& ERR);
// The endpoint's address as text, "1.2.3.4:5".
std::string CL_ENDPOINTTEXT(const CL_ENDPOINT& E);

// A non-blocking UDP socket bound to BIND (empty: any address) and PORT (0:
// any). CL_NOSOCKET with a one-line reason; BINDFAILED tells that the socket
// opened but the address could not be taken.
CL_SOCKET CL_SOCKOPEN(const std::string& BIND, uint16_t PORT, std::string& ERR, bool& BINDFAILED);
// Sends only to, and takes only from, E; a closed port then shows as refused.
bool CL_SOCKCONNECT(CL_SOCKET S, const CL_ENDPOINT& E, std::string& ERR);
void CL_SOCKCLOSE(CL_SOCKET S);
// The local port the socket is bound to.
uint16_t CL_SOCKPORT(CL_SOCKET S);

enum CL_IORESULT { CL_IO_DONE, CL_IO_NONE, CL_IO_REFUSED };
// On a connected socket. CL_IO_NONE: nothing waiting, or the datagram was lost.
CL_IORESULT CL_SOCKSEND(CL_SOCKET S, const std::string& D);
CL_IORESULT CL_SOCKRECV(CL_SOCKET S, std::string& D);
// On an unconnected socket.
CL_IORESULT CL_SOCKSENDTO(CL_SOCKET S, const CL_ENDPOINT& TO, const std::string& D);
CL_IORESULT CL_SOCKRECVFROM(CL_SOCKET S, std::string& D, CL_ENDPOINT& FROM);

// Waits at most MS for any of the sockets to hold a datagram, or a signal.
void CL_SOCKWAIT(const std::vector<CL_SOCKET>& SS, int MS);

// ---- many datagrams at a time, on unconnected sockets ----

// A datagram and its peer: the sender of one received, the destination of
// one to send. ATUS: when a received one arrived, in microseconds of the
// wall clock, as the system stamped it (or when it was read, where the
// system stamps nothing).
struct CL_DGRAM {
  CL_ENDPOINT PEER;
  std::string DATA;
  int64_t ATUS = 0;
};
// Prepares a socket that many players share: arrival stamps on, and a
// receive buffer as large as the system allows up to 4 MiB.
void CL_SOCKSHARED(CL_SOCKET S);
// Appends the datagrams waiting on S to GOTTEN, at most MAX, taking as many
// with one system call as the system can.
void CL_SOCKRECVMANY(CL_SOCKET S, std::vector<CL_DGRAM>& GOTTEN, size_t MAX);
// Sends SENDING from S in order, as many with one system call as the system
// can; one that cannot be sent is lost.
void CL_SOCKSENDMANY(CL_SOCKET S, const std::vector<CL_DGRAM>& SENDING);
