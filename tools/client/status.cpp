// status: the server's settings and players.
#include "peer.hpp"

int CL_STATUSCMD(const CL_OPTIONS& O) {
  CL_MAPINFO M;
  CL_STATE S;
  int R = CL_LOOK(O, M, S);
  if (R != CL_EXIT_OK) {
    return R;
  }
  CL_STATUSINFO I = CL_MAKESTATUS(M, S);
  CL_OUT(O.JSON ? CL_STATUSJSON(I) : CL_STATUSTEXT(I));
  return CL_EXIT_OK;
}
