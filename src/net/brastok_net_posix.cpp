// The UDP transport on POSIX sockets: the one platform-bound file.
#include <arpa/inet.h>
#include <cerrno>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include "net/net.hpp"
#include "server/server.hpp"

// The socket and the sender of the last datagram. They belong to the
// platform, so they live here and nowhere else.
static int NET_SOCKET = -1;
static sockaddr_in NET_SADDR;

static bool NET_BINDPORT(uint16_t PORT) {
  sockaddr_in ADDR{};
  ADDR.sin_family = AF_INET;
  ADDR.sin_port = htons(PORT);
  ADDR.sin_addr.s_addr = htonl(INADDR_ANY);
  return bind(NET_SOCKET, reinterpret_cast<sockaddr*>(&ADDR), sizeof ADDR) == 0;
}

static bool NET_FAIL(const char* LINE) {
  SC_WRITELN(LINE);
  SC_WAITENTER();
  NET_STOP();
  return false;
}

bool NET_START() {
  NET_SOCKET = socket(AF_INET, SOCK_DGRAM, 0);
  if (NET_SOCKET < 0) {
    return NET_FAIL("UDP initialization failed! [ socket() ]");
  }
  int FLAGS = fcntl(NET_SOCKET, F_GETFL, 0);
  if (FLAGS < 0 || fcntl(NET_SOCKET, F_SETFL, FLAGS | O_NONBLOCK) < 0) {
    return NET_FAIL("UDP initialization failed! [ ioctlsocket() ]");
  }
  // A taken port moves the server to the next one, up to 65535 and no
  // further. Port 0 lets the system choose a free one.
  bool BOUND = false;
  if (NET_PORT == 0) {
    BOUND = NET_BINDPORT(0);
  } else {
    for (uint32_t P = NET_PORT; P <= 65535 && !BOUND; P++) {
      BOUND = NET_BINDPORT(uint16_t(P));
    }
  }
  if (!BOUND) {
    return NET_FAIL("UDP initialization failed! [ bind() ]");
  }
  // The port line shows the port actually bound.
  sockaddr_in ADDR{};
  socklen_t LEN = sizeof ADDR;
  if (getsockname(NET_SOCKET, reinterpret_cast<sockaddr*>(&ADDR), &LEN) == 0) {
    NET_PORT = ntohs(ADDR.sin_port);
  }
  SC_WRITELN("UDP initialized! UDP port: " + std::to_string(NET_PORT));
  return true;
}

void NET_STOP() {
  if (NET_SOCKET >= 0) {
    close(NET_SOCKET);
    NET_SOCKET = -1;
  }
}

void NET_SEND(const std::string& IP, uint16_t PORT) {
  sockaddr_in DEST{};
  DEST.sin_family = AF_INET;
  DEST.sin_port = htons(PORT);
  if (inet_pton(AF_INET, IP.c_str(), &DEST.sin_addr) != 1) {
    return;
  }
  // A datagram that cannot be sent is lost; nothing is retried.
  (void)sendto(NET_SOCKET, &NET_BUF[1], size_t(NET_BUFP - 1), 0, reinterpret_cast<sockaddr*>(&DEST),
               sizeof DEST);
}

int32_t NET_RECEIVE() {
  NET_CLEARBUFFER();
  socklen_t LEN = sizeof NET_SADDR;
  // MSG_TRUNC makes the result the datagram's real length, so one longer
  // than the buffer is recognised and dropped instead of read cut short.
  ssize_t N = recvfrom(NET_SOCKET, &NET_BUF[1], MAXBUFFER, MSG_TRUNC,
                       reinterpret_cast<sockaddr*>(&NET_SADDR), &LEN);
  if (N < 0) {
    if (errno == EAGAIN || errno == EWOULDBLOCK || NET_SOCKET < 0) {
      return NET_RECV_NONE;
    }
    return NET_RECV_BAD;
  }
  if (N > MAXBUFFER) {
    NET_CLEARBUFFER();
    return NET_RECV_BAD;
  }
  return int32_t(N);
}

void NET_WAIT(int MS) {
  pollfd P{NET_SOCKET, POLLIN, 0};
  (void)poll(&P, 1, MS);
}

std::string NET_LASTINIP() {
  char TEXT[INET_ADDRSTRLEN];
  if (inet_ntop(AF_INET, &NET_SADDR.sin_addr, TEXT, sizeof TEXT) == nullptr) {
    return "0.0.0.0";
  }
  return TEXT;
}

uint16_t NET_LASTINPORT() {
  return ntohs(NET_SADDR.sin_port);
}
