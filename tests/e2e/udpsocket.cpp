#include "udpsocket.hpp"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

TUDPSOCKET::TUDPSOCKET(uint16_t PORT, bool ANYADDR)
    : TUDPSOCKET(ANYADDR ? "0.0.0.0" : "127.0.0.1", PORT) {}

TUDPSOCKET::TUDPSOCKET(const std::string& ADDR, uint16_t PORT) {
  FD_ = socket(AF_INET, SOCK_DGRAM, 0);
  sockaddr_in A{};
  A.sin_family = AF_INET;
  A.sin_port = htons(PORT);
  if (inet_pton(AF_INET, ADDR.c_str(), &A.sin_addr) != 1) {
    A.sin_addr.s_addr = htonl(INADDR_NONE);
  }
  if (FD_ < 0 || bind(FD_, reinterpret_cast<sockaddr*>(&A), sizeof A) != 0) {
    if (FD_ >= 0) {
      close(FD_);
    }
    FD_ = -1;
    return;
  }
  socklen_t L = sizeof A;
  getsockname(FD_, reinterpret_cast<sockaddr*>(&A), &L);
  PORT_ = ntohs(A.sin_port);
}

TUDPSOCKET::~TUDPSOCKET() {
  if (FD_ >= 0) {
    close(FD_);
  }
}

void TUDPSOCKET::SENDTO(uint16_t PORT, const std::string& DATA) {
  SENDTO("127.0.0.1", PORT, DATA);
}

void TUDPSOCKET::SENDTO(const std::string& ADDR, uint16_t PORT, const std::string& DATA) {
  sockaddr_in A{};
  A.sin_family = AF_INET;
  A.sin_port = htons(PORT);
  (void)inet_pton(AF_INET, ADDR.c_str(), &A.sin_addr);
  (void)sendto(FD_, DATA.data(), DATA.size(), 0, reinterpret_cast<sockaddr*>(&A), sizeof A);
}

bool TUDPSOCKET::RECV(std::string& DATA, int TIMEOUTMS, uint16_t* FROMPORT) {
  pollfd P{FD_, POLLIN, 0};
  if (poll(&P, 1, TIMEOUTMS) <= 0) {
    return false;
  }
  char BUF[65536];
  sockaddr_in FROM{};
  socklen_t FL = sizeof FROM;
  ssize_t N = recvfrom(FD_, BUF, sizeof BUF, 0, reinterpret_cast<sockaddr*>(&FROM), &FL);
  if (N < 0) {
    return false;
  }
  if (FROMPORT != nullptr) {
    *FROMPORT = ntohs(FROM.sin_port);
  }
  DATA.assign(BUF, size_t(N));
  return true;
}
