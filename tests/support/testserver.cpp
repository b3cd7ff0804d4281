#include "support/testserver.hpp"

#include <unistd.h>

std::string BYTES(std::initializer_list<int> B) {
  std::string S;
  for (int V : B) {
    S += char(uint8_t(V));
  }
  return S;
}

void TServerTest::SetUp() {
  SV_RESETSTATE();
  MEMNET_RESET();
  SC_CAPTURE = &LINES;
  SC_WARNCAPTURE = &WARNS;
}

void TServerTest::TearDown() {
  SC_CAPTURE = nullptr;
  SC_WARNCAPTURE = nullptr;
}

void TServerTest::START(const std::vector<std::string>& ARGS) {
  ASSERT_TRUE(GAMESTART(ARGS));
}

void TServerTest::CYCLE(int N) {
  for (int I = 0; I < N; I++) {
    // The clocks advance one nominal period a cycle, as the main loop would
    // read them: what is measured in real time keeps its meaning in ticks.
    SV_NOWMS += FPS_INT;
    SV_UTCMS += FPS_INT;
    GAMECYCLE();
  }
}

void TServerTest::SEND(const std::string& IP, uint16_t PORT, const std::string& DATA) {
  MEMNET_PUSH(IP, PORT, DATA);
}

uint8_t TServerTest::CONNECT(const std::string& IP, uint16_t PORT, const std::string& NAME,
                             uint8_t TEAM) {
  SEND(IP, PORT, CL_CONNECT(NAME, TEAM));
  CYCLE();
  for (int I = 1; I <= MAXCLIENTS; I++) {
    const TCLIENT& C = SV_CLIENTSLIST[I];
    if (C.EXIST && !C.BOT && C.IP == IP && C.PORT == PORT) {
      return uint8_t(I);
    }
  }
  return 0;
}

uint8_t TServerTest::JOIN(const std::string& IP, uint16_t PORT, const std::string& NAME,
                          uint8_t TEAM) {
  uint8_t S = CONNECT(IP, PORT, NAME, TEAM);
  if (S == 0) {
    return 0;
  }
  const TCLIENT& C = SV_CLIENTSLIST[S];
  SEND(IP, PORT, CL_DATA(SV_PINGVAR, C.DIR, PLACT_SJ, C.X, C.Y, C.LOGI));
  CYCLE();
  return S;
}

std::vector<std::string> TServerTest::TAKE(const std::string& IP, uint16_t PORT) {
  std::vector<std::string> R = MEMNET_SENTTO(IP, PORT);
  MEMNET_OUT.clear();
  return R;
}

CL_STATE TServerTest::LASTSTATE(const std::string& IP, uint16_t PORT) {
  CL_STATE S;
  std::vector<std::string> ALL = TAKE(IP, PORT);
  for (auto IT = ALL.rbegin(); IT != ALL.rend(); ++IT) {
    if (!IT->empty() && uint8_t((*IT)[0]) == CLMPMSG_SHAP) {
      EXPECT_TRUE(CL_PARSESTATE(*IT, S));
      return S;
    }
  }
  ADD_FAILURE() << "no state packet sent to " << IP << ":" << PORT;
  return S;
}

void TScratchServerTest::SetUp() {
  TServerTest::SetUp();
  const ::testing::TestInfo* T = ::testing::UnitTest::GetInstance()->current_test_info();
  OLD = std::filesystem::current_path();
  DIR =
      std::filesystem::temp_directory_path() / ("brastok-" + std::string(T->test_suite_name()) +
                                                "-" + std::to_string(::getpid()) + "-" + T->name());
  std::filesystem::create_directories(DIR / "maps");
  std::filesystem::current_path(DIR);
}

void TScratchServerTest::TearDown() {
  std::filesystem::current_path(OLD);
  std::filesystem::remove_all(DIR);
  TServerTest::TearDown();
}
