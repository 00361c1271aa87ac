// Block transfers and read back through the exports against the virtual programmer: the
// target and the project image as the blocks leave them, and each fault option's answer.
#include <gtest/gtest.h>

#include <cstdlib>
#include <functional>
#include <numeric>

#include "api/NURVA_DLL.h"
#include "tests/sim/E2eFixture.h"
#include "tests/sim/SimHarness.h"

using namespace nurva;
using namespace nurva::test;

namespace {

// A call on channel 0 with `args` between the channel and the result.
template <class Fn, class... A>
Answer Xfer(Fn fn, A... args) {
  return Call(fn, 0, args...);
}

class BlocksEndToEnd : public ::testing::Test {
 protected:
  void SetUp() override { ::setenv("LC_ALL", "C", 1); }
  void TearDown() override { Stop(); }

  // A programmer with the sample project open and `faults`, found by the library.
  void Serve(const std::vector<std::string>& faults = {}) {
    Stop();
    sim::ProgrammerConfig cfg = SampleConfig(cards.Path() / ("card" + std::to_string(++served)));
    cfg.socketName = "prog-0";
    for (const auto& f : faults) ASSERT_TRUE(sim::ParseFault(f, cfg.faults, nullptr)) << f;
    prog = std::make_unique<sim::VirtualProgrammer>(bus.Dir(), cfg);
    std::string err;
    ASSERT_TRUE(prog->Start(&err)) << err;
    AbortAll();
    ASSERT_EQ(Xfer(ClosePort).res, NURVA_RES_resNone);
  }
  void Stop() {
    if (prog) prog->Stop();
    prog.reset();
  }
  template <class F>
  auto With(F&& f) {
    return prog->Fw().With(std::forward<F>(f));
  }

  TestBus bus;
  TempDir cards;
  int served = 0;
  std::unique_ptr<sim::VirtualProgrammer> prog;
};

std::vector<uint8_t> Pattern(size_t n, uint8_t seed) {
  std::vector<uint8_t> b(n);
  for (size_t i = 0; i < n; ++i) b[i] = static_cast<uint8_t>(i * 3 + seed);
  return b;
}

}  // namespace

TEST_F(BlocksEndToEnd, TargetBlocksAreWrittenAndReadBack) {
  Serve();
  const auto flash = Pattern(256, 1), ee = Pattern(20, 2), over = Pattern(8, 3);
  EXPECT_EQ(Xfer(DownProgBlockF, flash.data(), 0x200).text, "ok");
  EXPECT_EQ(Xfer(DownProgBlockE, ee.data(), 0x10, 20).text, "ok");
  EXPECT_EQ(Xfer(DownOverBlockF, over.data(), 0x2F8, 8).text, "ok");
  With([&](sim::State& st) {
    EXPECT_TRUE(std::equal(flash.begin(), flash.end() - 8, st.target.flash.begin() + 0x200));
    EXPECT_TRUE(std::equal(over.begin(), over.end(), st.target.flash.begin() + 0x2F8));
    EXPECT_TRUE(std::equal(ee.begin(), ee.end(), st.target.eeprom.begin() + 0x10));
  });

  std::vector<uint8_t> back(256, 0);
  Answer a = Xfer(ReadBackChipF, back.data(), 0x200);
  EXPECT_EQ(a.res, 1);
  EXPECT_EQ(a.text, "resOK");
  EXPECT_TRUE(std::equal(back.begin(), back.end() - 8, flash.begin()));
  EXPECT_TRUE(std::equal(over.begin(), over.end(), back.end() - 8));
  std::vector<uint8_t> eeBack(20, 0);
  EXPECT_EQ(Xfer(ReadBackChipE, eeBack.data(), 0x10, 20).res, 1);
  EXPECT_EQ(eeBack, ee);

  // Past the end of the memory the programmer sends no block: never "resOK".
  EXPECT_EQ(Xfer(ReadBackChipF, back.data(), 0x8000).text, "checksum error");
  // An over block the programmer refuses (no user row on this chip).
  EXPECT_EQ(Xfer(DownOverBlockU, over.data(), 0, 8).res, 9);
}

TEST_F(BlocksEndToEnd, FileBlocksChangeTheProjectImageAndItsFile) {
  Serve();
  const auto data = Pattern(300, 7);
  EXPECT_EQ(Xfer(DownFileBlockF, data.data(), 0x3E0, 300).text, "ok");  // past the image's end: it grows
  EXPECT_EQ(Xfer(DownFileBlockE, data.data(), 0, 0).text, "ok");
  std::vector<uint8_t> up(300, 0);
  Answer a = Xfer(UpFileBlockF, up.data(), 0x3E0, 300);
  EXPECT_EQ(a.res, 1);
  EXPECT_EQ(up, data);
  std::vector<uint8_t> erased(4, 0);
  EXPECT_EQ(Xfer(UpFileBlockF, erased.data(), 0x7000, 4).res, 1);
  EXPECT_EQ(erased, (std::vector<uint8_t>(4, 0xFF))) << "outside the image: erased";

  auto file = prog->Fw().GetCard().Read(sim::kSampleFile);
  ASSERT_TRUE(file);
  auto p = sim::Project::Parse(*file, nullptr);
  ASSERT_TRUE(p && p->flash);
  EXPECT_EQ(p->flash->End(), 0x3E0u + 300);
  EXPECT_TRUE(std::equal(data.begin(), data.end(), p->flash->data.begin() + 0x3E0));
  // Beyond the chip's Flash the header is not confirmed.
  EXPECT_EQ(Xfer(DownFileBlockF, data.data(), 0x7F00, 300).text, "communication error");
}

TEST_F(BlocksEndToEnd, EachFaultGivesItsAnswer) {
  const auto block = Pattern(256, 9);
  std::vector<uint8_t> in(256);
  using Call = std::function<Answer()>;
  const Call progF = [&] { return Xfer(DownProgBlockF, block.data(), 0); };
  const Call progE = [&] { return Xfer(DownProgBlockE, block.data(), 0, 16); };
  const Call overF = [&] { return Xfer(DownOverBlockF, block.data(), 0, 16); };
  const Call fileF = [&] { return Xfer(DownFileBlockF, block.data(), 0, 16); };
  const Call fileE = [&] { return Xfer(DownFileBlockE, block.data(), 0, 16); };
  const Call upF = [&] { return Xfer(UpFileBlockF, in.data(), 0, 16); };
  const Call readF = [&] { return Xfer(ReadBackChipF, in.data(), 0); };
  struct Row {
    std::vector<std::string> faults;
    std::vector<std::tuple<const Call*, int32_t, const char*>> calls;
  };
  const Row rows[] = {
      {{"power-down"}, {{&progF, 10, "device power down"}, {&readF, 10, "device power down"}}},
      {{"wrong-signature"}, {{&progF, 12, "wrong device ID"}}},
      {{"protected"}, {{&progF, 19, "device protected"}, {&readF, 19, "device protected"}, {&overF, 9, "communication error"}}},
      {{"target-comm"}, {{&progE, 30, "communication error1"}, {&readF, 30, "communication error"}}},
      {{"late-target-fault", "power-down"}, {{&progF, 11, "low voltage"}}},
      {{"late-target-fault", "wrong-signature"}, {{&progF, 12, "wrong device"}}},
      {{"late-target-fault", "protected"}, {{&progE, 19, "device protected"}}},
      {{"verify-error"}, {{&progF, 27, "verify error"}, {&overF, 9, "communication error"}}},
      {{"block-no-cr"}, {{&progE, 31, "communication error3"}, {&fileF, 30, "communication error"},
                         {&upF, 30, "communication error"}}},
      {{"block-refuse=open"}, {{&progF, 37, "File error"}, {&readF, 37, "File error"}}},
      {{"block-refuse=read,file,up,over"}, {{&readF, 37, "file encrypted"}, {&fileE, 31, "file is encrypted"},
                                            {&upF, 37, "File error"}, {&overF, 9, "communication error"}}},
      {{"block-checksum"}, {{&readF, 30, "checksum error"}, {&fileE, 31, "checksum error"},
                            {&upF, 30, "checksum error"}, {&overF, 9, "communication error"}}},
      {{"block-short=100"}, {{&readF, 30, "checksum error"}}},
      {{"protected-project=1"}, {{&fileF, 30, "file is encrypted"}, {&readF, 37, "file encrypted"}}},
  };
  for (const auto& row : rows) {
    Serve(row.faults);
    for (const auto& [call, res, text] : row.calls) {
      Answer a = (*call)();
      EXPECT_EQ(a.res, res) << row.faults[0] << ": " << text;
      EXPECT_EQ(a.text, text) << row.faults[0];
    }
  }
}

TEST_F(BlocksEndToEnd, DataThatStopsEndsTheCallWithinSeconds) {
  Serve({"data-stops=3"});
  std::vector<uint8_t> in(256, 0);
  const auto t0 = std::chrono::steady_clock::now();
  Answer up = Xfer(UpFileBlockF, in.data(), 0, 256);
  const auto ms =
      std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - t0).count();
  EXPECT_EQ(up.text, "checksum error");
  EXPECT_LT(ms, 5000);
  const auto image = sim::MakeSampleProject().flash->data;
  EXPECT_TRUE(std::equal(in.begin(), in.begin() + 3, image.begin()));
  EXPECT_EQ(in[3], 0x15);
  EXPECT_EQ(Xfer(ReadBackChipF, in.data(), 0).text, "checksum error") << "a block without its checksum word";
}
