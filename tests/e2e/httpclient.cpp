#include "httpclient.hpp"
#include "process.hpp"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/http.hpp>
#include <cerrno>
#include <chrono>

namespace asio = boost::asio;
namespace beast = boost::beast;
namespace http = beast::http;
using tcp = asio::ip::tcp;

struct THTTPCONN::TIMPL {
  asio::io_context IOC;
  beast::tcp_stream S{IOC};
  beast::flat_buffer BUF;
  bool OK = false;
  std::optional<http::response_parser<http::buffer_body>> SP;
  std::string PENDING; // stream text read and not yet handed out
  // Runs the one operation started; the stream's time-out ends it at the
  // latest.
  void RUN() {
    IOC.restart();
    IOC.run();
  }
  void FAIL() {
    OK = false;
    beast::error_code EC;
    S.socket().close(EC);
  }
};

THTTPCONN::THTTPCONN(int PORT, int MS, const std::string& FROM) : I_(new TIMPL) {
  beast::error_code EC;
  tcp::endpoint TO(asio::ip::make_address("127.0.0.1"), uint16_t(PORT));
  if (!FROM.empty()) {
    I_->S.socket().open(tcp::v4(), EC);
    I_->S.socket().bind(tcp::endpoint(asio::ip::make_address(FROM), 0), EC);
  }
  I_->S.expires_after(std::chrono::milliseconds(MS));
  I_->S.async_connect(TO, [&](beast::error_code E) { EC = E; });
  I_->RUN();
  I_->OK = !EC;
}

THTTPCONN::~THTTPCONN() = default;

bool THTTPCONN::CONNECTED() const {
  return I_->OK;
}

static bool SENDREQUEST(THTTPCONN::TIMPL& I, const std::string& TARGET, const std::string& METHOD,
                        const std::string& BODY, bool KEEP, int MS) {
  if (!I.OK) {
    return false;
  }
  http::request<http::string_body> R{http::string_to_verb(METHOD), TARGET, 11};
  R.set(http::field::host, "127.0.0.1");
  R.keep_alive(KEEP);
  if (!BODY.empty()) {
    R.body() = BODY;
    R.prepare_payload();
  }
  beast::error_code EC;
  I.S.expires_after(std::chrono::milliseconds(MS));
  http::async_write(I.S, R, [&](beast::error_code E, size_t) { EC = E; });
  I.RUN();
  if (EC) {
    I.FAIL();
  }
  return !EC;
}

std::optional<THTTPREPLY> THTTPCONN::REQUEST(const std::string& TARGET, const std::string& METHOD,
                                             const std::string& BODY, bool KEEP, int MS) {
  if (!SENDREQUEST(*I_, TARGET, METHOD, BODY, KEEP, MS)) {
    return std::nullopt;
  }
  http::response_parser<http::string_body> P;
  P.body_limit(64 << 20);
  beast::error_code EC;
  I_->S.expires_after(std::chrono::milliseconds(MS));
  http::async_read(I_->S, I_->BUF, P, [&](beast::error_code E, size_t) { EC = E; });
  I_->RUN();
  if (EC) {
    I_->FAIL();
    return std::nullopt;
  }
  THTTPREPLY R;
  R.STATUS = P.get().result_int();
  for (const auto& F : P.get()) {
    std::string NAME(F.name_string());
    for (char& C : NAME) {
      C = char(std::tolower(static_cast<unsigned char>(C)));
    }
    R.FIELDS[NAME] = std::string(F.value());
  }
  R.BODY = std::move(P.get().body());
  if (!P.get().keep_alive()) {
    I_->FAIL();
  }
  return R;
}

bool THTTPCONN::STREAM(const std::string& TARGET, int MS) {
  if (!SENDREQUEST(*I_, TARGET, "GET", "", true, MS)) {
    return false;
  }
  I_->SP.emplace();
  I_->SP->body_limit(boost::none);
  beast::error_code EC;
  I_->S.expires_after(std::chrono::milliseconds(MS));
  http::async_read_header(I_->S, I_->BUF, *I_->SP, [&](beast::error_code E, size_t) { EC = E; });
  I_->RUN();
  if (EC || I_->SP->get().result_int() != 200) {
    I_->FAIL();
    return false;
  }
  return true;
}

std::optional<std::string> THTTPCONN::NEXTEVENT(int MS) {
  auto END = std::chrono::steady_clock::now() + std::chrono::milliseconds(MS);
  while (I_->SP && I_->OK) {
    size_t AT = I_->PENDING.find("\n\n");
    if (AT != std::string::npos) {
      std::string EV = I_->PENDING.substr(0, AT);
      I_->PENDING.erase(0, AT + 2);
      return EV;
    }
    auto LEFT = END - std::chrono::steady_clock::now();
    if (LEFT <= std::chrono::milliseconds(0)) {
      return std::nullopt;
    }
    char TMP[8192];
    I_->SP->get().body().data = TMP;
    I_->SP->get().body().size = sizeof TMP;
    // Not the stream's time-out, which would close it: a wait that ends
    // the read, and the stream goes on after it.
    beast::error_code EC;
    bool DONE = false;
    I_->S.expires_never();
    http::async_read_some(I_->S, I_->BUF, *I_->SP, [&](beast::error_code E, size_t) {
      EC = E;
      DONE = true;
    });
    I_->IOC.restart();
    I_->IOC.run_for(LEFT);
    if (!DONE) {
      I_->S.socket().cancel();
      I_->RUN();
    }
    I_->PENDING.append(TMP, sizeof TMP - I_->SP->get().body().size);
    if (EC == asio::error::operation_aborted) {
      return std::nullopt;
    }
    if (EC && EC != http::error::need_buffer) {
      I_->FAIL();
    }
  }
  return std::nullopt;
}

std::optional<THTTPREPLY> HTTPGET(int PORT, const std::string& TARGET, int MS) {
  THTTPCONN C(PORT, MS);
  return C.REQUEST(TARGET, "GET", "", false, MS);
}

// ---- raw connections ----

TRAWCONN::TRAWCONN(int PORT, const std::string& FROM, int RCVBUF, int MS) {
  int FD = socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
  if (FD < 0) {
    return;
  }
  if (RCVBUF > 0) {
    setsockopt(FD, SOL_SOCKET, SO_RCVBUF, &RCVBUF, sizeof RCVBUF);
  }
  sockaddr_in A{};
  A.sin_family = AF_INET;
  if (!FROM.empty()) {
    inet_pton(AF_INET, FROM.c_str(), &A.sin_addr);
    if (bind(FD, reinterpret_cast<sockaddr*>(&A), sizeof A) != 0) {
      close(FD);
      return;
    }
  }
  inet_pton(AF_INET, "127.0.0.1", &A.sin_addr);
  A.sin_port = htons(uint16_t(PORT));
  int R = connect(FD, reinterpret_cast<sockaddr*>(&A), sizeof A);
  if (R != 0 && errno == EINPROGRESS) {
    pollfd P{FD, POLLOUT, 0};
    int ERR = 0;
    socklen_t L = sizeof ERR;
    R = poll(&P, 1, MS) == 1 && getsockopt(FD, SOL_SOCKET, SO_ERROR, &ERR, &L) == 0 && ERR == 0
            ? 0
            : -1;
  }
  if (R != 0) {
    close(FD);
    return;
  }
  FD_ = FD;
}

TRAWCONN::~TRAWCONN() {
  if (FD_ >= 0) {
    close(FD_);
  }
}

bool TRAWCONN::SEND(const std::string& BYTES, int MS) {
  long END = NOWMS() + MS;
  size_t AT = 0;
  while (FD_ >= 0 && AT < BYTES.size()) {
    ssize_t N = send(FD_, BYTES.data() + AT, BYTES.size() - AT, MSG_NOSIGNAL);
    if (N > 0) {
      AT += size_t(N);
      continue;
    }
    if (N < 0 && errno != EAGAIN) {
      return false;
    }
    pollfd P{FD_, POLLOUT, 0};
    long LEFT = END - NOWMS();
    if (LEFT <= 0 || poll(&P, 1, int(LEFT)) <= 0 || (P.revents & (POLLERR | POLLHUP)) != 0) {
      return false;
    }
  }
  return FD_ >= 0;
}

std::string TRAWCONN::READ(int MS) {
  std::string OUT;
  long END = NOWMS() + MS;
  while (FD_ >= 0 && !CLOSED) {
    char B[65536];
    ssize_t N = recv(FD_, B, sizeof B, 0);
    if (N > 0) {
      OUT.append(B, size_t(N));
      continue;
    }
    if (N == 0 || errno != EAGAIN) {
      CLOSED = true; // an end, or a reset
      break;
    }
    pollfd P{FD_, POLLIN, 0};
    long LEFT = END - NOWMS();
    if (LEFT <= 0 || poll(&P, 1, int(LEFT)) <= 0) {
      break;
    }
  }
  return OUT;
}
