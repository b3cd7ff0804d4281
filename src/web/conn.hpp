// What the HTTP side's sessions share (http.cpp, stream.cpp): the limits,
// a connection and its place among the caps, requests and answers, and the
// routes that take a connection over. Included only inside web/: Boost's
// headers are large.
//
// One I/O thread runs every session, so nothing here needs a lock. A
// connection starts in an HTTP session, which reads requests and answers
// them; a route that speaks on after its answer (the event stream, later a
// WebSocket) takes the connection, with its place, into a session of its
// own.
#pragma once

#ifdef _WIN32
#include <utility> // before Asio's headers, which need it on MinGW
#endif

#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/beast/core/flat_buffer.hpp>
#include <boost/beast/core/tcp_stream.hpp>
#include <boost/beast/http/message.hpp>
#include <boost/beast/http/string_body.hpp>
#include <chrono>
#include <optional>

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

// A connection: its stream, what was read of it and not used yet, its
// place.
struct WEB_CONN {
  beast::tcp_stream STREAM;
  beast::flat_buffer BUF;
  WEB_PLACE PLACE;
};

using WEB_REQ = http::request<http::string_body>;
using WEB_ANSWER = http::response<http::string_body>;

// An answer of STATUS with a text BODY of TYPE, for request R.
WEB_ANSWER WEB_TEXT(const WEB_REQ& R, http::status STATUS, std::string BODY,
                    std::string_view TYPE = "text/plain");

// A client address as the caps count it: an IPv4 client of a dual-stack
// listener (an IPv4-mapped IPv6 address) as the IPv4 address it is.
asio::ip::address WEB_PLAINADDR(const asio::ip::address& A);

// ---- the browser game (play.cpp, play.hpp) ----

// The page, with its content policy.
WEB_ANSWER WEB_ONPLAY(const WEB_REQ& R);
// Takes connection C over for a game session after its upgrade request R;
// or answers why not (no upgrade, not IPv4, too many sessions).
std::optional<WEB_ANSWER> WEB_TAKEPLAY(WEB_CONN& C, const WEB_REQ& R);
// Readies and ends the sessions' side of the bridge (the I/O thread is not
// running at either point).
void WEB_PLAYOPEN(asio::io_context& IOC);
void WEB_PLAYCLOSE();

// ---- the event stream (stream.cpp) ----

// Takes connection C over for an event stream after request R; or, when it
// will not (too many streams), leaves C alone and returns the answer.
std::optional<WEB_ANSWER> WEB_TAKEEVENTS(WEB_CONN& C, const WEB_REQ& R);
// Readies and ends the streams' shared state (the I/O thread is not
// running at either point).
void WEB_STREAMSOPEN(asio::io_context& IOC);
void WEB_STREAMSCLOSE();
