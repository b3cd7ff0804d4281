// The console's and the ban list's state, and their start values.
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
}
