// The UDP transport on Windows Sockets 2: the Windows build's one
// platform-bound file, behind the same door as the POSIX one.
//
// Windows has no batched receive or send for UDP, so a datagram moves with
// one recvfrom or sendto each; NET_SEND sends at once, and NET_FLUSH only
// hands the browsers' datagrams over.
//
// With the HTTP side on, the browsers' sessions are peers too (bridge.hpp):
// their datagrams are handed out first, a send to one of their addresses
// goes to its session, and a UDP datagram from such an address is dropped.
#include <winsock2.h>
#include <ws2tcpip.h>

#include <algorithm>

#include "net/bridge.hpp"
#include "net/netstart.hpp"
#include "server/server.hpp"

// The socket and the sender of the last datagram. They belong to the
// platform, so they live here and nowhere else.
static SOCKET NET_SOCKET = INVALID_SOCKET;
static WSADATA NET_WSADATA;
static bool NET_WSAUP = false; // WSAStartup succeeded and wants its WSACleanup
static sockaddr_in NET_SADDR;
static char NET_INBUF[MAXBUFFER];
// A socket on loopback that an idle wait watches too: NET_WAKE sends it a
// byte (select waits on sockets only).
static SOCKET NET_WAKESOCK = INVALID_SOCKET;
static sockaddr_in NET_WAKEADDR;

static void NET_OPENWAKE() {
  NET_WAKESOCK = socket(AF_INET, SOCK_DGRAM, 0);
  if (NET_WAKESOCK == INVALID_SOCKET) {
    return; // the waits run their time out instead
  }
  u_long NONBLOCKING = 1;
  sockaddr_in A{};
  A.sin_family = AF_INET;
  A.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  int LEN = sizeof NET_WAKEADDR;
  if (ioctlsocket(NET_WAKESOCK, FIONBIO, &NONBLOCKING) != 0 ||
      bind(NET_WAKESOCK, reinterpret_cast<sockaddr*>(&A), sizeof A) != 0 ||
      getsockname(NET_WAKESOCK, reinterpret_cast<sockaddr*>(&NET_WAKEADDR), &LEN) != 0) {
    closesocket(NET_WAKESOCK);
    NET_WAKESOCK = INVALID_SOCKET;
  }
}

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
  NET_OPENWAKE();
  return NET_BINDFREEPORT();
}

void NET_STOP() {
  if (NET_SOCKET != INVALID_SOCKET) {
    closesocket(NET_SOCKET);
    NET_SOCKET = INVALID_SOCKET;
  }
  if (NET_WAKESOCK != INVALID_SOCKET) {
    closesocket(NET_WAKESOCK);
    NET_WAKESOCK = INVALID_SOCKET;
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
  if (NET_BRIDGEUP && NET_BRIDGEOWNS(ntohl(DEST.sin_addr.s_addr), PORT)) {
    NET_BRIDGESEND(ntohl(DEST.sin_addr.s_addr), PORT, &NET_BUF[1], size_t(NET_BUFP - 1));
    return;
  }
  // A datagram that cannot be sent is lost without a trace.
  (void)sendto(NET_SOCKET, reinterpret_cast<const char*>(&NET_BUF[1]), int(NET_BUFP - 1), 0,
               reinterpret_cast<const sockaddr*>(&DEST), sizeof DEST);
}

void NET_FLUSH() {
  if (NET_BRIDGEUP) {
    NET_BRIDGEFLUSH();
  }
}

int32_t NET_RECEIVE() {
  NET_CLEARBUFFER();
  if (NET_BRIDGEUP) {
    uint32_t A;
    uint16_t P;
    int32_t R = NET_BRIDGERECEIVE(A, P);
    if (R != NET_RECV_NONE) {
      NET_SADDR.sin_addr.s_addr = htonl(A);
      NET_SADDR.sin_port = htons(P);
      return R;
    }
  }
  if (NET_SOCKET == INVALID_SOCKET) {
    return NET_RECV_NONE;
  }
  int N = SOCKET_ERROR;
  // A UDP datagram from an address a session holds is not that session's:
  // it is dropped here, unseen by the game (a flood of them ends the
  // cycle's reading after a while rather than hold it).
  for (int SKIPS = 0;; SKIPS++) {
    if (SKIPS == 128) {
      return NET_RECV_NONE;
    }
    int LEN = sizeof NET_SADDR;
    N = recvfrom(NET_SOCKET, NET_INBUF, sizeof NET_INBUF, 0,
                 reinterpret_cast<sockaddr*>(&NET_SADDR), &LEN);
    if (N == SOCKET_ERROR || !NET_BRIDGEUP ||
        !NET_BRIDGEOWNS(ntohl(NET_SADDR.sin_addr.s_addr), ntohs(NET_SADDR.sin_port))) {
      break;
    }
  }
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

void NET_WAIT(int MS, int ALSOFD) {
  if (NET_SOCKET == INVALID_SOCKET) {
    return;
  }
  // Windows selects on sockets only: while the console is read, the wait is
  // cut to one cycle, so a command is still answered within one.
  if (ALSOFD >= 0) {
    MS = std::min(MS, FPS_INT);
  }
  if (NET_BRIDGEUP && !NET_BRIDGEWAITBEGIN()) {
    return; // a session's datagram is waiting
  }
  fd_set READ;
  FD_ZERO(&READ);
  FD_SET(NET_SOCKET, &READ);
  if (NET_WAKESOCK != INVALID_SOCKET) {
    FD_SET(NET_WAKESOCK, &READ);
  }
  timeval T{MS / 1000, (MS % 1000) * 1000};
  (void)select(0, &READ, nullptr, nullptr, &T);
  if (NET_BRIDGEUP) {
    NET_BRIDGEWAITEND();
  }
  if (NET_WAKESOCK != INVALID_SOCKET && FD_ISSET(NET_WAKESOCK, &READ)) {
    char SINK[64];
    while (recv(NET_WAKESOCK, SINK, sizeof SINK, 0) > 0) {
    }
  }
}

void NET_WAKE() {
  if (NET_WAKESOCK != INVALID_SOCKET) {
    char B = 0;
    (void)sendto(NET_WAKESOCK, &B, 1, 0, reinterpret_cast<const sockaddr*>(&NET_WAKEADDR),
                 sizeof NET_WAKEADDR);
  }
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
