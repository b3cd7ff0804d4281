// The console and the sleep: the only code that writes standard output or
// waits for time to pass.
#include <chrono>
#include <csignal>
#include <cstdio>
#include <ctime>
#include <unistd.h>
#ifndef _WIN32
#include <cerrno>
#include <poll.h>
#endif

#include "server/server.hpp"

std::vector<std::string>* SC_CAPTURE = nullptr;
std::vector<std::string>* SC_WARNCAPTURE = nullptr;
std::vector<std::string>* SC_ANSWER = nullptr;
uint32_t SC_WARNINGS = 0;
uint32_t SC_ERRORS = 0;
bool SC_WARNFATAL = false;

#ifndef _WIN32 // the Windows console, clock and stop live in console_win32.cpp
namespace {
volatile std::sig_atomic_t STOPASKED = 0;
volatile std::sig_atomic_t HUPASKED = 0;

void SC_ONSTOP(int) {
  STOPASKED = 1;
}

void SC_ONHUP(int) {
  HUPASKED = 1;
}
} // namespace
#endif

std::string SC_UTCTEXT(int64_t MS, bool MILLIS) {
  using namespace std::chrono;
  sys_time<milliseconds> T{milliseconds{MS}};
  sys_days D = floor<days>(T);
  year_month_day YMD{D};
  hh_mm_ss<milliseconds> HMS{T - D};
  char BUF[40];
  int N = std::snprintf(BUF, sizeof BUF, "%04d-%02u-%02uT%02d:%02d:%02d", int(YMD.year()),
                        unsigned(YMD.month()), unsigned(YMD.day()), int(HMS.hours().count()),
                        int(HMS.minutes().count()), int(HMS.seconds().count()));
  if (MILLIS && N > 0 && size_t(N) < sizeof BUF) {
    std::snprintf(BUF + N, sizeof BUF - size_t(N), ".%03d", int(HMS.subseconds().count()));
  }
  return std::string(BUF) + "Z";
}

int64_t SC_UTCNOWMS() {
  using namespace std::chrono;
  return duration_cast<milliseconds>(system_clock::now().time_since_epoch()).count();
}

std::string SC_PRINTABLE(const std::string& S) {
  static const char HEX[] = "0123456789ABCDEF";
  std::string R;
  R.reserve(S.size());
  for (unsigned char C : S) {
    if (C >= 32 && C <= 126) {
      R += char(C);
    } else if (C >= 160) {
      // Latin-1 160..255 is U+00A0..U+00FF: two bytes in UTF-8.
      R += char(0xC0 | (C >> 6));
      R += char(0x80 | (C & 0x3F));
    } else {
      R += "\\x";
      R += HEX[C >> 4];
      R += HEX[C & 15];
    }
  }
  return R;
}

#ifndef _WIN32
void SC_CLEAR() {
  if (SC_CAPTURE == nullptr && isatty(STDOUT_FILENO)) {
    std::fputs("\x1b[2J\x1b[H", stdout);
    std::fflush(stdout);
  }
}
#endif

void SC_WRITELN(const std::string& S) {
  std::string LINE = SC_PRINTABLE(S);
  if (SC_ANSWER != nullptr) {
    SC_ANSWER->push_back(std::move(LINE));
    return;
  }
  if (SC_CAPTURE != nullptr) {
    SC_CAPTURE->push_back(std::move(LINE));
    return;
  }
  LINE += '\n';
  // One write per line, flushed at once, so a journal or a pipe sees every
  // line as it happens.
  std::fwrite(LINE.data(), 1, LINE.size(), stdout);
  std::fflush(stdout);
}

// One line on standard error, or into the test's capture.
static void SC_ERRLINE(const char* PREFIX, const std::string& S) {
  std::string LINE = SC_PRINTABLE(S);
  // A capture of warnings comes first: a command may gather the warnings
  // of a step itself (the map loader's) to answer with them.
  if (SC_WARNCAPTURE != nullptr) {
    SC_WARNCAPTURE->push_back(std::move(LINE));
    return;
  }
  if (SC_ANSWER != nullptr) {
    SC_ANSWER->push_back(PREFIX + LINE);
    return;
  }
  LINE = PREFIX + LINE + '\n';
  std::fwrite(LINE.data(), 1, LINE.size(), stderr);
  std::fflush(stderr);
}

void SC_WARN(const std::string& S) {
  SC_WARNINGS++;
  // A strict start fails on its warnings: they are its errors.
  SC_ERRLINE(SC_WARNFATAL ? "error: " : "warning: ", S);
}

void SC_ERROR(const std::string& S) {
  SC_ERRORS++;
  SC_ERRLINE("error: ", S);
}

void SC_NOTE(const std::string& S) {
  SC_ERRLINE("note: ", S);
}

void SC_WAITENTER() {
  // Only an operator at a terminal can answer; under a service manager or a
  // pipe the server must not hang waiting for a line that never comes.
  if (SC_CAPTURE != nullptr || !isatty(STDIN_FILENO)) {
    return;
  }
#ifdef _WIN32
  int C;
  do {
    C = std::getchar();
  } while (C != '\n' && C != EOF);
#else
  // A read goes on after a signal (SA_RESTART): the wait is in poll, which
  // a signal ends, so that Ctrl-C or SIGTERM ends it too.
  char C = 0;
  while (C != '\n' && !STOPASKED) {
    pollfd P{STDIN_FILENO, POLLIN, 0};
    if (poll(&P, 1, -1) < 0) {
      if (errno == EINTR) {
        continue;
      }
      return;
    }
    if (read(STDIN_FILENO, &C, 1) <= 0) {
      return;
    }
  }
#endif
}

#ifndef _WIN32
void SC_SLEEP(int MS) {
  timespec LEFT{MS / 1000, long(MS % 1000) * 1000000L};
  // A signal wakes nanosleep early; sleep the rest unless it asked to stop.
  while (nanosleep(&LEFT, &LEFT) != 0 && !STOPASKED) {
  }
}

int64_t SC_NOWMS() {
  timespec T;
  clock_gettime(CLOCK_MONOTONIC, &T);
  return int64_t(T.tv_sec) * 1000 + T.tv_nsec / 1000000;
}

int64_t SC_UTCMS() {
  timespec T;
  clock_gettime(CLOCK_REALTIME, &T);
  return int64_t(T.tv_sec) * 1000 + T.tv_nsec / 1000000;
}

void SC_CATCHSTOP() {
  struct sigaction SA {};
  SA.sa_handler = SC_ONSTOP;
  sigemptyset(&SA.sa_mask);
  // Other threads (the HTTP side's) may be inside a system call when a
  // signal comes: it goes on rather than fail. The waits of the game thread
  // (nanosleep, poll) end on a signal all the same.
  SA.sa_flags = SA_RESTART;
  sigaction(SIGINT, &SA, nullptr);
  sigaction(SIGTERM, &SA, nullptr);
  // A daemon is never ended by SIGHUP: it only raises a flag, which the
  // log file (when there is one) reads to reopen itself.
  SA.sa_handler = SC_ONHUP;
  sigaction(SIGHUP, &SA, nullptr);
}

void SC_BLOCKSTOPSIGNALS() {
  sigset_t SET;
  sigemptyset(&SET);
  sigaddset(&SET, SIGINT);
  sigaddset(&SET, SIGTERM);
  sigaddset(&SET, SIGHUP);
  pthread_sigmask(SIG_BLOCK, &SET, nullptr);
}

bool SC_STOPASKED() {
  return STOPASKED != 0;
}

bool SC_HUPASKED() {
  if (HUPASKED == 0) {
    return false;
  }
  HUPASKED = 0;
  return true;
}
#endif
