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
#include <ctime>

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

void CL_SOCKSHARED(CL_SOCKET S) {
  int ON = 1;
  (void)setsockopt(int(S), SOL_SOCKET, SO_TIMESTAMPNS, &ON, sizeof ON);
  // The system caps the size at its own limit; a smaller buffer still works.
  int SIZE = 4 << 20;
  (void)setsockopt(int(S), SOL_SOCKET, SO_RCVBUF, &SIZE, sizeof SIZE);
}

static int64_t CL_WALLUS() {
  timespec T{};
  clock_gettime(CLOCK_REALTIME, &T);
  return int64_t(T.tv_sec) * 1000000 + T.tv_nsec / 1000;
}

// Datagrams moved with one recvmmsg or sendmmsg, at most.
constexpr unsigned CL_MMSGMAX = 64;

void CL_SOCKRECVMANY(CL_SOCKET S, std::vector<CL_DGRAM>& GOTTEN, size_t MAX) {
  // A server packet is at most 5000 bytes; a longer datagram arrives cut and
  // is read as it came, so the reader finds it malformed.
  static char BUF[CL_MMSGMAX][8192];
  static char CTL[CL_MMSGMAX][CMSG_SPACE(sizeof(timespec))];
  static iovec IOV[CL_MMSGMAX];
  static sockaddr_in FROM[CL_MMSGMAX];
  static mmsghdr MSG[CL_MMSGMAX];
  for (size_t GOT = 0; GOT < MAX;) {
    unsigned N = unsigned(std::min<size_t>(CL_MMSGMAX, MAX - GOT));
    for (unsigned I = 0; I < N; I++) {
      IOV[I] = {BUF[I], sizeof BUF[I]};
      msghdr& H = MSG[I].msg_hdr;
      H = {};
      H.msg_name = &FROM[I];
      H.msg_namelen = sizeof FROM[I];
      H.msg_iov = &IOV[I];
      H.msg_iovlen = 1;
      H.msg_control = CTL[I];
      H.msg_controllen = sizeof CTL[I];
    }
    int R = recvmmsg(int(S), MSG, N, MSG_DONTWAIT, nullptr);
    if (R <= 0) {
      return;
    }
    int64_t NOW = -1;
    for (int I = 0; I < R; I++) {
      CL_DGRAM D;
      D.PEER.IP = ntohl(FROM[I].sin_addr.s_addr);
      D.PEER.PORT = ntohs(FROM[I].sin_port);
      D.DATA.assign(BUF[I], std::min<size_t>(MSG[I].msg_len, sizeof BUF[I]));
      D.ATUS = -1;
      for (cmsghdr* C = CMSG_FIRSTHDR(&MSG[I].msg_hdr); C != nullptr;
           C = CMSG_NXTHDR(&MSG[I].msg_hdr, C)) {
        if (C->cmsg_level == SOL_SOCKET && C->cmsg_type == SCM_TIMESTAMPNS) {
          timespec T;
          std::memcpy(&T, CMSG_DATA(C), sizeof T);
          D.ATUS = int64_t(T.tv_sec) * 1000000 + T.tv_nsec / 1000;
        }
      }
      if (D.ATUS < 0) {
        D.ATUS = NOW = NOW < 0 ? CL_WALLUS() : NOW;
      }
      GOTTEN.push_back(std::move(D));
    }
    GOT += size_t(R);
    if (unsigned(R) < N) {
      return; // a short batch: the socket was empty
    }
  }
}

void CL_SOCKSENDMANY(CL_SOCKET S, const std::vector<CL_DGRAM>& SENDING) {
  static iovec IOV[CL_MMSGMAX];
  static sockaddr_in TO[CL_MMSGMAX];
  static mmsghdr MSG[CL_MMSGMAX];
  for (size_t AT = 0; AT < SENDING.size();) {
    unsigned N = unsigned(std::min<size_t>(CL_MMSGMAX, SENDING.size() - AT));
    for (unsigned I = 0; I < N; I++) {
      const CL_DGRAM& D = SENDING[AT + I];
      TO[I] = CL_SOCKADDR(D.PEER.IP, D.PEER.PORT);
      IOV[I] = {const_cast<char*>(D.DATA.data()), D.DATA.size()};
      msghdr& H = MSG[I].msg_hdr;
      H = {};
      H.msg_name = &TO[I];
      H.msg_namelen = sizeof TO[I];
      H.msg_iov = &IOV[I];
      H.msg_iovlen = 1;
    }
    for (unsigned SENT = 0; SENT < N;) {
      int R = sendmmsg(int(S), MSG + SENT, N - SENT, 0);
      SENT += R > 0 ? unsigned(R) : 1; // a datagram that fails is lost
    }
    AT += N;
  }
}
