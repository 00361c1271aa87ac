// The virtual programmer's protection reply and parameter record, over the bus.
#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "tests/sim/SimHarness.h"
#include "tools/sim/Model.h"

using namespace nurva;
using namespace nurva::test;

namespace {

constexpr uint8_t ACK = 0x06, NAK = 0x15;

Bytes Record(const sim::Project& p) {
  const auto r = p.ParamRecord();
  return Bytes(r.begin(), r.end());
}

class SimParamsTest : public ::testing::Test {
 protected:
  // The sample project on the card and open, a broken file beside it; `setup` may change
  // the state before the programmer starts.
  void Start(const std::function<void(sim::ProgrammerConfig&)>& setup = {}) {
    sim::ProgrammerConfig cfg = SampleConfig(h.CardDir());
    sim::Card(h.CardDir()).Write("BROKEN.PACK", std::vector<uint8_t>{'N', 'U', 'R', 'V', 'A', 0, 1, 2});
    if (setup) setup(cfg);
    h.Start(cfg);
  }
  std::vector<Bytes> Protection() {
    EXPECT_TRUE(h.host.Tesk('a'));
    return h.host.RecvN(2);
  }
  std::vector<Bytes> Params(const std::string& name) {
    EXPECT_TRUE(h.host.Tesk('A'));
    EXPECT_TRUE(h.host.SendString(name));
    return h.host.Drain();
  }
  sim::Project Sample() {
    auto data = sim::Card(h.CardDir()).Read(sim::kSampleFile);
    EXPECT_TRUE(data);
    auto p = sim::Project::Parse(*data, nullptr);
    EXPECT_TRUE(p);
    return *p;
  }

  SimHarness h;
};

}  // namespace

TEST_F(SimParamsTest, RecordOfAProjectOnTheCard) {
  Start();
  const Bytes rec = Record(Sample());
  ASSERT_EQ(rec.size(), 195u);
  EXPECT_EQ(Params("demo.pack"), (std::vector<Bytes>{{ACK}, {ACK}, {ACK}, {195}, rec})) << "any case";
  EXPECT_EQ(Params("NONE.PACK"), (std::vector<Bytes>{{NAK}}));
  EXPECT_EQ(Params("BROKEN.PACK"), (std::vector<Bytes>{{ACK}, {NAK}}));
}

TEST_F(SimParamsTest, ProtectionOfTheOpenProject) {
  struct Case {
    const char* what;
    std::function<void(sim::ProgrammerConfig&)> setup;
    std::vector<Bytes> reply;
  };
  auto withProtection = [](uint8_t bits, uint16_t quantity) {
    return [=](sim::ProgrammerConfig& cfg) {
      sim::Project p = sim::MakeSampleProject();
      p.protection = TAES{bits};
      p.quantity = quantity;
      sim::Card(cfg.cardDir).Write("PROT.PACK", p.Serialize());
      cfg.openProject = "PROT.PACK";
    };
  };
  auto fault = [](const char* spec) {
    return [=](sim::ProgrammerConfig& cfg) { ASSERT_TRUE(sim::ParseFault(spec, cfg.faults, nullptr)) << spec; };
  };
  const Case cases[] = {
      {"sample: none", {}, {{0x00}, {0x00, 0x00}}},
      {"AES and quantity 250", withProtection(0x05, 250), {{0x05}, {250, 0x00}}},
      {"no open project", [](sim::ProgrammerConfig& cfg) { cfg.openProject.reset(); }, {{'?'}, {0x00, 0x00}}},
      {"no card", fault("card=missing"), {{'?'}, {0x00, 0x00}}},
      {"fault: all three", fault("protected-project"), {{0x07}, {0x00, 0x00}}},
      {"fault: AES and password", fault("protected-project=3"), {{0x03}, {0x00, 0x00}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Start(c.setup);
    EXPECT_EQ(Protection(), c.reply);
    h.Stop();
  }
}

TEST_F(SimParamsTest, FaultsOfTheRecord) {
  Start([](sim::ProgrammerConfig& cfg) {
    ASSERT_TRUE(sim::ParseFault("params-refused", cfg.faults, nullptr));
  });
  EXPECT_EQ(Params(sim::kSampleFile), (std::vector<Bytes>{{ACK}, {ACK}, {NAK}}));
  h.With([](sim::State& st) {
    st.faults.paramsRefused = false;
    st.faults.paramsShort = 100;
  });
  const Bytes rec = Record(Sample());
  EXPECT_EQ(Params(sim::kSampleFile), (std::vector<Bytes>{{ACK}, {ACK}, {ACK}, {195}, Bytes(rec.begin(), rec.begin() + 100)}));
  h.With([](sim::State& st) { st.card = sim::CardState::Missing; });
  EXPECT_EQ(Params(sim::kSampleFile), (std::vector<Bytes>{{NAK}}));
}

TEST_F(SimParamsTest, FaultSpecs) {
  struct Case {
    const char* spec;
    bool ok;
  };
  for (const Case& c : {Case{"protected-project", true}, Case{"protected-project=0x05", true},
                        Case{"protected-project=256", false}, Case{"protected-project=x", false},
                        Case{"params-refused", true}, Case{"params-refused=1", false}, Case{"params-short=0", true},
                        Case{"params-short", false}, Case{"params-short=-1", false}}) {
    sim::Faults f;
    EXPECT_EQ(sim::ParseFault(c.spec, f, nullptr), c.ok) << c.spec;
  }
  sim::Faults f;
  ASSERT_TRUE(sim::ParseFault("protected-project=0x05", f, nullptr));
  EXPECT_EQ(f.protectedProject, std::optional<uint8_t>(5));
  ASSERT_TRUE(sim::ParseFault("params-short=12", f, nullptr));
  EXPECT_EQ(f.paramsShort, 12);
}
