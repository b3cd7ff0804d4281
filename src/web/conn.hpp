// What the HTTP side's sessions share (http.cpp, stream.cpp): the limits,
// a connection and its place among the caps, requests and answers, and the
// routes that take a connection over. Included only inside web/: Boost's
// headers are large.
//
// One I/O thread runs every session, so nothing here needs a lock. A
// connection starts in an HTTP session, which reads requests and answers
// them; a route that speaks on after its answer (the event stream, a
// WebSocket) takes the connection, with its place, into a session of its
// own. With a certificate (-httpcert) the port speaks TLS and plain HTTP
// alike, told apart by the first bytes of a connection: every session is a
// template on its stream, plain (WEB_PLAIN) or TLS (WEB_TLS).
#pragma once

#ifdef _WIN32
#include <utility> // before Asio's headers, which need it on MinGW
#endif

#include <atomic>
#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/beast/core/flat_buffer.hpp>
#include <boost/beast/core/tcp_stream.hpp>
#include <boost/beast/http/message.hpp>
#include <boost/beast/http/string_body.hpp>
#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <type_traits>
#if BRASTOK_TLS
#include <boost/asio/ssl/context.hpp>
#include <boost/beast/ssl/ssl_stream.hpp>
#endif

#include "web/web.hpp"

namespace asio = boost::asio;
namespace beast = boost::beast;
namespace http = beast::http;
using WEB_TCP = asio::ip::tcp;

// ---- limits (the README's Security section gives each with its figure) ----

// Bytes of a request line and its header fields together; beyond: 431.
constexpr uint32_t WEB_MAXHEADER = 8192;
// A connection's read buffer: the header and what a client sent behind it.
constexpr size_t WEB_MAXBUFFER = 16384;
// Seconds a whole request may take from its first byte, a connection may
// wait without one (a new one, or an idle keep-alive), and an answer (or an
// event stream's header) may take to be written.
constexpr std::chrono::seconds WEB_REQUESTTIME{5};
constexpr std::chrono::seconds WEB_IDLETIME{5};
constexpr std::chrono::seconds WEB_WRITETIME{5};
// Connections at once, all together and from one client address.
constexpr int WEB_MAXCONN = 256;
constexpr int WEB_MAXPERADDR = 16;
// Descriptors kept for the server's own files (ban file, logs, maps) and
// sockets: the connection cap stays this far below the process's limit.
constexpr int WEB_FDRESERVE = 64;
// Event streams at once, and the unsent bytes one may hold before its
// reader is taken for gone and it is dropped.
constexpr int WEB_MAXSTREAMS = 64;
constexpr size_t WEB_STREAMBACKLOG = 65536;

using WEB_TIME = std::chrono::steady_clock::time_point;

// The connections at once allowed here: WEB_MAXCONN, or fewer where the
// descriptor limit is low (set by WEB_START).
extern int WEB_CONNCAP;

// A connection's place among the caps, from its accept to its close,
// whichever session holds it: moved along with the socket, and given back
// when the last holder ends.
struct WEB_PLACE {
  asio::ip::address ADDR;
  bool HELD = false;
  WEB_PLACE() = default;
  WEB_PLACE(WEB_PLACE&& O) noexcept : ADDR(O.ADDR), HELD(O.HELD) { O.HELD = false; }
  WEB_PLACE& operator=(WEB_PLACE&& O) noexcept;
  ~WEB_PLACE();
};

// The streams a connection may be: plain TCP, or TLS over it.
using WEB_PLAIN = beast::tcp_stream;
#if BRASTOK_TLS
using WEB_TLS = beast::ssl_stream<beast::tcp_stream>;
// The server's certificate and key, while -httpcert is given.
extern std::unique_ptr<asio::ssl::context> WEB_SSLCTX;
#endif
template <class S>
constexpr bool WEB_ISTLS = !std::is_same_v<S, WEB_PLAIN>;

// The TCP stream under a stream, and its socket.
template <class S>
beast::tcp_stream& WEB_LOWEST(S& X) {
  return beast::get_lowest_layer(X);
}
template <class S>
WEB_TCP::socket& WEB_SOCKET(S& X) {
  return beast::get_lowest_layer(X).socket();
}

// A connection: its stream, what was read of it and not used yet, its
// place, and whether both its ends are on loopback (it never crosses a
// network).
template <class S>
struct WEB_CONN {
  S STREAM;
  beast::flat_buffer BUF;
  WEB_PLACE PLACE;
  bool LOOPBACK = false;
};

using WEB_REQ = http::request<http::string_body>;
using WEB_ANSWER = http::response<http::string_body>;

// Who asks: the client's address, whether the connection stays on this
// machine, whether it is TLS.
struct WEB_PEER {
  asio::ip::address ADDR;
  bool LOOPBACK;
  bool TLS;
};
// Gives a request its answer, now or later, on the I/O thread. FLIGHT
// marks an answer the game thread made, which a stop lets out first.
using WEB_REPLY = std::function<void(WEB_ANSWER A, bool FLIGHT)>;

// One route: a method and a path, the bytes of request body it takes,
// whether it is the admin API's (served only with -admins), and one of: a
// handler that answers; one that takes the connection over (an event
// stream; a WebSocket after its upgrade) and answers only when it will not;
// one that answers through REPLY, now or once the game thread has run a
// command.
template <class S>
struct WEB_ROUTE {
  http::verb METHOD;
  std::string_view PATH;
  uint32_t BODYCAP;
  bool ADMIN;
  WEB_ANSWER (*ANSWER)(const WEB_REQ&);
  std::optional<WEB_ANSWER> (*TAKE)(WEB_CONN<S>&, const WEB_REQ&);
  void (*ASK)(const WEB_REQ&, const WEB_PEER&, WEB_REPLY);
};

// The I/O thread's context, while the HTTP side runs.
extern std::unique_ptr<asio::io_context> WEB_IOC;

// An answer of STATUS with a text BODY of TYPE, for request R.
WEB_ANSWER WEB_TEXT(const WEB_REQ& R, http::status STATUS, std::string BODY,
                    std::string_view TYPE = "text/plain");

// A client address as the caps count it: an IPv4 client of a dual-stack
// listener (an IPv4-mapped IPv6 address) as the IPv4 address it is.
asio::ip::address WEB_PLAINADDR(const asio::ip::address& A);

// The route of request R; or null, with the answer to give instead in NONE
// (404, 405) (http.cpp).
template <class S>
const WEB_ROUTE<S>* WEB_FINDROUTE(const WEB_REQ& R, std::optional<WEB_ANSWER>& NONE);

// ---- the HTTP session (session.cpp) ----

// Serves connection C, just accepted with its place: an HTTP session, or
// first the detection of TLS on a port that speaks it too.
void WEB_SERVE(WEB_CONN<WEB_PLAIN>&& C);
// Closes the connection that has waited longest for a request (or its
// handshake), to make room for a new one; false when none waits.
bool WEB_MAKEROOM();

// ---- the browser game (play.cpp, play.hpp) ----

// The page, with its content policy.
WEB_ANSWER WEB_ONPLAY(const WEB_REQ& R);
// Takes connection C over for a game session after its upgrade request R;
// or answers why not (no upgrade, not IPv4, too many sessions).
template <class S>
std::optional<WEB_ANSWER> WEB_TAKEPLAY(WEB_CONN<S>& C, const WEB_REQ& R);
// Readies and ends the sessions' side of the bridge (the I/O thread is not
// running at either point).
void WEB_PLAYOPEN(asio::io_context& IOC);
void WEB_PLAYCLOSE();

// ---- the event stream (stream.cpp) ----

// Takes connection C over for an event stream after request R; or, when it
// will not (too many streams), leaves C alone and returns the answer.
template <class S>
std::optional<WEB_ANSWER> WEB_TAKEEVENTS(WEB_CONN<S>& C, const WEB_REQ& R);
// Readies and ends the streams' shared state (the I/O thread is not
// running at either point).
void WEB_STREAMSOPEN(asio::io_context& IOC);
void WEB_STREAMSCLOSE();

// ---- the admin API and its page (api.cpp, adminpage.cpp) ----

// Set by WEB_START: the admin API is on (-admins), and the port speaks TLS
// too (-httpcert).
extern bool WEB_APION;
extern bool WEB_TLSON;
// GET /api/status, POST /api/command, GET /admin.
void WEB_APISTATUS(const WEB_REQ& R, const WEB_PEER& P, WEB_REPLY REPLY);
void WEB_APICOMMAND(const WEB_REQ& R, const WEB_PEER& P, WEB_REPLY REPLY);
void WEB_ADMINPAGE(const WEB_REQ& R, const WEB_PEER& P, WEB_REPLY REPLY);
// The longest body of POST /api/command.
constexpr uint32_t WEB_APIBODYCAP = 1024;
// Answers the game thread made and the I/O thread has not written yet: a
// stop waits a little for them (the answer to "quit").
extern std::atomic<int> WEB_APIFLIGHT;
// Ends the API's state once the I/O thread has stopped.
void WEB_APICLOSE();
extern const char* const WEB_ADMINPAGETEXT;
