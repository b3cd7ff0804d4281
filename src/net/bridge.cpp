// The bridge between the transports and the HTTP side's WebSocket sessions.
//
// What both threads touch lives under NET_BRIDGELOCK: the queue in (events
// of the sessions, oldest first) and each session's record with its queue
// out. What only the game thread touches (which session holds which
// address, the events taken and not yet handed out, the cycle's datagrams
// and verdicts) lives beside it without a lock. The game thread takes the
// whole queue in with one swap and hands its datagrams and verdicts over
// with one lock at the end of the cycle.
#include "net/bridge.hpp"

#include <algorithm>
#include <mutex>
#include <unordered_map>

#include "hooks.hpp"
#include "net/net.hpp"

namespace {

enum : uint8_t { EV_OPEN, EV_DATA, EV_CLOSE };

struct TEVENT {
  uint64_t ID;
  uint8_t KIND;
  std::string DATA;
};

struct TPEER {
  uint64_t KEY; // address << 16 | port
  uint8_t VERDICT = NET_PEERWAIT;
  bool KILL = false;
  uint32_t INQ = 0; // its datagrams in the queue in
  std::deque<std::string> OUT;
};

std::mutex NET_BRIDGELOCK;
// ---- under the lock ----
std::deque<TEVENT> NET_INQUEUE;
uint32_t NET_INDATA = 0; // datagrams among them
std::unordered_map<uint64_t, TPEER> NET_PEERS;
std::vector<uint64_t> NET_NEWS;
uint64_t NET_NEXTID = 1;
// ---- atomics both threads read ----
std::atomic<uint32_t> NET_INCOUNT{0}; // events in NET_INQUEUE
std::atomic<bool> NET_WAITING{false}; // the game thread is in an idle wait
// ---- the game thread's own ----
std::unordered_map<uint64_t, uint64_t> NET_HOLDERS; // address key -> session id
std::unordered_map<uint64_t, uint64_t> NET_HELD;    // session id -> address key
std::deque<TEVENT> NET_INHAND;                      // taken, not yet handed out
std::vector<std::pair<uint64_t, std::string>> NET_OUTBATCH;
std::vector<std::pair<uint64_t, uint8_t>> NET_VERDICTS;

uint64_t NET_KEY(uint32_t IPV4, uint16_t PORT) {
  return uint64_t(IPV4) << 16 | PORT;
}

std::string NET_IPTEXT(uint32_t A) {
  std::string T;
  for (int K = 3; K >= 0; K--) {
    T += std::to_string((A >> (8 * K)) & 255u);
    if (K > 0) {
      T += '.';
    }
  }
  return T;
}

// Whether a slot is held from IP:PORT (in a session's view, by anyone).
bool NET_SLOTHELD(const std::string& IP, uint16_t PORT) {
  for (int I = 1; I <= MAXCLIENTS; I++) {
    const TCLIENT& C = SV_CLIENTSLIST[I];
    if (C.EXIST && !C.BOT && C.PORT == PORT && C.IP == IP) {
      return true;
    }
  }
  return false;
}

// Queues an event under the lock, then wakes an idle game thread.
void NET_PUSH(TEVENT&& E) {
  {
    std::lock_guard<std::mutex> L(NET_BRIDGELOCK);
    NET_INQUEUE.push_back(std::move(E));
    NET_INCOUNT.store(uint32_t(NET_INQUEUE.size()));
  }
  if (NET_WAITING.exchange(false)) {
    NET_WAKE();
  }
}

} // namespace

bool NET_BRIDGEUP = false;
std::atomic<bool> NET_BRIDGEHASNEWS{false};

void NET_BRIDGEON() {
  NET_BRIDGEOFF();
  NET_BRIDGEUP = true;
}

void NET_BRIDGEOFF() {
  std::lock_guard<std::mutex> L(NET_BRIDGELOCK);
  NET_BRIDGEUP = false;
  NET_INQUEUE.clear();
  NET_INDATA = 0;
  NET_PEERS.clear();
  NET_NEWS.clear();
  NET_INCOUNT = 0;
  NET_WAITING = false;
  NET_BRIDGEHASNEWS = false;
  NET_HOLDERS.clear();
  NET_HELD.clear();
  NET_INHAND.clear();
  NET_OUTBATCH.clear();
  NET_VERDICTS.clear();
}

// ---- the I/O thread ----

uint64_t NET_PEEROPEN(uint32_t IPV4, uint16_t PORT) {
  uint64_t ID;
  {
    std::lock_guard<std::mutex> L(NET_BRIDGELOCK);
    ID = NET_NEXTID++;
    NET_PEERS[ID].KEY = NET_KEY(IPV4, PORT);
  }
  NET_PUSH({ID, EV_OPEN, {}});
  return ID;
}

bool NET_PEERIN(uint64_t ID, const void* DATA, size_t N) {
  TEVENT E{ID, EV_DATA, std::string(static_cast<const char*>(DATA), N)};
  {
    std::lock_guard<std::mutex> L(NET_BRIDGELOCK);
    auto P = NET_PEERS.find(ID);
    if (P == NET_PEERS.end() || P->second.INQ >= NET_PEERINMAX || NET_INDATA >= NET_BRIDGEINMAX) {
      return false;
    }
    P->second.INQ++;
    NET_INDATA++;
    NET_INQUEUE.push_back(std::move(E));
    NET_INCOUNT.store(uint32_t(NET_INQUEUE.size()));
  }
  if (NET_WAITING.exchange(false)) {
    NET_WAKE();
  }
  return true;
}

void NET_PEERCLOSE(uint64_t ID) {
  {
    std::lock_guard<std::mutex> L(NET_BRIDGELOCK);
    if (NET_PEERS.erase(ID) == 0) {
      return; // closed already, or the bridge went off
    }
  }
  NET_PUSH({ID, EV_CLOSE, {}});
}

void NET_BRIDGENEWS(std::vector<uint64_t>& IDS) {
  IDS.clear();
  std::lock_guard<std::mutex> L(NET_BRIDGELOCK);
  NET_BRIDGEHASNEWS = false;
  IDS.swap(NET_NEWS);
}

uint8_t NET_PEERTAKE(uint64_t ID, bool TAKEOUT, std::deque<std::string>& OUT, bool& KILL) {
  std::lock_guard<std::mutex> L(NET_BRIDGELOCK);
  auto P = NET_PEERS.find(ID);
  if (P == NET_PEERS.end()) {
    KILL = true;
    return NET_PEERGONE;
  }
  KILL = P->second.KILL;
  if (TAKEOUT) {
    for (std::string& D : P->second.OUT) {
      OUT.push_back(std::move(D));
    }
    P->second.OUT.clear();
  }
  return P->second.VERDICT;
}

// ---- the game thread ----

// What a new session gets: refused when its address is banned or held.
static uint8_t NET_VERDICT(uint64_t KEY) {
  uint32_t A = uint32_t(KEY >> 16);
  uint16_t PORT = uint16_t(KEY);
  std::string IP = NET_IPTEXT(A);
  if (HOOK_BANNED(IP)) {
    return NET_PEERBANNED;
  }
  if (NET_HOLDERS.count(KEY) != 0 || NET_SLOTHELD(IP, PORT)) {
    return NET_PEERINUSE;
  }
  return NET_PEERLIVE;
}

int32_t NET_BRIDGERECEIVE(uint32_t& IPV4, uint16_t& PORT) {
  if (NET_INHAND.empty()) {
    if (NET_INCOUNT.load() == 0) {
      return NET_RECV_NONE;
    }
    std::lock_guard<std::mutex> L(NET_BRIDGELOCK);
    NET_INHAND.swap(NET_INQUEUE);
    NET_INCOUNT = 0;
    NET_INDATA = 0;
    for (const TEVENT& E : NET_INHAND) {
      auto P = NET_PEERS.find(E.ID);
      if (E.KIND == EV_DATA && P != NET_PEERS.end()) {
        P->second.INQ--;
      }
    }
  }
  while (!NET_INHAND.empty()) {
    TEVENT E = std::move(NET_INHAND.front());
    NET_INHAND.pop_front();
    if (E.KIND == EV_OPEN) {
      // The key is in the record, which the I/O thread may erase at any
      // time: read it under the lock.
      uint64_t KEY = 0;
      {
        std::lock_guard<std::mutex> L(NET_BRIDGELOCK);
        auto P = NET_PEERS.find(E.ID);
        if (P == NET_PEERS.end()) {
          // Ended before it was decided on: its close follows, with the
          // key unknown here, so nothing is held for it.
          continue;
        }
        KEY = P->second.KEY;
      }
      uint8_t V = NET_VERDICT(KEY);
      if (V == NET_PEERLIVE) {
        NET_HOLDERS[KEY] = E.ID;
        NET_HELD[E.ID] = KEY;
      }
      NET_VERDICTS.emplace_back(E.ID, V);
      continue;
    }
    // Find the address the session holds (none: refused, or never decided).
    auto H = NET_HELD.find(E.ID);
    if (H == NET_HELD.end()) {
      continue;
    }
    uint64_t KEY = H->second;
    IPV4 = uint32_t(KEY >> 16);
    PORT = uint16_t(KEY);
    if (E.KIND == EV_DATA) {
      NET_LOADBUFFER(E.DATA.data(), E.DATA.size());
      return int32_t(std::min<size_t>(E.DATA.size(), MAXBUFFER));
    }
    // EV_CLOSE: the address is free again; a slot still held from it goes
    // as a disconnect message would take it.
    NET_HOLDERS.erase(KEY);
    NET_HELD.erase(H);
    if (NET_SLOTHELD(NET_IPTEXT(IPV4), PORT)) {
      uint8_t BYE = SVMPMSG_CDCON;
      NET_LOADBUFFER(&BYE, 1);
      return 1;
    }
  }
  return NET_RECV_NONE;
}

bool NET_BRIDGEOWNS(uint32_t IPV4, uint16_t PORT) {
  return !NET_HOLDERS.empty() && NET_HOLDERS.count(NET_KEY(IPV4, PORT)) != 0;
}

void NET_BRIDGESEND(uint32_t IPV4, uint16_t PORT, const uint8_t* DATA, size_t N) {
  auto H = NET_HOLDERS.find(NET_KEY(IPV4, PORT));
  if (H != NET_HOLDERS.end()) {
    NET_OUTBATCH.emplace_back(H->second, std::string(reinterpret_cast<const char*>(DATA), N));
  }
}

void NET_BRIDGEFLUSH() {
  if (NET_OUTBATCH.empty() && NET_VERDICTS.empty()) {
    return;
  }
  {
    std::lock_guard<std::mutex> L(NET_BRIDGELOCK);
    for (auto& [ID, V] : NET_VERDICTS) {
      auto P = NET_PEERS.find(ID);
      if (P != NET_PEERS.end()) {
        P->second.VERDICT = V;
        NET_NEWS.push_back(ID);
      }
    }
    for (auto& [ID, D] : NET_OUTBATCH) {
      auto P = NET_PEERS.find(ID);
      if (P == NET_PEERS.end() || P->second.KILL) {
        continue; // ended, or closing: the datagram is lost, as over UDP
      }
      TPEER& R = P->second;
      bool WASEMPTY = R.OUT.empty();
      R.OUT.push_back(std::move(D));
      if (R.OUT.size() > NET_PEEROUTMAX) {
        // Its browser stopped reading: the session is closed, which frees
        // its slot.
        R.KILL = true;
        R.OUT.clear();
        NET_NEWS.push_back(ID);
      } else if (WASEMPTY) {
        NET_NEWS.push_back(ID);
      }
    }
    NET_BRIDGEHASNEWS = true;
  }
  NET_OUTBATCH.clear();
  NET_VERDICTS.clear();
}

bool NET_BRIDGEWAITBEGIN() {
  if (!NET_INHAND.empty()) {
    return false;
  }
  NET_WAITING.store(true);
  if (NET_INCOUNT.load() != 0) {
    NET_WAITING.store(false);
    return false;
  }
  return true;
}

void NET_BRIDGEWAITEND() {
  NET_WAITING.store(false);
}
