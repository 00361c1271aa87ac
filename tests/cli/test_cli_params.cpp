// `nurva params NAME` against a virtual programmer: the report as text and as JSON fields,
// the failures and their exit statuses, and the demo's report step.
#include <gtest/gtest.h>

#include <fstream>
#include <nlohmann/json.hpp>
#include <sstream>

#include "tests/cli/CliHarness.h"
#include "tests/sim/SimHarness.h"

using namespace nurva;
using namespace nurva::test;
using nlohmann::json;

namespace {

sim::Project FixedProject() {
  sim::Project p = sim::MakeSampleProject();
  p.name = "station 7";
  p.info = "line B";
  p.fileDate = sim::PackDateTime(2024, 3, 5, 14, 7, 32);
  p.date100 = sim::Date100(2024, 3, 5);
  p.frequency = 8000000;
  p.power = sim::PackPower(sim::PowerMode::Self, 0);
  p.protection = TAES{0x03};
  return p;
}

class CliParams : public ::testing::Test {
 protected:
  void SetUp() override { ::setenv("LC_ALL", "C", 1); }
  void Serve(std::initializer_list<const char*> faults = {}) {
    sim::ProgrammerConfig cfg = SampleConfig(cards.Path() / "card");
    sim::Card card(cfg.cardDir);
    ASSERT_TRUE(card.Write("FIXED.PACK", FixedProject().Serialize()));
    sim::Project latin = FixedProject();
    latin.name = "caf\xE9";  // a name in an 8-bit code page
    ASSERT_TRUE(card.Write("LATIN.PACK", latin.Serialize()));
    cfg.openProject = "FIXED.PACK";
    cfg.socketName = "prog-0";
    for (const char* f : faults) ASSERT_TRUE(sim::ParseFault(f, cfg.faults, nullptr)) << f;
    prog = std::make_unique<sim::VirtualProgrammer>(bus.Dir(), cfg);
    std::string err;
    ASSERT_TRUE(prog->Start(&err)) << err;
  }

  TestBus bus;
  TempDir cards;
  std::unique_ptr<sim::VirtualProgrammer> prog;
};

}  // namespace

TEST_F(CliParams, ReportAsTextAndAsFields) {
  Serve();
  Ran text = Nurva({"params", "DEMO.PACK"}, cards.Path());
  EXPECT_EQ(text.exit, 0) << text.out;
  EXPECT_TRUE(Has(text.out, "  name                demo blink\n")) << text.out;
  EXPECT_TRUE(Has(text.out, "  size B (EEprom)     64 bytes\n")) << text.out;
  EXPECT_TRUE(Has(text.out, "  power               TESK  3.30V  max 30mA\n")) << text.out;

  Ran j = Nurva({"--json", "params", "fixed.pack"}, cards.Path());
  ASSERT_EQ(j.exit, 0) << j.out;
  const json doc = j.Json();
  EXPECT_EQ(doc["ok"], true);
  EXPECT_EQ(doc["file"], "fixed.pack");
  EXPECT_EQ(doc["steps"][0]["res"], 1);
  EXPECT_EQ(doc["params"], json::parse(R"({"name": "station 7", "fileDate": "2024.Mar.05 14:07:32",
      "date": "2024.Mar.05", "info": "line B", "frequency": "8 MHz", "sizeA": "1024 bytes", "sizeB": "64 bytes",
      "sizeC": "none", "option": "yes", "interface": "SPI", "protection": "AES+PWD", "power": "Target itself"})"));

  // Bytes that are no UTF-8 still make a JSON document.
  Ran latin = Nurva({"--json", "params", "LATIN.PACK"}, cards.Path());
  ASSERT_EQ(latin.exit, 0) << latin.out;
  EXPECT_EQ(latin.Json()["params"]["name"], "caf\xEF\xBF\xBD");
}

TEST_F(CliParams, FailuresAndTheirExitStatus) {
  Serve({"params-refused"});
  struct Case {
    const char* name;
    int exit;
    int res;
    const char* text;
  };
  for (const Case& c : {Case{"NONE.PACK", 1, 36, "File not found"}, Case{"DEMO.PACK", 1, 9, "communication error1"}}) {
    Ran r = Nurva({"--json", "params", c.name}, cards.Path());
    EXPECT_EQ(r.exit, c.exit) << r.out;
    const json doc = r.Json();
    EXPECT_EQ(doc["ok"], false);
    EXPECT_EQ(doc["steps"][0]["res"], c.res);
    EXPECT_EQ(doc["steps"][0]["text"], c.text);
    EXPECT_FALSE(doc.contains("params"));
  }
  EXPECT_EQ(Nurva({"params"}, cards.Path()).exit, 2) << "the name is required";
}

TEST_F(CliParams, DemoShowsTheReport) {
  Ran r = Nurva({"--json", "demo"}, cards.Path());
  const json doc = r.Json();
  bool found = false;
  for (const auto& s : doc["steps"])
    if (s["step"] == "project parameters") {
      found = true;
      EXPECT_EQ(s["ok"], true) << s.dump();
    }
  EXPECT_TRUE(found) << r.out;
  ASSERT_TRUE(doc.contains("params")) << r.out;
  EXPECT_EQ(doc["params"].size(), 12u);
  EXPECT_EQ(doc["params"]["interface"], "SPI");
  EXPECT_EQ(doc["params"]["power"], "TESK  3.30V  max 30mA");
}
