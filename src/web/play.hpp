// The browser game's WebSocket session (/play/ws): one binary message is
// one datagram of the game, both ways, and the session is one client
// address (its browser's IPv4 address and its connection's TCP source port)
// behind the transport's bridge (net/bridge.hpp). Included only inside web/.
//
// The session is a template on the stream below the WebSocket (the plain
// TCP stream, or a TLS stream over it): play.cpp makes both.
//
// Its life: the upgrade request waits for the game thread's verdict (a
// banned address gets 403, an address held by a UDP client or another
// session 409); then the handshake, then reads and writes until either side
// ends it. Every end frees the address, and the slot with it.
#pragma once

#include <boost/asio/steady_timer.hpp>
#include <boost/beast/http/write.hpp>
#include <boost/beast/websocket.hpp>
#include <deque>
#include <memory>

#include "net/bridge.hpp"
#include "web/conn.hpp"

namespace websocket = beast::websocket;

// Sessions at once, waiting or open: a few more than the slots, for pages
// that wait to get in.
constexpr int WEB_MAXPLAYS = 64;
// A session from which nothing (no datagram, no answer to a ping) came for
// this long is closed; a ping goes out after half of it.
constexpr std::chrono::seconds WEB_PLAYIDLE{10};
// The kernel's send buffer of a session: what a browser that stopped
// reading holds of this server, beside its queue in the bridge.
constexpr int WEB_PLAYSNDBUF = 16384;

// What the registry of sessions holds (play.cpp): the I/O thread tells a
// session of its news through it.
struct WEB_PLAYPEER {
  virtual ~WEB_PLAYPEER() = default;
  virtual void NEWS() = 0;
};
void WEB_PLAYLIST(uint64_t ID, std::weak_ptr<WEB_PLAYPEER> P);
void WEB_PLAYUNLIST(uint64_t ID);

template <class NEXT>
class WEB_PLAYSESSION : public WEB_PLAYPEER,
                        public std::enable_shared_from_this<WEB_PLAYSESSION<NEXT>> {
public:
  WEB_PLAYSESSION(NEXT&& S, WEB_PLACE&& P, WEB_REQ R, uint32_t IPV4, uint16_t PORT)
      : WS_(std::move(S)), PLACE_(std::move(P)), REQ_(std::move(R)), IPV4_(IPV4), PORT_(PORT),
        WAIT_(WS_.get_executor()) {
    WEB_HTTP.PLAYS++;
  }
  ~WEB_PLAYSESSION() override {
    END();
    WEB_HTTP.PLAYS--;
  }

  // Asks the game thread for a verdict on the address; the answer comes as
  // news, or the request times out.
  void RUN() {
    // The HTTP side's timer goes: this session keeps its own times.
    beast::get_lowest_layer(WS_).expires_never();
    ID_ = NET_PEEROPEN(IPV4_, PORT_);
    WEB_PLAYLIST(ID_, this->weak_from_this());
    WAIT_.expires_after(WEB_REQUESTTIME);
    WAIT_.async_wait([S = this->shared_from_this()](beast::error_code EC) {
      if (!EC && S->STATE_ == WAITING) {
        S->REFUSE(http::status::service_unavailable, "the game does not answer\n");
      }
    });
  }

  void NEWS() override {
    bool KILL = false;
    uint8_t V = NET_PEERTAKE(ID_, !WRITING_, OUT_, KILL);
    if (STATE_ == WAITING) {
      if (V == NET_PEERWAIT) {
        return;
      }
      WAIT_.cancel();
      if (V == NET_PEERLIVE) {
        ACCEPT();
      } else if (V == NET_PEERBANNED) {
        REFUSE(http::status::forbidden, "banned\n");
      } else {
        REFUSE(http::status::conflict, "this address and port hold a slot already\n");
      }
      return;
    }
    if (KILL && STATE_ != ENDED) {
      WEB_HTTP.SLOWREADER++;
      END();
      return;
    }
    WRITE();
  }

private:
  enum { WAITING, ACCEPTING, OPEN, CLOSING, ENDED };
  websocket::stream<NEXT> WS_;
  WEB_PLACE PLACE_;
  WEB_REQ REQ_;
  uint32_t IPV4_;
  uint16_t PORT_;
  asio::steady_timer WAIT_;
  uint64_t ID_ = 0;
  int STATE_ = WAITING;
  bool WRITING_ = false;
  beast::flat_buffer RBUF_;
  std::deque<std::string> OUT_; // taken from the bridge, not yet written
  WEB_ANSWER ANSWER_;

  void REFUSE(http::status STATUS, const char* WHY) {
    STATE_ = CLOSING;
    ANSWER_ = WEB_TEXT(REQ_, STATUS, WHY);
    ANSWER_.keep_alive(false);
    ANSWER_.prepare_payload();
    beast::get_lowest_layer(WS_).expires_after(WEB_WRITETIME);
    http::async_write(WS_.next_layer(), ANSWER_,
                      [S = this->shared_from_this()](beast::error_code, size_t) { S->END(); });
  }

  void ACCEPT() {
    STATE_ = ACCEPTING;
    beast::error_code EC;
    beast::get_lowest_layer(WS_).socket().set_option(
        asio::socket_base::send_buffer_size(WEB_PLAYSNDBUF), EC);
    websocket::stream_base::timeout T;
    T.handshake_timeout = WEB_WRITETIME;
    T.idle_timeout = WEB_PLAYIDLE;
    T.keep_alive_pings = true;
    WS_.set_option(T);
    // Beast would name itself and its version in the handshake's answer;
    // this names the server alone.
    WS_.set_option(websocket::stream_base::decorator(
        [](websocket::response_type& A) { A.set(http::field::server, "brastok"); }));
    WS_.read_message_max(MAXBUFFER);
    WS_.binary(true);
    WS_.auto_fragment(false);
    WS_.async_accept(REQ_, [S = this->shared_from_this()](beast::error_code EC) {
      if (EC) {
        S->END();
        return;
      }
      S->STATE_ = OPEN;
      S->READ();
      S->WRITE();
    });
  }

  // One message, one datagram. A text message is no datagram: the page
  // never sends one, so whatever sent it is not the page, and it goes.
  void READ() {
    WS_.async_read(RBUF_, [S = this->shared_from_this()](beast::error_code EC, size_t) {
      if (EC) {
        WEB_HTTP.TOOLARGE += EC == websocket::error::message_too_big;
        S->END();
        return;
      }
      if (!S->WS_.got_binary()) {
        S->CLOSEWITH(websocket::close_code::unknown_data);
        return;
      }
      auto D = S->RBUF_.data();
      (void)NET_PEERIN(S->ID_, D.data(), D.size());
      S->RBUF_.consume(S->RBUF_.size());
      S->READ();
    });
  }

  // Writes what is queued, one message at a time; when the queue is empty,
  // takes what the bridge holds.
  void WRITE() {
    if (WRITING_ || STATE_ != OPEN) {
      return;
    }
    if (OUT_.empty()) {
      bool KILL = false;
      (void)NET_PEERTAKE(ID_, true, OUT_, KILL);
      if (KILL) {
        WEB_HTTP.SLOWREADER++;
        END();
        return;
      }
      if (OUT_.empty()) {
        return;
      }
    }
    WRITING_ = true;
    WS_.async_write(asio::buffer(OUT_.front()),
                    [S = this->shared_from_this()](beast::error_code EC, size_t) {
                      S->WRITING_ = false;
                      if (EC) {
                        S->END();
                        return;
                      }
                      S->OUT_.pop_front();
                      S->WRITE();
                    });
  }

  void CLOSEWITH(websocket::close_code CODE) {
    STATE_ = CLOSING;
    WS_.async_close(CODE, [S = this->shared_from_this()](beast::error_code) { S->END(); });
  }

  // However it ends: the address (and a slot held from it) is freed at
  // once, and the connection closes.
  void END() {
    if (STATE_ == ENDED) {
      return;
    }
    STATE_ = ENDED;
    WAIT_.cancel();
    if (ID_ != 0) {
      NET_PEERCLOSE(ID_);
      WEB_PLAYUNLIST(ID_);
    }
    beast::error_code EC;
    beast::get_lowest_layer(WS_).socket().close(EC);
  }
};

// Starts a session over stream S after its upgrade request R, from
// IPV4:PORT, with its place among the caps.
template <class NEXT>
void WEB_STARTPLAY(NEXT&& S, WEB_PLACE&& P, const WEB_REQ& R, uint32_t IPV4, uint16_t PORT) {
  std::make_shared<WEB_PLAYSESSION<NEXT>>(std::move(S), std::move(P), R, IPV4, PORT)->RUN();
}
