// The console's, the ban list's and the admin API's state, and their start
// values.
#include "admin/admin.hpp"

TSNAPSHOT ADM_SNAP;
bool ADM_STDINON = false;
bool ADM_STDINDONE = false;
int ADM_STDINTTY = -1;
std::string ADM_PENDING;
bool ADM_SKIPPING = false;
std::string ADM_TYPED;

std::vector<TBAN> ADM_BANLINES;
int ADM_BANENTRIES = 0;
std::string ADM_BANPATH;
bool ADM_BANWRITABLE = true;
std::unordered_map<uint64_t, int64_t> ADM_BANINDEX;
uint64_t ADM_BANBITS = 0;

std::string ADM_ADMINSPATH;
std::vector<TADMIN> ADM_ADMINS;
std::mutex ADM_ADMINSMX;
std::deque<TADMJOB> ADM_JOBS;
std::vector<TADMDONE> ADM_DONE;
std::mutex ADM_JOBSMX;
bool ADM_RECORDSON = false;
std::deque<TADMRECORD> ADM_RECORDS;

void ADM_RESET() {
  ADM_SNAP = {};
  ADM_STDINON = false;
  ADM_STDINDONE = false;
  ADM_STDINTTY = -1;
  ADM_PENDING.clear();
  ADM_SKIPPING = false;
  ADM_TYPED.clear();
  ADM_BANLINES.clear();
  ADM_BANENTRIES = 0;
  ADM_BANPATH.clear();
  ADM_BANWRITABLE = true;
  ADM_BANINDEX.clear();
  ADM_BANBITS = 0;
  ADM_ADMINSPATH.clear();
  {
    std::lock_guard<std::mutex> LOCK(ADM_ADMINSMX);
    ADM_ADMINS.clear();
  }
  {
    std::lock_guard<std::mutex> LOCK(ADM_JOBSMX);
    ADM_JOBS.clear();
    ADM_DONE.clear();
    ADM_RECORDS.clear();
  }
  ADM_RECORDSON = false;
}
