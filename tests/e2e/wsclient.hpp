// The end-to-end tests' browser stand-in: a WebSocket client (Boost.Beast)
// of /play/ws, one binary message per datagram, every wait bounded.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

class TWSCLIENT {
public:
  // Connects to 127.0.0.1:PORT from FROM:LOCALPORT (0: any port) and asks to
  // upgrade /play/ws. STATUS() is the answer's status: 101 when it opened.
  explicit TWSCLIENT(int PORT, const std::string& FROM = "127.0.0.1", uint16_t LOCALPORT = 0,
                     int MS = 3000);
  ~TWSCLIENT();
  int STATUS() const;
  // The answer's Server field, empty when it had none.
  std::string SERVERFIELD() const;
  bool OPEN() const;
  // The connection's TCP source port: the session's port in the game.
  uint16_t LOCALPORT() const;
  bool SEND(const std::string& D, bool TEXT = false);
  // The next datagram within MS; false on time-out or when the session ended.
  bool RECV(std::string& D, int MS = 2000);
  // Whether the server ended the session within MS (messages before the
  // end are skipped).
  bool ENDED(int MS);
  // Closes the socket at once, without a closing handshake: a browser gone.
  void DROP();

  struct TIMPL;

private:
  std::unique_ptr<TIMPL> I_;
};
