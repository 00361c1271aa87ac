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

std::string ReadFile(const std::filesystem::path& p) {
  std::ifstream in(p);
  std::stringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

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
      {{"--version"}, 0, "nurva " NURVA_EXPECTED_VERSION},
      {{"voltage", "--help"}, 0, "--allow-off"},
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

TEST_F(CliTest, CommandLineErrorsAreJsonWithJson) {
  const std::vector<std::string> cases[] = {
      {"--json", "frobnicate"},
      {"frobnicate", "--json"},
      {"--json"},
      {"--json", "fuse"},
      {"--json", "--channel", "16", "check"},
      {"--json", "voltage", "--min", "low"},
      {"--json", "-v", "-q", "list"},
  };
  for (const auto& args : cases) {
    std::string shown;
    for (const auto& a : args) shown += a + " ";
    SCOPED_TRACE(shown);
    Ran r = Nurva(args);
    EXPECT_EQ(r.exit, 2) << r.out << r.err;
    json j;
    ASSERT_NO_THROW(j = r.Json()) << "not JSON: " << r.out << r.err;
    EXPECT_EQ(j["ok"], false);
    EXPECT_EQ(j["exit"], 2);
    EXPECT_FALSE(j["error"].get<std::string>().empty());
  }
  // Help stays text, and a "--json" after "--" is no option of nurva's.
  Ran help = Nurva({"--json", "--help"});
  EXPECT_EQ(help.exit, 0);
  EXPECT_TRUE(Has(help.out, "Usage")) << help.out;
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
  Ran quietOk = Nurva({"-q", "voltage", "--min", "3", "--max", "3.6"});
  EXPECT_EQ(quietOk.exit, 0);
  EXPECT_EQ(quietOk.out + quietOk.err, "") << "-q: nothing when all is well";

  Ran fuse = Nurva({"fuse", "l", "--json"});
  ASSERT_EQ(fuse.exit, 0) << fuse.err;
  j = fuse.Json();
  EXPECT_EQ(j["fuse"], 0x62);
  EXPECT_EQ(j["selector"], "l");
  EXPECT_EQ(j["steps"][0]["text"], "62");

  // -v: every export with its arguments, answer and duration on standard error.
  Ran traced = Nurva({"--serial", "678", "fuse", "h", "--expect", "D9", "-v"});
  EXPECT_EQ(traced.exit, 0) << traced.err;
  EXPECT_TRUE(Has(traced.out, "fuse 'h' = 0xD9")) << traced.out;
  for (const char* call : {"nurva: AbortAll() -> false  [", "nurva: ClosePort(channel=0) -> res 0 resNone, text \"port closed\"",
                           "nurva: ClosePort(channel=1) -> res 3 noProg", "nurva: GetProgIDs() -> count 1, text \"12345678\"",
                           "nurva: GetFuses(channel=0, selfuse='h') -> res 1 resOk, text \"D9\", fuse 217 (0xD9)  ["})
    EXPECT_TRUE(Has(traced.err, call)) << call << "\n" << traced.err;
  EXPECT_TRUE(Has(traced.err, " ms]")) << traced.err;
  EXPECT_FALSE(Has(traced.out, "nurva: ")) << "the trace stays off standard output";

  // -q: the failure alone, on standard error.
  Ran wrong = Nurva({"-q", "fuse", "h", "--expect", "0x00"});
  EXPECT_EQ(wrong.exit, 1);
  EXPECT_EQ(wrong.out, "");
  EXPECT_TRUE(Has(wrong.err, "fuse is 0xD9, expected 0x00")) << wrong.err;
  EXPECT_FALSE(Has(wrong.err, "channel 0, serial")) << wrong.err;

  // The programmer answers at once that it knows no such fuse: a refusal, not silence.
  Ran unknown = Nurva({"--json", "fuse", "0x7A"});
  EXPECT_EQ(unknown.exit, 1) << unknown.out;
  EXPECT_EQ(unknown.Json()["steps"][0]["res"], 9);
  // A selector beyond ASCII still makes valid JSON.
  Ran high = Nurva({"--json", "fuse", "0xE9"});
  EXPECT_EQ(high.Json()["selector"], "0xE9") << high.out;
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
      {{"-s", "BBBB", "voltage"}, 1, "resOk"},  // 0 V: no supply
      {{"-s", "BBBB", "voltage", "--allow-off"}, 0, "resOk"},
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
  Ran volt = Nurva({"--json", "-s", "BBBB", "voltage", "--allow-off", "--min", "1"});
  EXPECT_EQ(volt.exit, 1);
  EXPECT_EQ(volt.Json()["volt"], 0);
  Ran off = Nurva({"-s", "BBBB", "voltage"});
  EXPECT_TRUE(Has(off.err, "0 V")) << off.err;
  EXPECT_TRUE(Has(off.err, "--allow-off")) << off.err;
}

TEST_F(CliTest, SilenceAfterDiscoveryIsNoAnswer) {
  // Identified, then silent: each of the fuse read's replies waits out the receive time
  // limit, and the library reports the silence as "File error".
  Serve(0x0000EEEE, {"silent-after=1"});
  Ran r = Nurva({"--json", "fuse", "l"});
  EXPECT_EQ(r.exit, 5) << r.out;
  EXPECT_EQ(r.Json()["steps"][0]["code"], "FileNotFound");
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

TEST_F(CliTest, ListSaysWhereDiscoveryEndedAndWhatItDropped) {
  Serve(0x0000A0A0);
  sim::ProgrammerConfig other = SampleConfig(cards.Path() / "other", 0x0000B0B0);
  other.socketName = "prog-1";
  other.identity.model = "OTHER BOX";
  progs.push_back(std::make_unique<sim::VirtualProgrammer>(bus.Dir(), other));
  ASSERT_TRUE(progs.back()->Start(nullptr));
  // Device 2 answers every identify with 40 of its 41 bytes: discovery gives up there.
  ScriptedPeer mute(bus, "prog-2");
  mute.On({0x00, 'I'}).Send({Pkt(Bytes(40, 0x41))}).Always();
  mute.ClearLog();  // takes the peer's lock: its thread sees the finished rule
  ScriptedPeer after(bus, "prog-3");
  after.Identify(ProgrammerRec("NURVA Prog", 0x0000C0C0));

  Ran r = Nurva({"--json", "list"});
  EXPECT_EQ(r.exit, 5) << r.out;
  json j = r.Json();
  EXPECT_EQ(j["ok"], false);
  EXPECT_EQ(j["strangers"], true);
  ASSERT_EQ(j["programmers"].size(), 2u) << j.dump();
  EXPECT_EQ(j["programmers"][0]["serial"], "0000A0A0");
  EXPECT_EQ(j["programmers"][0]["usable"], true);
  EXPECT_EQ(j["programmers"][1]["usable"], false);
  EXPECT_EQ(j["programmers"][1]["check"]["code"], "MMCnoProg");
  EXPECT_EQ(j["endedAt"]["channel"], 1);
  EXPECT_TRUE(j["endedAt"]["device"].is_null()) << "a dropped device before it hides the device number";
  const std::string notes = j["notes"].dump();
  EXPECT_TRUE(Has(notes, "discovery ended at device 2 or later: no answer; later devices were not probed")) << notes;
  EXPECT_TRUE(Has(notes, "dropped: at least one device that answered with another model name")) << notes;
  EXPECT_TRUE(Has(j["error"].get<std::string>(), "channel 1")) << j.dump();
  EXPECT_TRUE(after.OutPayloads().empty()) << "the device after the silent one was probed";
}

// nurva demo started beside the test, ended by a signal.
class DemoSignalTest : public ::testing::TestWithParam<int> {};

TEST_P(DemoSignalTest, RemovesItsTemporaryDirectory) {
  TempDir tmp;
  const char* was = std::getenv("TMPDIR");
  const std::string previous = was ? was : "";
  ::setenv("TMPDIR", tmp.Path().c_str(), 1);
  std::string bin = NURVA_CLI_BIN, cmd = "demo";
  char* argv[] = {bin.data(), cmd.data(), nullptr};
  pid_t pid = -1;
  posix_spawn_file_actions_t fa;
  posix_spawn_file_actions_init(&fa);
  posix_spawn_file_actions_addopen(&fa, 1, (tmp.Path() / "..out").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  posix_spawn_file_actions_adddup2(&fa, 1, 2);
  const int rc = posix_spawn(&pid, argv[0], &fa, nullptr, argv, environ);
  posix_spawn_file_actions_destroy(&fa);
  if (was)
    ::setenv("TMPDIR", previous.c_str(), 1);
  else
    ::unsetenv("TMPDIR");
  ASSERT_EQ(rc, 0);

  // The demo makes its directory in $TMPDIR; it is under way once the programmer's socket is there.
  auto workspaces = [&] {
    std::vector<std::filesystem::path> r;
    for (const auto& e : std::filesystem::directory_iterator(tmp.Path()))
      if (e.path().filename().string().rfind("nurva-demo-", 0) == 0) r.push_back(e.path());
    return r;
  };
  bool running = false;
  for (int i = 0; i < 500 && !running; ++i) {
    for (const auto& w : workspaces()) running = running || std::filesystem::exists(w / "bus" / "nurva-demo-00");
    if (!running) std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  EXPECT_TRUE(running) << "no demo workspace in $TMPDIR";
  std::this_thread::sleep_for(std::chrono::milliseconds(300));  // into discovery
  ::kill(pid, GetParam());
  int status = 0;
  ::waitpid(pid, &status, 0);
  EXPECT_EQ(ExitStatus(status), 128 + GetParam()) << ReadFile(tmp.Path() / "..out");
  EXPECT_TRUE(workspaces().empty()) << ReadFile(tmp.Path() / "..out");
  EXPECT_TRUE(Has(ReadFile(tmp.Path() / "..out"), "removed")) << ReadFile(tmp.Path() / "..out");
}

INSTANTIATE_TEST_SUITE_P(Signals, DemoSignalTest, ::testing::Values(SIGINT, SIGTERM));

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
  // The fields of the single commands: voltage, fuse, download, files, state.
  EXPECT_EQ(j["volt"], 330);
  EXPECT_DOUBLE_EQ(j["volts"].get<double>(), 3.3);
  EXPECT_EQ(j["fuse"], 0x62);
  EXPECT_EQ(j["selector"], "l");
  EXPECT_EQ(j["open"], "DEMO2.PACK");
  EXPECT_TRUE(j["files"].is_array());
  for (const char* f : {"file", "bytes", "blocks", "seconds", "bytesPerSecond"})
    EXPECT_TRUE(j["download"].contains(f)) << f << ": " << j["download"].dump();
  EXPECT_FALSE(std::filesystem::exists(j["workspace"].get<std::string>())) << "temporary directory left behind";

  Ran text = Nurva({"demo"});
  EXPECT_EQ(text.exit, 0);
  const size_t last = text.out.find("] release target");
  ASSERT_NE(last, std::string::npos) << text.out;
  const size_t open = text.out.rfind('[', last);
  const std::string count = text.out.substr(open + 1, last - open - 1);  // "N/N": the last of the steps
  EXPECT_EQ(count.substr(0, count.find('/')), count.substr(count.find('/') + 1)) << text.out;
  EXPECT_TRUE(Has(text.out, "TESK at Port")) << text.out;
  EXPECT_TRUE(Has(text.out, "fuse 'l' = 0x62")) << text.out;

  Ran fault = Nurva({"demo", "--fault", "power-down", "--json"});
  EXPECT_EQ(fault.exit, 1);
  json f = fault.Json();
  EXPECT_EQ(f["ok"], false);
  EXPECT_EQ(f["steps"][3]["code"], "PwrDownErr");
}

}  // namespace

namespace {

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

TEST(SimProgram, PrintsItsVersion) {
  Ran v = Program(NURVA_SIM_BIN, {"--version"});
  EXPECT_EQ(v.exit, 0) << v.err;
  EXPECT_TRUE(Has(v.out, "nurva-sim " NURVA_EXPECTED_VERSION)) << v.out;
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
