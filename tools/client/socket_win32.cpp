// The client tool's sockets on Windows Sockets 2, behind the same door as
// socket.cpp.
#include "socket.hpp"

#include <winsock2.h>
#include <ws2tcpip.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <cstring>

volatile std::sig_atomic_t CL_STOPASKED = 0;

// Ctrl-C and Ctrl-Break; Windows calls this on a thread of its own, and the
// waits are short (at most 50 ms), so the flag is seen soon.
static BOOL WINAPI CL_ONCTRL(DWORD TYPE) {
  if (TYPE != CTRL_C_EVENT && TYPE != CTRL_BREAK_EVENT) {
    return FALSE;
  }
  CL_STOPASKED = 1;
  return TRUE;
}

void CL_CATCHSTOP() {
  SetConsoleCtrlHandler(CL_ONCTRL, TRUE);
}

long CL_NOWMS() {
  using namespace std::chrono;
  return long(duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count());
}

// The socket library starts before the first name look-up or socket, once.
static bool CL_WSAUP(std::string& ERR) {
  static int R = [] {
    WSADATA D;
    int E = WSAStartup(MAKEWORD(2, 2), &D);
    if (E == 0) {
      std::atexit([] { WSACleanup(); });
    }
    return E;
  }();
  if (R != 0) {
    ERR = "cannot start the socket library (WSAStartup error " + std::to_string(R) + ")";
  }
  return R == 0;
}

// The system's text for a socket error.
static std::string CL_WSAERROR(int E) {
  char TEXT[256] = "";
  DWORD N = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                           DWORD(E), 0, TEXT, sizeof TEXT, nullptr);
  while (N > 0 && (TEXT[N - 1] == '\n' || TEXT[N - 1] == '\r' || TEXT[N - 1] == '.')) {
    N--;
  }
  return N > 0 ? std::string(TEXT, N) : "socket error " + std::to_string(E);
}

bool CL_ISIPV4(const std::string& TEXT) {
  in_addr ADDR{};
  return inet_pton(AF_INET, TEXT.c_str(), &ADDR) == 1;
}

static sockaddr_in CL_SOCKADDR(uint32_t IP, uint16_t PORT) {
  sockaddr_in A{};
  A.sin_family = AF_INET;
  A.sin_addr.s_addr = htonl(IP);
  A.sin_port = htons(PORT);
  return A;
}

bool CL_RESOLVE(const std::string& HOST, uint16_t PORT, CL_ENDPOINT& E, std::string& ERR) {
  if (!CL_WSAUP(ERR)) {
    return false;
  }
  addrinfo HINTS{};
  HINTS.ai_family = AF_INET;
  HINTS.ai_socktype = SOCK_DGRAM;
  addrinfo* RES = nullptr;
  int R = getaddrinfo(HOST.c_str(), nullptr, &HINTS, &RES);
  if (R != 0 || RES == nullptr) {
    ERR = "unknown host '" + HOST + "' (" + CL_WSAERROR(R) + ")";
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
  if (!CL_WSAUP(ERR)) {
    return CL_NOSOCKET;
  }
  SOCKET S = socket(AF_INET, SOCK_DGRAM, 0);
  u_long NONBLOCKING = 1;
  if (S == INVALID_SOCKET || ioctlsocket(S, FIONBIO, &NONBLOCKING) != 0) {
    ERR = "cannot open a UDP socket: " + CL_WSAERROR(WSAGetLastError());
    if (S != INVALID_SOCKET) {
      closesocket(S);
    }
    return CL_NOSOCKET;
  }
  sockaddr_in LOCAL = CL_SOCKADDR(INADDR_ANY, PORT);
  if (!BIND.empty()) {
    inet_pton(AF_INET, BIND.c_str(), &LOCAL.sin_addr);
  }
  if (bind(S, reinterpret_cast<sockaddr*>(&LOCAL), sizeof LOCAL) != 0) {
    ERR = (BIND.empty() ? std::string("any address") : BIND) +
          (PORT != 0 ? " port " + std::to_string(PORT) : std::string()) + ": " +
          CL_WSAERROR(WSAGetLastError());
    BINDFAILED = true;
    closesocket(S);
    return CL_NOSOCKET;
  }
  return CL_SOCKET(S);
}

bool CL_SOCKCONNECT(CL_SOCKET S, const CL_ENDPOINT& E, std::string& ERR) {
  sockaddr_in A = CL_SOCKADDR(E.IP, E.PORT);
  if (connect(SOCKET(S), reinterpret_cast<const sockaddr*>(&A), sizeof A) != 0) {
    ERR = CL_WSAERROR(WSAGetLastError());
    return false;
  }
  return true;
}

void CL_SOCKCLOSE(CL_SOCKET S) {
  if (S != CL_NOSOCKET) {
    closesocket(SOCKET(S));
  }
}

uint16_t CL_SOCKPORT(CL_SOCKET S) {
  sockaddr_in A{};
  int L = sizeof A;
  if (getsockname(SOCKET(S), reinterpret_cast<sockaddr*>(&A), &L) != 0) {
    return 0;
  }
  return ntohs(A.sin_port);
}

// Windows reports a datagram that met a closed port (the ICMP answer) as a
// reset connection on the next receive, where Linux says refused.
static CL_IORESULT CL_FAILED() {
  int E = WSAGetLastError();
  return E == WSAECONNRESET || E == WSAECONNREFUSED ? CL_IO_REFUSED : CL_IO_NONE;
}

CL_IORESULT CL_SOCKSEND(CL_SOCKET S, const std::string& D) {
  return send(SOCKET(S), D.data(), int(D.size()), 0) != SOCKET_ERROR ? CL_IO_DONE : CL_FAILED();
}

CL_IORESULT CL_SOCKRECV(CL_SOCKET S, std::string& D) {
  static char BUF[65536];
  int N = recv(SOCKET(S), BUF, sizeof BUF, 0);
  if (N == SOCKET_ERROR) {
    return CL_FAILED();
  }
  D.assign(BUF, size_t(N));
  return CL_IO_DONE;
}

CL_IORESULT CL_SOCKSENDTO(CL_SOCKET S, const CL_ENDPOINT& TO, const std::string& D) {
  sockaddr_in A = CL_SOCKADDR(TO.IP, TO.PORT);
  return sendto(SOCKET(S), D.data(), int(D.size()), 0, reinterpret_cast<const sockaddr*>(&A),
                sizeof A) != SOCKET_ERROR
             ? CL_IO_DONE
             : CL_FAILED();
}

CL_IORESULT CL_SOCKRECVFROM(CL_SOCKET S, std::string& D, CL_ENDPOINT& FROM) {
  static char BUF[65536];
  sockaddr_in A{};
  int L = sizeof A;
  int N = recvfrom(SOCKET(S), BUF, sizeof BUF, 0, reinterpret_cast<sockaddr*>(&A), &L);
  if (N == SOCKET_ERROR) {
    return CL_FAILED();
  }
  D.assign(BUF, size_t(N));
  FROM.IP = ntohl(A.sin_addr.s_addr);
  FROM.PORT = ntohs(A.sin_port);
  return CL_IO_DONE;
}

void CL_SOCKWAIT(const std::vector<CL_SOCKET>& SS, int MS) {
  std::vector<WSAPOLLFD> F;
  for (CL_SOCKET S : SS) {
    if (S != CL_NOSOCKET) {
      F.push_back({SOCKET(S), POLLRDNORM, 0});
    }
  }
  // WSAPoll fails at once on no socket at all, where poll would sleep.
  if (F.empty()) {
    Sleep(DWORD(std::max(MS, 0)));
    return;
  }
  (void)WSAPoll(F.data(), ULONG(F.size()), std::max(MS, 0));
}

// Windows has no batched datagram calls and stamps no arrivals: one call per
// datagram, and a datagram's time is when it is read.
void CL_SOCKSHARED(CL_SOCKET S) {
  int SIZE = 4 << 20;
  (void)setsockopt(SOCKET(S), SOL_SOCKET, SO_RCVBUF, reinterpret_cast<const char*>(&SIZE),
                   sizeof SIZE);
}

void CL_SOCKRECVMANY(CL_SOCKET S, std::vector<CL_DGRAM>& GOTTEN, size_t MAX) {
  using namespace std::chrono;
  CL_DGRAM D;
  for (size_t GOT = 0; GOT < MAX && CL_SOCKRECVFROM(S, D.DATA, D.PEER) == CL_IO_DONE; GOT++) {
    D.ATUS = duration_cast<microseconds>(system_clock::now().time_since_epoch()).count();
    GOTTEN.push_back(D);
  }
}

void CL_SOCKSENDMANY(CL_SOCKET S, const std::vector<CL_DGRAM>& SENDING) {
  for (const CL_DGRAM& D : SENDING) {
    (void)CL_SOCKSENDTO(S, D.PEER, D.DATA);
  }
}
