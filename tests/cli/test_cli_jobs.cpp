// `nurva erase`, `program` and `verify` against virtual programmers: the status stream,
// the end and exit status, several programmers at once, and the production log.
#include <gtest/gtest.h>

#include <fstream>
#include <nlohmann/json.hpp>
#include <set>
#include <sstream>

#include "tests/cli/CliHarness.h"
#include "tests/sim/SimHarness.h"

using namespace nurva;
using namespace nurva::test;
using nlohmann::json;

namespace {

std::vector<std::string> Lines(const std::filesystem::path& p) {
  std::ifstream in(p);
  std::vector<std::string> r;
  std::string line;
  while (std::getline(in, line)) r.push_back(line);
  return r;
}

class CliJobs : public ::testing::Test {
 protected:
  void SetUp() override { ::setenv("LC_ALL", "C", 1); }
  void Serve(uint32_t serial, std::initializer_list<const char*> faults = {}) {
    sim::ProgrammerConfig cfg = SampleConfig(cards.Path() / std::to_string(progs.size()), serial);
    cfg.socketName = "prog-" + std::to_string(progs.size());
    cfg.jobSpeed = 10;
    for (const char* f : faults) ASSERT_TRUE(sim::ParseFault(f, cfg.faults, nullptr)) << f;
    progs.push_back(std::make_unique<sim::VirtualProgrammer>(bus.Dir(), cfg));
    std::string err;
    ASSERT_TRUE(progs.back()->Start(&err)) << err;
  }
  Ran Run(std::vector<std::string> args) { return Nurva(std::move(args), tmp.Path()); }

  TestBus bus;
  TempDir cards, tmp;
  std::vector<std::unique_ptr<sim::VirtualProgrammer>> progs;
};

TEST_F(CliJobs, EraseProgramVerifyOnOneProgrammer) {
  Serve(0x12345678);
  Ran erase = Run({"erase"});
  EXPECT_EQ(erase.exit, 0) << erase.out;
  EXPECT_TRUE(Has(erase.out, "chip erased")) << erase.out;

  // Off a terminal: one plain line per status, then the end.
  Ran program = Run({"program"});
  EXPECT_EQ(program.exit, 0) << program.out;
  for (const char* s : {"programming [1 resOk]", "erase Chip [15 eraChip]", "prog Flash [21 prgFlash]",
                        "prog EEprom [22 prgEEp]", "operation successful [2 progDone]", "done: operation successful"})
    EXPECT_TRUE(Has(program.out, s)) << s << "\n" << program.out;
  EXPECT_FALSE(Has(program.out, "\r")) << "no live line off a terminal";

  // --json: one object per status, then the result.
  Ran verify = Run({"--json", "verify"});
  EXPECT_EQ(verify.exit, 0) << verify.out;
  std::vector<json> objs = verify.Objects();
  ASSERT_GE(objs.size(), 4u) << verify.out;
  EXPECT_EQ(objs.front()["text"], "verifying");
  std::set<std::string> codes;
  for (size_t i = 0; i + 1 < objs.size(); ++i) codes.insert(objs[i]["code"].get<std::string>());
  EXPECT_TRUE(codes.count("verifyFlash") && codes.count("verifyEEp") && codes.count("progDone")) << verify.out;
  const json& end = objs.back();
  EXPECT_EQ(end["ok"], true);
  EXPECT_EQ(end["final"]["res"], 2);
  EXPECT_EQ(end["programmer"]["serial"], "12345678");

  struct Case {
    std::vector<std::string> args;
    int exit;
    const char* says;
  };
  const Case cases[] = {
      {{"program", "--flash"}, 1, "device not empty"},  // programmed a moment ago
      {{"program", "--eeprom"}, 0, "done: operation successful"},
      {{"verify", "--flash"}, 0, "verify Flash"},
      {{"verify", "--eeprom"}, 0, "verify EEprom"},
      {{"program", "--fuses"}, 0, "fuses programmed"},
      {{"program", "--usrrow"}, 1, "File Error"},  // the sample has no user row
      {{"program", "--lock"}, 0, "locks programmed"},
      {{"verify"}, 1, "device protected"},
      {{"erase", "--x"}, 0, "chip erased"},
      {{"erase", "--usr"}, 0, "chip erased"},
      {{"verify"}, 1, "Verify error"},  // erased: nothing matches
      {{"program", "--flash", "--eeprom"}, 2, "excludes"},
      {{"verify", "--flash", "--eeprom"}, 2, "excludes"},
      {{"erase", "--x", "--usr"}, 2, "excludes"},
  };
  for (const Case& c : cases) {
    std::string shown;
    for (const auto& a : c.args) shown += a + " ";
    SCOPED_TRACE(shown);
    Ran r = Run(c.args);
    EXPECT_EQ(r.exit, c.exit) << r.out;
    EXPECT_TRUE(Has(r.out, c.says)) << r.out;
  }
}

TEST_F(CliJobs, ProgramAllOnFourProgrammersWithOneFailing) {
  Serve(0x0000A001);
  Serve(0x0000A002, {"job-fails=power-down"});
  Serve(0x0000A003);
  Serve(0x0000A004);
  const auto log = tmp.Path() / "production.log";
  Ran r = Run({"--json", "program", "--all", "--log", log.string()});
  EXPECT_EQ(r.exit, 1) << r.out;
  std::vector<json> objs = r.Objects();
  ASSERT_FALSE(objs.empty()) << r.out;
  const json& end = objs.back();
  EXPECT_EQ(end["ok"], false);
  ASSERT_EQ(end["slots"].size(), 4u) << end.dump();
  for (const json& s : end["slots"]) {
    const bool bad = s["serial"] == "0000A002";
    EXPECT_EQ(s["ok"], !bad) << s.dump();
    EXPECT_EQ(s["final"]["res"], bad ? 10 : 2) << s.dump();
  }
  // Each slot's statuses carry its serial number.
  std::set<std::string> reporting;
  for (size_t i = 0; i + 1 < objs.size(); ++i) reporting.insert(objs[i]["serial"].get<std::string>());
  EXPECT_EQ(reporting.size(), 4u);

  // Text form: a result line per programmer, and again a failing exit status.
  Ran text = Run({"program", "--all", "--log", log.string()});
  EXPECT_EQ(text.exit, 1);
  for (const char* s : {"0000A001", "0000A003", "0000A004"})
    EXPECT_TRUE(Has(text.out, std::string(s) + "  ok")) << text.out;
  EXPECT_TRUE(Has(text.out, "0000A002  FAILED Device Power down")) << text.out;
  EXPECT_TRUE(Has(text.out, "1 of 4 failed")) << text.out;

  // Two runs of four concurrent slots: eight whole records.
  const std::vector<std::string> lines = Lines(log);
  ASSERT_EQ(lines.size(), 8u) << r.out;
  std::map<std::string, int> perSerial;
  for (const auto& line : lines) {
    json j = json::parse(line);  // throws (and fails the test) on a torn line
    ++perSerial[j["serial"].get<std::string>()];
    EXPECT_EQ(j["command"], "program");
    EXPECT_TRUE(j["time"].is_string());
    EXPECT_TRUE(j["ms"].is_number());
    EXPECT_EQ(j["res"], j["serial"] == "0000A002" ? 10 : 2) << line;
    EXPECT_EQ(j["ok"], j["serial"] != "0000A002") << line;
    EXPECT_TRUE(j.contains("project") && j.contains("text") && j.contains("code")) << line;
  }
  EXPECT_EQ(perSerial, (std::map<std::string, int>{{"0000A001", 2}, {"0000A002", 2}, {"0000A003", 2}, {"0000A004", 2}}));
}

TEST_F(CliJobs, ALogThatCannotBeWrittenFailsTheCommand) {
  Serve(0x12345678);
  Ran r = Run({"erase", "--log", (tmp.Path() / "no-such-dir" / "x.log").string()});
  EXPECT_EQ(r.exit, 1) << r.out;
  EXPECT_TRUE(Has(r.out, "log")) << r.out;
}

TEST_F(CliJobs, DemoErasesProgramsAndVerifies) {
  Ran r = Run({"demo", "--json"});
  ASSERT_EQ(r.exit, 0) << r.out;
  json j = json::parse(r.out.substr(r.out.find('{')));
  std::vector<std::string> steps;
  for (const auto& s : j["steps"]) steps.push_back(s["step"]);
  // Ours in a row, before the target is released.
  const std::vector<std::string> mine = {"erase", "program", "verify", "job result"};
  auto at = std::search(steps.begin(), steps.end(), mine.begin(), mine.end());
  EXPECT_NE(at, steps.end()) << j["steps"].dump();
  EXPECT_NE(std::find(at, steps.end(), "release target"), steps.end()) << j["steps"].dump();
  EXPECT_EQ(j["jobs"]["program"]["ok"], true);
  EXPECT_EQ(j["jobs"]["verify"]["ok"], true);
  std::vector<int> codes;
  for (const auto& s : j["jobs"]["program"]["statuses"]) codes.push_back(s["res"]);
  EXPECT_EQ(codes, (std::vector<int>{1, 15, 21, 22, 2}));

  Ran fault = Run({"demo", "--json", "--fault", "verify-error"});
  EXPECT_EQ(fault.exit, 1);
  json f = json::parse(fault.out.substr(fault.out.find('{')));
  EXPECT_EQ(f["jobs"]["verify"]["statuses"].back()["text"], "Verify error");
}

}  // namespace
