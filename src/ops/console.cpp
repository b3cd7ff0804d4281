// The admin console's input: standard input, polled without waiting, cut
// into lines, each line one command. Only the two small functions at the top
// know how standard input is read on this platform.
#include <cerrno>
#include <cstdio>
#ifdef _WIN32
#include <windows.h>

#include <algorithm>
#else
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
// Windows has no poll on standard input. A console is read key by key through
// its input API, a pipe only as far as PeekNamedPipe says it holds bytes; a
// file or the NUL device is read as it is.
static bool OPS_STDINOURS() {
  return true; // no job control: the console belongs to the program in it
}

// The line being typed at the console. The console's own editing and echo
// work only inside a read that waits for Enter, so the keys are taken as
// they come, echoed here, and the line is handed out whole on Enter.
static std::string OPS_TYPED;

// Appends C in UTF-8, the bytes a UTF-8 terminal would send on Linux.
static void OPS_TYPEUTF8(wchar_t C) {
  uint32_t U = (C >= 0xD800 && C <= 0xDFFF) ? uint32_t('?') : uint32_t(C);
  if (U < 0x80) {
    OPS_TYPED += char(U);
  } else if (U < 0x800) {
    OPS_TYPED += char(0xC0 | (U >> 6));
    OPS_TYPED += char(0x80 | (U & 0x3F));
  } else {
    OPS_TYPED += char(0xE0 | (U >> 12));
    OPS_TYPED += char(0x80 | ((U >> 6) & 0x3F));
    OPS_TYPED += char(0x80 | (U & 0x3F));
  }
}

// Shows typed text on the console, when standard output is one.
static void OPS_ECHO(const wchar_t* TEXT, DWORD LEN) {
  HANDLE SHOW = GetStdHandle(STD_OUTPUT_HANDLE);
  DWORD MODE, DONE;
  if (GetConsoleMode(SHOW, &MODE) != 0) {
    WriteConsoleW(SHOW, TEXT, LEN, &DONE, nullptr);
  }
}

static long OPS_CONSOLEREAD(HANDLE H, char* BUF, size_t N) {
  DWORD WAITING = 0;
  while (GetNumberOfConsoleInputEvents(H, &WAITING) != 0 && WAITING > 0) {
    INPUT_RECORD E;
    DWORD GOT = 0;
    if (ReadConsoleInputW(H, &E, 1, &GOT) == 0 || GOT == 0) {
      return -1;
    }
    if (E.EventType != KEY_EVENT || !E.Event.KeyEvent.bKeyDown) {
      continue; // key releases, focus, mouse, a resized window
    }
    wchar_t C = E.Event.KeyEvent.uChar.UnicodeChar;
    if (E.Event.KeyEvent.wVirtualKeyCode == VK_RETURN || C == L'\r' || C == L'\n') {
      OPS_ECHO(L"\r\n", 2);
      // The line always fits: OPS_TYPED stays shorter than N.
      size_t K = OPS_TYPED.size();
      std::copy_n(OPS_TYPED.data(), K, BUF);
      BUF[K++] = '\n';
      OPS_TYPED.clear();
      return long(K);
    }
    if (C == L'\b') {
      if (!OPS_TYPED.empty()) {
        while (!OPS_TYPED.empty() && (uint8_t(OPS_TYPED.back()) & 0xC0) == 0x80) {
          OPS_TYPED.pop_back();
        }
        if (!OPS_TYPED.empty()) {
          OPS_TYPED.pop_back();
        }
        OPS_ECHO(L"\b \b", 3);
      }
    } else if (C >= 32 && OPS_TYPED.size() + 4 < N) {
      OPS_TYPEUTF8(C);
      OPS_ECHO(&C, 1);
    }
  }
  return 0;
}

static long OPS_STDINREAD(char* BUF, size_t N) {
  HANDLE H = GetStdHandle(STD_INPUT_HANDLE);
  if (H == nullptr || H == INVALID_HANDLE_VALUE) {
    return -1;
  }
  DWORD MODE;
  if (GetConsoleMode(H, &MODE) != 0) {
    return OPS_CONSOLEREAD(H, BUF, N);
  }
  if (GetFileType(H) == FILE_TYPE_PIPE) {
    DWORD AVAIL = 0;
    if (PeekNamedPipe(H, nullptr, 0, nullptr, &AVAIL, nullptr) == 0) {
      return -1; // the writer closed it, or a pipe that cannot be peeked
    }
    if (AVAIL == 0) {
      return 0;
    }
    N = std::min<size_t>(N, AVAIL);
  }
  DWORD K = 0;
  if (ReadFile(H, BUF, DWORD(N), &K, nullptr) == 0 || K == 0) {
    return -1; // end of input, or a read that failed
  }
  return long(K);
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
          SC_ERROR("line longer than " + std::to_string(OPS_MAXLINE) + " bytes ignored");
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
