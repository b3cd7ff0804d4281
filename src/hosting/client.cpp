// One HTTP(S) request with a JSON body, as a coroutine of the I/O thread: a
// new connection per request (the events are seconds apart), the whole try
// bounded by one deadline. TLS verifies the peer's certificate against the
// system's store and its name against the URL's host, and sends the host
// name (SNI).
#include <boost/asio/co_spawn.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/redirect_error.hpp>
#include <boost/asio/use_awaitable.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/http.hpp>
#include <boost/url/parse.hpp>
#include <boost/url/src.hpp> // Boost.URL compiled here, header-only
#include <chrono>
#include <memory>
#include <nlohmann/json.hpp>
#ifdef BRASTOK_HOST_TLS
#include <boost/asio/ssl.hpp>
#include <boost/beast/ssl.hpp>
#endif

#include "hosting/io.hpp"
#include "server/state.hpp"

namespace asio = boost::asio;
namespace beast = boost::beast;
namespace http = beast::http;
using tcp = asio::ip::tcp;
using boost::system::error_code;

bool HOST_PARSEURL(const std::string& TEXT, HOST_URL& U, std::string& ERR) {
  auto R = boost::urls::parse_absolute_uri(TEXT);
  if (!R) {
    ERR = "not an absolute URL";
    return false;
  }
  boost::urls::url_view V = *R;
  U.SHOWN = std::string(V.scheme()) + "://" + std::string(V.encoded_host_and_port());
  if (V.scheme_id() != boost::urls::scheme::http && V.scheme_id() != boost::urls::scheme::https) {
    ERR = "not an http: or https: URL";
    return false;
  }
  U.TLS = V.scheme_id() == boost::urls::scheme::https;
  U.HOST = V.host_address();
  if (U.HOST.empty()) {
    ERR = "no host";
    return false;
  }
  if (V.has_userinfo()) {
    ERR = "a user name or password in the URL is not supported";
    return false;
  }
  U.PORT = U.TLS ? 443 : 80;
  if (V.has_port()) {
    U.PORT = V.port_number();
    if (U.PORT == 0) {
      ERR = "the port must be 1 to 65535";
      return false;
    }
  }
  U.TARGET = std::string(V.encoded_target());
  if (U.TARGET.empty() || U.TARGET[0] != '/') {
    U.TARGET = "/" + U.TARGET;
  }
  return true;
}

std::string HOST_URLSHOWN(const std::string& URL) {
  HOST_URL U;
  std::string ERR;
  HOST_PARSEURL(URL, U, ERR);
  return U.SHOWN.empty() ? std::string("(not a URL)") : U.SHOWN;
}

#ifdef BRASTOK_HOST_TLS
static std::unique_ptr<asio::ssl::context> HOST_TLS;

void HOST_TLSOPEN() {
  HOST_TLS = std::make_unique<asio::ssl::context>(asio::ssl::context::tls_client);
  HOST_TLS->set_default_verify_paths();
  HOST_TLS->set_verify_mode(asio::ssl::verify_peer);
}

void HOST_TLSCLOSE() {
  HOST_TLS.reset();
}
#else
void HOST_TLSOPEN() {}
void HOST_TLSCLOSE() {}
#endif

// Seconds as a Retry-After header gives them, or -1 (an HTTP date, or
// nothing readable: the back-off applies).
static int64_t HOST_RETRYAFTER(std::string_view S) {
  if (S.empty() || S.size() > 9) {
    return -1;
  }
  int64_t V = 0;
  for (char C : S) {
    if (C < '0' || C > '9') {
      return -1;
    }
    V = V * 10 + (C - '0');
  }
  return V * 1000;
}

// The answer of a read response. Discord also says how long to wait in the
// body of a 429, in seconds with a fraction: used when the header is absent.
static HOST_ANSWER HOST_ANSWEROF(const http::response<http::string_body>& R) {
  HOST_ANSWER A{int(R.result_int()), HOST_RETRYAFTER(R[http::field::retry_after]), false, ""};
  A.WHY = std::to_string(A.STATUS) + " " + std::string(R.reason());
  if (A.RETRYMS < 0 && A.STATUS == 429) {
    nlohmann::json J = nlohmann::json::parse(R.body(), nullptr, false);
    if (J.is_object() && J.contains("retry_after") && J["retry_after"].is_number()) {
      double S = J["retry_after"].get<double>();
      if (S >= 0 && S < 1e6) {
        A.RETRYMS = int64_t(S * 1000 + 0.999);
      }
    }
  }
  return A;
}

template <class STREAM>
static asio::awaitable<HOST_ANSWER> HOST_EXCHANGE(STREAM& S, const HOST_URL& U, http::verb VERB,
                                                  std::string BODY) {
  http::request<http::string_body> Q{VERB, U.TARGET, 11};
  bool DEFAULTPORT = U.PORT == (U.TLS ? 443 : 80);
  std::string HOST = U.HOST.find(':') != std::string::npos ? "[" + U.HOST + "]" : U.HOST;
  Q.set(http::field::host, DEFAULTPORT ? HOST : HOST + ":" + std::to_string(U.PORT));
  Q.set(http::field::user_agent, std::string("brastok_server/") + SV_VERSION);
  Q.set(http::field::content_type, "application/json");
  Q.set(http::field::connection, "close");
  Q.body() = std::move(BODY);
  Q.prepare_payload();
  error_code E;
  co_await http::async_write(S, Q, asio::redirect_error(asio::use_awaitable, E));
  if (E) {
    co_return HOST_ANSWER{0, -1, false, E.message()};
  }
  beast::flat_buffer B;
  http::response_parser<http::string_body> P;
  P.body_limit(65536);
  co_await http::async_read(S, B, P, asio::redirect_error(asio::use_awaitable, E));
  if (E && !P.is_header_done()) {
    co_return HOST_ANSWER{0, -1, false, E.message()};
  }
  co_return HOST_ANSWEROF(P.get());
}

asio::awaitable<HOST_ANSWER> HOST_REQUEST(const HOST_URL& U, http::verb VERB, std::string BODY,
                                          int TIMEOUTMS) {
  auto EX = co_await asio::this_coro::executor;
  auto DEADLINE = std::chrono::steady_clock::now() + std::chrono::milliseconds(TIMEOUTMS);
  error_code E;
  // The resolver has no deadline of its own: a timer cancels it.
  tcp::resolver RES(EX);
  asio::steady_timer T(EX);
  T.expires_at(DEADLINE);
  T.async_wait([&RES](error_code W) {
    if (!W) {
      RES.cancel();
    }
  });
  auto ENDS = co_await RES.async_resolve(U.HOST, std::to_string(U.PORT),
                                         asio::redirect_error(asio::use_awaitable, E));
  T.cancel();
  if (E) {
    co_return HOST_ANSWER{0, -1, false,
                          E == asio::error::operation_aborted ? "timed out resolving the host"
                                                              : E.message()};
  }
  if (!U.TLS) {
    beast::tcp_stream S(EX);
    S.expires_at(DEADLINE);
    co_await S.async_connect(ENDS, asio::redirect_error(asio::use_awaitable, E));
    if (E) {
      co_return HOST_ANSWER{0, -1, false, E.message()};
    }
    HOST_ANSWER A = co_await HOST_EXCHANGE(S, U, VERB, std::move(BODY));
    S.socket().shutdown(tcp::socket::shutdown_both, E);
    co_return A;
  }
#ifdef BRASTOK_HOST_TLS
  beast::ssl_stream<beast::tcp_stream> S(EX, *HOST_TLS);
  beast::get_lowest_layer(S).expires_at(DEADLINE);
  // The name the certificate must carry (an address for an address), and
  // the name sent for the server to pick its certificate (never an address).
  S.set_verify_callback(asio::ssl::host_name_verification(U.HOST));
  error_code ADDR;
  asio::ip::make_address(U.HOST, ADDR);
  if (ADDR && !SSL_set_tlsext_host_name(S.native_handle(), U.HOST.c_str())) {
    co_return HOST_ANSWER{0, -1, true, "cannot set the TLS server name"};
  }
  co_await beast::get_lowest_layer(S).async_connect(ENDS,
                                                    asio::redirect_error(asio::use_awaitable, E));
  if (E) {
    co_return HOST_ANSWER{0, -1, false, E.message()};
  }
  co_await S.async_handshake(asio::ssl::stream_base::client,
                             asio::redirect_error(asio::use_awaitable, E));
  if (E) {
    // A refused certificate or a protocol the peer does not speak stays so;
    // a connection broken during the handshake may not.
    bool TLSERR = E.category() == asio::error::get_ssl_category();
    co_return HOST_ANSWER{0, -1, TLSERR, "TLS handshake: " + E.message()};
  }
  HOST_ANSWER A = co_await HOST_EXCHANGE(S, U, VERB, std::move(BODY));
  // The answer is in: no close_notify is waited for.
  beast::get_lowest_layer(S).socket().shutdown(tcp::socket::shutdown_both, E);
  co_return A;
#else
  co_return HOST_ANSWER{0, -1, true, "this build has no TLS"};
#endif
}
