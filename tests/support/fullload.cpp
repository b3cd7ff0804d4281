#include "support/fullload.hpp"

#include "clientproto.hpp"
#include "maps/maps.hpp"
#include "net/memnet.hpp"
#include "server/server.hpp"

std::vector<std::string> FULLLOAD_LINES;

static const char* const HUMANIP = "10.1.1.1";
constexpr uint16_t HUMANPORT = 5000;

std::string OPENMAP_TEXT() {
  // A few short walls, obstacles here and there, items spread over the map
  // and spawn points on a coarse grid; everything else open.
  std::string T = "640001";
  for (int Y = 1; Y <= 64; Y++) {
    std::string ROW(64, ' ');
    for (int X = 1; X <= 64; X++) {
      char C = ' ';
      if (X % 16 == 8 && Y % 16 >= 6 && Y % 16 <= 9) {
        C = 'B'; // short wall
      } else if ((X * 7 + Y * 13) % 97 == 0) {
        C = 'p'; // obstacle
      } else if (X % 16 == 12 && Y % 16 == 12) {
        C = '@';
      } else if (X % 8 == 4 && Y % 8 == 4) {
        C = char('0' + (X / 8 + Y / 8) % 10); // item
      }
      ROW[size_t(X - 1)] = C;
    }
    T += ROW;
    if (Y < 64) {
      T += '\r';
    }
  }
  return T;
}

void FULLLOAD_START(bool OPENMAP, int WARMUP) {
  SV_RESETSTATE();
  MEMNET_RESET();
  MEMNET_RECORD = false;
  SC_CAPTURE = &FULLLOAD_LINES;
  SC_WARNCAPTURE = &FULLLOAD_LINES;
  GAMESTART({"-maxplayers", "24", "-bots", "23", "-score", "255"});
  if (OPENMAP) {
    MAPFROMSTR(1, OPENMAP_TEXT() + '\0');
    SV_LOADCURMAP(1);
  }
  MEMNET_PUSH(HUMANIP, HUMANPORT, CL_CONNECT("human", 0));
  GAMECYCLE();
  MEMNET_REPLAY = {{HUMANIP, HUMANPORT, CL_DATA(0, 0, 0, 0, 0, 0)}};
  for (int I = 0; I < WARMUP; I++) {
    FULLLOAD_TICK();
  }
}

void FULLLOAD_TICK() {
  // The human's data message, patched in place: the echo of the last tick
  // counter and the acknowledgement of the newest log line.
  std::string& D = MEMNET_REPLAY[0].DATA;
  D[1] = char(SV_PINGVAR & 0xFF);
  D[2] = char(SV_PINGVAR >> 8);
  D[10] = char(SV_LOGI & 0xFF);
  D[11] = char(SV_LOGI >> 8);
  GAMECYCLE();
  if (SV_SCOREBOARD > 0) {
    SV_SCOREBOARD = 0;
    for (int I = 1; I <= MAXCLIENTS; I++) {
      SV_CLIENTSLIST[I].SCORE = 0;
    }
  }
  FULLLOAD_LINES.clear();
}
