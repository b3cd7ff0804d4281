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

#include "admin/admin.hpp"
#include "server/server.hpp"

#ifndef _WIN32
// A shell's background job that reads its terminal is stopped (SIGTTIN):
// standard input is read only while it is not a terminal or this process is
// in the terminal's foreground.
static bool ADM_STDINOURS() {
  if (ADM_STDINTTY < 0) {
    ADM_STDINTTY = isatty(STDIN_FILENO) ? 1 : 0;
  }
  return ADM_STDINTTY == 0 || tcgetpgrp(STDIN_FILENO) == getpgrp();
}

// Reads what standard input holds now into BUF: the count of bytes, 0 when
// nothing is waiting, -1 when it has ended or cannot be read.
static long ADM_STDINREAD(char* BUF, size_t N) {
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
static bool ADM_STDINOURS() {
  return true; // no job control: the console belongs to the program in it
}

// The console's own editing and echo work only inside a read that waits for
// Enter, so the keys are taken as they come, echoed here, and the line
// (ADM_TYPED) is handed out whole on Enter.

// Appends C in UTF-8, the bytes a UTF-8 terminal would send on Linux.
static void ADM_TYPEUTF8(wchar_t C) {
  uint32_t U = (C >= 0xD800 && C <= 0xDFFF) ? uint32_t('?') : uint32_t(C);
  if (U < 0x80) {
    ADM_TYPED += char(U);
  } else if (U < 0x800) {
    ADM_TYPED += char(0xC0 | (U >> 6));
    ADM_TYPED += char(0x80 | (U & 0x3F));
  } else {
    ADM_TYPED += char(0xE0 | (U >> 12));
    ADM_TYPED += char(0x80 | ((U >> 6) & 0x3F));
    ADM_TYPED += char(0x80 | (U & 0x3F));
  }
}

// Shows typed text on the console, when standard output is one.
static void ADM_ECHO(const wchar_t* TEXT, DWORD LEN) {
  HANDLE SHOW = GetStdHandle(STD_OUTPUT_HANDLE);
  DWORD MODE, DONE;
  if (GetConsoleMode(SHOW, &MODE) != 0) {
    WriteConsoleW(SHOW, TEXT, LEN, &DONE, nullptr);
  }
}

static long ADM_CONSOLEREAD(HANDLE H, char* BUF, size_t N) {
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
      ADM_ECHO(L"\r\n", 2);
      // The line always fits: ADM_TYPED stays shorter than N.
      size_t K = ADM_TYPED.size();
      std::copy_n(ADM_TYPED.data(), K, BUF);
      BUF[K++] = '\n';
      ADM_TYPED.clear();
      return long(K);
    }
    if (C == L'\b') {
      if (!ADM_TYPED.empty()) {
        while (!ADM_TYPED.empty() && (uint8_t(ADM_TYPED.back()) & 0xC0) == 0x80) {
          ADM_TYPED.pop_back();
        }
        if (!ADM_TYPED.empty()) {
          ADM_TYPED.pop_back();
        }
        ADM_ECHO(L"\b \b", 3);
      }
    } else if (C >= 32 && ADM_TYPED.size() + 4 < N) {
      ADM_TYPEUTF8(C);
      ADM_ECHO(&C, 1);
    }
  }
  return 0;
}

static long ADM_STDINREAD(char* BUF, size_t N) {
  HANDLE H = GetStdHandle(STD_INPUT_HANDLE);
  if (H == nullptr || H == INVALID_HANDLE_VALUE) {
    return -1;
  }
  DWORD MODE;
  if (GetConsoleMode(H, &MODE) != 0) {
    return ADM_CONSOLEREAD(H, BUF, N);
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

int ADM_CONSOLEFD() {
  if (!ADM_STDINON || ADM_STDINDONE || !ADM_STDINOURS()) {
    return -1;
  }
  return 0; // standard input
}

void ADM_CONSOLE() {
  if (ADM_CONSOLEFD() < 0) {
    return;
  }
  // A few reads a cycle at most: a flood of input cannot hold the tick.
  char BUF[4096];
  for (int N = 0; N < 16; N++) {
    long K = ADM_STDINREAD(BUF, sizeof BUF);
    if (K == 0) {
      return;
    }
    if (K < 0) {
      ADM_STDINDONE = true;
      if (!ADM_PENDING.empty() && !ADM_SKIPPING) {
        ADM_RUNCOMMAND(ADM_PENDING); // the last line needs no line end
      }
      ADM_PENDING.clear();
      return;
    }
    ADM_TAKEINPUT(BUF, size_t(K));
    if (SV_QUITASKED) {
      return; // what follows "quit" is not run
    }
  }
}

void ADM_TAKEINPUT(const char* BUF, size_t N) {
  for (size_t I = 0; I < N && !SV_QUITASKED; I++) {
    char C = BUF[I];
    if (C == '\n') {
      if (!ADM_SKIPPING) {
        if (!ADM_PENDING.empty() && ADM_PENDING.back() == '\r') {
          ADM_PENDING.pop_back();
        }
        ADM_RUNCOMMAND(ADM_PENDING);
      }
      ADM_PENDING.clear();
      ADM_SKIPPING = false;
    } else if (!ADM_SKIPPING) {
      ADM_PENDING += C;
      if (ADM_PENDING.size() > ADM_MAXLINE) {
        SC_ERROR("line longer than " + std::to_string(ADM_MAXLINE) + " bytes ignored");
        ADM_PENDING.clear();
        ADM_SKIPPING = true;
      }
    }
  }
}
