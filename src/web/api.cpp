// The admin API on the I/O thread: who may ask (TLS off loopback, the
// lockout, the token, the role), the status with the players' addresses,
// and commands handed to the game thread and answered once it ran them.
//
// A command never runs here: it is queued for the game thread, which runs
// it after the cycle through the one command table, as it runs the
// console's lines, and hands back its answer lines; WEB_APIANSWERS posts
// them here, where the request that asked is answered.
#include <boost/asio/post.hpp>
#include <cstdio>
#include <deque>
#include <map>
#include <nlohmann/json.hpp>

#include "admin/admin.hpp"
#include "web/conn.hpp"

bool WEB_APION;
bool WEB_TLSON;
std::atomic<int> WEB_APIFLIGHT{0};

// Failed tries (a wrong token) from one address within WEB_FAILWINDOWMS
// that lock it out, and for how long; how many addresses are kept.
constexpr int WEB_MAXFAILS = 5;
constexpr int64_t WEB_FAILWINDOWMS = 10 * 60 * 1000;
constexpr int64_t WEB_LOCKMS = 10 * 60 * 1000;
constexpr size_t WEB_MAXTRIED = 4096;

struct WEB_TRIES {
  std::deque<int64_t> FAILS; // when each recent failure was, oldest first
  int64_t LOCKEDUNTIL = 0;
};
// By address: IPv4 whole, IPv6 by its /64, which is what one client holds.
static std::map<std::string, WEB_TRIES> WEB_TRIED;

// The requests waiting for the game thread, by job.
static std::map<uint64_t, WEB_REPLY> WEB_ASKING;
static uint64_t WEB_NEXTJOB;

static std::string WEB_TRIEDKEY(const asio::ip::address& A) {
  if (A.is_v6()) {
    auto B = A.to_v6().to_bytes();
    std::fill(B.begin() + 8, B.end(), 0);
    return asio::ip::make_address_v6(B).to_string() + "/64";
  }
  return A.to_string();
}

// An answer of the API: JSON, never stored by anyone.
static WEB_ANSWER WEB_APIJSON(const WEB_REQ& R, http::status ST, const nlohmann::json& J) {
  WEB_ANSWER A = WEB_TEXT(R, ST, J.dump() + "\n", "application/json");
  A.set(http::field::cache_control, "no-store");
  return A;
}

// A refusal: {"ok": false, "lines": [], "error": WHY}.
static WEB_ANSWER WEB_APIREFUSE(const WEB_REQ& R, http::status ST, const std::string& WHY) {
  return WEB_APIJSON(R, ST, {{"ok", false}, {"lines", nlohmann::json::array()}, {"error", WHY}});
}

// The token of "Authorization: Bearer TOKEN"; false when the field is
// missing, NONE set when there is no field at all.
static bool WEB_BEARER(const WEB_REQ& R, std::string& TOKEN, bool& NONE) {
  auto F = R.find(http::field::authorization);
  NONE = F == R.end();
  if (NONE) {
    return false;
  }
  std::string_view V = F->value();
  if (V.size() < 7 || !beast::iequals(V.substr(0, 7), "Bearer ")) {
    return false;
  }
  V.remove_prefix(7);
  while (!V.empty() && V.front() == ' ') {
    V.remove_prefix(1);
  }
  while (!V.empty() && V.back() == ' ') {
    V.remove_suffix(1);
  }
  TOKEN = std::string(V.substr(0, 256));
  return !TOKEN.empty();
}

// Whether P may use the API at all and with which admin: the refusal to
// answer otherwise.
static std::optional<WEB_ANSWER> WEB_APIGATE(const WEB_REQ& R, const WEB_PEER& P, TADMIN& WHO) {
  // A token sent in plain text across a network is the eavesdropper's:
  // off loopback the API speaks TLS only, and is not even asked otherwise.
  if (!P.TLS && !P.LOOPBACK) {
    return WEB_APIREFUSE(R, http::status::forbidden,
                         WEB_TLSON ? "the admin API answers over https only on this address"
                                   : "the admin API is off on this address: the server has no "
                                     "certificate (-httpcert, -httpkey); use it from the server's "
                                     "own machine");
  }
  int64_t NOW = WEB_NOWMS();
  std::string KEY = WEB_TRIEDKEY(P.ADDR);
  auto AT = WEB_TRIED.find(KEY);
  if (AT != WEB_TRIED.end() && AT->second.LOCKEDUNTIL > NOW) {
    WEB_ANSWER A = WEB_APIREFUSE(R, http::status::too_many_requests,
                                 "too many wrong tokens from this address: try again later");
    A.set(http::field::retry_after, std::to_string((AT->second.LOCKEDUNTIL - NOW + 999) / 1000));
    return A;
  }
  std::string TOKEN;
  bool NONE = false;
  if (WEB_BEARER(R, TOKEN, NONE) && ADM_AUTH(TOKEN, WHO)) {
    if (AT != WEB_TRIED.end()) {
      WEB_TRIED.erase(AT);
    }
    return std::nullopt;
  }
  // A request without any token is no guess: only wrong ones count.
  if (!NONE) {
    if (AT == WEB_TRIED.end()) {
      if (WEB_TRIED.size() >= WEB_MAXTRIED) {
        std::erase_if(WEB_TRIED, [&](const auto& E) {
          return E.second.LOCKEDUNTIL <= NOW &&
                 (E.second.FAILS.empty() || E.second.FAILS.back() + WEB_FAILWINDOWMS <= NOW);
        });
      }
      if (WEB_TRIED.size() >= WEB_MAXTRIED) {
        WEB_TRIED.erase(WEB_TRIED.begin());
      }
      AT = WEB_TRIED.emplace(KEY, WEB_TRIES{}).first;
    }
    std::deque<int64_t>& F = AT->second.FAILS;
    while (!F.empty() && F.front() + WEB_FAILWINDOWMS <= NOW) {
      F.pop_front();
    }
    F.push_back(NOW);
    if (int(F.size()) >= WEB_MAXFAILS) {
      F.clear();
      AT->second.LOCKEDUNTIL = NOW + WEB_LOCKMS;
      // On standard error for the operator (a fail2ban filter can read it).
      // The I/O thread writes it itself: the console's functions are the
      // game thread's.
      std::string LINE = "note: admin API: " + std::to_string(WEB_MAXFAILS) +
                         " wrong tokens from " + KEY + ": locked out for " +
                         std::to_string(WEB_LOCKMS / 60000) + " minutes\n";
      std::fwrite(LINE.data(), 1, LINE.size(), stderr);
      std::fflush(stderr);
    }
  }
  WEB_ANSWER A =
      WEB_APIREFUSE(R, http::status::unauthorized,
                    NONE ? "a token is needed: Authorization: Bearer TOKEN" : "wrong token");
  A.set(http::field::www_authenticate, "Bearer realm=\"brastok admin\"");
  return A;
}

void WEB_APISTATUS(const WEB_REQ& R, const WEB_PEER& P, WEB_REPLY REPLY) {
  TADMIN WHO;
  if (auto NO = WEB_APIGATE(R, P, WHO)) {
    REPLY(std::move(*NO), false);
    return;
  }
  auto S = std::make_unique<TSNAPSHOT>();
  WEB_LOOPSTATS L;
  WEB_READ(*S, L);
  nlohmann::json J = nlohmann::json::parse(WEB_STATUSJSON(*S, false, false, true));
  J["you"] = {{"admin", WHO.NAME}, {"role", ADM_ROLENAME(WHO.ROLE)}};
  nlohmann::json& C = J["commands"] = nlohmann::json::array();
  for (size_t K = 0; K < ADM_NCOMMANDS; K++) {
    const TCOMMAND& X = ADM_COMMANDS[K];
    C.push_back({{"name", X.NAME},
                 {"usage", X.USAGE},
                 {"role", X.ROLE},
                 {"allowed", ADM_MAYRUN(WHO.ROLE, X)}});
  }
  REPLY(WEB_APIJSON(R, http::status::ok, J), false);
}

void WEB_APICOMMAND(const WEB_REQ& R, const WEB_PEER& P, WEB_REPLY REPLY) {
  TADMIN WHO;
  if (auto NO = WEB_APIGATE(R, P, WHO)) {
    REPLY(std::move(*NO), false);
    return;
  }
  nlohmann::json BODY = nlohmann::json::parse(R.body(), nullptr, false);
  if (!BODY.is_object() || !BODY.contains("command") || !BODY["command"].is_string()) {
    REPLY(WEB_APIREFUSE(R, http::status::bad_request,
                        "the body must be JSON: {\"command\": \"kick 3\"}"),
          false);
    return;
  }
  std::string LINE = BODY["command"].get<std::string>();
  // One line, as the console reads them.
  if (LINE.find_first_of("\r\n") != std::string::npos ||
      LINE.find_first_not_of(" \t") == std::string::npos) {
    REPLY(WEB_APIREFUSE(R, http::status::bad_request, "the command must be one line, not empty"),
          false);
    return;
  }
  const TCOMMAND* C = ADM_FINDCOMMAND(LINE);
  if (C != nullptr && !ADM_MAYRUN(WHO.ROLE, *C)) {
    REPLY(WEB_APIREFUSE(R, http::status::forbidden,
                        std::string(ADM_ROLENAME(WHO.ROLE)) + " " + WHO.NAME + " may not run " +
                            C->NAME + " (" + C->ROLE + " only)"),
          false);
    return;
  }
  // An unknown command goes on: the table answers it as the console would.
  uint64_t ID = ++WEB_NEXTJOB;
  if (!ADM_QUEUE({ID, WHO.NAME, P.ADDR.to_string(), LINE})) {
    REPLY(WEB_APIREFUSE(R, http::status::service_unavailable, "too many commands waiting"), false);
    return;
  }
  WEB_ASKING.emplace(ID, std::move(REPLY));
}

void WEB_APIANSWERS() {
  if (!WEB_IOC || !WEB_APION) {
    return;
  }
  std::vector<TADMDONE> DONE;
  ADM_TAKEDONE(DONE);
  if (DONE.empty()) {
    return;
  }
  WEB_APIFLIGHT += int(DONE.size());
  asio::post(*WEB_IOC, [DONE = std::move(DONE)]() mutable {
    for (TADMDONE& D : DONE) {
      auto AT = WEB_ASKING.find(D.ID);
      if (AT == WEB_ASKING.end()) {
        WEB_APIFLIGHT--;
        continue;
      }
      WEB_REPLY REPLY = std::move(AT->second);
      WEB_ASKING.erase(AT);
      WEB_REQ R;
      if (!D.RAN) {
        WEB_APIFLIGHT--;
        REPLY(WEB_APIREFUSE(R, http::status::service_unavailable, "the server is stopping"), false);
        continue;
      }
      std::string WHY;
      for (const std::string& L : D.LINES) {
        if (WHY.empty() && L.rfind("error: ", 0) == 0) {
          WHY = L.substr(7);
        }
      }
      REPLY(WEB_APIJSON(R, http::status::ok, {{"ok", D.OK}, {"lines", D.LINES}, {"error", WHY}}),
            true);
    }
  });
}

void WEB_APICLOSE() {
  WEB_ASKING.clear();
  WEB_TRIED.clear();
  WEB_APIFLIGHT = 0;
  WEB_APION = false;
}
