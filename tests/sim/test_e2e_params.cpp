// GetProjParams, through the public header only, against a virtual programmer.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "api/NURVA_DLL.h"
#include "tests/sim/E2eFixture.h"
#include "tests/sim/SimHarness.h"

using namespace nurva;
using namespace nurva::test;

namespace {

Answer Report(const char* name) { return Call(GetProjParams, 0, name); }

// A project with every line of the report set to a known value.
sim::Project FixedProject() {
  sim::Project p = sim::MakeSampleProject();
  p.name = "station 7";
  p.info = "line B, rev 12";
  p.fileDate = sim::PackDateTime(2024, 3, 5, 14, 7, 32);
  p.date100 = sim::Date100(2000, 2, 29);
  p.frequency = 7372800;
  p.iface = sim::Interface::PDI;
  sim::MemImage usr;
  usr.data.assign(128, 0x5A);
  p.usrRow = usr;
  p.usrRowSize = 512;
  p.optionFlag = false;
  p.power = sim::PackPower(sim::PowerMode::Max100mA, 500);
  p.protection = TAES{0x07};
  p.quantity = 250;
  return p;
}

class ParamsEndToEnd : public ::testing::Test {
 protected:
  void SetUp() override { ::setenv("LC_ALL", "C", 1); }
  void TearDown() override {
    if (prog) prog->Stop();
    ::unsetenv("LC_ALL");
  }
  void Serve(std::initializer_list<const char*> faults = {}) {
    sim::ProgrammerConfig cfg = SampleConfig(cards.Path() / "card");
    sim::Card card(cfg.cardDir);
    ASSERT_TRUE(card.Write("FIXED.PACK", FixedProject().Serialize()));
    ASSERT_TRUE(card.Write("BROKEN.PACK", std::vector<uint8_t>(40, 0x11)));
    cfg.openProject = "FIXED.PACK";
    for (const char* f : faults) ASSERT_TRUE(sim::ParseFault(f, cfg.faults, nullptr)) << f;
    cfg.socketName = "prog-0";
    prog = std::make_unique<sim::VirtualProgrammer>(bus.Dir(), cfg);
    std::string err;
    ASSERT_TRUE(prog->Start(&err)) << err;
    AbortAll();
  }

  TestBus bus;
  TempDir cards;
  std::unique_ptr<sim::VirtualProgrammer> prog;
};

}  // namespace

TEST_F(ParamsEndToEnd, ReportOfAProjectOnTheCard) {
  Serve();
  Answer a = Report("fixed.pack");
  EXPECT_EQ(a.res, NURVA_RES_resOk);
  EXPECT_EQ(a.text,
            "station 7\r\n"
            "2024.Mar.05 14:07:32\r\n"
            "2000.Feb.29\r\n"
            "line B, rev 12\r\n"
            "7.3728 MHz\r\n"
            "1024 bytes\r\n"
            "64 bytes\r\n"
            "128 bytes\r\n"
            "no\r\n"
            "PDI\r\n"
            "AES+PWD+QNT\r\n"
            "TESK  5.00V  max 100mA\r\n");
  // The sample beside it: its own name and sizes, the open project's protection.
  a = Report(sim::kSampleFile);
  EXPECT_EQ(a.res, NURVA_RES_resOk);
  EXPECT_EQ(a.text.substr(0, a.text.find("\r\n")), "demo blink");
  EXPECT_NE(a.text.find("\r\n1 MHz\r\n1024 bytes\r\n64 bytes\r\nnone\r\nyes\r\nSPI\r\nAES+PWD+QNT\r\n"
                        "TESK  3.30V  max 30mA\r\n"),
            std::string::npos)
      << a.text;
}

TEST_F(ParamsEndToEnd, FailureRows) {
  struct Case {
    const char* fault;
    const char* name;
    int32_t res;
    const char* text;
  };
  const Case cases[] = {
      {nullptr, "NONE.PACK", NURVA_RES_FileNotFound, "File not found"},
      {nullptr, "BROKEN.PACK", NURVA_RES_invFile, "File check error"},
      {"params-refused", "FIXED.PACK", NURVA_RES_progTimeOutErr, "communication error1"},
      {"params-short=190", "FIXED.PACK", NURVA_RES_progTimeOutErr, "communication error2"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    if (c.fault)
      Serve({c.fault});
    else
      Serve();
    Answer a = Report(c.name);
    EXPECT_EQ(a.res, c.res);
    EXPECT_EQ(a.text, c.text);
    prog->Stop();
    prog.reset();
  }
}
