// The queues between the HTTP thread and the game thread: commands one
// way, answers and the records of who ran what the other, each under
// ADM_JOBSMX and held only as long as a copy takes.
//
// The HTTP thread copies a command into ADM_JOBS and ends the main loop's
// idle wait (NET_WAKE): an empty server runs the command at once instead
// of within a second.
#include "admin/admin.hpp"
#include "net/transport.hpp"

bool ADM_QUEUE(TADMJOB JOB) {
  {
    std::lock_guard<std::mutex> LOCK(ADM_JOBSMX);
    if (ADM_JOBS.size() >= ADM_MAXJOBS) {
      return false;
    }
    ADM_JOBS.push_back(std::move(JOB));
  }
  NET_WAKE();
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
