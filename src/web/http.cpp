// The HTTP server: routes, limits and the event stream. The only file that
// includes the HTTP library, which is large.
#include <httplib.h>

#include <atomic>
#include <memory>
#include <mutex>
#include <thread>

#include "server/server.hpp"
#include "web/web.hpp"

// Limits that keep a public page safe: connections served at once, event
// streams among them (the rest stay free for short requests), seconds a
// connection may idle or take to send its request, bytes of a request body.
constexpr int WEB_MAXCONN = 32;
constexpr int WEB_MAXSTREAMS = 16;
constexpr time_t WEB_IDLESEC = 5;
constexpr size_t WEB_MAXBODY = 1024;
// A stream sends a comment when nothing changed for this long, so a dead
// peer is noticed.
constexpr int WEB_KEEPALIVEMS = 15000;

static std::unique_ptr<httplib::Server> WEB_SVR;
static std::thread WEB_THREAD;
static std::atomic<int> WEB_STREAMS;

// The snapshot of one request: too large for a thread's stack.
struct WEB_COPY {
  TSNAPSHOT S;
  WEB_LOOPSTATS L;
};
static std::unique_ptr<WEB_COPY> WEB_TAKE() {
  auto C = std::make_unique<WEB_COPY>();
  WEB_READ(C->S, C->L);
  return C;
}

static void WEB_ONSTATUS(const httplib::Request&, httplib::Response& RES) {
  auto C = WEB_TAKE();
  RES.set_header("Cache-Control", "no-store");
  RES.set_content(WEB_STATUSJSON(C->S, true), "application/json");
}

static void WEB_ONMETRICS(const httplib::Request&, httplib::Response& RES) {
  auto C = WEB_TAKE();
  RES.set_content(WEB_METRICS(C->S, C->L), "text/plain; version=0.0.4; charset=utf-8");
}

static void WEB_ONHEALTH(const httplib::Request&, httplib::Response& RES) {
  int64_t LATE = WEB_LATEMS();
  RES.set_header("Cache-Control", "no-store");
  if (LATE > 1000) {
    RES.status = 503;
    RES.set_content("late: the game loop is " + std::to_string(LATE) + " ms behind\n",
                    "text/plain");
  } else {
    RES.set_content("ok\n", "text/plain");
  }
}

static void WEB_ONPAGE(const httplib::Request&, httplib::Response& RES) {
  // The page loads nothing from anywhere and talks only to this server.
  RES.set_header("Content-Security-Policy", "default-src 'none'; script-src 'unsafe-inline'; "
                                            "style-src 'unsafe-inline'; connect-src 'self'");
  RES.set_content(WEB_PAGE, "text/html; charset=utf-8");
}

// One stream's place: the snapshot it sent last.
struct WEB_STREAM {
  uint64_t SEQ = 0;
  uint32_t MAPLOADS = UINT32_MAX;
  std::unique_ptr<WEB_COPY> C = std::make_unique<WEB_COPY>();
};

// The event of the newest snapshot without the map text, made once for all
// the streams that send it.
static std::mutex WEB_EVMX;
static uint64_t WEB_EVSEQ;
static std::shared_ptr<const std::string> WEB_EV;

static std::shared_ptr<const std::string> WEB_EVENT(const TSNAPSHOT& S, bool WITHMAP) {
  if (WITHMAP) {
    return std::make_shared<const std::string>("data: " + WEB_STATUSJSON(S, true) + "\n\n");
  }
  std::lock_guard<std::mutex> LOCK(WEB_EVMX);
  if (WEB_EVSEQ != S.SEQ || !WEB_EV) {
    WEB_EV = std::make_shared<const std::string>("data: " + WEB_STATUSJSON(S, false) + "\n\n");
    WEB_EVSEQ = S.SEQ;
  }
  return WEB_EV;
}

static bool WEB_STREAMNEXT(WEB_STREAM& W, httplib::DataSink& SINK) {
  // One event per snapshot at most, and the loop publishes one per cycle:
  // cycles start at least 30 ms apart.
  if (!WEB_WAITNEWER(W.SEQ, WEB_KEEPALIVEMS)) {
    static const char KEEP[] = ": still here\n\n";
    return !WEB_STOPPING() && SINK.write(KEEP, sizeof KEEP - 1);
  }
  WEB_READ(W.C->S, W.C->L);
  W.SEQ = W.C->S.SEQ;
  // The map text goes with the first event and after each map load only.
  bool WITHMAP = W.C->S.MAPLOADS != W.MAPLOADS;
  W.MAPLOADS = W.C->S.MAPLOADS;
  std::shared_ptr<const std::string> EV = WEB_EVENT(W.C->S, WITHMAP);
  return SINK.write(EV->data(), EV->size());
}

static void WEB_ONEVENTS(const httplib::Request&, httplib::Response& RES) {
  if (++WEB_STREAMS > WEB_MAXSTREAMS) {
    WEB_STREAMS--;
    RES.status = 503;
    RES.set_content("too many event streams\n", "text/plain");
    return;
  }
  RES.set_header("Cache-Control", "no-store");
  auto W = std::make_shared<WEB_STREAM>();
  RES.set_chunked_content_provider(
      "text/event-stream",
      [W](size_t, httplib::DataSink& SINK) {
        if (W->SEQ == 0) {
          // Reconnect a second after the server went away.
          static const char RETRY[] = "retry: 1000\n\n";
          if (!SINK.write(RETRY, sizeof RETRY - 1)) {
            return false;
          }
        }
        return WEB_STREAMNEXT(*W, SINK);
      },
      [](bool) { WEB_STREAMS--; });
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
  WEB_SVR = std::make_unique<httplib::Server>();
  httplib::Server& S = *WEB_SVR;
  S.new_task_queue = [] { return new httplib::ThreadPool(WEB_MAXCONN); };
  S.set_read_timeout(WEB_IDLESEC);
  S.set_write_timeout(WEB_IDLESEC);
  S.set_keep_alive_timeout(WEB_IDLESEC);
  S.set_payload_max_length(WEB_MAXBODY);
  S.set_default_headers({{"X-Content-Type-Options", "nosniff"}});
  S.set_pre_routing_handler([](const httplib::Request& REQ, httplib::Response& RES) {
    if (REQ.method == "GET") {
      return httplib::Server::HandlerResponse::Unhandled;
    }
    RES.status = 405;
    RES.set_header("Allow", "GET");
    RES.set_content("only GET\n", "text/plain");
    return httplib::Server::HandlerResponse::Handled;
  });
  S.set_error_handler([](const httplib::Request&, httplib::Response& RES) {
    if (RES.body.empty()) {
      RES.set_content(std::to_string(RES.status) + "\n", "text/plain");
    }
  });
  S.Get("/", WEB_ONPAGE);
  S.Get("/status.json", WEB_ONSTATUS);
  S.Get("/events", WEB_ONEVENTS);
  S.Get("/metrics", WEB_ONMETRICS);
  S.Get("/healthz", WEB_ONHEALTH);
  if (PORT == 0) {
    PORT = S.bind_to_any_port(HOST);
  } else if (!S.bind_to_port(HOST, PORT)) {
    PORT = -1;
  }
  if (PORT <= 0) {
    SC_WARN("option -http: cannot listen on " + ARG);
    WEB_SVR.reset();
    return false;
  }
  WEB_OPEN();
  WEB_THREAD = std::thread([] { WEB_SVR->listen_after_bind(); });
  std::string SHOWN = HOST.find(':') != std::string::npos ? "[" + HOST + "]" : HOST;
  std::string LINE = "HTTP initialized! http://" + SHOWN + ":" + std::to_string(PORT) + "/";
  SC_WRITELN(LINE);
  REC_RECORDOUTPUT(LINE); // a replay serves no HTTP, but shows the line
  return true;
}

void WEB_STOP() {
  if (!WEB_SVR) {
    return;
  }
  WEB_CLOSE();
  WEB_SVR->stop();
  if (WEB_THREAD.joinable()) {
    WEB_THREAD.join();
  }
  WEB_SVR.reset();
}
