// The floor: a program that does only what a server tick must do with the
// system, and nothing of the game. Each tick it drains its UDP socket until
// nothing is waiting, sends every client it has heard from (up to 24) a
// 405-byte state packet, and sleeps 30 ms. The packet is a valid state packet
// of 24 firing players and 128 items, so a load client answers it like the
// server's. The CPU it costs per tick is what the server is measured against.
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
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

int main(int argc, char** argv) {
  uint16_t PORT = argc > 2 && std::strcmp(argv[1], "-port") == 0 ? uint16_t(std::atoi(argv[2])) : 0;
  int FD = socket(AF_INET, SOCK_DGRAM, 0);
  fcntl(FD, F_SETFL, fcntl(FD, F_GETFL) | O_NONBLOCK);
  sockaddr_in A{};
  A.sin_family = AF_INET;
  A.sin_port = htons(PORT);
  if (bind(FD, reinterpret_cast<sockaddr*>(&A), sizeof A) != 0) {
    std::puts("UDP initialization failed! [ bind() ]");
    return 1;
  }
  socklen_t L = sizeof A;
  getsockname(FD, reinterpret_cast<sockaddr*>(&A), &L);
  std::printf("UDP initialized! UDP port: %u\n", unsigned(ntohs(A.sin_port)));
  std::fflush(stdout);
  struct sigaction SA {};
  SA.sa_handler = ONSTOP;
  sigaction(SIGINT, &SA, nullptr);
  sigaction(SIGTERM, &SA, nullptr);

  sockaddr_in PEERS[24];
  int NPEERS = 0;
  uint8_t PKT[405];
  uint8_t IN[5000];
  uint16_t TICK = 0;
  while (!STOP) {
    // Drain the socket; remember each new sender.
    for (;;) {
      sockaddr_in FROM{};
      socklen_t FL = sizeof FROM;
      ssize_t N = recvfrom(FD, IN, sizeof IN, MSG_TRUNC, reinterpret_cast<sockaddr*>(&FROM), &FL);
      if (N < 0) {
        break;
      }
      bool KNOWN = false;
      for (int I = 0; I < NPEERS && !KNOWN; I++) {
        KNOWN =
            PEERS[I].sin_addr.s_addr == FROM.sin_addr.s_addr && PEERS[I].sin_port == FROM.sin_port;
      }
      if (!KNOWN && NPEERS < 24) {
        PEERS[NPEERS++] = FROM;
      }
    }
    // One state packet: header, 24 entries of 11 bytes, 128 items, tail.
    TICK++;
    size_t P = 0;
    PKT[P++] = 110;
    PKT[P++] = uint8_t(TICK);
    PKT[P++] = uint8_t(TICK >> 8);
    PKT[P++] = 0;
    PKT[P++] = 0;
    PKT[P++] = 24;
    for (int S = 1; S <= 24; S++) {
      const uint8_t E[11] = {uint8_t(S), 4, 1, 0, 96, 1, 96, 1, 0, 0, 2};
      std::memcpy(PKT + P, E, sizeof E);
      P += sizeof E;
    }
    PKT[P++] = 128;
    for (int I = 1; I <= 128; I++) {
      PKT[P++] = uint8_t(I);
    }
    for (int I = 0; I < NPEERS; I++) {
      const uint8_t TAIL[6] = {uint8_t(I + 1), 100, 25, 25, 0, 2};
      std::memcpy(PKT + P, TAIL, sizeof TAIL);
      sendto(FD, PKT, P + sizeof TAIL, 0, reinterpret_cast<sockaddr*>(&PEERS[I]), sizeof PEERS[I]);
    }
    timespec T{0, 30 * 1000000L};
    while (nanosleep(&T, &T) != 0 && !STOP) {
    }
  }
  close(FD);
  return 0;
}
