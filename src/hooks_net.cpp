// The network's seams: they read the transport (the datagram's sender) or
// send through it.
#include "admin/admin.hpp"
#include "community/community.hpp"
#include "hooks.hpp"
#include "query/query.hpp"
#include "record/record.hpp"

void HOOK_RECEIVED(int32_t R) {
  REC_RECEIVED(R);
}

bool HOOK_BANNED(const std::string& IP) {
  return ADM_BANNED(IP);
}

bool HOOK_FOREIGN(const std::string& IP, uint16_t PORT) {
  return QRY_QUERY(IP, PORT);
}

bool HOOK_CHAT(uint8_t CID, const std::string& TEXT) {
  return COM_CHAT(CID, TEXT);
}
