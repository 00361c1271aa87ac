// The card file and download exports, through the public header, against a virtual
// programmer.
#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>

#include "api/NURVA_DLL.h"
#include "tests/sim/E2eFixture.h"
#include "tests/sim/SimHarness.h"

using namespace nurva;
using namespace nurva::test;

namespace {

class FilesEndToEnd : public ::testing::Test {
 protected:
  void Serve(std::initializer_list<const char*> faults = {}) {
    sim::ProgrammerConfig cfg = SampleConfig(cards.Path() / "card");
    cfg.socketName = "prog-0";
    for (const char* f : faults) ASSERT_TRUE(sim::ParseFault(f, cfg.faults, nullptr)) << f;
    prog = std::make_unique<sim::VirtualProgrammer>(bus.Dir(), cfg);
    std::string err;
    ASSERT_TRUE(prog->Start(&err)) << err;
    AbortAll();
  }
  // A fresh project on the PC; its bytes.
  std::vector<uint8_t> PutProject(const std::string& name) {
    sim::Project p = sim::MakeSampleProject();
    p.name = "fresh";
    auto bytes = p.Serialize();
    std::ofstream(cards.Path() / name, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    return bytes;
  }
  Answer Download(const std::string& name) {
    const std::string path = (cards.Path() / name).string();
    return Call([&](int32_t ch, int32_t* r, char* t) { DownloadFile(ch, path.c_str(), r, t); });
  }
  static Answer Named(void (*fn)(int32_t, const char*, int32_t*, char*), const char* name) {
    return Call([&](int32_t ch, int32_t* r, char* t) { fn(ch, name, r, t); });
  }
  sim::Card Card() { return sim::Card(cards.Path() / "card"); }

  TestBus bus;
  TempDir cards;
  std::unique_ptr<sim::VirtualProgrammer> prog;
};

TEST_F(FilesEndToEnd, DownloadListOpenCloseDelete) {
  Serve();
  const auto bytes = PutProject("My Fresh.pack");
  Answer dl = Download("My Fresh.pack");
  EXPECT_EQ(dl.res, NURVA_RES_resOk);
  EXPECT_EQ(dl.text, "ok");
  EXPECT_EQ(Card().Read("MyFresh.PACK"), bytes);

  Answer list = Call(GetFileNames);
  EXPECT_EQ(list.res, NURVA_RES_resOk);
  std::string want = "DEMO.PACK\r\nMyFresh.PACK\r\n";
  for (int i = 0; i < 13; ++i) want += "\r\n";
  EXPECT_EQ(list.text, want);

  EXPECT_EQ(Named(CheckAfile, " MyFresh.PACK ").text, "File check ok");
  Answer open = Named(OpenAfile, "myfresh.pack");
  EXPECT_EQ(open.res, NURVA_RES_resOk);
  EXPECT_EQ(open.text, "file open");
  EXPECT_EQ(prog->Fw().With([](sim::State& st) { return st.open ? st.open->name : ""; }), "fresh");
  EXPECT_EQ(Call(GetFileState).text, "MyFresh.PACK");
  EXPECT_EQ(Named(DeleteAfile, "MyFresh.PACK").res, NURVA_RES_FileErr) << "open";
  EXPECT_EQ(Call(CloseAfile).text, "file closed");
  Answer state = Call(GetFileState);
  EXPECT_EQ(state.res, NURVA_RES_invFName);
  EXPECT_EQ(state.text, "file closed");
  EXPECT_EQ(Named(DeleteAfile, "MyFresh.PACK").text, "File deleted");
  EXPECT_EQ(Card().List(), std::vector<std::string>{"DEMO.PACK"});
  EXPECT_EQ(Named(OpenAfile, "MyFresh.PACK").text, "file not found");
}

TEST_F(FilesEndToEnd, DownloadRefusals) {
  struct Case {
    const char* fault;
    int32_t res;
    const char* text;
  };
  const Case cases[] = {
      {"checksum-refuse=2", NURVA_RES_FileDwnErr, "filesize mismatch"},
      {"card-refuse", NURVA_RES_FileErr, "File create failed"},
      {"time-refuse", NURVA_RES_progComErr, "communication error"},
  };
  PutProject("next.pack");
  for (const auto& c : cases) {
    Serve({c.fault});
    Answer a = Download("next.pack");
    EXPECT_EQ(a.res, c.res) << c.fault;
    EXPECT_EQ(a.text, c.text) << c.fault;
    EXPECT_EQ(Card().List(), std::vector<std::string>{"DEMO.PACK"}) << c.fault;
    prog->Stop();
    prog.reset();
  }
  Serve();
  EXPECT_EQ(Download("next.pack").text, "ok");
  Answer again = Download("next.pack");
  EXPECT_EQ(again.res, NURVA_RES_FileExist);
  EXPECT_EQ(again.text, "File exists");
}

}  // namespace
