// Child processes for the end-to-end tests: the built server (and tools) run
// with their output read line by line, every wait bounded, and the process
// stopped when the test ends, whether it passed or not.
#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

class TPROCESS {
public:
  // Starts ARGV[0] with the arguments in working directory CWD (empty: the
  // current one); standard input is /dev/null, or a pipe that WRITEIN fills
  // when PIPEIN.
  TPROCESS(const std::vector<std::string>& ARGV, const std::string& CWD = "", bool PIPEIN = false);
  ~TPROCESS();
  TPROCESS(const TPROCESS&) = delete;
  TPROCESS& operator=(const TPROCESS&) = delete;

  // The next line of standard output, waiting at most TIMEOUTMS; false on
  // time-out or end of output.
  bool READLINE(std::string& LINE, int TIMEOUTMS = 5000);
  // Reads lines until one equals TEXT, at most MS in all; the lines read go
  // to SEEN when given. False when none did in time.
  bool WAITLINE(const std::string& TEXT, int MS = 5000, std::vector<std::string>* SEEN = nullptr);
  // Writes TEXT to the child's standard input (a pipe); false if it failed.
  bool WRITEIN(const std::string& TEXT);
  // All of standard error read so far (non-blocking).
  std::string ERRTEXT();
  // Sends SIG and waits at most TIMEOUTMS for the end; then kills. Returns
  // the exit status, or 128 + the signal that ended it, or -1.
  int STOP(int SIG, int TIMEOUTMS = 5000);
  // Waits for the process to end by itself, at most TIMEOUTMS.
  int WAIT(int TIMEOUTMS = 5000);
  // Resident memory in KiB, from /proc.
  long RSSKB() const;
  pid_t PID() const { return PID_; }
  bool RUNNING();

private:
  pid_t PID_ = -1;
  int OUT_ = -1;
  int ERR_ = -1;
  int IN_ = -1;
  int STATUS_ = -1;
  std::string OUTBUF_;
  std::string ERRBUF_;
};

// A monotonic clock in milliseconds, for the tests' deadlines.
long NOWMS();

// The port of a "UDP initialized! UDP port: N" line, or 0.
int PORTOFLINE(const std::string& LINE);
// A scratch folder for one test, removed by the destructor.
class TSCRATCH {
public:
  TSCRATCH();
  ~TSCRATCH();
  const std::string& PATH() const { return PATH_; }
  // Writes maps/NAME.brsk inside the folder.
  void WRITEMAP(const std::string& NAME, const std::string& TEXT) const;

private:
  std::string PATH_;
};
