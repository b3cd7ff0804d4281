// The event stream's deltas: what a page applies to its copy of the status.
#include <gtest/gtest.h>

#include <memory>
#include <nlohmann/json.hpp>

#include "server/server.hpp"
#include "status/status.hpp"
#include "web/web.hpp"

// A player who only draws another weapon while firing, standing still:
// the delta names the slot the weapon belongs to, on a public address too.
TEST(Render, AChangeOfWeaponAloneNamesItsSlot) {
  auto A = std::make_unique<TSNAPSHOT>(), B = std::make_unique<TSNAPSHOT>();
  A->NSLOTS = 1;
  A->SLOTS[0].SLOT = 3;
  A->SLOTS[0].STATE = PS_ATTA;
  A->SLOTS[0].X = 100;
  A->SLOTS[0].Y = 200;
  A->SLOTS[0].GUN = 2;
  *B = *A;
  B->SLOTS[0].GUN = 3;
  for (bool PUBLIC : {false, true}) {
    std::string OUT;
    ASSERT_TRUE(WEB_DELTAJSON(*A, *B, PUBLIC, OUT));
    nlohmann::json D = nlohmann::json::parse(OUT);
    EXPECT_EQ(D["slots"], nlohmann::json::parse(R"([{"slot": 3, "weapon": "mp40"}])")) << OUT;
  }
}
