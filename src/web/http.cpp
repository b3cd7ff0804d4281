// The HTTP server on Boost.Beast: the listener, the caps on connections,
// the table of routes, and the start and stop of the I/O thread. The
// session that reads requests and answers them is in session.cpp.
//
// One I/O thread serves every connection asynchronously: a slow or silent
// client holds a few kilobytes and a place, never a thread.
#include "web/conn.hpp"

#include <boost/asio/steady_timer.hpp>
#include <map>
#include <memory>
#include <thread>

#ifndef _WIN32
#include <sys/resource.h>
#endif
#if BRASTOK_TLS
#include <boost/asio/ssl/error.hpp>
#endif

#include "admin/admin.hpp"
#include "server/server.hpp"

int WEB_CONNCAP = WEB_MAXCONN;
WEB_HTTPSTATS WEB_HTTP;

std::unique_ptr<asio::io_context> WEB_IOC;
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

// The routes, one table for every stream type.
template <class ST>
const WEB_ROUTE<ST> WEB_ROUTES[] = {
    {http::verb::get, "/", 0, false, WEB_ONPAGE, nullptr, nullptr},
    {http::verb::get, "/status.json", 0, false, WEB_ONSTATUS, nullptr, nullptr},
    {http::verb::get, "/events", 0, false, nullptr, WEB_TAKEEVENTS<ST>, nullptr},
    {http::verb::get, "/metrics", 0, false, WEB_ONMETRICS, nullptr, nullptr},
    {http::verb::get, "/healthz", 0, false, WEB_ONHEALTH, nullptr, nullptr},
    {http::verb::get, "/admin", 0, true, nullptr, nullptr, WEB_ADMINPAGE},
    {http::verb::get, "/api/status", 0, true, nullptr, nullptr, WEB_APISTATUS},
    {http::verb::post, "/api/command", WEB_APIBODYCAP, true, nullptr, nullptr, WEB_APICOMMAND},
    {http::verb::get, "/play", 0, false, WEB_ONPLAY, nullptr, nullptr},
    {http::verb::get, "/play/ws", 0, false, nullptr, WEB_TAKEPLAY<ST>, nullptr},
};

static std::string_view WEB_PATHOF(std::string_view TARGET) {
  return TARGET.substr(0, TARGET.find('?'));
}

// The route of a request: exact, or null with the answer to give instead
// (404 for a path no route has, 405 for a method none takes there). The
// admin API's routes are there only while it is on.
template <class ST>
const WEB_ROUTE<ST>* WEB_FINDROUTE(const WEB_REQ& R, std::optional<WEB_ANSWER>& NONE) {
  std::string_view PATH = WEB_PATHOF(R.target());
  std::string ALLOW;
  bool METHODKNOWN = false;
  for (const WEB_ROUTE<ST>& W : WEB_ROUTES<ST>) {
    if (W.ADMIN && !WEB_APION) {
      continue;
    }
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
    for (const WEB_ROUTE<ST>& W : WEB_ROUTES<ST>) {
      std::string M(http::to_string(W.METHOD));
      if ((!W.ADMIN || WEB_APION) && ALLOW.find(M) == std::string::npos) {
        ALLOW += (ALLOW.empty() ? "" : ", ") + M;
      }
    }
  }
  NONE = WEB_TEXT(R, http::status::method_not_allowed, "only " + ALLOW + "\n");
  NONE->set(http::field::allow, ALLOW);
  return nullptr;
}

template const WEB_ROUTE<WEB_PLAIN>* WEB_FINDROUTE(const WEB_REQ&, std::optional<WEB_ANSWER>&);
#if BRASTOK_TLS
template const WEB_ROUTE<WEB_TLS>* WEB_FINDROUTE(const WEB_REQ&, std::optional<WEB_ANSWER>&);
#endif

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
    if (!WEB_MAKEROOM()) {
      WEB_HTTP.CONNCAP++;
      return;
    }
    WEB_HTTP.MADEROOM++;
  }
  WEB_PLACE P;
  P.ADDR = A;
  P.HELD = true;
  WEB_TOTAL++;
  WEB_PERADDR[A]++;
  // An event must not wait behind Nagle's algorithm for the peer's delayed
  // acknowledgement.
  S.set_option(WEB_TCP::no_delay(true), EC);
  // A connection whose both ends are on loopback never crosses a network.
  WEB_TCP::endpoint HERE = S.local_endpoint(EC);
  bool LOOPBACK = !EC && A.is_loopback() && WEB_PLAINADDR(HERE.address()).is_loopback();
  WEB_CONN<WEB_PLAIN> C{beast::tcp_stream(std::move(S)), beast::flat_buffer(WEB_MAXBUFFER),
                        std::move(P), LOOPBACK};
  WEB_SERVE(std::move(C));
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

// The certificate and key of -httpcert and -httpkey: false after a
// warning when they cannot be used (the start fails).
static bool WEB_TLSSTART() {
  WEB_TLSON = false;
  if (OPT_HTTPCERT.empty() && OPT_HTTPKEY.empty()) {
    return true;
  }
#if BRASTOK_TLS
  if (OPT_HTTPCERT.empty() || OPT_HTTPKEY.empty()) {
    SC_WARN(std::string("option ") + (OPT_HTTPCERT.empty() ? "-httpkey" : "-httpcert") +
            ": TLS needs both -httpcert FILE and -httpkey FILE");
    return false;
  }
  auto CTX = std::make_unique<asio::ssl::context>(asio::ssl::context::tls_server);
  // TLS 1.2 and newer only, each handshake with keys of its own.
  CTX->set_options(asio::ssl::context::default_workarounds | asio::ssl::context::no_sslv2 |
                   asio::ssl::context::no_sslv3 | asio::ssl::context::no_tlsv1 |
                   asio::ssl::context::no_tlsv1_1 | asio::ssl::context::single_dh_use);
  beast::error_code EC;
  const char* WHICH = "-httpcert";
  std::string FILE = OPT_HTTPCERT;
  CTX->use_certificate_chain_file(OPT_HTTPCERT, EC);
  if (!EC) {
    WHICH = "-httpkey";
    FILE = OPT_HTTPKEY;
    // OpenSSL checks here that the key is the certificate's.
    CTX->use_private_key_file(OPT_HTTPKEY, asio::ssl::context::pem, EC);
  }
  if (EC) {
    SC_WARN(std::string("option ") + WHICH + ": cannot use " + FILE + ": " + EC.message());
    return false;
  }
  WEB_SSLCTX = std::move(CTX);
  WEB_TLSON = true;
  return true;
#else
  SC_WARN("options -httpcert and -httpkey: this build has no TLS (the Windows build is made "
          "without OpenSSL); the admin API answers on loopback only");
  return false;
#endif
}

bool WEB_START() {
  if (OPT_HTTP.empty()) {
    if (!ADM_ADMINSPATH.empty()) {
      SC_WARN("option -admins: the admin API is served over HTTP, which is off (no -http)");
    }
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
  if (!WEB_TLSSTART()) {
    return false;
  }
  WEB_APION = !ADM_ADMINSPATH.empty();
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
  ADM_RECORDSON = true;
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
  if (WEB_APION && WEB_PUBLIC && !WEB_TLSON) {
    // Tokens never cross a network in plain text.
    SC_NOTE("the admin API answers only connections from this machine (loopback): "
            "there is no -httpcert and -httpkey for https on " +
            SHOWN);
  }
  return true;
}

void WEB_STOP() {
  if (!WEB_IOC) {
    return;
  }
  WEB_CLOSE();
  ADM_RECORDSON = false;
  // The answer to a command the game thread ran last ("quit") goes out
  // first, for a little while at most.
  for (int K = 0; K < 100 && WEB_APIFLIGHT > 0; K++) {
    SC_SLEEP(5);
  }
  // Every session ends where it stands: no client is waited for.
  WEB_IOC->stop();
  if (WEB_THREAD.joinable()) {
    WEB_THREAD.join();
  }
  WEB_STREAMSCLOSE();
  WEB_APICLOSE();
  WEB_ACCEPTPAUSE.reset();
  WEB_ACCEPTOR.reset();
  // The sessions go with the handlers that hold them, their sockets with
  // them.
  WEB_IOC.reset();
#if BRASTOK_TLS
  WEB_SSLCTX.reset();
#endif
  WEB_PLAYCLOSE();
}
