// `nurva` as a user runs it: exit statuses, text and --json output, selection.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>
#include <nlohmann/json.hpp>
#include <sstream>
#include <thread>

#include "tests/cli/CliHarness.h"
#include "tests/sim/SimHarness.h"

using namespace nurva;
using namespace nurva::test;
using nlohmann::json;

namespace {

// nurva-sim running beside the test, its output in a file.
class SimProcess {
 public:
  SimProcess(std::vector<std::string> args, const std::filesystem::path& log) {
    args.insert(args.begin(), NURVA_SIM_BIN);
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t fa;
    posix_spawn_file_actions_init(&fa);
    posix_spawn_file_actions_addopen(&fa, 1, log.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_adddup2(&fa, 1, 2);
    if (posix_spawn(&pid_, argv[0], &fa, nullptr, argv.data(), environ) != 0) pid_ = -1;
    posix_spawn_file_actions_destroy(&fa);
  }
  ~SimProcess() {
    if (pid_ > 0) {
      ::kill(pid_, SIGKILL);
      ::waitpid(pid_, nullptr, 0);
    }
  }
  // Sends `sig` and returns the exit status.
  int Stop(int sig) {
    if (pid_ <= 0) return -1;
    ::kill(pid_, sig);
    int status = 0;
    ::waitpid(pid_, &status, 0);
    pid_ = -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  }

 private:
  pid_t pid_ = -1;
};

bool WaitFor(const std::filesystem::path& p, int ms) {
  for (int i = 0; i < ms / 10; ++i) {
    if (std::filesystem::exists(p)) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return false;
}

class CliTest : public ::testing::Test {
 protected:
  void SetUp() override { ::setenv("LC_ALL", "C", 1); }
  sim::VirtualProgrammer& Serve(uint32_t serial, std::initializer_list<const char*> faults = {}) {
    sim::ProgrammerConfig cfg = SampleConfig(cards.Path() / std::to_string(progs.size()), serial);
    cfg.socketName = "prog-" + std::to_string(progs.size());
    for (const char* f : faults) EXPECT_TRUE(sim::ParseFault(f, cfg.faults, nullptr)) << f;
    progs.push_back(std::make_unique<sim::VirtualProgrammer>(bus.Dir(), cfg));
    std::string err;
    EXPECT_TRUE(progs.back()->Start(&err)) << err;
    return *progs.back();
  }

  TestBus bus;
  TempDir cards;
  std::vector<std::unique_ptr<sim::VirtualProgrammer>> progs;
};

TEST_F(CliTest, HelpAndUsageErrors) {
  struct Case {
    std::vector<std::string> args;
    int exit;
    const char* says;  // in stdout or stderr
  };
  const Case cases[] = {
      {{"--help"}, 0, "list"},
      {{"list", "--help"}, 0, "Usage"},
      {{"check", "--help"}, 0, "--target"},
      {{"voltage", "--help"}, 0, "--min"},
      {{"fuse", "--help"}, 0, "selector"},
      {{"demo", "--help"}, 0, "--fault"},
      {{}, 2, "subcommand"},
      {{"frobnicate"}, 2, "frobnicate"},
      {{"--bogus", "list"}, 2, "bogus"},
      {{"fuse"}, 2, "selector"},
      {{"--channel", "16", "check"}, 2, "channel"},
      {{"fuse", "lh"}, 2, "selector"},
      {{"fuse", "l", "--expect", "XYZ"}, 2, "--expect"},
      {{"demo", "--fault", "melt"}, 2, "melt"},
  };
  for (const Case& c : cases) {
    std::string shown;
    for (const auto& a : c.args) shown += a + " ";
    SCOPED_TRACE(shown);
    Ran r = Nurva(c.args);
    EXPECT_EQ(r.exit, c.exit) << r.out << r.err;
    EXPECT_TRUE(Has(r.out + r.err, c.says)) << r.out << r.err;
  }
}

TEST_F(CliTest, OneProgrammer) {
  Serve(0x12345678);
  Ran list = Nurva({"list"});
  EXPECT_EQ(list.exit, 0) << list.err;
  EXPECT_TRUE(Has(list.out, "12345678")) << list.out;
  EXPECT_TRUE(Has(list.out, "TESK at Port 12345678")) << list.out;
  EXPECT_TRUE(list.err.empty()) << "no progress off a terminal: " << list.err;

  Ran lj = Nurva({"--json", "list"});
  ASSERT_EQ(lj.exit, 0) << lj.err;
  json j = lj.Json();
  EXPECT_EQ(j["ok"], true);
  EXPECT_EQ(j["exit"], 0);
  ASSERT_EQ(j["programmers"].size(), 1u);
  EXPECT_EQ(j["programmers"][0]["channel"], 0);
  EXPECT_EQ(j["programmers"][0]["serial"], "12345678");
  EXPECT_EQ(j["programmers"][0]["check"]["res"], 39);
  EXPECT_EQ(j["programmers"][0]["check"]["code"], "MMCok");

  Ran check = Nurva({"check", "--target", "--json"});
  ASSERT_EQ(check.exit, 0) << check.out << check.err;
  j = check.Json();
  ASSERT_EQ(j["steps"].size(), 3u);
  EXPECT_EQ(j["steps"][0]["call"], "CheckProgrammer");
  EXPECT_EQ(j["steps"][1]["res"], 4);
  EXPECT_EQ(j["steps"][2]["text"], "empty");
  EXPECT_EQ(j["programmer"]["serial"], "12345678");

  Ran volt = Nurva({"voltage", "--json"});
  ASSERT_EQ(volt.exit, 0) << volt.err;
  j = volt.Json();
  EXPECT_EQ(j["volt"], 330);
  EXPECT_DOUBLE_EQ(j["volts"].get<double>(), 3.3);
  EXPECT_EQ(Nurva({"voltage", "--min", "5"}).exit, 1);
  EXPECT_EQ(Nurva({"voltage", "--min", "3", "--max", "3.6"}).exit, 0);

  Ran fuse = Nurva({"fuse", "l", "--json"});
  ASSERT_EQ(fuse.exit, 0) << fuse.err;
  j = fuse.Json();
  EXPECT_EQ(j["fuse"], 0x62);
  EXPECT_EQ(j["steps"][0]["text"], "62");
  EXPECT_EQ(Nurva({"--serial", "678", "fuse", "h", "--expect", "D9"}).exit, 0);
  Ran wrong = Nurva({"fuse", "h", "--expect", "0x00"});
  EXPECT_EQ(wrong.exit, 1);
  EXPECT_TRUE(Has(wrong.err, "expected 00")) << wrong.err;
  EXPECT_EQ(Nurva({"fuse", "0x7A"}).exit, 5) << "no such fuse: the library's communication error";
}

TEST_F(CliTest, SelectionErrors) {
  Serve(0x11110042);
  Serve(0x22220042);
  struct Case {
    std::vector<std::string> args;
    int exit;
    std::vector<std::string> candidates;
  };
  const Case cases[] = {
      {{"check"}, 4, {"11110042", "22220042"}},
      {{"--serial", "42", "check"}, 4, {"11110042", "22220042"}},
      {{"--serial", "0042", "voltage"}, 4, {"11110042", "22220042"}},
      {{"--serial", "999", "check"}, 3, {"11110042", "22220042"}},
      {{"--channel", "2", "check"}, 3, {"11110042", "22220042"}},
      {{"--channel", "0", "--serial", "22220042", "check"}, 3, {"22220042"}},
  };
  for (const Case& c : cases) {
    std::string shown;
    for (const auto& a : c.args) shown += a + " ";
    SCOPED_TRACE(shown);
    std::vector<std::string> args = c.args;
    args.insert(args.begin(), "--json");
    Ran r = Nurva(args);
    EXPECT_EQ(r.exit, c.exit) << r.out << r.err;
    json j = r.Json();
    EXPECT_EQ(j["ok"], false);
    EXPECT_EQ(j["exit"], c.exit);
    EXPECT_FALSE(j["error"].get<std::string>().empty());
    std::vector<std::string> got;
    for (const auto& p : j["candidates"]) got.push_back(p["serial"]);
    EXPECT_EQ(got, c.candidates);
    // The text form lists the candidates on standard error.
    Ran text = Nurva(c.args);
    EXPECT_EQ(text.exit, c.exit);
    for (const auto& s : c.candidates) EXPECT_TRUE(Has(text.err, s)) << text.err;
  }
  Ran one = Nurva({"--json", "--serial", "1110042", "check"});
  EXPECT_EQ(one.exit, 0) << one.out;
  EXPECT_EQ(one.Json()["programmer"]["channel"], 0);
  Ran byChannel = Nurva({"-c", "1", "--json", "check"});
  EXPECT_EQ(byChannel.exit, 0);
  EXPECT_EQ(byChannel.Json()["programmer"]["serial"], "22220042");
  // Options of the top level may also follow the subcommand.
  EXPECT_EQ(Nurva({"check", "--serial", "22220042"}).exit, 0);
}

TEST_F(CliTest, FaultsGiveTheirExitStatus) {
  Serve(0x0000AAAA, {"card=missing"});
  Serve(0x0000BBBB, {"power-down"});
  Serve(0x0000CCCC, {"protected"});
  struct Case {
    std::vector<std::string> args;
    int exit;
    const char* code;  // of the last step
  };
  const Case cases[] = {
      {{"-s", "AAAA", "check"}, 1, "MMCmissing"},
      {{"-s", "BBBB", "check"}, 0, "progFound"},
      {{"-s", "BBBB", "check", "--target"}, 1, "PwrDownErr"},
      {{"-s", "BBBB", "fuse", "l"}, 1, "PwrDownErr"},
      {{"-s", "BBBB", "voltage"}, 0, "resOk"},
      {{"-s", "CCCC", "check", "--target"}, 1, "ProtectedErr"},
      {{"-s", "CCCC", "fuse", "h"}, 1, "ProtectedErr"},
  };
  for (const Case& c : cases) {
    std::string shown;
    for (const auto& a : c.args) shown += a + " ";
    SCOPED_TRACE(shown);
    std::vector<std::string> args = c.args;
    args.insert(args.begin(), "--json");
    Ran r = Nurva(args);
    EXPECT_EQ(r.exit, c.exit) << r.out << r.err;
    json j = r.Json();
    ASSERT_FALSE(j["steps"].empty());
    EXPECT_EQ(j["steps"].back()["code"], c.code);
    EXPECT_EQ(j["ok"], c.exit == 0);
  }
  Ran volt = Nurva({"--json", "-s", "BBBB", "voltage", "--min", "1"});
  EXPECT_EQ(volt.exit, 1);
  EXPECT_EQ(volt.Json()["volt"], 0);
}

TEST_F(CliTest, NoProgrammer) {
  Ran list = Nurva({"list"});
  EXPECT_EQ(list.exit, 3);
  EXPECT_TRUE(Has(list.err, "no programmer found")) << list.err;
  Ran j = Nurva({"--json", "check"});
  EXPECT_EQ(j.exit, 3);
  EXPECT_EQ(j.Json()["ok"], false);
}

TEST_F(CliTest, AProgrammerThatNeverAnswers) {
  // Discovery gives up on it after five attempts and keeps it as a closed channel.
  Serve(0x0000DDDD, {"silent-after=0"});
  Ran r = Nurva({"--json", "-c", "0", "check"});
  EXPECT_EQ(r.exit, 5) << r.out << r.err;
  EXPECT_EQ(r.Json()["steps"][0]["code"], "MMCnoProg");
}

TEST_F(CliTest, Demo) {
  Ran r = Nurva({"demo", "--json"});
  ASSERT_EQ(r.exit, 0) << r.out << r.err;
  json j = r.Json();
  EXPECT_EQ(j["ok"], true);
  EXPECT_EQ(j["found"], 1);
  std::vector<std::string> steps;
  for (const auto& s : j["steps"]) {
    steps.push_back(s["step"]);
    EXPECT_EQ(s["ok"], true) << s.dump();
  }
  // The check family's steps open the demo and the release ends it; the families' steps in
  // between are checked by their own tests.
  const std::vector<std::string> first = {"serial numbers", "programmer check", "init channel", "check device",
                                          "target voltage", "low fuse"};
  ASSERT_GE(steps.size(), first.size() + 1);
  EXPECT_TRUE(std::equal(first.begin(), first.end(), steps.begin())) << j["steps"].dump();
  EXPECT_EQ(steps.back(), "release target");
  EXPECT_EQ(j["volt"], 330);
  EXPECT_EQ(j["fuse"], 0x62);
  EXPECT_FALSE(std::filesystem::exists(j["workspace"].get<std::string>())) << "temporary directory left behind";

  Ran text = Nurva({"demo"});
  EXPECT_EQ(text.exit, 0);
  const size_t last = text.out.find("] release target");
  ASSERT_NE(last, std::string::npos) << text.out;
  const size_t open = text.out.rfind('[', last);
  const std::string count = text.out.substr(open + 1, last - open - 1);  // "N/N": the last of the steps
  EXPECT_EQ(count.substr(0, count.find('/')), count.substr(count.find('/') + 1)) << text.out;
  EXPECT_TRUE(Has(text.out, "TESK at Port")) << text.out;

  Ran fault = Nurva({"demo", "--fault", "power-down", "--json"});
  EXPECT_EQ(fault.exit, 1);
  json f = fault.Json();
  EXPECT_EQ(f["ok"], false);
  EXPECT_EQ(f["steps"][3]["code"], "PwrDownErr");
}

}  // namespace

namespace {

std::string ReadFile(const std::filesystem::path& p) {
  std::ifstream in(p);
  std::stringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

TEST(SimProgram, ServesUntilTerminatedAndNurvaListsIt) {
  TestBus bus;
  TempDir tmp;
  const auto log = tmp.Path() / "sim.log";
  SimProcess sim({"--card", (tmp.Path() / "cards").string(), "--count", "2", "--serial", "0A0B0C01", "--sample",
                  "--programmer", "serial=0000FFFF,model=pr,fault=card=missing"},
                 log);
  for (const char* s : {"nurva-sim-00", "nurva-sim-01", "nurva-sim-02"})
    ASSERT_TRUE(WaitFor(std::filesystem::path(bus.Dir()) / s, 5000)) << s << "\n" << ReadFile(log);
  std::this_thread::sleep_for(std::chrono::milliseconds(100));

  Ran list = Nurva({"--json", "list"});
  ASSERT_EQ(list.exit, 0) << list.out << list.err;
  json j = json::parse(list.out);
  ASSERT_EQ(j["programmers"].size(), 3u);
  const std::pair<const char*, int> want[] = {{"0A0B0C01", 39}, {"0A0B0C02", 39}, {"0000FFFF", 42}};
  for (size_t i = 0; i < 3; ++i) {
    EXPECT_EQ(j["programmers"][i]["serial"], want[i].first);
    EXPECT_EQ(j["programmers"][i]["check"]["res"], want[i].second);
  }
  // Each card is a directory of its own, holding the sample project.
  for (const char* serial : {"0A0B0C01", "0A0B0C02", "0000FFFF"})
    EXPECT_TRUE(std::filesystem::exists(tmp.Path() / "cards" / serial / sim::kSampleFile)) << serial;

  EXPECT_EQ(sim.Stop(SIGTERM), 0);
  EXPECT_FALSE(std::filesystem::exists(std::filesystem::path(bus.Dir()) / "nurva-sim-00"));
  const std::string out = ReadFile(log);
  EXPECT_TRUE(Has(out, "serving nurva-sim-02: NURVA P/R serial 0000FFFF")) << out;
  EXPECT_TRUE(Has(out, "SIGTERM")) << out;
}

TEST(SimProgram, VerboseShowsTheTraffic) {
  TestBus bus;
  TempDir tmp;
  const auto log = tmp.Path() / "sim.log";
  SimProcess sim({"-v", "--card", (tmp.Path() / "card").string(), "--sample", "--voltage", "5"}, log);
  ASSERT_TRUE(WaitFor(std::filesystem::path(bus.Dir()) / "nurva-sim-00", 5000)) << ReadFile(log);
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  Ran v = Nurva({"--json", "voltage"});
  EXPECT_EQ(v.exit, 0) << v.out << v.err;
  EXPECT_EQ(json::parse(v.out)["volt"], 500);
  EXPECT_EQ(sim.Stop(SIGINT), 0);
  const std::string out = ReadFile(log);
  EXPECT_TRUE(Has(out, "<- 00 49   'I' identify")) << out;
  EXPECT_TRUE(Has(out, "'T' target voltage")) << out;
  EXPECT_TRUE(Has(out, "-> F4 01")) << out;
}

TEST(SimProgram, BuildsAndShowsProjects) {
  TempDir tmp;
  const auto hex = tmp.Path() / "app.hex";
  std::ofstream(hex) << ":03001000010203E7\n:00000001FF\n";
  const auto out = tmp.Path() / "app.pack";
  Ran mk = Program(NURVA_SIM_BIN, {"mkproj", "-o", out.string(), "--device", "ATmega328P", "--flash", hex.string(),
                                   "--fuse", "low=E2", "--lock", "FC", "--name", "app", "--quantity", "5"});
  ASSERT_EQ(mk.exit, 0) << mk.out << mk.err;
  Ran info = Program(NURVA_SIM_BIN, {"info", out.string(), "--json"});
  ASSERT_EQ(info.exit, 0) << info.err;
  json j = json::parse(info.out);
  EXPECT_EQ(j["name"], "app");
  EXPECT_EQ(j["signature"], "1E950F");
  EXPECT_EQ(j["images"]["flash"]["base"], 0x10);
  EXPECT_EQ(j["images"]["flash"]["size"], 3);
  EXPECT_EQ(j["fuses"]["0"], "E2");
  EXPECT_EQ(j["lockBits"], "FC");
  EXPECT_EQ(j["protection"]["quantity"], 5);

  const std::pair<std::vector<std::string>, int> bad[] = {
      {{"mkproj", "-o", (tmp.Path() / "x.pack").string(), "--device", "Z80"}, 1},
      {{"mkproj", "-o", (tmp.Path() / "x.pack").string(), "--interface", "USB"}, 2},
      {{"mkproj", "--device", "ATtiny10"}, 2},
      {{"info", hex.string()}, 1},
      {{"--fault", "melt"}, 2},
  };
  for (const auto& [args, exit] : bad) {
    SCOPED_TRACE(args[0] + " " + args.back());
    EXPECT_EQ(Program(NURVA_SIM_BIN, args).exit, exit);
  }
  EXPECT_FALSE(std::filesystem::exists(tmp.Path() / "x.pack"));
}

}  // namespace
