// The admin API's side of the game thread: the commands the HTTP thread
// queues, run after the console's lines through the one command table, their
// answers handed back, and the record of who ran what.
//
// The HTTP thread copies a command into ADM_JOBS under a short lock and
// writes a byte to the wake pipe, which the main loop's idle wait watches:
// an empty server runs the command at once instead of within a second.
#include <cerrno>
#ifdef _WIN32
#include <io.h>
#else
#include <fcntl.h>
#include <unistd.h>
#endif

#include "admin/admin.hpp"
#include "record/record.hpp"
#include "server/server.hpp"

bool ADM_WAKEOPEN() {
  if (ADM_WAKEFDS[0] >= 0) {
    return true;
  }
#ifdef _WIN32
  // The idle wait watches sockets only; any descriptor number shortens it
  // to one cycle (NET_WAIT), and nothing is written.
  ADM_WAKEFDS[0] = 0;
  return true;
#else
  int FD[2];
  if (pipe(FD) != 0) {
    return false;
  }
  for (int K : FD) {
    fcntl(K, F_SETFD, FD_CLOEXEC);
    fcntl(K, F_SETFL, fcntl(K, F_GETFL) | O_NONBLOCK);
  }
  ADM_WAKEFDS[0] = FD[0];
  ADM_WAKEFDS[1] = FD[1];
  return true;
#endif
}

void ADM_WAKECLOSE() {
#ifndef _WIN32
  for (int& FD : ADM_WAKEFDS) {
    if (FD >= 0) {
      close(FD);
    }
  }
#endif
  ADM_WAKEFDS[0] = ADM_WAKEFDS[1] = -1;
}

bool ADM_QUEUE(TADMJOB JOB) {
  {
    std::lock_guard<std::mutex> LOCK(ADM_JOBSMX);
    if (ADM_JOBS.size() >= ADM_MAXJOBS) {
      return false;
    }
    ADM_JOBS.push_back(std::move(JOB));
  }
#ifndef _WIN32
  if (ADM_WAKEFDS[1] >= 0) {
    // A full pipe has a byte waiting already: the game thread wakes anyway.
    char B = 1;
    ssize_t N = write(ADM_WAKEFDS[1], &B, 1);
    (void)N;
  }
#endif
  return true;
}

void ADM_RUNQUEUED() {
#ifndef _WIN32
  if (ADM_WAKEFDS[0] >= 0) {
    char B[64];
    while (read(ADM_WAKEFDS[0], B, sizeof B) > 0) {
    }
  }
#endif
  std::deque<TADMJOB> JOBS;
  {
    std::lock_guard<std::mutex> LOCK(ADM_JOBSMX);
    if (ADM_JOBS.empty()) {
      return;
    }
    JOBS.swap(ADM_JOBS);
  }
  std::vector<TADMDONE> DONE;
  for (TADMJOB& J : JOBS) {
    TADMDONE D{J.ID, false, false, {}};
    // Nothing after "quit" runs, as on the console.
    if (!SV_QUITASKED) {
      D.RAN = true;
      D.OK = ADM_RUNAPI(J.ADMIN, J.ADDRESS, J.LINE, D.LINES);
    }
    DONE.push_back(std::move(D));
  }
  std::lock_guard<std::mutex> LOCK(ADM_JOBSMX);
  for (TADMDONE& D : DONE) {
    ADM_DONE.push_back(std::move(D));
  }
}

void ADM_TAKEDONE(std::vector<TADMDONE>& OUT) {
  std::lock_guard<std::mutex> LOCK(ADM_JOBSMX);
  OUT.swap(ADM_DONE);
  ADM_DONE.clear();
}

void ADM_ATTRIBUTE(const std::string& ADMIN, const std::string& ADDRESS, const std::string& LINE,
                   bool OK) {
  REC_JSONADMIN(ADMIN, ADDRESS, LINE, OK);
  if (!ADM_RECORDSON) {
    return;
  }
  std::lock_guard<std::mutex> LOCK(ADM_JOBSMX);
  if (ADM_RECORDS.size() >= ADM_MAXRECORDS) {
    ADM_RECORDS.pop_front();
  }
  ADM_RECORDS.push_back({ADMIN, ADDRESS, LINE, OK});
}

void ADM_TAKERECORDS(std::vector<TADMRECORD>& OUT) {
  OUT.clear();
  std::lock_guard<std::mutex> LOCK(ADM_JOBSMX);
  OUT.assign(ADM_RECORDS.begin(), ADM_RECORDS.end());
  ADM_RECORDS.clear();
}
