// The HTTP server on Boost.Beast: the listener, the caps on connections,
// the HTTP session with its limits, and the table of routes.
//
// One I/O thread serves every connection asynchronously: a slow or silent
// client holds a few kilobytes and a place, never a thread. A request must
// come whole within WEB_REQUESTTIME of its first byte, with a header of at
// most WEB_MAXHEADER bytes and no more body than its route takes; an idle
// connection is closed after WEB_IDLETIME.
#include "web/conn.hpp"

#include <boost/asio/steady_timer.hpp>
#include <boost/beast/http/read.hpp>
#include <boost/beast/http/write.hpp>
#include <list>
#include <map>
#include <memory>
#include <thread>

#ifndef _WIN32
#include <sys/resource.h>
#endif

#include "server/server.hpp"

int WEB_CONNCAP = WEB_MAXCONN;
WEB_HTTPSTATS WEB_HTTP;

static std::unique_ptr<asio::io_context> WEB_IOC;
static std::unique_ptr<WEB_TCP::acceptor> WEB_ACCEPTOR;
static std::unique_ptr<asio::steady_timer> WEB_ACCEPTPAUSE;
static std::thread WEB_THREAD;

// ---- places ----

static int WEB_TOTAL;                                // connections open
static std::map<asio::ip::address, int> WEB_PERADDR; // of them, by client address

WEB_PLACE& WEB_PLACE::operator=(WEB_PLACE&& O) noexcept {
  if (this != &O) {
    this->~WEB_PLACE();
    ADDR = O.ADDR;
    HELD = O.HELD;
    O.HELD = false;
  }
  return *this;
}

WEB_PLACE::~WEB_PLACE() {
  if (!HELD) {
    return;
  }
  HELD = false;
  WEB_TOTAL--;
  auto AT = WEB_PERADDR.find(ADDR);
  if (AT != WEB_PERADDR.end() && --AT->second <= 0) {
    WEB_PERADDR.erase(AT);
  }
}

// ---- answers and routes ----

WEB_ANSWER WEB_TEXT(const WEB_REQ& R, http::status STATUS, std::string BODY,
                    std::string_view TYPE) {
  WEB_ANSWER A{STATUS, R.version()};
  A.set(http::field::content_type, TYPE);
  A.set("X-Content-Type-Options", "nosniff");
  A.body() = std::move(BODY);
  return A;
}

// The snapshot of one request: too large for a stack.
struct WEB_COPY {
  TSNAPSHOT S;
  WEB_LOOPSTATS L;
};
static std::unique_ptr<WEB_COPY> WEB_TAKE() {
  auto C = std::make_unique<WEB_COPY>();
  WEB_READ(C->S, C->L);
  return C;
}

static WEB_ANSWER WEB_ONSTATUS(const WEB_REQ& R) {
  auto C = WEB_TAKE();
  WEB_ANSWER A =
      WEB_TEXT(R, http::status::ok, WEB_STATUSJSON(C->S, true, WEB_PUBLIC), "application/json");
  A.set(http::field::cache_control, "no-store");
  return A;
}

static WEB_ANSWER WEB_ONMETRICS(const WEB_REQ& R) {
  auto C = WEB_TAKE();
  WEB_HTTP.OPEN = uint64_t(WEB_TOTAL);
  return WEB_TEXT(R, http::status::ok, WEB_METRICS(C->S, C->L, WEB_HTTP),
                  "text/plain; version=0.0.4; charset=utf-8");
}

static WEB_ANSWER WEB_ONHEALTH(const WEB_REQ& R) {
  int64_t LATE = WEB_LATEMS();
  WEB_ANSWER A = LATE > 1000
                     ? WEB_TEXT(R, http::status::service_unavailable,
                                "late: the game loop is " + std::to_string(LATE) + " ms behind\n")
                     : WEB_TEXT(R, http::status::ok, "ok\n");
  A.set(http::field::cache_control, "no-store");
  return A;
}

static WEB_ANSWER WEB_ONPAGE(const WEB_REQ& R) {
  WEB_ANSWER A = WEB_TEXT(R, http::status::ok, WEB_PAGE, "text/html; charset=utf-8");
  // The page loads nothing from anywhere and talks only to this server.
  A.set("Content-Security-Policy", "default-src 'none'; script-src 'unsafe-inline'; "
                                   "style-src 'unsafe-inline'; connect-src 'self'");
  return A;
}

// One route: a method and a path, the bytes of request body it takes, and
// either a handler that answers, or one that takes the connection over (an
// event stream; a WebSocket after its upgrade) and answers only when it
// will not.
struct WEB_ROUTE {
  http::verb METHOD;
  std::string_view PATH;
  uint32_t BODYCAP;
  WEB_ANSWER (*ANSWER)(const WEB_REQ&);
  std::optional<WEB_ANSWER> (*TAKE)(WEB_CONN&, const WEB_REQ&);
};

static const WEB_ROUTE WEB_ROUTES[] = {
    {http::verb::get, "/", 0, WEB_ONPAGE, nullptr},
    {http::verb::get, "/status.json", 0, WEB_ONSTATUS, nullptr},
    {http::verb::get, "/events", 0, nullptr, WEB_TAKEEVENTS},
    {http::verb::get, "/metrics", 0, WEB_ONMETRICS, nullptr},
    {http::verb::get, "/healthz", 0, WEB_ONHEALTH, nullptr},
    {http::verb::get, "/play", 0, WEB_ONPLAY, nullptr},
    {http::verb::get, "/play/ws", 0, nullptr, WEB_TAKEPLAY},
};

static std::string_view WEB_PATHOF(std::string_view TARGET) {
  return TARGET.substr(0, TARGET.find('?'));
}

// The route of a request: exact, or null with the answer to give instead
// (404 for a path no route has, 405 for a method none takes there).
static const WEB_ROUTE* WEB_FINDROUTE(const WEB_REQ& R, std::optional<WEB_ANSWER>& NONE) {
  std::string_view PATH = WEB_PATHOF(R.target());
  std::string ALLOW;
  bool METHODKNOWN = false;
  for (const WEB_ROUTE& W : WEB_ROUTES) {
    METHODKNOWN = METHODKNOWN || W.METHOD == R.method();
    if (W.PATH == PATH) {
      if (W.METHOD == R.method()) {
        return &W;
      }
      ALLOW += (ALLOW.empty() ? "" : ", ") + std::string(http::to_string(W.METHOD));
    }
  }
  if (ALLOW.empty() && METHODKNOWN) {
    NONE = WEB_TEXT(R, http::status::not_found, "404\n");
    return nullptr;
  }
  if (ALLOW.empty()) {
    for (const WEB_ROUTE& W : WEB_ROUTES) {
      std::string M(http::to_string(W.METHOD));
      if (ALLOW.find(M) == std::string::npos) {
        ALLOW += (ALLOW.empty() ? "" : ", ") + M;
      }
    }
  }
  NONE = WEB_TEXT(R, http::status::method_not_allowed, "only " + ALLOW + "\n");
  NONE->set(http::field::allow, ALLOW);
  return nullptr;
}

// ---- the HTTP session ----

class WEB_HTTPSESSION;
// Sessions that wait for a request, or for the rest of one, oldest first:
// when every place is taken, the first of them makes room for a new
// connection, so that a flood of silent connections shuts nobody out.
static std::list<WEB_HTTPSESSION*> WEB_WAITING;

class WEB_HTTPSESSION : public std::enable_shared_from_this<WEB_HTTPSESSION> {
public:
  explicit WEB_HTTPSESSION(WEB_CONN&& C) : C_(std::move(C)) {}
  ~WEB_HTTPSESSION() { UNLIST(); }

  void RUN() { AWAIT(); }

  // Closes the connection to make room for another.
  void EVICT() {
    UNLIST();
    beast::error_code EC;
    C_.STREAM.socket().close(EC);
  }

private:
  WEB_CONN C_;
  std::optional<http::request_parser<http::string_body>> PARSER_;
  const WEB_ROUTE* ROUTE_ = nullptr;  // of the request being read
  std::optional<WEB_ANSWER> NOROUTE_; // the answer when it has none
  WEB_ANSWER ANSWER_;
  bool LISTED_ = false;
  std::list<WEB_HTTPSESSION*>::iterator AT_;

  void LIST() {
    if (!LISTED_) {
      AT_ = WEB_WAITING.insert(WEB_WAITING.end(), this);
      LISTED_ = true;
    }
  }
  void UNLIST() {
    if (LISTED_) {
      WEB_WAITING.erase(AT_);
      LISTED_ = false;
    }
  }

  // Waits for the first byte of a request, at most WEB_IDLETIME.
  void AWAIT() {
    LIST();
    if (C_.BUF.size() > 0) {
      READ(); // the client sent its next request right behind the last one
      return;
    }
    C_.STREAM.expires_after(WEB_IDLETIME);
    C_.STREAM.async_read_some(C_.BUF.prepare(1024),
                              [S = shared_from_this()](beast::error_code EC, size_t N) {
                                if (!EC) {
                                  S->C_.BUF.commit(N);
                                  S->READ();
                                }
                              });
  }

  // Reads the header: its limits hold from here, the time from its first
  // byte.
  void READ() {
    PARSER_.emplace();
    PARSER_->header_limit(WEB_MAXHEADER);
    // The body's cap is the route's, set once the header names the route.
    PARSER_->body_limit(boost::none);
    C_.STREAM.expires_after(WEB_REQUESTTIME);
    http::async_read_header(
        C_.STREAM, C_.BUF, *PARSER_,
        [S = shared_from_this()](beast::error_code EC, size_t) { S->ONHEADER(EC); });
  }

  void ONHEADER(beast::error_code EC) {
    if (EC) {
      REFUSE(EC);
      return;
    }
    NOROUTE_.reset();
    ROUTE_ = WEB_FINDROUTE(PARSER_->get(), NOROUTE_);
    if (ROUTE_ == nullptr && !PARSER_->is_done()) {
      CLOSEAFTER(std::move(*NOROUTE_)); // its body is not worth reading
      return;
    }
    uint32_t CAP = ROUTE_ != nullptr ? ROUTE_->BODYCAP : 0;
    auto LENGTH = PARSER_->content_length();
    if ((LENGTH && *LENGTH > CAP) || (!LENGTH && PARSER_->chunked() && CAP == 0)) {
      WEB_HTTP.TOOLARGE++;
      CLOSEAFTER(WEB_TEXT(PARSER_->get(), http::status::payload_too_large, "413\n"));
      return;
    }
    PARSER_->body_limit(CAP);
    if (PARSER_->is_done()) {
      ONREQUEST();
      return;
    }
    http::async_read(C_.STREAM, C_.BUF, *PARSER_,
                     [S = shared_from_this()](beast::error_code EC, size_t) {
                       if (EC) {
                         S->REFUSE(EC);
                       } else {
                         S->ONREQUEST();
                       }
                     });
  }

  // A request that cannot be read: an answer that says why where there is
  // one, then the connection closes.
  void REFUSE(beast::error_code EC) {
    if (EC == beast::error::timeout) {
      WEB_HTTP.TIMEOUT++;
    }
    if (EC == http::error::header_limit || EC == http::error::buffer_overflow ||
        EC == http::error::body_limit) {
      WEB_HTTP.TOOLARGE++;
    }
    if (EC == http::error::header_limit || EC == http::error::buffer_overflow) {
      CLOSEAFTER(WEB_TEXT(WEB_REQ{}, http::status::request_header_fields_too_large, "431\n"));
    } else if (EC == http::error::body_limit) {
      CLOSEAFTER(WEB_TEXT(WEB_REQ{}, http::status::payload_too_large, "413\n"));
    } else if (EC.category() == beast::error_code(http::error::bad_target).category() &&
               EC != http::error::end_of_stream && EC != http::error::partial_message) {
      CLOSEAFTER(WEB_TEXT(WEB_REQ{}, http::status::bad_request, "400\n"));
    }
    // Anything else (time up, the client gone): nothing to say.
  }

  void ONREQUEST() {
    UNLIST();
    WEB_REQ R = PARSER_->release();
    const WEB_ROUTE* W = ROUTE_;
    std::optional<WEB_ANSWER> NONE = std::move(NOROUTE_);
    if (W != nullptr && W->TAKE != nullptr) {
      NONE = W->TAKE(C_, R);
      if (!NONE) {
        return; // the connection went on to a session of its own
      }
    }
    WEB_ANSWER A = W != nullptr && W->ANSWER != nullptr ? W->ANSWER(R) : std::move(*NONE);
    A.keep_alive(R.keep_alive());
    SEND(std::move(A));
  }

  void CLOSEAFTER(WEB_ANSWER A) {
    UNLIST();
    A.keep_alive(false);
    SEND(std::move(A));
  }

  void SEND(WEB_ANSWER A) {
    ANSWER_ = std::move(A);
    ANSWER_.prepare_payload();
    C_.STREAM.expires_after(WEB_WRITETIME);
    http::async_write(C_.STREAM, ANSWER_, [S = shared_from_this()](beast::error_code EC, size_t) {
      if (EC) {
        WEB_HTTP.TIMEOUT += EC == beast::error::timeout;
        return;
      }
      if (!S->ANSWER_.keep_alive()) {
        S->C_.STREAM.socket().shutdown(WEB_TCP::socket::shutdown_send, EC);
        return;
      }
      S->AWAIT();
    });
  }
};

// ---- the listener ----

asio::ip::address WEB_PLAINADDR(const asio::ip::address& A) {
  // A dual-stack listener sees IPv4 clients as mapped IPv6 addresses: count
  // them as the IPv4 addresses they are.
  if (A.is_v6() && A.to_v6().is_v4_mapped()) {
    return asio::ip::make_address_v4(asio::ip::v4_mapped, A.to_v6());
  }
  return A;
}

static void WEB_ONACCEPT(WEB_TCP::socket S) {
  beast::error_code EC;
  WEB_TCP::endpoint PEER = S.remote_endpoint(EC);
  if (EC) {
    return; // gone already
  }
  asio::ip::address A = WEB_PLAINADDR(PEER.address());
  auto AT = WEB_PERADDR.find(A);
  if (AT != WEB_PERADDR.end() && AT->second >= WEB_MAXPERADDR) {
    WEB_HTTP.ADDRCAP++;
    return; // closed at once, as S goes
  }
  if (WEB_TOTAL >= WEB_CONNCAP) {
    if (WEB_WAITING.empty()) {
      WEB_HTTP.CONNCAP++;
      return;
    }
    WEB_HTTP.MADEROOM++;
    WEB_WAITING.front()->EVICT();
  }
  WEB_PLACE P;
  P.ADDR = A;
  P.HELD = true;
  WEB_TOTAL++;
  WEB_PERADDR[A]++;
  // An event must not wait behind Nagle's algorithm for the peer's delayed
  // acknowledgement.
  S.set_option(WEB_TCP::no_delay(true), EC);
  std::make_shared<WEB_HTTPSESSION>(
      WEB_CONN{beast::tcp_stream(std::move(S)), beast::flat_buffer(WEB_MAXBUFFER), std::move(P)})
      ->RUN();
}

static void WEB_ACCEPT() {
  WEB_ACCEPTOR->async_accept(*WEB_IOC, [](beast::error_code EC, WEB_TCP::socket S) {
    if (EC == asio::error::operation_aborted) {
      return;
    }
    if (EC) {
      // Out of descriptors or buffers: try again a little later rather than
      // spin on the same error.
      WEB_ACCEPTPAUSE->expires_after(std::chrono::milliseconds(50));
      WEB_ACCEPTPAUSE->async_wait([](beast::error_code E) {
        if (!E) {
          WEB_ACCEPT();
        }
      });
      return;
    }
    WEB_ONACCEPT(std::move(S));
    WEB_ACCEPT();
  });
}

// "PORT" or "ADDRESS:PORT".
static bool WEB_PARSEADDR(const std::string& ARG, std::string& HOST, int& PORT) {
  size_t C = ARG.rfind(':');
  HOST = C == std::string::npos ? "127.0.0.1" : ARG.substr(0, C);
  std::string P = C == std::string::npos ? ARG : ARG.substr(C + 1);
  // An IPv6 address comes in brackets: [::1]:8080.
  if (HOST.size() >= 2 && HOST.front() == '[' && HOST.back() == ']') {
    HOST = HOST.substr(1, HOST.size() - 2);
  }
  uint32_t V;
  if (HOST.empty() || !SV_READNUMBER(P, V) || V > 65535) {
    return false;
  }
  PORT = int(V);
  return true;
}

// The connection cap under the process's descriptor limit; 0 when the
// limit leaves too few.
static int WEB_CAPUNDERLIMIT() {
#ifndef _WIN32
  rlimit RL{};
  if (getrlimit(RLIMIT_NOFILE, &RL) == 0 && RL.rlim_cur != RLIM_INFINITY &&
      RL.rlim_cur < rlim_t(WEB_MAXCONN + WEB_FDRESERVE)) {
    long N = long(RL.rlim_cur) - WEB_FDRESERVE;
    return N >= WEB_MAXPERADDR ? int(N) : 0;
  }
#endif
  return WEB_MAXCONN;
}

// Opens, binds and listens on EP; false with the reason in EC.
static bool WEB_LISTEN(const WEB_TCP::endpoint& EP, beast::error_code& EC) {
  WEB_TCP::acceptor& A = *WEB_ACCEPTOR;
  if (A.open(EP.protocol(), EC)) {
    return false;
  }
#ifdef _WIN32
  // No other socket may bind this port while the server holds it.
  A.set_option(asio::detail::socket_option::boolean<SOL_SOCKET, SO_EXCLUSIVEADDRUSE>(true), EC);
#else
  // SO_REUSEADDR lets a restarted server bind past connections of the last
  // one in TIME_WAIT; on Linux it never lets two listeners share the port
  // (that would be SO_REUSEPORT, which is not set).
  A.set_option(WEB_TCP::acceptor::reuse_address(true), EC);
#endif
  return !EC && !A.bind(EP, EC) && !A.listen(asio::socket_base::max_listen_connections, EC);
}

bool WEB_START() {
  if (OPT_HTTP.empty()) {
    return true;
  }
  const std::string ARG(OPT_HTTP);
  std::string HOST;
  int PORT = 0;
  if (!WEB_PARSEADDR(ARG, HOST, PORT)) {
    SC_WARN("option -http: \"" + ARG + "\" is not PORT or ADDRESS:PORT");
    return false;
  }
  WEB_CONNCAP = WEB_CAPUNDERLIMIT();
  WEB_HTTP = {};
  if (WEB_CONNCAP == 0) {
    SC_WARN("option -http: too few file descriptors (ulimit -n): " +
            std::to_string(WEB_FDRESERVE + WEB_MAXPERADDR) + " at least");
    return false;
  }
  WEB_IOC = std::make_unique<asio::io_context>(1);
  WEB_ACCEPTOR = std::make_unique<WEB_TCP::acceptor>(*WEB_IOC);
  WEB_ACCEPTPAUSE = std::make_unique<asio::steady_timer>(*WEB_IOC);
  beast::error_code EC;
  WEB_TCP::resolver RES(*WEB_IOC);
  auto EPS = RES.resolve(HOST, std::to_string(PORT),
                         WEB_TCP::resolver::passive | WEB_TCP::resolver::numeric_service, EC);
  if (!EC && EPS.empty()) {
    EC = asio::error::host_not_found;
  }
  if (EC || !WEB_LISTEN(EPS.begin()->endpoint(), EC)) {
    SC_WARN("option -http: cannot listen on " + ARG + ": " + EC.message());
    WEB_ACCEPTPAUSE.reset();
    WEB_ACCEPTOR.reset();
    WEB_IOC.reset();
    return false;
  }
  WEB_TCP::endpoint EP = WEB_ACCEPTOR->local_endpoint();
  asio::ip::address BOUND = WEB_PLAINADDR(EP.address());
  WEB_PUBLIC = !BOUND.is_loopback();
  WEB_OPEN();
  WEB_STREAMSOPEN(*WEB_IOC);
  WEB_PLAYOPEN(*WEB_IOC);
  WEB_ACCEPT();
  WEB_THREAD = std::thread([] {
    SC_BLOCKSTOPSIGNALS();
    WEB_IOC->run();
  });
  std::string SHOWN = HOST.find(':') != std::string::npos ? "[" + HOST + "]" : HOST;
  std::string LINE = "HTTP initialized! http://" + SHOWN + ":" + std::to_string(EP.port()) + "/";
  SC_WRITELN(LINE);
  REC_RECORDOUTPUT(LINE); // a replay serves no HTTP, but shows the line
  return true;
}

void WEB_STOP() {
  if (!WEB_IOC) {
    return;
  }
  WEB_CLOSE();
  // Every session ends where it stands: no client is waited for.
  WEB_IOC->stop();
  if (WEB_THREAD.joinable()) {
    WEB_THREAD.join();
  }
  WEB_STREAMSCLOSE();
  WEB_ACCEPTPAUSE.reset();
  WEB_ACCEPTOR.reset();
  // The sessions go with the handlers that hold them, their sockets with
  // them.
  WEB_IOC.reset();
  WEB_PLAYCLOSE();
}
