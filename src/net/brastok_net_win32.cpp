// The UDP transport on Windows Sockets 2: the Windows build's one
// platform-bound file, behind the same door as the POSIX one.
//
// Windows has no batched receive or send for UDP, so a datagram moves with
// one recvfrom or sendto each; NET_SEND sends at once and NET_FLUSH has
// nothing left to do.
#include <winsock2.h>
#include <ws2tcpip.h>

#include <algorithm>

#include "net/netstart.hpp"
#include "server/server.hpp"

// The socket and the sender of the last datagram. They belong to the
// platform, so they live here and nowhere else.
static SOCKET NET_SOCKET = INVALID_SOCKET;
static WSADATA NET_WSADATA;
static bool NET_WSAUP = false; // WSAStartup succeeded and wants its WSACleanup
static sockaddr_in NET_SADDR;
static char NET_INBUF[MAXBUFFER];

int NET_BINDPORT(uint16_t PORT, std::string& WHY) {
  sockaddr_in ADDR{};
  ADDR.sin_family = AF_INET;
  ADDR.sin_port = htons(PORT);
  uint32_t HOST = 0; // every local interface, unless -ip gave one
  NET_READIPV4(NET_IP, HOST);
  ADDR.sin_addr.s_addr = htonl(HOST);
  if (bind(NET_SOCKET, reinterpret_cast<sockaddr*>(&ADDR), sizeof ADDR) == 0) {
    return NET_BOUND;
  }
  int ERR = WSAGetLastError();
  char TEXT[256];
  DWORD N = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                           DWORD(ERR), 0, TEXT, sizeof TEXT, nullptr);
  WHY = N > 0 ? std::string(TEXT, N) : "error " + std::to_string(ERR);
  // The system's text ends in a full stop and a line end.
  while (!WHY.empty() && (WHY.back() == '\n' || WHY.back() == '\r' || WHY.back() == '.')) {
    WHY.pop_back();
  }
  return ERR == WSAEADDRNOTAVAIL ? NET_BINDNEVER : NET_BINDRETRY;
}

uint16_t NET_BOUNDPORT() {
  sockaddr_in ADDR{};
  int LEN = sizeof ADDR;
  if (getsockname(NET_SOCKET, reinterpret_cast<sockaddr*>(&ADDR), &LEN) != 0) {
    return 0;
  }
  return ntohs(ADDR.sin_port);
}

bool NET_START() {
  if (WSAStartup(MAKEWORD(2, 2), &NET_WSADATA) != 0) {
    return NET_FAIL("WSAStartup error!");
  }
  NET_WSAUP = true;
  NET_SOCKET = socket(AF_INET, SOCK_DGRAM, 0);
  if (NET_SOCKET == INVALID_SOCKET) {
    return NET_FAIL("UDP initialization failed! [ socket() ]");
  }
  u_long NONBLOCKING = 1;
  if (ioctlsocket(NET_SOCKET, FIONBIO, &NONBLOCKING) != 0) {
    return NET_FAIL("UDP initialization failed! [ ioctlsocket() ]");
  }
  // Without this another program of the same user could bind the same port
  // with SO_REUSEADDR and take the clients' datagrams; with it a taken port
  // is simply taken, as on Linux. A system that refuses the option still
  // runs the server.
  BOOL EXCLUSIVE = TRUE;
  (void)setsockopt(NET_SOCKET, SOL_SOCKET, SO_EXCLUSIVEADDRUSE,
                   reinterpret_cast<const char*>(&EXCLUSIVE), sizeof EXCLUSIVE);
  return NET_BINDFREEPORT();
}

void NET_STOP() {
  if (NET_SOCKET != INVALID_SOCKET) {
    closesocket(NET_SOCKET);
    NET_SOCKET = INVALID_SOCKET;
  }
  // Every successful WSAStartup needs exactly one WSACleanup, so a second
  // NET_STOP, or one after a failed start, leaves the library alone.
  if (NET_WSAUP) {
    WSACleanup();
    NET_WSAUP = false;
  }
}

void NET_SEND(const std::string& IP, uint16_t PORT) {
  sockaddr_in DEST{};
  DEST.sin_family = AF_INET;
  DEST.sin_port = htons(PORT);
  if (NET_SOCKET == INVALID_SOCKET || inet_pton(AF_INET, IP.c_str(), &DEST.sin_addr) != 1) {
    return;
  }
  // A datagram that cannot be sent is lost without a trace.
  (void)sendto(NET_SOCKET, reinterpret_cast<const char*>(&NET_BUF[1]), int(NET_BUFP - 1), 0,
               reinterpret_cast<const sockaddr*>(&DEST), sizeof DEST);
}

void NET_FLUSH() {}

int32_t NET_RECEIVE() {
  NET_CLEARBUFFER();
  if (NET_SOCKET == INVALID_SOCKET) {
    return NET_RECV_NONE;
  }
  int LEN = sizeof NET_SADDR;
  int N = recvfrom(NET_SOCKET, NET_INBUF, sizeof NET_INBUF, 0,
                   reinterpret_cast<sockaddr*>(&NET_SADDR), &LEN);
  if (N == SOCKET_ERROR) {
    // WSAEMSGSIZE is a datagram longer than the buffer: it is dropped, not
    // read as if it were whole. WSAECONNRESET is Windows telling that an
    // earlier datagram met a closed port; it is no datagram but must not end
    // the reading either.
    return WSAGetLastError() == WSAEWOULDBLOCK ? NET_RECV_NONE : NET_RECV_BAD;
  }
  NET_LOADBUFFER(NET_INBUF, size_t(N));
  return int32_t(N);
}

void NET_WAIT(int MS, int ALSOFD, int WAKEFD) {
  if (NET_SOCKET == INVALID_SOCKET) {
    return;
  }
  // Windows selects on sockets only: while the console is read, or the admin
  // API may queue a command, the wait is cut to one cycle, so a command is
  // still answered within one.
  if (ALSOFD >= 0 || WAKEFD >= 0) {
    MS = std::min(MS, FPS_INT);
  }
  fd_set READ;
  FD_ZERO(&READ);
  FD_SET(NET_SOCKET, &READ);
  timeval T{MS / 1000, (MS % 1000) * 1000};
  (void)select(0, &READ, nullptr, nullptr, &T);
}

std::string NET_LASTINIP() {
  char TEXT[INET_ADDRSTRLEN] = "";
  if (inet_ntop(AF_INET, &NET_SADDR.sin_addr, TEXT, sizeof TEXT) == nullptr) {
    return "0.0.0.0";
  }
  return TEXT;
}

uint16_t NET_LASTINPORT() {
  return ntohs(NET_SADDR.sin_port);
}
