// `nurva files`, `open`, `close`, `delete`, `state` and `download` against a virtual
// programmer: text and JSON, exit statuses, and the demo's file steps.
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

class CliFiles : public ::testing::Test {
 protected:
  void SetUp() override { ::setenv("LC_ALL", "C", 1); }
  void Serve(std::initializer_list<const char*> faults = {}) {
    sim::ProgrammerConfig cfg = SampleConfig(cards.Path() / "card");
    cfg.socketName = "prog-0";
    for (const char* f : faults) ASSERT_TRUE(sim::ParseFault(f, cfg.faults, nullptr)) << f;
    prog = std::make_unique<sim::VirtualProgrammer>(bus.Dir(), cfg);
    std::string err;
    ASSERT_TRUE(prog->Start(&err)) << err;
  }
  std::string PutPcFile(const std::string& name, size_t size) {
    const auto p = cards.Path() / name;
    std::vector<char> data(size);
    for (size_t i = 0; i < size; ++i) data[i] = static_cast<char>(i * 31 + 7);
    std::ofstream(p, std::ios::binary).write(data.data(), static_cast<std::streamsize>(size));
    return p.string();
  }
  Ran Run(std::vector<std::string> args) { return Nurva(std::move(args), cards.Path()); }

  TestBus bus;
  TempDir cards;
  std::unique_ptr<sim::VirtualProgrammer> prog;
};

TEST_F(CliFiles, DownloadListOpenStateCloseDelete) {
  Serve();
  Ran state = Run({"--json", "state"});
  ASSERT_EQ(state.exit, 0) << state.out;
  EXPECT_EQ(state.Json()["open"], "DEMO.PACK");

  const std::string file = PutPcFile("New Proj.pack", 1000);
  Ran dl = Run({"--json", "download", file});
  ASSERT_EQ(dl.exit, 0) << dl.out;
  json d = dl.Json();
  EXPECT_EQ(d["steps"][0]["text"], "ok");
  EXPECT_EQ(d["bytes"], 1000);
  EXPECT_EQ(d["blocks"], 8);
  EXPECT_GT(d["bytesPerSecond"].get<double>(), 0.0);
  EXPECT_EQ(sim::Card(cards.Path() / "card").Read("NewProj.PACK")->size(), 1000u);

  Ran files = Run({"--json", "files"});
  ASSERT_EQ(files.exit, 0) << files.out;
  EXPECT_EQ(files.Json()["files"], json::array({"DEMO.PACK", "NewProj.PACK"}));
  Ran text = Run({"files"});
  EXPECT_TRUE(Has(text.out, "  NewProj.PACK\n")) << text.out;

  // Not a project: it is on the card, but does not open.
  Ran open = Run({"open", "NewProj.PACK"});
  EXPECT_EQ(open.exit, 1) << open.out;
  EXPECT_TRUE(Has(open.out, "invalide file")) << open.out;
  EXPECT_EQ(Run({"close"}).exit, 0);
  Ran closed = Run({"--json", "state"});
  EXPECT_EQ(closed.exit, 0) << closed.out;
  EXPECT_TRUE(closed.Json()["open"].is_null());
  EXPECT_EQ(Run({"open", "demo.pack"}).exit, 0);
  EXPECT_TRUE(Has(Run({"state"}).out, "DEMO.PACK"));

  EXPECT_EQ(Run({"delete", "NewProj.PACK"}).exit, 0);
  Ran again = Run({"--json", "delete", "NewProj.PACK"});
  EXPECT_EQ(again.exit, 1);
  EXPECT_EQ(again.Json()["steps"][0]["code"], "FileErr");
}

TEST_F(CliFiles, DownloadFailures) {
  Serve({"time-refuse"});
  struct Case {
    std::vector<std::string> args;
    int exit;
    const char* text;
  };
  const Case cases[] = {
      {{"download", PutPcFile("notes.txt", 10)}, 1, "invalid file name"},
      {{"download", (cards.Path() / "gone.pack").string()}, 1, "File not found"},
      {{"download", PutPcFile("p.pack", 10)}, 1, "communication error"},  // refused at once
      {{"download"}, 2, "file"},
      {{"open"}, 2, "name"},
  };
  for (const auto& c : cases) {
    Ran r = Run(c.args);
    EXPECT_EQ(r.exit, c.exit) << c.args.back() << ": " << r.out;
    EXPECT_TRUE(Has(r.out, c.text)) << r.out;
  }
}

TEST_F(CliFiles, DemoDownloadsListsAndOpensAProject) {
  Ran r = Run({"demo", "--json"});
  ASSERT_EQ(r.exit, 0) << r.out;
  json j = r.Json();
  std::vector<std::string> steps;
  for (const auto& s : j["steps"]) {
    steps.push_back(s["step"]);
    EXPECT_EQ(s["ok"], true) << s.dump();
  }
  const std::vector<std::string> mine = {"download project", "list the card", "open project", "file state"};
  size_t at = 0;
  for (const auto& s : steps)
    if (at < mine.size() && s == mine[at]) ++at;
  EXPECT_EQ(at, mine.size()) << "the file steps in their order";
  EXPECT_EQ(j["card"], json::array({"DEMO.PACK", "DEMO2.PACK"}));
  EXPECT_GT(j["download"]["bytes"].get<int>(), 0);
}

}  // namespace
