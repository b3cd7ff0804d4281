// A stand-in HTTP(S) server on 127.0.0.1 for the hosting tests: the Agones
// SDK sidecar or a webhook receiver. It records every request it reads and
// answers as the test tells it, on a thread of its own (Boost.Beast).
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

struct TCALL {
  std::string METHOD;
  std::string TARGET;
  std::string BODY;
  std::string CONTENTTYPE;
  std::string SNI; // the server name the client sent over TLS
  long ATMS;       // when the request was read (NOWMS of process.hpp)
  long CLOSEDMS;   // when the client closed a connection left unanswered, or -1
};

// How to answer a request: STATUS 0 leaves it unanswered until the client
// gives up and closes.
struct TREPLY {
  int STATUS = 200;
  std::string RETRYAFTER; // the Retry-After header, when not empty
  std::string BODY;
};

class TSTANDIN {
public:
  // Listens on 127.0.0.1:PORT (0: a free port); over TLS with the test
  // certificate for "localhost" when TLS.
  explicit TSTANDIN(std::function<TREPLY(const TCALL&)> ANSWER, uint16_t PORT = 0,
                    bool TLS = false);
  ~TSTANDIN();
  uint16_t PORT() const;
  // The requests read so far, oldest first.
  std::vector<TCALL> CALLS() const;
  // Waits at most MS for a request list that satisfies OK; false on time-out.
  bool WAITFOR(const std::function<bool(const std::vector<TCALL>&)>& OK, int MS) const;

  struct IMPL;

private:
  std::unique_ptr<IMPL> P_;
};

// A port that was free a moment ago (for a stand-in that starts late).
uint16_t FREEPORT();
// The requests of LIST to TARGET.
std::vector<TCALL> CALLSTO(const std::vector<TCALL>& LIST, const std::string& TARGET);
// The test CA's certificate, which signed the stand-in's.
std::string TESTCAFILE();
