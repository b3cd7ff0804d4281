// The Windows console, clock, sleep and stop: what console.cpp leaves to the
// platform.
//
// Ctrl-C, Ctrl-Break, closing the console window and a system shutdown all
// ask the main loop to stop after the current cycle, as SIGINT and SIGTERM
// do on Linux. Windows calls the handler on a thread of its own.
#include <windows.h>

#include <mmsystem.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <io.h>

#include "server/server.hpp"

namespace {
std::atomic<bool> STOPASKED{false};
// Set together with STOPASKED, so that a sleep ends at once.
HANDLE STOPEVENT = nullptr;
UINT OLDOUTPUTCP = 0;

BOOL WINAPI SC_ONCTRL(DWORD TYPE) {
  if (TYPE == CTRL_LOGOFF_EVENT) {
    // Only a server run as a service sees this, for any user who logs off;
    // it is no reason to stop.
    return TRUE;
  }
  STOPASKED = true;
  if (STOPEVENT != nullptr) {
    SetEvent(STOPEVENT);
  }
  if (TYPE == CTRL_CLOSE_EVENT || TYPE == CTRL_SHUTDOWN_EVENT) {
    // Windows ends the process as soon as this handler returns: hold it here
    // while the main loop finishes its cycle, closes the socket and exits
    // (which ends this thread too). Windows itself waits about 5 s.
    Sleep(10000);
  }
  return TRUE;
}

void SC_RESTORECP() {
  SetConsoleOutputCP(OLDOUTPUTCP);
}

bool SC_ISCONSOLE(DWORD STDHANDLE) {
  DWORD MODE;
  return GetConsoleMode(GetStdHandle(STDHANDLE), &MODE) != 0;
}
} // namespace

void SC_CLEAR() {
  if (SC_CAPTURE != nullptr || !SC_ISCONSOLE(STD_OUTPUT_HANDLE)) {
    return;
  }
  // The console API rather than an escape sequence: a console without
  // virtual terminal processing would print the escape as text.
  HANDLE HOUT = GetStdHandle(STD_OUTPUT_HANDLE);
  CONSOLE_SCREEN_BUFFER_INFO INFO;
  if (GetConsoleScreenBufferInfo(HOUT, &INFO) == 0) {
    return;
  }
  DWORD CELLS = DWORD(INFO.dwSize.X) * DWORD(INFO.dwSize.Y);
  DWORD DONE;
  COORD HOME{0, 0};
  FillConsoleOutputCharacterA(HOUT, ' ', CELLS, HOME, &DONE);
  FillConsoleOutputAttribute(HOUT, INFO.wAttributes, CELLS, HOME, &DONE);
  SetConsoleCursorPosition(HOUT, HOME);
}

void SC_SLEEP(int MS) {
  if (STOPEVENT != nullptr) {
    (void)WaitForSingleObject(STOPEVENT, DWORD(MS));
  } else {
    Sleep(DWORD(MS));
  }
}

int64_t SC_UTCMS() {
  FILETIME F;
  GetSystemTimeAsFileTime(&F);
  // 100 ns steps since 1601-01-01; the Unix epoch is 11644473600 s later.
  int64_t T = int64_t(uint64_t(F.dwHighDateTime) << 32 | F.dwLowDateTime);
  return (T - 116444736000000000LL) / 10000;
}

int64_t SC_NOWMS() {
  static const int64_t FREQ = [] {
    LARGE_INTEGER F;
    QueryPerformanceFrequency(&F);
    return int64_t(F.QuadPart);
  }();
  LARGE_INTEGER C;
  QueryPerformanceCounter(&C);
  // Split so that counter times 1000 cannot overflow.
  int64_t N = int64_t(C.QuadPart);
  return N / FREQ * 1000 + N % FREQ * 1000 / FREQ;
}

void SC_CATCHSTOP() {
  // main calls this first, so it also readies the console: lines leave as
  // the same bytes as on Linux (a bare "\n", no "\r\n"), and a console shows
  // the UTF-8 that SC_PRINTABLE makes of Latin-1 names.
  _setmode(_fileno(stdout), _O_BINARY);
  _setmode(_fileno(stderr), _O_BINARY);
  if (SC_ISCONSOLE(STD_OUTPUT_HANDLE)) {
    OLDOUTPUTCP = GetConsoleOutputCP();
    SetConsoleOutputCP(CP_UTF8);
    std::atexit(SC_RESTORECP);
  }
  // The system timer ticks every 15.6 ms by default, which would stretch the
  // 30 ms pause to 31 or 46 ms; 1 ms keeps the cycle on time.
  timeBeginPeriod(1);
  STOPEVENT = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  SetConsoleCtrlHandler(SC_ONCTRL, TRUE);
}

bool SC_STOPASKED() {
  return STOPASKED;
}

// The console's stop events come to a thread of their own, whatever the
// other threads do: nothing to block.
void SC_BLOCKSTOPSIGNALS() {}

// Windows has no hang-up signal to ask for anything.
bool SC_HUPASKED() {
  return false;
}
