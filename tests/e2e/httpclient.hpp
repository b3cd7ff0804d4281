// The end-to-end tests' HTTP client, on Boost.Beast like the server: one
// connection to a loopback port, every wait bounded. A test that plays a
// hostile client uses TRAWCONN instead, which sends whatever bytes it is
// given.
#pragma once

#include <map>
#include <memory>
#include <optional>
#include <string>

// A reply as the client read it: status, header fields (names in lower
// case) and body.
struct THTTPREPLY {
  int STATUS = 0;
  std::map<std::string, std::string> FIELDS;
  std::string BODY;
};

class THTTPCONN {
public:
  // Connects to 127.0.0.1:PORT within MS, from the loopback address FROM
  // when given.
  explicit THTTPCONN(int PORT, int MS = 3000, const std::string& FROM = "");
  ~THTTPCONN();
  bool CONNECTED() const;
  // Sends METHOD TARGET (with BODY) and reads the reply within MS; nothing
  // when none came (the connection is then closed). KEEP asks to keep the
  // connection for the next request.
  std::optional<THTTPREPLY> REQUEST(const std::string& TARGET, const std::string& METHOD = "GET",
                                    const std::string& BODY = "", bool KEEP = true, int MS = 3000);
  // Starts reading an event stream: the request and the reply's header;
  // false when the reply was not 200.
  bool STREAM(const std::string& TARGET, int MS = 3000);
  // The next event of the stream (its text up to the blank line that ends
  // it), within MS; nothing on time-out or end.
  std::optional<std::string> NEXTEVENT(int MS = 3000);

  struct TIMPL; // Beast's objects, kept out of this header

private:
  std::unique_ptr<TIMPL> I_;
};

// One GET on a connection of its own.
std::optional<THTTPREPLY> HTTPGET(int PORT, const std::string& TARGET, int MS = 3000);

// A plain TCP connection to 127.0.0.1:PORT that sends raw bytes.
class TRAWCONN {
public:
  // Connects within MS, from the loopback address FROM when given; RCVBUF,
  // when not 0, is the receive buffer asked for before connecting.
  explicit TRAWCONN(int PORT, const std::string& FROM = "", int RCVBUF = 0, int MS = 3000);
  ~TRAWCONN();
  TRAWCONN(const TRAWCONN&) = delete;
  TRAWCONN& operator=(const TRAWCONN&) = delete;
  bool CONNECTED() const { return FD_ >= 0; }
  // Sends all of BYTES within MS; false when the peer closed or time ran out.
  bool SEND(const std::string& BYTES, int MS = 3000);
  // What arrives within MS, until the peer closes (then CLOSED is set).
  std::string READ(int MS);
  bool CLOSED = false;

private:
  int FD_ = -1;
};
