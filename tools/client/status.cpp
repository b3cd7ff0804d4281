// status: the server's settings and players; with several servers, one
// line each, all asked at once.
#include "peer.hpp"

static int CL_FLEET(const CL_OPTIONS& O) {
  std::vector<CL_LOOKAT> LS(O.SERVERS.size());
  std::vector<CL_FLEETROW> ROWS(O.SERVERS.size());
  long NOW = CL_NOWMS();
  for (size_t I = 0; I < LS.size(); I++) {
    const CL_SERVER& SV = O.SERVERS[I];
    CL_ENDPOINT T;
    std::string ERR;
    ROWS[I].ADDRESS = SV.HOST + ":" + std::to_string(SV.PORT);
    if (!CL_RESOLVE(SV.HOST, SV.PORT, T, ERR)) {
      LS[I].RESULT = CL_EXIT_USAGE;
      LS[I].ERROR = ERR;
      continue;
    }
    CL_LOOKSTART(LS[I], O, T, true, NOW);
  }
  CL_LOOKALL(LS, O);
  int EXIT = CL_EXIT_OK;
  for (size_t I = 0; I < LS.size(); I++) {
    ROWS[I].STATUS = LS[I].RESULT;
    ROWS[I].ERROR = LS[I].ERROR;
    ROWS[I].INFO = LS[I].INFO;
    if (EXIT == CL_EXIT_OK) {
      EXIT = LS[I].RESULT;
    }
  }
  CL_OUT(O.JSON ? CL_FLEETJSON(ROWS) : CL_FLEETTEXT(ROWS));
  return EXIT;
}

int CL_STATUSCMD(const CL_OPTIONS& O) {
  if (O.SERVERS.size() > 1) {
    return CL_FLEET(O);
  }
  CL_LOOKAT L;
  int R = CL_LOOK(O, true, L);
  if (R != CL_EXIT_OK) {
    return R;
  }
  CL_OUT(O.JSON ? CL_STATUSJSON(L.INFO) : CL_STATUSTEXT(L.INFO));
  return CL_EXIT_OK;
}
