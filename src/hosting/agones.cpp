// The lifecycle reported to the Agones SDK sidecar over its REST interface
// (the gRPC gateway of the SDK server) on 127.0.0.1:
//   POST /ready            {}                                   once, retried
//   POST /health           {}                                   every 2 s while on time
//   PUT  /metadata/label   {"key":"players","value":"N"}        when N changes
//   POST /shutdown         {}                                   at the stop
// The sidecar may come up after the server: Ready is tried every second
// until it is taken. Agones puts "agones.dev/sdk-" before the label's key.
#include <boost/beast/http/verb.hpp>
#include <cstdlib>
#include <nlohmann/json.hpp>

#include "hosting/io.hpp"
#include "server/server.hpp"

namespace asio = boost::asio;
using boost::beast::http::verb;

bool HOST_AGONESPORTOF(uint16_t& PORT, std::string& ERR) {
  const char* E = std::getenv("AGONES_SDK_HTTP_PORT");
  PORT = HOST_AGONESPORT;
  if (E == nullptr || *E == 0) {
    return true;
  }
  std::string S = E;
  uint32_t V = 0;
  bool OK = S.size() <= 5;
  for (char C : S) {
    OK = OK && C >= '0' && C <= '9';
    V = V * 10 + uint32_t(C - '0');
  }
  if (!OK || V < 1 || V > 65535) {
    ERR = "AGONES_SDK_HTTP_PORT is not a port from 1 to 65535: \"" + SC_PRINTABLE(S) + "\"";
    return false;
  }
  PORT = uint16_t(V);
  return true;
}

static HOST_URL HOST_SIDECAR(uint16_t PORT, const char* PATH) {
  std::string HOST = "127.0.0.1";
  return HOST_URL{false, HOST, PORT, PATH, "http://" + HOST + ":" + std::to_string(PORT)};
}

static bool HOST_OK(const HOST_ANSWER& A) {
  return A.STATUS >= 200 && A.STATUS < 300;
}

// Waits until NEXT (HOST_NOWMS) or the stop. The idle wait also ends when
// webhook bodies are queued: it is taken up again for the rest.
static asio::awaitable<void> HOST_SLEEPUNTIL(int64_t NEXT) {
  while (!HOST_STOPPING && HOST_NOWMS() < NEXT) {
    co_await HOST_SLEEP(NEXT - HOST_NOWMS(), true);
  }
}

asio::awaitable<void> HOST_AGONESREADY(uint16_t PORT) {
  bool TOLD = false;
  while (!HOST_STOPPING) {
    int64_t NEXT = HOST_NOWMS() + HOST_READYRETRYMS;
    HOST_ANSWER A =
        co_await HOST_REQUEST(HOST_SIDECAR(PORT, "/ready"), verb::post, "{}", HOST_AGONESTIMEOUTMS);
    if (HOST_OK(A)) {
      break;
    }
    if (!TOLD) {
      HOST_NOTE("agones: the SDK sidecar did not take Ready (" + A.WHY +
                "); trying again every second");
      TOLD = true;
    }
    co_await HOST_SLEEPUNTIL(NEXT);
  }
  // The players label: at most one a second, only when the number changed
  // since the one the sidecar took.
  int SET = -1;
  while (!HOST_STOPPING) {
    int64_t NEXT = HOST_NOWMS() + HOST_LABELMS;
    int N = HOST_HUMANS.load();
    if (N != SET) {
      nlohmann::json J = {{"key", "players"}, {"value", std::to_string(N)}};
      HOST_ANSWER A = co_await HOST_REQUEST(HOST_SIDECAR(PORT, "/metadata/label"), verb::put,
                                            J.dump(), HOST_AGONESTIMEOUTMS);
      SET = HOST_OK(A) ? N : SET;
    }
    co_await HOST_SLEEPUNTIL(NEXT);
  }
}

asio::awaitable<void> HOST_AGONESHEALTH(uint16_t PORT) {
  int64_t NEXT = HOST_NOWMS();
  while (!HOST_STOPPING) {
    // A loop that has not cycled for a while is stuck: no ping, so that
    // Agones finds the server unhealthy and replaces it.
    if (HOST_NOWMS() - HOST_CYCLEMS.load() <= HOST_STALLMS) {
      co_await HOST_REQUEST(HOST_SIDECAR(PORT, "/health"), verb::post, "{}", HOST_AGONESTIMEOUTMS);
    }
    NEXT += HOST_HEALTHMS;
    if (NEXT < HOST_NOWMS()) {
      NEXT = HOST_NOWMS() + HOST_HEALTHMS; // a ping slower than the period
    }
    co_await HOST_SLEEPUNTIL(NEXT);
  }
}

asio::awaitable<void> HOST_AGONESSHUTDOWN(uint16_t PORT) {
  for (;;) {
    int64_t LEFT = HOST_STOPDEADLINE - HOST_NOWMS();
    if (LEFT <= 0) {
      co_return;
    }
    HOST_ANSWER A = co_await HOST_REQUEST(HOST_SIDECAR(PORT, "/shutdown"), verb::post, "{}",
                                          int(std::min<int64_t>(LEFT, HOST_AGONESTIMEOUTMS)));
    if (HOST_OK(A)) {
      co_return;
    }
    co_await HOST_SLEEP(std::min<int64_t>(250, HOST_STOPDEADLINE - HOST_NOWMS()), false);
  }
}
