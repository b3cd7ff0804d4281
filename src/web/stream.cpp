// The event stream (/events): Server-Sent Events that follow the match.
//
// A new stream gets the whole status (with the map text) first; after that,
// every WEB_EVENTMS, one "delta" event with what changed in what the status
// shows (WEB_DELTAJSON) when anything did, and the whole status again after
// a map load. One ticker makes each event once, for every stream, and runs
// only while a stream is open; it reads the newest published snapshot, so
// the game thread wakes nobody. Commands run on the server (who ran what)
// go out as "admin" events from the same ticker.
//
// A stream holds at most WEB_STREAMBACKLOG unsent bytes: a reader that
// stops reading is dropped once it is that far behind, so nothing queues
// without bound. Its writes have no time-out of their own (a timer per
// write would cost each event a few system calls per stream).
#include <boost/asio/steady_timer.hpp>
#include <boost/beast/http/chunk_encode.hpp>
#include <boost/beast/http/empty_body.hpp>
#include <boost/beast/http/write.hpp>
#include <deque>
#include <memory>
#include <nlohmann/json.hpp>
#include <vector>

#include "admin/admin.hpp"
#include "web/conn.hpp"

// Events go out at most this often. Each costs a wake-up of the I/O thread
// and a write per stream, which on loopback cost about as much as a whole
// game cycle at full load with its datagrams; every 500 ms keeps an open
// page within a few percent of the server's own work, and the page moves
// its markers smoothly from one event to the next.
constexpr int WEB_EVENTMS = 500;
// A stream sends a comment when nothing changed for this long, so that a
// dead peer is noticed.
constexpr int64_t WEB_KEEPALIVEMS = 15000;
// The kernel's send buffer of a stream: with the backlog above, what a
// reader that stopped reading holds of this server.
constexpr int WEB_STREAMSNDBUF = 16384;

using WEB_EVENT = std::shared_ptr<const std::string>;

// What the ticker sees of a stream, whatever its stream type.
class WEB_STREAMBASE {
public:
  virtual ~WEB_STREAMBASE() = default;
  // Queues an event; drops the stream when its reader fell too far behind.
  virtual void PUSH(const WEB_EVENT& EV) = 0;
  virtual bool OPEN() = 0;
};
static void WEB_JOIN(const std::shared_ptr<WEB_STREAMBASE>& S);

template <class ST>
class WEB_STREAMSESSION : public WEB_STREAMBASE,
                          public std::enable_shared_from_this<WEB_STREAMSESSION<ST>> {
public:
  WEB_STREAMSESSION(WEB_CONN<ST>&& C, const WEB_REQ& R) : C_(std::move(C)) {
    WEB_HTTP.STREAMS++;
    // HTTP/1.0 knows no chunks: its stream is the body up to the close.
    CHUNKED_ = R.version() >= 11;
    HEAD_.version(R.version());
    HEAD_.result(http::status::ok);
    HEAD_.set(http::field::content_type, "text/event-stream");
    HEAD_.set(http::field::cache_control, "no-store");
    HEAD_.set("X-Content-Type-Options", "nosniff");
    HEAD_.keep_alive(false);
    HEAD_.chunked(CHUNKED_);
  }
  ~WEB_STREAMSESSION() override { WEB_HTTP.STREAMS--; }

  void RUN() {
    beast::error_code EC;
    WEB_SOCKET(C_.STREAM).set_option(asio::socket_base::send_buffer_size(WEB_STREAMSNDBUF), EC);
    SERIAL_.emplace(HEAD_);
    WEB_LOWEST(C_.STREAM).expires_after(WEB_WRITETIME);
    http::async_write_header(C_.STREAM, *SERIAL_,
                             [S = this->shared_from_this()](beast::error_code EC, size_t) {
                               if (!EC) {
                                 WEB_LOWEST(S->C_.STREAM).expires_never();
                                 S->WATCH();
                                 WEB_JOIN(S);
                               }
                             });
  }

  void PUSH(const WEB_EVENT& EV) override {
    if (!WEB_SOCKET(C_.STREAM).is_open()) {
      return;
    }
    QUEUE_.push_back(EV);
    QUEUED_ += EV->size();
    if (QUEUED_ > WEB_STREAMBACKLOG) {
      WEB_HTTP.SLOWREADER++;
      CLOSE();
      return;
    }
    if (SENDING_.empty()) {
      SEND();
    }
  }

  bool OPEN() override { return WEB_SOCKET(C_.STREAM).is_open(); }

private:
  WEB_CONN<ST> C_;
  bool CHUNKED_;
  http::response<http::empty_body> HEAD_;
  std::optional<http::response_serializer<http::empty_body>> SERIAL_;
  std::deque<WEB_EVENT> QUEUE_;    // not yet being written
  std::vector<WEB_EVENT> SENDING_; // being written, held until it is done
  size_t QUEUED_ = 0;              // bytes of both
  char SINK_[512];

  void CLOSE() {
    beast::error_code EC;
    WEB_SOCKET(C_.STREAM).close(EC);
  }

  // Everything queued in one write (one chunk).
  void SEND() {
    std::vector<asio::const_buffer> B;
    while (!QUEUE_.empty()) {
      SENDING_.push_back(std::move(QUEUE_.front()));
      QUEUE_.pop_front();
      B.emplace_back(SENDING_.back()->data(), SENDING_.back()->size());
    }
    auto DONE = [S = this->shared_from_this()](beast::error_code EC, size_t) {
      if (EC) {
        S->CLOSE();
        return;
      }
      for (const WEB_EVENT& E : S->SENDING_) {
        S->QUEUED_ -= E->size();
      }
      S->SENDING_.clear();
      if (!S->QUEUE_.empty()) {
        S->SEND();
      }
    };
    if (CHUNKED_) {
      asio::async_write(C_.STREAM, http::make_chunk(B), std::move(DONE));
    } else {
      asio::async_write(C_.STREAM, B, std::move(DONE));
    }
  }

  // Reads what the client sends (nothing, normally) only to notice when it
  // goes: a closed page ends its stream at once. TLS reads through its
  // stream (a peer's close_notify is a record too).
  void WATCH() {
    auto ON = [S = this->shared_from_this()](beast::error_code EC, size_t) {
      if (EC) {
        S->CLOSE();
      } else {
        S->WATCH();
      }
    };
    if constexpr (WEB_ISTLS<ST>) {
      C_.STREAM.async_read_some(asio::buffer(SINK_), std::move(ON));
    } else {
      C_.STREAM.socket().async_read_some(asio::buffer(SINK_), std::move(ON));
    }
  }
};

template <class ST>
std::optional<WEB_ANSWER> WEB_TAKEEVENTS(WEB_CONN<ST>& C, const WEB_REQ& R) {
  if (WEB_HTTP.STREAMS >= uint64_t(WEB_MAXSTREAMS)) {
    return WEB_TEXT(R, http::status::service_unavailable, "too many event streams\n");
  }
  std::make_shared<WEB_STREAMSESSION<ST>>(std::move(C), R)->RUN();
  return std::nullopt;
}
template std::optional<WEB_ANSWER> WEB_TAKEEVENTS(WEB_CONN<WEB_PLAIN>&, const WEB_REQ&);
#if BRASTOK_TLS
template std::optional<WEB_ANSWER> WEB_TAKEEVENTS(WEB_CONN<WEB_TLS>&, const WEB_REQ&);
#endif

// ---- the ticker ----

static std::unique_ptr<asio::steady_timer> WEB_TICKER;
static bool WEB_TICKING; // its wait is pending
static std::vector<std::weak_ptr<WEB_STREAMBASE>> WEB_STREAMS;
// The snapshot the last event was made of (valid while WEB_HAVESENT), and
// room for the next one: too large for a stack.
static std::unique_ptr<TSNAPSHOT> WEB_SENT, WEB_NEXT;
static bool WEB_HAVESENT;
static WEB_LOOPSTATS WEB_IGNORED;
static int64_t WEB_LASTEVENTMS;
// The first event of a new stream, made once per snapshot.
static WEB_EVENT WEB_WELCOME;
static uint64_t WEB_WELCOMESEQ;

static WEB_EVENT WEB_WHOLE(const TSNAPSHOT& S, const char* BEFORE) {
  return std::make_shared<const std::string>(
      std::string(BEFORE) + "data: " + WEB_STATUSJSON(S, true, WEB_PUBLIC) + "\n\n");
}

static void WEB_SENDALL(const WEB_EVENT& EV) {
  std::erase_if(WEB_STREAMS, [&](const std::weak_ptr<WEB_STREAMBASE>& W) {
    auto S = W.lock();
    if (!S || !S->OPEN()) {
      return true;
    }
    S->PUSH(EV);
    return false;
  });
  WEB_LASTEVENTMS = WEB_NOWMS();
}

// Who ran which command since the last tick: one "admin" event each,
// which a reader that listens only for the status and its deltas never
// sees. On a public address the admin's address is left out, as players'
// are.
static void WEB_SENDADMINS() {
  static std::vector<TADMRECORD> RECS;
  ADM_TAKERECORDS(RECS);
  for (const TADMRECORD& A : RECS) {
    nlohmann::json J;
    J["admin"] = STATUS_UTF8TEXT(A.ADMIN);
    if (!WEB_PUBLIC) {
      J["address"] = A.ADDRESS.empty() ? nlohmann::json(nullptr) : nlohmann::json(A.ADDRESS);
    }
    J["command"] = STATUS_UTF8TEXT(A.COMMAND);
    J["ok"] = A.OK;
    WEB_SENDALL(std::make_shared<const std::string>("event: admin\ndata: " + J.dump() + "\n\n"));
  }
}

static void WEB_ARM();

static void WEB_TICK() {
  WEB_TICKING = false;
  std::erase_if(WEB_STREAMS, [](const std::weak_ptr<WEB_STREAMBASE>& W) {
    auto S = W.lock();
    return !S || !S->OPEN();
  });
  if (WEB_STREAMS.empty()) {
    WEB_HAVESENT = false; // the next stream starts from a fresh snapshot
    return;
  }
  WEB_SENDADMINS();
  if (WEB_NEWESTSEQ() != WEB_SENT->SEQ) {
    WEB_READ(*WEB_NEXT, WEB_IGNORED);
    static std::string DELTA;
    if (!WEB_DELTAJSON(*WEB_SENT, *WEB_NEXT, WEB_PUBLIC, DELTA)) {
      WEB_SENDALL(WEB_WHOLE(*WEB_NEXT, ""));
    } else if (!DELTA.empty()) {
      WEB_SENDALL(std::make_shared<const std::string>("event: delta\ndata: " + DELTA + "\n\n"));
    }
    std::swap(WEB_SENT, WEB_NEXT);
  }
  if (WEB_NOWMS() - WEB_LASTEVENTMS >= WEB_KEEPALIVEMS) {
    static const WEB_EVENT KEEP = std::make_shared<const std::string>(": still here\n\n");
    WEB_SENDALL(KEEP);
  }
  WEB_ARM();
}

// Wakes WEB_EVENTMS after the last look.
static void WEB_ARM() {
  if (WEB_TICKING) {
    return;
  }
  WEB_TICKING = true;
  WEB_TICKER->expires_after(std::chrono::milliseconds(WEB_EVENTMS));
  WEB_TICKER->async_wait([](beast::error_code EC) {
    if (!EC) {
      WEB_TICK();
    }
  });
}

static void WEB_JOIN(const std::shared_ptr<WEB_STREAMBASE>& S) {
  if (!WEB_HAVESENT) {
    WEB_READ(*WEB_SENT, WEB_IGNORED);
    WEB_HAVESENT = true;
    WEB_LASTEVENTMS = WEB_NOWMS();
    // Commands run while no stream was open are nobody's news now.
    static std::vector<TADMRECORD> OLD;
    ADM_TAKERECORDS(OLD);
  }
  if (!WEB_WELCOME || WEB_WELCOMESEQ != WEB_SENT->SEQ) {
    // Reconnect a second after the server went away.
    WEB_WELCOME = WEB_WHOLE(*WEB_SENT, "retry: 1000\n\n");
    WEB_WELCOMESEQ = WEB_SENT->SEQ;
  }
  S->PUSH(WEB_WELCOME);
  WEB_STREAMS.push_back(S);
  WEB_ARM();
}

void WEB_STREAMSOPEN(asio::io_context& IOC) {
  WEB_TICKER = std::make_unique<asio::steady_timer>(IOC);
  WEB_TICKING = false;
  WEB_SENT = std::make_unique<TSNAPSHOT>();
  WEB_NEXT = std::make_unique<TSNAPSHOT>();
  WEB_HAVESENT = false;
  WEB_WELCOME.reset();
}

void WEB_STREAMSCLOSE() {
  WEB_STREAMS.clear();
  WEB_WELCOME.reset();
  WEB_TICKER.reset();
}
