#include "tests/api/api_fixture.h"

namespace nurva::test {

void ApiTest::TearDown() { api::ReleaseListForUnload(); }

ScriptedPeer& ApiTest::AddProgrammer(uint32_t serial, std::string_view name) {
  char dev[16];
  std::snprintf(dev, sizeof dev, "dev%02zu", peers.size());
  peers.push_back(std::make_unique<ScriptedPeer>(bus, dev));
  peers.back()->Identify(ProgrammerRec(name, serial));
  return *peers.back();
}

void ApiTest::Discover(int programmers) {
  for (int i = 0; i < programmers; ++i) AddProgrammer(0x1000 + static_cast<uint32_t>(i));
  AbortAll();
  int32_t count = -1;
  char ids[512];
  GetProgIDs(&count, ids);
  ASSERT_EQ(count, programmers);
  for (auto& p : peers) p->ClearLog();
}

}  // namespace nurva::test
