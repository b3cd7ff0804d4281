// The I/O thread of hosting: started once the UDP port is bound, ended before
// the exit. One io_context, one thread, every request a coroutine on it; the
// game thread hands it work only through the queue and HOST_NOTIFY.
#include <algorithm>
#include <boost/asio/co_spawn.hpp>
#include <boost/asio/post.hpp>
#include <boost/asio/redirect_error.hpp>
#include <boost/asio/use_awaitable.hpp>
#include <chrono>
#include <condition_variable>
#include <exception>
#include <mutex>
#include <thread>

#include "hosting/io.hpp"
#include "record/record.hpp"
#include "server/server.hpp"

namespace asio = boost::asio;

asio::io_context* HOST_IO;
bool HOST_STOPPING;
int64_t HOST_STOPDEADLINE;

static std::thread HOST_THREAD;
// The thread's run ended: every coroutine is done, or the io_context stopped.
static std::mutex HOST_ENDLOCK;
static std::condition_variable HOST_ENDCV;
static bool HOST_RUNENDED;
// The idle waits in progress (I/O thread only): new bodies and the stop end
// them early.
static std::vector<asio::steady_timer*> HOST_IDLEWAITS;
static uint16_t HOST_SIDECARPORT;

asio::awaitable<void> HOST_SLEEP(int64_t MS, bool IDLE) {
  asio::steady_timer T(co_await asio::this_coro::executor);
  T.expires_after(std::chrono::milliseconds(std::max<int64_t>(MS, 0)));
  if (IDLE) {
    HOST_IDLEWAITS.push_back(&T);
  }
  boost::system::error_code E;
  co_await T.async_wait(asio::redirect_error(asio::use_awaitable, E));
  if (IDLE) {
    HOST_IDLEWAITS.erase(std::find(HOST_IDLEWAITS.begin(), HOST_IDLEWAITS.end(), &T));
  }
}

static void HOST_WAKEIDLE() {
  for (asio::steady_timer* T : HOST_IDLEWAITS) {
    T->cancel();
  }
}

static void HOST_POSTWAKE() {
  asio::post(*HOST_IO, HOST_WAKEIDLE);
}

// A coroutine that ends by an exception (memory ran out) ends alone: the
// operator hears of it, the game goes on.
static void HOST_SPAWN(asio::awaitable<void> A) {
  asio::co_spawn(*HOST_IO, std::move(A), [](std::exception_ptr P) {
    if (P) {
      HOST_NOTE("hosting: a task of the I/O thread failed and ended");
    }
  });
}

static void HOST_RUN() {
  SC_BLOCKSTOPSIGNALS();
  HOST_IO->run();
  std::lock_guard<std::mutex> L(HOST_ENDLOCK);
  HOST_RUNENDED = true;
  HOST_ENDCV.notify_all();
}

static void HOST_LINE(const std::string& LINE) {
  SC_WRITELN(LINE);
  REC_RECORDOUTPUT(LINE); // a replay posts nothing, but shows the line
}

void HOST_CYCLE() {
  if (!HOST_ON) {
    return;
  }
  HOST_CYCLEMS.store(HOST_NOWMS());
  HOST_HUMANS.store(SV_HUMANS());
  for (const std::string& N : HOST_TAKENOTES()) {
    SC_WARN(N);
  }
}

bool HOST_START() {
  if (HOST_AGONES == 0 && HOST_WEBHOOKS.empty()) {
    return true;
  }
  // Everything is checked before anything starts.
  std::vector<HOST_URL> URLS(HOST_WEBHOOKS.size());
  bool TLS = false;
  for (size_t K = 0; K < URLS.size(); K++) {
    std::string ERR;
    if (!HOST_PARSEURL(HOST_WEBHOOKS[K], URLS[K], ERR)) {
      SC_ERROR("option -webhook " + HOST_URLSHOWN(HOST_WEBHOOKS[K]) + ": " + ERR);
      return false;
    }
    if (URLS[K].TLS && !HOST_CANTLS) {
      SC_ERROR("option -webhook " + URLS[K].SHOWN +
               ": this build of the server cannot post over HTTPS (it has no TLS library); "
               "use an http: URL");
      return false;
    }
    TLS = TLS || URLS[K].TLS;
  }
  if (HOST_AGONES != 0) {
    std::string ERR;
    if (!HOST_AGONESPORTOF(HOST_SIDECARPORT, ERR)) {
      SC_ERROR("option -agones: " + ERR);
      return false;
    }
  }
  if (TLS) {
    try {
      HOST_TLSOPEN();
    } catch (const std::exception& X) {
      SC_ERROR(std::string("option -webhook: cannot set up TLS: ") + X.what());
      return false;
    }
  }
  HOST_IO = new asio::io_context(1);
  HOST_STOPPING = false;
  HOST_RUNENDED = false;
  HOST_QUEUEOPEN();
  for (size_t K = 0; K < URLS.size(); K++) {
    HOST_SPAWN(HOST_WEBHOOKWORKER(K, URLS[K]));
  }
  if (HOST_AGONES != 0) {
    HOST_SPAWN(HOST_AGONESREADY(HOST_SIDECARPORT));
    HOST_SPAWN(HOST_AGONESHEALTH(HOST_SIDECARPORT));
  }
  HOST_CYCLEMS.store(HOST_NOWMS());
  HOST_HUMANS.store(SV_HUMANS());
  HOST_NOTIFY = HOST_POSTWAKE;
  HOST_ON = true;
  HOST_ENQUEUE(HOST_STARTBODY());
  HOST_THREAD = std::thread(HOST_RUN);
  if (HOST_AGONES != 0) {
    HOST_LINE("Agones SDK initialized! http://127.0.0.1:" + std::to_string(HOST_SIDECARPORT) + "/");
  }
  if (!URLS.empty()) {
    std::string LINE = "Webhooks initialized!";
    for (size_t K = 0; K < URLS.size(); K++) {
      LINE += (K == 0 ? " " : ", ") + URLS[K].SHOWN;
    }
    HOST_LINE(LINE);
  }
  return true;
}

void HOST_STOP() {
  if (!HOST_ON) {
    return;
  }
  HOST_ENQUEUE(HOST_STOPBODY());
  int64_t DEADLINE = HOST_NOWMS() + HOST_STOPWAITMS;
  asio::post(*HOST_IO, [DEADLINE] {
    HOST_STOPPING = true;
    HOST_STOPDEADLINE = DEADLINE;
    if (HOST_AGONES != 0) {
      HOST_SPAWN(HOST_AGONESSHUTDOWN(HOST_SIDECARPORT));
    }
    HOST_WAKEIDLE();
  });
  {
    std::unique_lock<std::mutex> L(HOST_ENDLOCK);
    HOST_ENDCV.wait_for(L, std::chrono::milliseconds(HOST_STOPWAITMS),
                        [] { return HOST_RUNENDED; });
  }
  // What is not done by now is left: the requests still open are abandoned.
  HOST_IO->stop();
  HOST_THREAD.join();
  HOST_ON = false;
  HOST_NOTIFY = nullptr;
  // Coroutines still waiting are destroyed with the io_context, before the
  // TLS context their streams use.
  delete HOST_IO;
  HOST_IO = nullptr;
  HOST_IDLEWAITS.clear();
  HOST_TLSCLOSE();
  HOST_QUEUECLOSE();
}
