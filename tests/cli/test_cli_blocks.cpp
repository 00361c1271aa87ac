// `nurva read`, `write` and `compare` against a virtual programmer with a 1 KiB Flash:
// a whole Flash read into Intel HEX and compared back, a changed byte found, and the
// open project's image written and compared through file blocks.
#include <gtest/gtest.h>

#include <fstream>
#include <nlohmann/json.hpp>
#include <sstream>

#include "tests/cli/CliHarness.h"
#include "tests/sim/SimHarness.h"
#include "tools/common/IntelHex.h"

using namespace nurva;
using namespace nurva::test;
using nlohmann::json;

namespace {

std::string ReadText(const std::filesystem::path& p) {
  std::ifstream in(p, std::ios::binary);
  std::stringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

void WriteText(const std::filesystem::path& p, const std::string& s) {
  std::ofstream out(p, std::ios::binary | std::ios::trunc);
  out << s;
}

// A project for an ATtiny10 (1 KiB Flash, no EEprom), so a whole Flash is four blocks.
sim::Project TinyProject() {
  const sim::DevicePreset& d = *sim::FindPreset("ATtiny10");
  sim::Project p = sim::MakeSampleProject();
  p.device = d.name;
  p.signature = d.signature;
  p.flashSize = d.flashSize;
  p.eepromSize = d.eepromSize;
  p.usrRowSize = d.usrRowSize;
  p.pageSize = d.pageSize;
  p.iface = d.iface;
  p.eeprom.reset();
  p.flash->data.resize(64);
  p.fuses = {{0, 0xFF}};
  return p;
}

class CliBlocks : public ::testing::Test {
 protected:
  void SetUp() override {
    ::setenv("LC_ALL", "C", 1);
    sim::ProgrammerConfig cfg;
    cfg.socketName = "prog-0";
    cfg.cardDir = tmp.Path() / "card";
    sim::Card(cfg.cardDir).Write("TINY.PACK", TinyProject().Serialize());
    cfg.openProject = "TINY.PACK";
    prog = std::make_unique<sim::VirtualProgrammer>(bus.Dir(), cfg);
    std::string err;
    ASSERT_TRUE(prog->Start(&err)) << err;
    for (size_t i = 0; i < 1024; ++i) image.push_back(static_cast<uint8_t>(i * 13 + 5));
  }
  std::filesystem::path File(const std::string& name) const { return tmp.Path() / name; }
  Ran Run(std::vector<std::string> args) { return Nurva(std::move(args), tmp.Path()); }

  TestBus bus;
  TempDir tmp;
  std::unique_ptr<sim::VirtualProgrammer> prog;
  std::vector<uint8_t> image;
};

TEST_F(CliBlocks, WholeFlashIntoHexAndBackThroughCompare) {
  WriteText(File("image.bin"), std::string(image.begin(), image.end()));
  Ran w = Run({"write", "flash", File("image.bin").string()});
  ASSERT_EQ(w.exit, 0) << w.out;
  EXPECT_EQ(prog->Fw().With([](sim::State& st) { return st.target.flash; }), image) << "written through program blocks";

  // No --size: the whole Flash, up to where the programmer stops delivering blocks.
  Ran r = Run({"--json", "read", "flash", "-o", File("whole.hex").string()});
  ASSERT_EQ(r.exit, 0) << r.out;
  const json j = json::parse(r.out);
  EXPECT_EQ(j["bytes"], 1024);
  EXPECT_GT(j["bytesPerSecond"].get<double>(), 0.0);
  auto hex = hex::Parse(ReadText(File("whole.hex")), nullptr);
  ASSERT_TRUE(hex);
  EXPECT_EQ(hex->base, 0u);
  EXPECT_EQ(hex->data, image);

  Ran same = Run({"compare", "flash", File("whole.hex").string()});
  EXPECT_EQ(same.exit, 0) << same.out;
  EXPECT_NE(same.out.find("identical"), std::string::npos) << same.out;

  hex->data[0x123] ^= 0x40;
  WriteText(File("changed.hex"), hex::Format(*hex));
  Ran changed = Run({"compare", "flash", File("changed.hex").string()});
  EXPECT_EQ(changed.exit, 1) << changed.out;
  EXPECT_NE(changed.out.find("0x000123"), std::string::npos) << changed.out;
  EXPECT_NE(changed.out.find("1 of 1024 bytes differ"), std::string::npos) << changed.out;
}

TEST_F(CliBlocks, ProjectImageThroughFileBlocks) {
  const std::vector<uint8_t> part(image.begin(), image.begin() + 100);
  WriteText(File("part.bin"), std::string(part.begin(), part.end()));
  Ran w = Run({"write", "flash", File("part.bin").string(), "--address", "0x40", "--project"});
  ASSERT_EQ(w.exit, 0) << w.out;
  // In the open project, and in its file on the card.
  auto card = prog->Fw().GetCard().Read("TINY.PACK");
  ASSERT_TRUE(card);
  auto stored = sim::Project::Parse(*card, nullptr);
  ASSERT_TRUE(stored && stored->flash);
  EXPECT_TRUE(std::equal(part.begin(), part.end(), stored->flash->data.begin() + 0x40));
  EXPECT_EQ(Run({"compare", "flash", File("part.bin").string(), "--address", "64", "--project"}).exit, 0);
  // The target was not touched.
  EXPECT_EQ(Run({"compare", "flash", File("part.bin").string(), "--address", "64"}).exit, 1);
}

TEST_F(CliBlocks, UsageAndRefusals) {
  EXPECT_EQ(Run({"read", "rom", "-o", File("x.bin").string()}).exit, 2);
  EXPECT_EQ(Run({"compare", "flash", File("missing.hex").string()}).exit, 2);
  // Past the end of a 1 KiB Flash the programmer delivers nothing: the read of a given
  // size fails with the library's answer, after the wait for a reply that never came.
  Ran past = Run({"read", "flash", "--address", "0x400", "--size", "256", "-o", File("p.bin").string()});
  EXPECT_EQ(past.exit, 5) << past.out;
  EXPECT_NE(past.out.find("checksum error"), std::string::npos) << past.out;
  EXPECT_FALSE(std::filesystem::exists(File("p.bin")));
}

// The demo's block steps: after the job, the programmed Flash compared with the project's
// image, a block over a page, then the release.
TEST(CliBlocksDemo, ReadsBackAndComparesTheProgrammedImage) {
  ::setenv("LC_ALL", "C", 1);
  TempDir tmp;
  auto steps = [](const json& j) {
    std::vector<std::string> names;
    for (const auto& s : j["steps"]) names.push_back(s["step"]);
    return names;
  };
  Ran r = Nurva({"demo", "--json"}, tmp.Path());
  ASSERT_EQ(r.exit, 0) << r.out;
  const json j = json::parse(r.out);
  const auto names = steps(j);
  ASSERT_GE(names.size(), 3u);
  EXPECT_EQ(std::vector<std::string>(names.end() - 3, names.end()),
            (std::vector<std::string>{"read back and compare", "block over a page", "release target"}));
  const json& compare = j["steps"][names.size() - 3];
  EXPECT_EQ(compare["ok"], true);
  EXPECT_GT(compare["bytes"].get<int>(), 0);
  EXPECT_GT(compare["bytesPerSecond"].get<double>(), 0.0);
  EXPECT_EQ(j["steps"][names.size() - 2]["ok"], true);

  // Checksums that do not match: the compare step fails, the demo goes on to the release.
  Ran bad = Nurva({"demo", "--json", "--fault", "block-checksum"}, tmp.Path());
  EXPECT_EQ(bad.exit, 1) << bad.out;
  const json b = json::parse(bad.out);
  bool failedCompare = false;
  for (const auto& s : b["steps"])
    if (s["step"] == "read back and compare") failedCompare = s["ok"] == false && s["code"] == "dwnLoadErrF";
  EXPECT_TRUE(failedCompare) << bad.out;
  EXPECT_EQ(steps(b).back(), "release target");
}

}  // namespace
