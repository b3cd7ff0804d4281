#include "socket.hpp"

#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>

volatile std::sig_atomic_t CL_STOPASKED = 0;

static void CL_ONSTOP(int) {
  CL_STOPASKED = 1;
}

void CL_CATCHSTOP() {
  struct sigaction SA {};
  SA.sa_handler = CL_ONSTOP;
  sigemptyset(&SA.sa_mask);
  SA.sa_flags = 0; // no SA_RESTART: a wait must end at once
  sigaction(SIGINT, &SA, nullptr);
  sigaction(SIGTERM, &SA, nullptr);
}

long CL_NOWMS() {
  using namespace std::chrono;
  return long(duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count());
}

bool CL_ISIPV4(const std::string& TEXT) {
  in_addr IN{};
  return inet_pton(AF_INET, TEXT.c_str(), &IN) == 1;
}

static sockaddr_in CL_SOCKADDR(uint32_t IP, uint16_t PORT) {
  sockaddr_in A{};
  A.sin_family = AF_INET;
  A.sin_addr.s_addr = htonl(IP);
  A.sin_port = htons(PORT);
  return A;
}

bool CL_RESOLVE(const std::string& HOST, uint16_t PORT, CL_ENDPOINT& E, std::string& ERR) {
  addrinfo HINTS{};
  HINTS.ai_family = AF_INET;
  HINTS.ai_socktype = SOCK_DGRAM;
  addrinfo* RES = nullptr;
  int R = getaddrinfo(HOST.c_str(), nullptr, &HINTS, &RES);
  if (R != 0 || RES == nullptr) {
    ERR = "unknown host '" + HOST + "' (" + gai_strerror(R) + ")";
    return false;
  }
  sockaddr_in A{};
  std::memcpy(&A, RES->ai_addr, sizeof A);
  freeaddrinfo(RES);
  E.IP = ntohl(A.sin_addr.s_addr);
  E.PORT = PORT;
  E.TEXT = HOST + ":" + std::to_string(PORT);
  return true;
}

std::string CL_ENDPOINTTEXT(const CL_ENDPOINT& E) {
  return std::to_string(E.IP >> 24) + "." + std::to_string((E.IP >> 16) & 255) + "." +
         std::to_string((E.IP >> 8) & 255) + "." + std::to_string(E.IP & 255) + ":" +
         std::to_string(E.PORT);
}

CL_SOCKET CL_SOCKOPEN(const std::string& BIND, uint16_t PORT, std::string& ERR, bool& BINDFAILED) {
  BINDFAILED = false;
  int FD = socket(AF_INET, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
  if (FD < 0) {
    ERR = std::string("cannot open a UDP socket: ") + std::strerror(errno);
    return CL_NOSOCKET;
  }
  sockaddr_in LOCAL = CL_SOCKADDR(INADDR_ANY, PORT);
  if (!BIND.empty()) {
    inet_pton(AF_INET, BIND.c_str(), &LOCAL.sin_addr);
  }
  if (bind(FD, reinterpret_cast<sockaddr*>(&LOCAL), sizeof LOCAL) != 0) {
    ERR = (BIND.empty() ? std::string("any address") : BIND) +
          (PORT != 0 ? " port " + std::to_string(PORT) : std::string()) + ": " +
          std::strerror(errno);
    BINDFAILED = true;
    close(FD);
    return CL_NOSOCKET;
  }
  return FD;
}

bool CL_SOCKCONNECT(CL_SOCKET S, const CL_ENDPOINT& E, std::string& ERR) {
  sockaddr_in A = CL_SOCKADDR(E.IP, E.PORT);
  if (connect(int(S), reinterpret_cast<const sockaddr*>(&A), sizeof A) != 0) {
    ERR = std::strerror(errno);
    return false;
  }
  return true;
}

void CL_SOCKCLOSE(CL_SOCKET S) {
  if (S != CL_NOSOCKET) {
    close(int(S));
  }
}

uint16_t CL_SOCKPORT(CL_SOCKET S) {
  sockaddr_in A{};
  socklen_t L = sizeof A;
  if (getsockname(int(S), reinterpret_cast<sockaddr*>(&A), &L) != 0) {
    return 0;
  }
  return ntohs(A.sin_port);
}

static CL_IORESULT CL_FAILED() {
  return errno == ECONNREFUSED ? CL_IO_REFUSED : CL_IO_NONE;
}

CL_IORESULT CL_SOCKSEND(CL_SOCKET S, const std::string& D) {
  return send(int(S), D.data(), D.size(), 0) >= 0 ? CL_IO_DONE : CL_FAILED();
}

CL_IORESULT CL_SOCKRECV(CL_SOCKET S, std::string& D) {
  static char BUF[65536];
  ssize_t N = recv(int(S), BUF, sizeof BUF, 0);
  if (N < 0) {
    return CL_FAILED();
  }
  D.assign(BUF, size_t(N));
  return CL_IO_DONE;
}

CL_IORESULT CL_SOCKSENDTO(CL_SOCKET S, const CL_ENDPOINT& TO, const std::string& D) {
  sockaddr_in A = CL_SOCKADDR(TO.IP, TO.PORT);
  return sendto(int(S), D.data(), D.size(), 0, reinterpret_cast<const sockaddr*>(&A), sizeof A) >= 0
             ? CL_IO_DONE
             : CL_FAILED();
}

CL_IORESULT CL_SOCKRECVFROM(CL_SOCKET S, std::string& D, CL_ENDPOINT& FROM) {
  static char BUF[65536];
  sockaddr_in A{};
  socklen_t L = sizeof A;
  ssize_t N = recvfrom(int(S), BUF, sizeof BUF, 0, reinterpret_cast<sockaddr*>(&A), &L);
  if (N < 0) {
    return CL_FAILED();
  }
  D.assign(BUF, size_t(N));
  FROM.IP = ntohl(A.sin_addr.s_addr);
  FROM.PORT = ntohs(A.sin_port);
  return CL_IO_DONE;
}

void CL_SOCKWAIT(const std::vector<CL_SOCKET>& SS, int MS) {
  std::vector<pollfd> F;
  for (CL_SOCKET S : SS) {
    if (S != CL_NOSOCKET) {
      F.push_back({int(S), POLLIN, 0});
    }
  }
  // A signal ends the wait early; the caller looks at the stop flag.
  (void)poll(F.data(), F.size(), std::max(MS, 0));
}
