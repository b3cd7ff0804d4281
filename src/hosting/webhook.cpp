// One worker per webhook URL: posts the bodies queued for it, in order, one
// at a time. A 429 or a 5xx is tried again after the Retry-After it gave, or
// else after a back-off of 1, 2, 4, 8 s; so is a try that got no answer. Any
// other answer but 2xx gives the delivery up, as does a refused certificate.
#include <boost/beast/http/verb.hpp>

#include "hosting/io.hpp"

namespace asio = boost::asio;
using boost::beast::http::verb;

static bool HOST_WORTHRETRY(const HOST_ANSWER& A) {
  return A.STATUS == 429 || A.STATUS >= 500 || (A.STATUS == 0 && !A.PERMANENT);
}

asio::awaitable<void> HOST_WEBHOOKWORKER(size_t K, HOST_URL U) {
  std::string BODY;
  for (;;) {
    if (!HOST_TAKE(K, BODY)) {
      if (HOST_STOPPING) {
        co_return;
      }
      co_await HOST_SLEEP(3600000, true);
      continue;
    }
    int64_t BACKOFF = HOST_BACKOFFMS;
    for (int TRY = 1;; TRY++) {
      HOST_ANSWER A = co_await HOST_REQUEST(U, verb::post, BODY, HOST_WEBHOOKTIMEOUTMS);
      if (A.STATUS >= 200 && A.STATUS < 300) {
        HOST_STATS.SENT++;
        break;
      }
      int64_t WAIT = A.RETRYMS >= 0 ? A.RETRYMS : BACKOFF;
      if (!HOST_WORTHRETRY(A) || TRY >= HOST_TRIES || WAIT > HOST_RETRYMAXMS) {
        HOST_STATS.FAILED++;
        HOST_NOTE("webhook " + U.SHOWN + ": gave a delivery up after " + std::to_string(TRY) +
                  (TRY == 1 ? " try" : " tries") + " (" + A.WHY + ")");
        break;
      }
      // Not cut short by the stop: a receiver that asked for a pause gets
      // it, and what the stop's wait cannot cover is counted as dropped.
      co_await HOST_SLEEP(WAIT, false);
      BACKOFF *= 2;
    }
    HOST_DONE(K);
  }
}
