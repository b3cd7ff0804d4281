// The stand-in server: an acceptor and one coroutine per connection on an
// io_context of its own thread.
#include "standin.hpp"

#include <boost/asio.hpp>
#include <boost/asio/ssl.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/http.hpp>
#include <boost/beast/ssl.hpp>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

#include "process.hpp"
#include "support/testpaths.hpp"

namespace asio = boost::asio;
namespace beast = boost::beast;
namespace http = beast::http;
using tcp = asio::ip::tcp;
using boost::system::error_code;

std::string TESTCAFILE() {
  return std::string(BRASTOK_HOSTING_TESTDIR) + "/certs/ca.pem";
}

uint16_t FREEPORT() {
  asio::io_context IO;
  tcp::acceptor A(IO, tcp::endpoint(asio::ip::make_address("127.0.0.1"), 0));
  return A.local_endpoint().port();
}

std::vector<TCALL> CALLSTO(const std::vector<TCALL>& LIST, const std::string& TARGET) {
  std::vector<TCALL> R;
  for (const TCALL& C : LIST) {
    if (C.TARGET == TARGET) {
      R.push_back(C);
    }
  }
  return R;
}

struct TSTANDIN::IMPL {
  std::function<TREPLY(const TCALL&)> ANSWER;
  // Before the io_context: the connections it destroys last still use it.
  asio::ssl::context TLSCTX{asio::ssl::context::tls_server};
  asio::io_context IO;
  bool TLS = false;
  tcp::acceptor ACCEPTOR{IO};
  std::thread THREAD;
  mutable std::mutex LOCK;
  mutable std::condition_variable CHANGED;
  std::vector<TCALL> CALLS;

  size_t RECORD(TCALL C) {
    std::lock_guard<std::mutex> L(LOCK);
    CALLS.push_back(std::move(C));
    CHANGED.notify_all();
    return CALLS.size() - 1;
  }
  void CLOSED(size_t I) {
    std::lock_guard<std::mutex> L(LOCK);
    CALLS[I].CLOSEDMS = NOWMS();
    CHANGED.notify_all();
  }

  // Reads one request, records it and answers it (or never does).
  template <class STREAM>
  asio::awaitable<void> SERVE(STREAM& S, std::string SNI) {
    beast::flat_buffer B;
    http::request<http::string_body> Q;
    error_code E;
    co_await http::async_read(S, B, Q, asio::redirect_error(asio::use_awaitable, E));
    if (E) {
      co_return;
    }
    TCALL C{std::string(Q.method_string()),
            std::string(Q.target()),
            Q.body(),
            std::string(Q[http::field::content_type]),
            SNI,
            NOWMS(),
            -1};
    TREPLY R = ANSWER(C);
    size_t I = RECORD(C);
    if (R.STATUS == 0) {
      // Silent: wait for the client to give up.
      char BYTE;
      co_await beast::get_lowest_layer(S).socket().async_read_some(
          asio::buffer(&BYTE, 1), asio::redirect_error(asio::use_awaitable, E));
      CLOSED(I);
      co_return;
    }
    http::response<http::string_body> A{http::status(R.STATUS), 11};
    if (!R.RETRYAFTER.empty()) {
      A.set(http::field::retry_after, R.RETRYAFTER);
    }
    A.set(http::field::connection, "close");
    A.body() = R.BODY;
    A.prepare_payload();
    co_await http::async_write(S, A, asio::redirect_error(asio::use_awaitable, E));
  }

  asio::awaitable<void> SESSION(tcp::socket SOCK) {
    beast::tcp_stream T(std::move(SOCK));
    if (!TLS) {
      co_await SERVE(T, "");
      co_return;
    }
    beast::ssl_stream<beast::tcp_stream> S(std::move(T), TLSCTX);
    error_code E;
    co_await S.async_handshake(asio::ssl::stream_base::server,
                               asio::redirect_error(asio::use_awaitable, E));
    if (E) {
      co_return;
    }
    const char* SNI = SSL_get_servername(S.native_handle(), TLSEXT_NAMETYPE_host_name);
    co_await SERVE(S, SNI != nullptr ? SNI : "");
  }

  asio::awaitable<void> ACCEPT() {
    for (;;) {
      error_code E;
      tcp::socket S = co_await ACCEPTOR.async_accept(asio::redirect_error(asio::use_awaitable, E));
      if (E) {
        co_return;
      }
      asio::co_spawn(IO, SESSION(std::move(S)), asio::detached);
    }
  }
};

TSTANDIN::TSTANDIN(std::function<TREPLY(const TCALL&)> ANSWER, uint16_t PORT, bool TLS)
    : P_(std::make_unique<IMPL>()) {
  P_->ANSWER = std::move(ANSWER);
  P_->TLS = TLS;
  if (TLS) {
    std::string DIR = std::string(BRASTOK_HOSTING_TESTDIR) + "/certs/";
    P_->TLSCTX.use_certificate_chain_file(DIR + "localhost.pem");
    P_->TLSCTX.use_private_key_file(DIR + "localhost.key", asio::ssl::context::pem);
  }
  tcp::endpoint AT(asio::ip::make_address("127.0.0.1"), PORT);
  P_->ACCEPTOR.open(AT.protocol());
  P_->ACCEPTOR.set_option(tcp::acceptor::reuse_address(true));
  P_->ACCEPTOR.bind(AT);
  P_->ACCEPTOR.listen();
  asio::co_spawn(P_->IO, P_->ACCEPT(), asio::detached);
  P_->THREAD = std::thread([this] { P_->IO.run(); });
}

TSTANDIN::~TSTANDIN() {
  P_->IO.stop();
  P_->THREAD.join();
}

uint16_t TSTANDIN::PORT() const {
  return P_->ACCEPTOR.local_endpoint().port();
}

std::vector<TCALL> TSTANDIN::CALLS() const {
  std::lock_guard<std::mutex> L(P_->LOCK);
  return P_->CALLS;
}

bool TSTANDIN::WAITFOR(const std::function<bool(const std::vector<TCALL>&)>& OK, int MS) const {
  std::unique_lock<std::mutex> L(P_->LOCK);
  return P_->CHANGED.wait_for(L, std::chrono::milliseconds(MS), [&] { return OK(P_->CALLS); });
}
