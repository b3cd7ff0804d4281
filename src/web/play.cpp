// The browser game on the HTTP side: the page (/play), the upgrade of
// /play/ws to a session (play.hpp), and the sessions' news from the game
// thread.
#include "web/play.hpp"

#include <boost/asio/post.hpp>
#if BRASTOK_TLS
#include <boost/beast/websocket/ssl.hpp> // a session over TLS (wss:)
#endif
#include <unordered_map>

// The sessions by their id in the bridge (I/O thread only).
static std::unordered_map<uint64_t, std::weak_ptr<WEB_PLAYPEER>> WEB_PLAYERS;
static asio::io_context* WEB_PLAYIOC = nullptr;

void WEB_PLAYLIST(uint64_t ID, std::weak_ptr<WEB_PLAYPEER> P) {
  WEB_PLAYERS[ID] = std::move(P);
}

void WEB_PLAYUNLIST(uint64_t ID) {
  WEB_PLAYERS.erase(ID);
}

WEB_ANSWER WEB_ONPLAY(const WEB_REQ& R) {
  WEB_ANSWER A = WEB_TEXT(R, http::status::ok, WEB_PLAYPAGE, "text/html; charset=utf-8");
  // The page loads nothing from anywhere and talks only to this server (its
  // WebSocket included).
  A.set("Content-Security-Policy", "default-src 'none'; script-src 'unsafe-inline'; "
                                   "style-src 'unsafe-inline'; connect-src 'self'");
  return A;
}

template <class S>
std::optional<WEB_ANSWER> WEB_TAKEPLAY(WEB_CONN<S>& C, const WEB_REQ& R) {
  if (!websocket::is_upgrade(R)) {
    WEB_ANSWER A = WEB_TEXT(R, http::status::upgrade_required, "a WebSocket only\n");
    A.set(http::field::upgrade, "websocket");
    A.set(http::field::connection, "Upgrade");
    return A;
  }
  beast::error_code EC;
  WEB_TCP::endpoint PEER = WEB_SOCKET(C.STREAM).remote_endpoint(EC);
  if (EC) {
    return WEB_TEXT(R, http::status::bad_request, "gone\n");
  }
  // The game knows its clients by IPv4 address and port.
  asio::ip::address A = WEB_PLAINADDR(PEER.address());
  if (!A.is_v4()) {
    return WEB_TEXT(R, http::status::forbidden, "the game takes IPv4 clients only\n");
  }
  if (WEB_HTTP.PLAYS >= uint64_t(WEB_MAXPLAYS)) {
    return WEB_TEXT(R, http::status::service_unavailable, "too many players' connections\n");
  }
  WEB_STARTPLAY(std::move(C.STREAM), std::move(C.PLACE), R, A.to_v4().to_uint(), PEER.port());
  return std::nullopt;
}

template std::optional<WEB_ANSWER> WEB_TAKEPLAY(WEB_CONN<WEB_PLAIN>&, const WEB_REQ&);
#if BRASTOK_TLS
template std::optional<WEB_ANSWER> WEB_TAKEPLAY(WEB_CONN<WEB_TLS>&, const WEB_REQ&);
#endif

void WEB_PLAYOPEN(asio::io_context& IOC) {
  WEB_PLAYIOC = &IOC;
  NET_BRIDGEON();
}

void WEB_PLAYCLOSE() {
  WEB_PLAYERS.clear();
  WEB_PLAYIOC = nullptr;
  NET_BRIDGEOFF();
}

// Every session with news hears of it on the I/O thread.
static void WEB_PLAYDRAIN() {
  static std::vector<uint64_t> IDS;
  NET_BRIDGENEWS(IDS);
  for (uint64_t ID : IDS) {
    auto AT = WEB_PLAYERS.find(ID);
    if (AT == WEB_PLAYERS.end()) {
      continue;
    }
    if (auto S = AT->second.lock()) {
      S->NEWS();
    }
  }
}

void WEB_PLAYNEWS() {
  if (WEB_PLAYIOC != nullptr && NET_BRIDGEHASNEWS.exchange(false)) {
    asio::post(*WEB_PLAYIOC, WEB_PLAYDRAIN);
  }
}
