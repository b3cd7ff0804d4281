// The HTTP session: reads requests on one connection and answers them by
// the table of routes (http.cpp), within its limits. A request must come
// whole within WEB_REQUESTTIME of its first byte, with a header of at most
// WEB_MAXHEADER bytes and no more body than its route takes; an idle
// connection is closed after WEB_IDLETIME. On a port that speaks TLS too, a
// connection's first bytes tell which it speaks.
#include "web/conn.hpp"

#include <boost/asio/steady_timer.hpp>
#include <boost/beast/http/read.hpp>
#include <boost/beast/http/write.hpp>
#include <list>
#include <memory>

#if BRASTOK_TLS
#include <boost/asio/ssl/error.hpp>
#include <boost/beast/core/detect_ssl.hpp>
#endif

// ---- the HTTP session ----

// A connection that waits for a request, or for the rest of one (or, on a
// port that speaks TLS too, for its first bytes or its handshake).
class WEB_WAITER {
public:
  virtual ~WEB_WAITER() = default;
  // Closes the connection to make room for another.
  virtual void EVICT() = 0;
};
// The waiting connections, oldest first: when every place is taken, the
// first of them makes room for a new connection, so that a flood of silent
// connections shuts nobody out.
static std::list<WEB_WAITER*> WEB_WAITING;

// A place on that list, held while it waits.
class WEB_LISTED {
public:
  explicit WEB_LISTED(WEB_WAITER* W) : W_(W) {}
  ~WEB_LISTED() { UNLIST(); }
  void LIST() {
    if (!LISTED_) {
      AT_ = WEB_WAITING.insert(WEB_WAITING.end(), W_);
      LISTED_ = true;
    }
  }
  void UNLIST() {
    if (LISTED_) {
      WEB_WAITING.erase(AT_);
      LISTED_ = false;
    }
  }

private:
  WEB_WAITER* W_;
  bool LISTED_ = false;
  std::list<WEB_WAITER*>::iterator AT_;
};

template <class ST>
class WEB_HTTPSESSION : public WEB_WAITER,
                        public std::enable_shared_from_this<WEB_HTTPSESSION<ST>> {
public:
  explicit WEB_HTTPSESSION(WEB_CONN<ST>&& C) : C_(std::move(C)), LISTED_(this) {}
  ~WEB_HTTPSESSION() override {
    if (FLIGHT_) {
      WEB_APIFLIGHT--;
    }
  }

  void RUN() { AWAIT(); }

  void EVICT() override {
    LISTED_.UNLIST();
    beast::error_code EC;
    WEB_SOCKET(C_.STREAM).close(EC);
  }

private:
  WEB_CONN<ST> C_;
  std::optional<http::request_parser<http::string_body>> PARSER_;
  const WEB_ROUTE<ST>* ROUTE_ = nullptr; // of the request being read
  std::optional<WEB_ANSWER> NOROUTE_;    // the answer when it has none
  WEB_ANSWER ANSWER_;
  WEB_LISTED LISTED_;
  bool FLIGHT_ = false; // the answer being written is one the game thread made

  // Waits for the first byte of a request, at most WEB_IDLETIME.
  void AWAIT() {
    LISTED_.LIST();
    if (C_.BUF.size() > 0) {
      READ(); // the client sent its next request right behind the last one
      return;
    }
    WEB_LOWEST(C_.STREAM).expires_after(WEB_IDLETIME);
    C_.STREAM.async_read_some(C_.BUF.prepare(1024),
                              [S = this->shared_from_this()](beast::error_code EC, size_t N) {
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
    WEB_LOWEST(C_.STREAM).expires_after(WEB_REQUESTTIME);
    http::async_read_header(
        C_.STREAM, C_.BUF, *PARSER_,
        [S = this->shared_from_this()](beast::error_code EC, size_t) { S->ONHEADER(EC); });
  }

  void ONHEADER(beast::error_code EC) {
    if (EC) {
      REFUSE(EC);
      return;
    }
    NOROUTE_.reset();
    ROUTE_ = WEB_FINDROUTE<ST>(PARSER_->get(), NOROUTE_);
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
                     [S = this->shared_from_this()](beast::error_code EC, size_t) {
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
    LISTED_.UNLIST();
    WEB_REQ R = PARSER_->release();
    const WEB_ROUTE<ST>* W = ROUTE_;
    std::optional<WEB_ANSWER> NONE = std::move(NOROUTE_);
    if (W != nullptr && W->ASK != nullptr) {
      // The answer may come later, from the game thread: nothing is read
      // meanwhile, and the connection holds its place.
      bool KEEP = R.keep_alive();
      W->ASK(R, WEB_PEER{C_.PLACE.ADDR, C_.LOOPBACK, WEB_ISTLS<ST>},
             [S = this->shared_from_this(), KEEP](WEB_ANSWER A, bool FLIGHT) {
               S->FLIGHT_ = FLIGHT;
               A.keep_alive(KEEP);
               S->SEND(std::move(A));
             });
      return;
    }
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
    LISTED_.UNLIST();
    A.keep_alive(false);
    SEND(std::move(A));
  }

  void SEND(WEB_ANSWER A) {
    ANSWER_ = std::move(A);
    ANSWER_.prepare_payload();
    WEB_LOWEST(C_.STREAM).expires_after(WEB_WRITETIME);
    http::async_write(C_.STREAM, ANSWER_,
                      [S = this->shared_from_this()](beast::error_code EC, size_t) {
                        if (S->FLIGHT_) {
                          S->FLIGHT_ = false;
                          WEB_APIFLIGHT--;
                        }
                        if (EC) {
                          WEB_HTTP.TIMEOUT += EC == beast::error::timeout;
                          return;
                        }
                        if (!S->ANSWER_.keep_alive()) {
                          S->CLOSE();
                          return;
                        }
                        S->AWAIT();
                      });
  }

  // The end of a connection after its last answer: TLS says so first.
  void CLOSE() {
    if constexpr (WEB_ISTLS<ST>) {
      WEB_LOWEST(C_.STREAM).expires_after(WEB_WRITETIME);
      C_.STREAM.async_shutdown([S = this->shared_from_this()](beast::error_code) {});
    } else {
      beast::error_code EC;
      C_.STREAM.socket().shutdown(WEB_TCP::socket::shutdown_send, EC);
    }
  }
};

#if BRASTOK_TLS
std::unique_ptr<asio::ssl::context> WEB_SSLCTX;

// A new connection on a port that speaks TLS too: its first bytes tell
// which (a TLS client speaks first, with a handshake record), then the
// handshake, then an HTTP session on the stream it turned out to be. It
// waits on the list like a session without a request: a flood of silent or
// slow handshakes makes room for new connections too.
class WEB_DETECTSESSION : public WEB_WAITER,
                          public std::enable_shared_from_this<WEB_DETECTSESSION> {
public:
  explicit WEB_DETECTSESSION(WEB_CONN<WEB_PLAIN>&& C) : C_(std::move(C)), LISTED_(this) {}

  void RUN() {
    LISTED_.LIST();
    C_.STREAM.expires_after(WEB_IDLETIME);
    beast::async_detect_ssl(C_.STREAM, C_.BUF,
                            [S = shared_from_this()](beast::error_code EC, bool TLS) {
                              if (!EC) {
                                S->ONDETECT(TLS);
                              }
                            });
  }

  void EVICT() override {
    LISTED_.UNLIST();
    beast::error_code EC;
    if (TLS_) {
      WEB_SOCKET(TLS_->STREAM).close(EC);
    } else {
      C_.STREAM.socket().close(EC);
    }
  }

private:
  WEB_CONN<WEB_PLAIN> C_;
  std::optional<WEB_CONN<WEB_TLS>> TLS_;
  WEB_LISTED LISTED_;

  void ONDETECT(bool TLS) {
    if (!TLS) {
      LISTED_.UNLIST();
      std::make_shared<WEB_HTTPSESSION<WEB_PLAIN>>(std::move(C_))->RUN();
      return;
    }
    TLS_.emplace(WEB_CONN<WEB_TLS>{WEB_TLS(std::move(C_.STREAM), *WEB_SSLCTX), std::move(C_.BUF),
                                   std::move(C_.PLACE), C_.LOOPBACK});
    WEB_LOWEST(TLS_->STREAM).expires_after(WEB_REQUESTTIME);
    // The bytes the detection read are the handshake's first. (The default
    // of USED gets the handler past a wrong requirement of Boost 1.81's
    // ssl_stream, which asks it to be callable with the error alone.)
    TLS_->STREAM.async_handshake(
        asio::ssl::stream_base::server, TLS_->BUF.cdata(),
        [S = shared_from_this()](beast::error_code EC, size_t USED = 0) {
          if (EC) {
            WEB_HTTP.TIMEOUT += EC == beast::error::timeout;
            return;
          }
          S->LISTED_.UNLIST();
          S->TLS_->BUF.consume(USED);
          std::make_shared<WEB_HTTPSESSION<WEB_TLS>>(std::move(*S->TLS_))->RUN();
        });
  }
};
#endif

bool WEB_MAKEROOM() {
  if (WEB_WAITING.empty()) {
    return false;
  }
  WEB_WAITING.front()->EVICT();
  return true;
}

void WEB_SERVE(WEB_CONN<WEB_PLAIN>&& C) {
#if BRASTOK_TLS
  if (WEB_SSLCTX) {
    std::make_shared<WEB_DETECTSESSION>(std::move(C))->RUN();
    return;
  }
#endif
  std::make_shared<WEB_HTTPSESSION<WEB_PLAIN>>(std::move(C))->RUN();
}
