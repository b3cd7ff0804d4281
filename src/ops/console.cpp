// The admin console's input: standard input, polled without waiting, cut
// into lines, each line one command. Only the two small functions at the top
// know how standard input is read on this platform.
#include <cerrno>
#include <cstdio>
#ifndef _WIN32
#include <poll.h>
#include <unistd.h>
#endif

#include "ops/ops.hpp"
#include "server/server.hpp"

bool OPS_STDINON;

// Standard input has ended, was closed or cannot be read: it is left alone
// from then on and the server runs on without it.
static bool OPS_STDINDONE;

#ifndef _WIN32
// A shell's background job that reads its terminal is stopped (SIGTTIN):
// standard input is read only while it is not a terminal or this process is
// in the terminal's foreground.
static bool OPS_STDINOURS() {
  static int TTY = -1;
  if (TTY < 0) {
    TTY = isatty(STDIN_FILENO) ? 1 : 0;
  }
  return TTY == 0 || tcgetpgrp(STDIN_FILENO) == getpgrp();
}

// Reads what standard input holds now into BUF: the count of bytes, 0 when
// nothing is waiting, -1 when it has ended or cannot be read.
static long OPS_STDINREAD(char* BUF, size_t N) {
  pollfd P{STDIN_FILENO, POLLIN, 0};
  int R = poll(&P, 1, 0);
  if (R < 0) {
    return errno == EINTR ? 0 : -1;
  }
  if (R == 0) {
    return 0;
  }
  if ((P.revents & POLLNVAL) != 0) {
    return -1; // closed
  }
  ssize_t K = read(STDIN_FILENO, BUF, N);
  if (K > 0) {
    return long(K);
  }
  if (K < 0 && (errno == EINTR || errno == EAGAIN)) {
    return 0;
  }
  return -1; // end of input, or a read that failed
}
#else
// Not read on Windows yet: the server runs as it did without a console.
static bool OPS_STDINOURS() {
  return false;
}

static long OPS_STDINREAD(char*, size_t) {
  return -1;
}
#endif

int OPS_CONSOLEFD() {
  if (!OPS_STDINON || OPS_STDINDONE || !OPS_STDINOURS()) {
    return -1;
  }
  return 0; // standard input
}

// A longer line is refused whole: no command needs it.
constexpr size_t OPS_MAXLINE = 4096;

void OPS_CONSOLE() {
  static std::string PENDING; // the start of a line not ended yet
  static bool SKIPPING;       // inside a line too long, until its end
  if (OPS_CONSOLEFD() < 0) {
    return;
  }
  // A few reads a cycle at most: a flood of input cannot hold the tick.
  char BUF[4096];
  for (int N = 0; N < 16; N++) {
    long K = OPS_STDINREAD(BUF, sizeof BUF);
    if (K == 0) {
      return;
    }
    if (K < 0) {
      OPS_STDINDONE = true;
      if (!PENDING.empty() && !SKIPPING) {
        OPS_RUNCOMMAND(PENDING); // the last line needs no line end
      }
      PENDING.clear();
      return;
    }
    for (long I = 0; I < K && !OPS_QUITASKED; I++) {
      char C = BUF[I];
      if (C == '\n') {
        if (!SKIPPING) {
          if (!PENDING.empty() && PENDING.back() == '\r') {
            PENDING.pop_back();
          }
          OPS_RUNCOMMAND(PENDING);
        }
        PENDING.clear();
        SKIPPING = false;
      } else if (!SKIPPING) {
        PENDING += C;
        if (PENDING.size() > OPS_MAXLINE) {
          OPS_ERROR("line longer than " + std::to_string(OPS_MAXLINE) + " bytes ignored");
          PENDING.clear();
          SKIPPING = true;
        }
      }
    }
    if (OPS_QUITASKED) {
      return; // what follows "quit" is not run
    }
  }
}

void OPS_ERROR(const std::string& S) {
  std::string LINE = SC_PRINTABLE(S);
  if (SC_WARNCAPTURE != nullptr) {
    SC_WARNCAPTURE->push_back("error: " + LINE);
    return;
  }
  LINE = "error: " + LINE + '\n';
  std::fwrite(LINE.data(), 1, LINE.size(), stderr);
  std::fflush(stderr);
}
