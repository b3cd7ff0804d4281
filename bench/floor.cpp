// The floor: a program that does only what a server tick must do with the
// system, and nothing of the game. Each tick it drains its UDP socket until
// nothing is waiting, sends every client it has heard from (up to 24) a
// 405-byte state packet, and sleeps 30 ms. The packet is a valid state packet
// of 24 firing players and 128 items, so a load client answers it like the
// server's. The CPU it costs per tick is what the server is measured against.
//
//   brastok_floor [-port N] [-batch | -tcp]
//
// By default a datagram moves with one recvfrom or sendto each. With -batch
// the socket is drained with recvmmsg (32 at a time) and the tick's packets
// leave with one sendmmsg: the least system work a tick can do.
//
// With -tcp it carries the same datagrams over TCP, one connection per
// client, each datagram behind a 2-byte length (brastok_wsrelay -raw speaks
// it): each tick one recv and one send per connection, the least a server
// whose players come over TCP (a WebSocket) can do with the system, without
// a byte of WebSocket framing or any game.
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>

static volatile std::sig_atomic_t STOP = 0;
static void ONSTOP(int) {
  STOP = 1;
}

constexpr int MAXPEERS = 24;
constexpr int INMAX = 32;
static sockaddr_in PEERS[MAXPEERS];
static int NPEERS = 0;

// Remembers a new sender, up to MAXPEERS of them.
static void HEARD(const sockaddr_in& FROM) {
  for (int I = 0; I < NPEERS; I++) {
    if (PEERS[I].sin_addr.s_addr == FROM.sin_addr.s_addr && PEERS[I].sin_port == FROM.sin_port) {
      return;
    }
  }
  if (NPEERS < MAXPEERS) {
    PEERS[NPEERS++] = FROM;
  }
}

static void DRAIN(int FD) {
  static uint8_t IN[5000];
  for (;;) {
    sockaddr_in FROM{};
    socklen_t FL = sizeof FROM;
    ssize_t N = recvfrom(FD, IN, sizeof IN, MSG_TRUNC, reinterpret_cast<sockaddr*>(&FROM), &FL);
    if (N < 0) {
      return;
    }
    HEARD(FROM);
  }
}

static void DRAINBATCH(int FD) {
  static uint8_t IN[INMAX][5000];
  static iovec IOV[INMAX];
  static sockaddr_in FROM[INMAX];
  static mmsghdr MSG[INMAX];
  // A short batch means the socket was empty: no further call to learn it.
  for (int R = INMAX; R == INMAX;) {
    for (int I = 0; I < INMAX; I++) {
      IOV[I] = {IN[I], sizeof IN[I]};
      MSG[I].msg_hdr = {};
      MSG[I].msg_hdr.msg_name = &FROM[I];
      MSG[I].msg_hdr.msg_namelen = sizeof FROM[I];
      MSG[I].msg_hdr.msg_iov = &IOV[I];
      MSG[I].msg_hdr.msg_iovlen = 1;
    }
    R = recvmmsg(FD, MSG, INMAX, MSG_DONTWAIT, nullptr);
    for (int I = 0; I < R; I++) {
      HEARD(FROM[I]);
    }
  }
}

// The TCP clients: their sockets, and the connections they still hold.
static int CONNS[MAXPEERS];
static int NCONNS = 0;

// Takes new connections, and from each connection what it sent (one recv:
// a client sends one datagram a tick); a closed one goes.
static void DRAINTCP(int LFD) {
  static uint8_t IN[5000];
  for (int C; NCONNS < MAXPEERS && (C = accept4(LFD, nullptr, nullptr, SOCK_NONBLOCK)) >= 0;) {
    int ONE = 1;
    setsockopt(C, IPPROTO_TCP, TCP_NODELAY, &ONE, sizeof ONE);
    CONNS[NCONNS++] = C;
  }
  for (int I = 0; I < NCONNS; I++) {
    if (recv(CONNS[I], IN, sizeof IN, MSG_DONTWAIT) == 0) {
      close(CONNS[I]);
      CONNS[I--] = CONNS[--NCONNS];
    }
  }
}

int main(int argc, char** argv) {
  uint16_t PORT = 0;
  bool BATCH = false;
  bool TCP = false;
  for (int I = 1; I < argc; I++) {
    if (std::strcmp(argv[I], "-port") == 0 && I + 1 < argc) {
      PORT = uint16_t(std::atoi(argv[++I]));
    } else if (std::strcmp(argv[I], "-batch") == 0) {
      BATCH = true;
    } else if (std::strcmp(argv[I], "-tcp") == 0) {
      TCP = true;
    } else {
      std::fprintf(stderr, "usage: brastok_floor [-port N] [-batch | -tcp]\n");
      return 2;
    }
  }
  int FD = socket(AF_INET, TCP ? SOCK_STREAM : SOCK_DGRAM, 0);
  fcntl(FD, F_SETFL, fcntl(FD, F_GETFL) | O_NONBLOCK);
  sockaddr_in A{};
  A.sin_family = AF_INET;
  A.sin_port = htons(PORT);
  if (bind(FD, reinterpret_cast<sockaddr*>(&A), sizeof A) != 0 || (TCP && listen(FD, 64) != 0)) {
    std::printf("%s initialization failed! [ bind() ]\n", TCP ? "TCP" : "UDP");
    return 1;
  }
  socklen_t L = sizeof A;
  getsockname(FD, reinterpret_cast<sockaddr*>(&A), &L);
  std::printf("%s initialized! %s port: %u\n", TCP ? "TCP" : "UDP", TCP ? "TCP" : "UDP",
              unsigned(ntohs(A.sin_port)));
  std::fflush(stdout);
  struct sigaction SA {};
  SA.sa_handler = ONSTOP;
  sigaction(SIGINT, &SA, nullptr);
  sigaction(SIGTERM, &SA, nullptr);

  // One packet per client: the common part is the same, the tail differs.
  static uint8_t PKT[MAXPEERS][405];
  static iovec OUTIOV[MAXPEERS];
  static mmsghdr OUTMSG[MAXPEERS];
  uint16_t TICK = 0;
  while (!STOP) {
    if (TCP) {
      DRAINTCP(FD);
    } else if (BATCH) {
      DRAINBATCH(FD);
    } else {
      DRAIN(FD);
    }
    // One state packet: header, 24 entries of 11 bytes, 128 items, tail.
    TICK++;
    size_t P = 0;
    uint8_t* K = PKT[0];
    K[P++] = 110;
    K[P++] = uint8_t(TICK);
    K[P++] = uint8_t(TICK >> 8);
    K[P++] = 0;
    K[P++] = 0;
    K[P++] = 24;
    for (int S = 1; S <= 24; S++) {
      const uint8_t E[11] = {uint8_t(S), 4, 1, 0, 96, 1, 96, 1, 0, 0, 2};
      std::memcpy(K + P, E, sizeof E);
      P += sizeof E;
    }
    K[P++] = 128;
    for (int I = 1; I <= 128; I++) {
      K[P++] = uint8_t(I);
    }
    for (int I = 0; TCP && I < NCONNS; I++) {
      // The length before the packet, as a WebSocket frame's header would.
      static uint8_t FRAME[2 + 405];
      const uint8_t TAIL[6] = {uint8_t(I + 1), 100, 25, 25, 0, 2};
      size_t N = P + sizeof TAIL;
      FRAME[0] = uint8_t(N >> 8);
      FRAME[1] = uint8_t(N);
      std::memcpy(FRAME + 2, K, P);
      std::memcpy(FRAME + 2 + P, TAIL, sizeof TAIL);
      // A reader this far behind has a full socket buffer; a short send
      // would break its framing, and a floor run with one is not worth
      // reading, so the count of state packets shows it.
      (void)send(CONNS[I], FRAME, 2 + N, MSG_DONTWAIT | MSG_NOSIGNAL);
    }
    for (int I = 0; I < NPEERS; I++) {
      const uint8_t TAIL[6] = {uint8_t(I + 1), 100, 25, 25, 0, 2};
      if (!BATCH) {
        std::memcpy(K + P, TAIL, sizeof TAIL);
        sendto(FD, K, P + sizeof TAIL, 0, reinterpret_cast<sockaddr*>(&PEERS[I]), sizeof PEERS[I]);
        continue;
      }
      if (I > 0) {
        std::memcpy(PKT[I], K, P);
      }
      std::memcpy(PKT[I] + P, TAIL, sizeof TAIL);
      OUTIOV[I] = {PKT[I], P + sizeof TAIL};
      OUTMSG[I].msg_hdr = {};
      OUTMSG[I].msg_hdr.msg_name = &PEERS[I];
      OUTMSG[I].msg_hdr.msg_namelen = sizeof PEERS[I];
      OUTMSG[I].msg_hdr.msg_iov = &OUTIOV[I];
      OUTMSG[I].msg_hdr.msg_iovlen = 1;
    }
    for (int SENT = 0; BATCH && SENT < NPEERS;) {
      int R = sendmmsg(FD, OUTMSG + SENT, unsigned(NPEERS - SENT), 0);
      SENT += R > 0 ? R : 1;
    }
    timespec T{0, 30 * 1000000L};
    while (nanosleep(&T, &T) != 0 && !STOP) {
    }
  }
  close(FD);
  return 0;
}
