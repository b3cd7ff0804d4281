// The UDP transport on POSIX sockets: the one platform-bound file.
//
// System calls are the main cost of a tick, so datagrams move in batches:
// NET_RECEIVE takes up to NET_INMAX waiting datagrams with one recvmmsg and
// hands them out one by one; NET_SEND queues its datagram, and NET_FLUSH (at
// the end of every cycle, or when the queue is full) sends the queue with one
// sendmmsg, in the order the datagrams were queued. Datagrams taken but not
// handed out when a cycle stops reading (it reads at most so many) are the
// first ones the next cycle gets, before anything that came after them.
//
// With the HTTP side on, the browsers' sessions are peers too (bridge.hpp):
// their datagrams are handed out first, a send to one of their addresses
// goes to its session, and a UDP datagram from such an address is dropped.
#include <arpa/inet.h>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include "net/bridge.hpp"
#include "net/netstart.hpp"
#include "server/server.hpp"

// The socket and the sender of the last datagram. They belong to the
// platform, so they live here and nowhere else.
static int NET_SOCKET = -1;
static sockaddr_in NET_SADDR;
// A pipe whose reading end an idle wait watches too: NET_WAKE writes a byte.
static int NET_WAKEFD[2] = {-1, -1};

// Datagrams received but not yet handed out: NET_INAT of NET_INN.
constexpr int NET_INMAX = 32;
static uint8_t NET_INBUF[NET_INMAX][MAXBUFFER];
static iovec NET_INIOV[NET_INMAX];
static sockaddr_in NET_INADDR[NET_INMAX];
static mmsghdr NET_INMSG[NET_INMAX];
static int NET_INN = 0;
static int NET_INAT = 0;
// The last batch was short, so the socket was empty when it was taken: once
// it is handed out, nothing is waiting, and no call is needed to learn it.
static bool NET_INSHORT = false;

// Datagrams queued for sending, their bytes packed in NET_OUTBUF.
constexpr int NET_OUTMAX = 64;
constexpr size_t NET_OUTBYTES = 64 * 1024;
static uint8_t NET_OUTBUF[NET_OUTBYTES];
static size_t NET_OUTUSED = 0;
static iovec NET_OUTIOV[NET_OUTMAX];
static sockaddr_in NET_OUTADDR[NET_OUTMAX];
static mmsghdr NET_OUTMSG[NET_OUTMAX];
static int NET_OUTN = 0;

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
  int ERR = errno;
  WHY = std::strerror(ERR);
  return ERR == EADDRNOTAVAIL ? NET_BINDNEVER : NET_BINDRETRY;
}

uint16_t NET_BOUNDPORT() {
  sockaddr_in ADDR{};
  socklen_t LEN = sizeof ADDR;
  if (getsockname(NET_SOCKET, reinterpret_cast<sockaddr*>(&ADDR), &LEN) != 0) {
    return 0;
  }
  return ntohs(ADDR.sin_port);
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
  if (NET_WAKEFD[0] < 0 && pipe2(NET_WAKEFD, O_NONBLOCK | O_CLOEXEC) != 0) {
    NET_WAKEFD[0] = NET_WAKEFD[1] = -1; // the waits run their time out instead
  }
  return NET_BINDFREEPORT();
}

void NET_STOP() {
  if (NET_SOCKET >= 0) {
    NET_FLUSH();
    close(NET_SOCKET);
    NET_SOCKET = -1;
  }
  // What the closed socket received is not handed out by the next one.
  NET_INN = 0;
  NET_INAT = 0;
  NET_INSHORT = false;
}

void NET_SEND(const std::string& IP, uint16_t PORT) {
  sockaddr_in DEST{};
  DEST.sin_family = AF_INET;
  DEST.sin_port = htons(PORT);
  if (inet_pton(AF_INET, IP.c_str(), &DEST.sin_addr) != 1) {
    return;
  }
  size_t N = size_t(NET_BUFP - 1);
  if (NET_BRIDGEUP && NET_BRIDGEOWNS(ntohl(DEST.sin_addr.s_addr), PORT)) {
    NET_BRIDGESEND(ntohl(DEST.sin_addr.s_addr), PORT, &NET_BUF[1], N);
    return;
  }
  if (NET_OUTN == NET_OUTMAX || NET_OUTUSED + N > NET_OUTBYTES) {
    NET_FLUSH();
  }
  uint8_t* AT = NET_OUTBUF + NET_OUTUSED;
  std::memcpy(AT, &NET_BUF[1], N);
  NET_OUTUSED += N;
  NET_OUTIOV[NET_OUTN] = {AT, N};
  NET_OUTADDR[NET_OUTN] = DEST;
  msghdr& H = NET_OUTMSG[NET_OUTN].msg_hdr;
  H = {};
  H.msg_name = &NET_OUTADDR[NET_OUTN];
  H.msg_namelen = sizeof DEST;
  H.msg_iov = &NET_OUTIOV[NET_OUTN];
  H.msg_iovlen = 1;
  NET_OUTN++;
}

void NET_FLUSH() {
  if (NET_BRIDGEUP) {
    NET_BRIDGEFLUSH();
  }
  // A datagram that cannot be sent is lost without a trace, as with a single
  // send; the ones after it still go.
  int SENT = 0;
  while (SENT < NET_OUTN && NET_SOCKET >= 0) {
    int R = sendmmsg(NET_SOCKET, NET_OUTMSG + SENT, unsigned(NET_OUTN - SENT), 0);
    SENT += R > 0 ? R : 1;
  }
  NET_OUTN = 0;
  NET_OUTUSED = 0;
  // The short batch tells about one cycle only: one that stopped at its
  // limit right after such a batch must not make the next find nothing.
  NET_INSHORT = false;
}

// Whether the datagram at I of the batch comes from a session's address.
static bool NET_SESSIONS(int I) {
  return NET_BRIDGEUP &&
         NET_BRIDGEOWNS(ntohl(NET_INADDR[I].sin_addr.s_addr), ntohs(NET_INADDR[I].sin_port));
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
  // A UDP datagram from an address a session holds is not that session's:
  // it is dropped here, unseen by the game.
  while (NET_INAT < NET_INN && NET_SESSIONS(NET_INAT)) {
    NET_INAT++;
  }
  // A flood from such an address ends the cycle's reading after a few
  // batches rather than hold it.
  for (int REFILLS = 0; NET_INAT >= NET_INN; REFILLS++) {
    if (REFILLS == 4) {
      return NET_RECV_NONE;
    }
    NET_INN = 0;
    NET_INAT = 0;
    if (NET_INSHORT) {
      NET_INSHORT = false; // the next call reads the socket again
      return NET_RECV_NONE;
    }
    for (int I = 0; I < NET_INMAX; I++) {
      NET_INIOV[I] = {NET_INBUF[I], MAXBUFFER};
      msghdr& H = NET_INMSG[I].msg_hdr;
      H = {};
      H.msg_name = &NET_INADDR[I];
      H.msg_namelen = sizeof NET_INADDR[I];
      H.msg_iov = &NET_INIOV[I];
      H.msg_iovlen = 1;
    }
    int R = recvmmsg(NET_SOCKET, NET_INMSG, NET_INMAX, MSG_DONTWAIT, nullptr);
    if (R <= 0) {
      bool NONE = R == 0 || errno == EAGAIN || errno == EWOULDBLOCK || NET_SOCKET < 0;
      return NONE ? NET_RECV_NONE : NET_RECV_BAD;
    }
    NET_INN = R;
    NET_INSHORT = R < NET_INMAX;
    while (NET_INAT < NET_INN && NET_SESSIONS(NET_INAT)) {
      NET_INAT++;
    }
  }
  int I = NET_INAT++;
  NET_SADDR = NET_INADDR[I];
  // A datagram longer than the buffer arrives cut short: it is dropped, not
  // read as if it were whole.
  if ((NET_INMSG[I].msg_hdr.msg_flags & MSG_TRUNC) != 0 || NET_INMSG[I].msg_len > MAXBUFFER) {
    return NET_RECV_BAD;
  }
  NET_LOADBUFFER(NET_INBUF[I], NET_INMSG[I].msg_len);
  return int32_t(NET_INMSG[I].msg_len);
}

void NET_WAIT(int MS, int ALSOFD) {
  if (NET_INAT < NET_INN) {
    return; // datagrams of the last batch are still waiting
  }
  if (NET_BRIDGEUP && !NET_BRIDGEWAITBEGIN()) {
    return; // a session's datagram is waiting
  }
  pollfd P[3] = {{NET_SOCKET, POLLIN, 0}, {NET_WAKEFD[0], POLLIN, 0}, {ALSOFD, POLLIN, 0}};
  (void)poll(P, ALSOFD >= 0 ? 3 : 2, MS);
  if (NET_BRIDGEUP) {
    NET_BRIDGEWAITEND();
  }
  if ((P[1].revents & POLLIN) != 0) {
    char SINK[64];
    while (read(NET_WAKEFD[0], SINK, sizeof SINK) > 0) {
    }
  }
}

void NET_WAKE() {
  if (NET_WAKEFD[1] >= 0) {
    char B = 0;
    (void)!write(NET_WAKEFD[1], &B, 1);
  }
}

std::string NET_LASTINIP() {
  // Written out by hand: inet_ntop formats through sprintf, which cost a
  // third of a loaded tick's instructions.
  uint32_t A = ntohl(NET_SADDR.sin_addr.s_addr);
  char TEXT[16];
  int N = 0;
  for (int K = 3; K >= 0; K--) {
    unsigned B = (A >> (8 * K)) & 255u;
    if (B >= 100) {
      TEXT[N++] = char('0' + B / 100);
    }
    if (B >= 10) {
      TEXT[N++] = char('0' + B / 10 % 10);
    }
    TEXT[N++] = char('0' + B % 10);
    if (K > 0) {
      TEXT[N++] = '.';
    }
  }
  return std::string(TEXT, size_t(N));
}

uint16_t NET_LASTINPORT() {
  return ntohs(NET_SADDR.sin_port);
}
