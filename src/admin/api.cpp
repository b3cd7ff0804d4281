// The admin API's side of the game thread: the commands the HTTP thread
// queued (queue.cpp), run after the console's lines through the one command
// table, their answers handed back, and the record of who ran what.
#include "admin/admin.hpp"
#include "record/record.hpp"
#include "server/server.hpp"

void ADM_RUNQUEUED() {
  // Called every cycle: with nothing queued it makes no deque (which would
  // allocate even empty), only looks.
  std::unique_lock<std::mutex> LOCK(ADM_JOBSMX);
  if (ADM_JOBS.empty()) {
    return;
  }
  std::deque<TADMJOB> JOBS;
  JOBS.swap(ADM_JOBS);
  LOCK.unlock();
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
  LOCK.lock();
  for (TADMDONE& D : DONE) {
    ADM_DONE.push_back(std::move(D));
  }
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
