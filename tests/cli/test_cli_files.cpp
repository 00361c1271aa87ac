// `nurva files`, `open`, `close`, `delete`, `state` and `download` against a virtual
// programmer: text and JSON, exit statuses, and the demo's file steps.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>
#include <nlohmann/json.hpp>
#include <sstream>

#include "tests/sim/SimHarness.h"

extern char** environ;

using namespace nurva;
using namespace nurva::test;
using nlohmann::json;

namespace {

struct Ran {
  int exit = -1;
  std::string out;  // standard output and standard error
  json Json() const { return json::parse(out); }
};

Ran Nurva(std::vector<std::string> args, const std::filesystem::path& tmp) {
  args.insert(args.begin(), NURVA_CLI_BIN);
  std::vector<char*> argv;
  for (auto& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  const auto outFile = tmp / "out.txt";
  posix_spawn_file_actions_t fa;
  posix_spawn_file_actions_init(&fa);
  posix_spawn_file_actions_addopen(&fa, 1, outFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  posix_spawn_file_actions_adddup2(&fa, 1, 2);
  pid_t pid = 0;
  Ran r;
  const int rc = posix_spawn(&pid, argv[0], &fa, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&fa);
  if (rc != 0) return r;
  int status = 0;
  ::waitpid(pid, &status, 0);
  r.exit = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  std::ifstream in(outFile);
  std::stringstream ss;
  ss << in.rdbuf();
  r.out = ss.str();
  return r;
}

bool Has(const std::string& s, const std::string& part) { return s.find(part) != std::string::npos; }

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
      {{"download", PutPcFile("p.pack", 10)}, 5, "communication error"},
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
