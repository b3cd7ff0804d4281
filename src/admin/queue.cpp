// The queues between the HTTP thread and the game thread: commands one
// way, answers and the records of who ran what the other, each under
// ADM_JOBSMX and held only as long as a copy takes.
//
// The HTTP thread copies a command into ADM_JOBS and writes a byte to the
// wake pipe, which the main loop's idle wait watches: an empty server runs
// the command at once instead of within a second.
#ifndef _WIN32
#include <fcntl.h>
#include <unistd.h>
#endif

#include "admin/admin.hpp"

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

void ADM_TAKEDONE(std::vector<TADMDONE>& OUT) {
  std::lock_guard<std::mutex> LOCK(ADM_JOBSMX);
  OUT.swap(ADM_DONE);
  ADM_DONE.clear();
}

void ADM_TAKERECORDS(std::vector<TADMRECORD>& OUT) {
  OUT.clear();
  std::lock_guard<std::mutex> LOCK(ADM_JOBSMX);
  OUT.assign(ADM_RECORDS.begin(), ADM_RECORDS.end());
  ADM_RECORDS.clear();
}
