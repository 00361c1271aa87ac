// The flashcard: files in a directory, whole or not at all, and kept across restarts.
#include <gtest/gtest.h>

#include <fstream>

#include "tests/sim/SimHarness.h"

using namespace nurva;
using namespace nurva::test;
namespace fs = std::filesystem;

namespace {

Bytes Data(size_t n, uint8_t seed) {
  Bytes b(n);
  for (size_t i = 0; i < n; ++i) b[i] = static_cast<uint8_t>(seed + i * 13);
  return b;
}

std::vector<std::string> DirEntries(const fs::path& dir) {
  std::vector<std::string> r;
  for (const auto& e : fs::directory_iterator(dir)) r.push_back(e.path().filename().string());
  std::sort(r.begin(), r.end());
  return r;
}

TEST(Card, StoresListsFindsAndRemoves) {
  TempDir tmp;
  sim::Card card(tmp.Path() / "card");
  ASSERT_TRUE(card.Mounted());
  ASSERT_TRUE(card.Write("b.pack", Data(300, 1)));
  ASSERT_TRUE(card.Write("A.PACK", Data(10, 2)));
  ASSERT_TRUE(card.Write("c.enc", {}));
  EXPECT_EQ(card.List(), (std::vector<std::string>{"A.PACK", "b.pack", "c.enc"}));
  EXPECT_EQ(card.Read("b.pack"), Data(300, 1));
  EXPECT_EQ(card.Read("c.enc"), Bytes{});
  // Names are found whatever their case, as on the card's file system.
  EXPECT_EQ(card.Find("a.pack"), "A.PACK");
  EXPECT_EQ(card.Read("B.PACK"), Data(300, 1));
  EXPECT_FALSE(card.Find("d.pack"));
  // Writing a name that differs only in case replaces the file.
  ASSERT_TRUE(card.Write("B.Pack", Data(5, 9)));
  EXPECT_EQ(card.List(), (std::vector<std::string>{"A.PACK", "B.Pack", "c.enc"}));
  EXPECT_EQ(card.Read("b.pack"), Data(5, 9));
  EXPECT_TRUE(card.Remove("a.pack"));
  EXPECT_FALSE(card.Remove("a.pack"));
  EXPECT_EQ(card.List(), (std::vector<std::string>{"B.Pack", "c.enc"}));
}

TEST(Card, RefusesNamesOutsideTheCard) {
  TempDir tmp;
  sim::Card card(tmp.Path() / "card");
  for (const char* bad : {"", "../x.pack", "a/b.pack", ".hidden", "a\\b", "tab\tname"}) {
    SCOPED_TRACE(bad);
    EXPECT_FALSE(sim::Card::ValidName(bad));
    EXPECT_FALSE(card.Write(bad, Data(4, 0)));
  }
  EXPECT_FALSE(sim::Card::ValidName(std::string(65, 'x')));
  EXPECT_TRUE(sim::Card::ValidName(std::string(64, 'x')));
  EXPECT_TRUE(card.List().empty());
  EXPECT_FALSE(fs::exists(tmp.Path() / "x.pack"));
}

TEST(Card, AnUnfinishedWriteLeavesNothing) {
  TempDir tmp;
  sim::Card card(tmp.Path() / "card");
  ASSERT_TRUE(card.Write("keep.pack", Data(100, 3)));
  {
    auto w = card.Create("new.pack");
    ASSERT_TRUE(w);
    ASSERT_TRUE(w->Append(Data(128, 4)));
    ASSERT_TRUE(w->Append(Data(128, 5)));
    EXPECT_EQ(w->Size(), 256u);
    // Half written: neither listed nor readable, while the old files stay.
    EXPECT_EQ(card.List(), std::vector<std::string>{"keep.pack"});
    EXPECT_FALSE(card.Read("new.pack"));
  }  // broken off without Commit
  EXPECT_EQ(DirEntries(card.Dir()), std::vector<std::string>{"keep.pack"});

  // A replacement that breaks off keeps the old contents whole.
  {
    auto w = card.Create("keep.pack");
    ASSERT_TRUE(w->Append(Data(7, 6)));
  }
  EXPECT_EQ(card.Read("keep.pack"), Data(100, 3));

  auto w = card.Create("new.pack");
  ASSERT_TRUE(w->Append(Data(128, 4)));
  ASSERT_TRUE(w->Commit());
  EXPECT_EQ(card.Read("new.pack"), Data(128, 4));
  EXPECT_EQ(DirEntries(card.Dir()), (std::vector<std::string>{"keep.pack", "new.pack"}));
}

TEST(Card, ACommitThatFailsLeavesNothing) {
  TempDir tmp;
  sim::Card card(tmp.Path() / "card");
  // A directory under the name makes the final rename fail.
  fs::create_directory(card.Dir() / "busy.pack");
  auto w = card.Create("busy.pack");
  ASSERT_TRUE(w->Append(Data(50, 1)));
  std::string err;
  EXPECT_FALSE(w->Commit(&err));
  EXPECT_FALSE(err.empty());
  EXPECT_EQ(DirEntries(card.Dir()), std::vector<std::string>{"busy.pack"});
  EXPECT_TRUE(fs::is_directory(card.Dir() / "busy.pack"));
  EXPECT_TRUE(card.List().empty());
}

TEST(Card, TemporariesOfACrashAreClearedAtMount) {
  TempDir tmp;
  const fs::path dir = tmp.Path() / "card";
  {
    sim::Card card(dir);
    ASSERT_TRUE(card.Write("good.pack", Data(10, 1)));
  }
  // What a simulator killed in the middle of a download leaves.
  std::ofstream(dir / ".~half.pack.Ab12Cd") << "partial";
  sim::Card again(dir);
  EXPECT_EQ(again.List(), std::vector<std::string>{"good.pack"});
  EXPECT_EQ(DirEntries(dir), std::vector<std::string>{"good.pack"});
}

TEST(Card, FilesAndTheOpenProjectSurviveARestart) {
  SimHarness h;
  const fs::path dir = h.CardDir();
  sim::ProgrammerConfig cfg = SampleConfig(dir);
  h.Start(cfg);
  h.prog->Fw().GetCard().Write("EXTRA.PACK", sim::MakeSampleProject().Serialize());
  h.Stop();

  // A new programmer on the same card: the files are there and the project opens.
  sim::ProgrammerConfig again;
  again.cardDir = dir;
  again.openProject = "extra.pack";
  h.Start(again);
  EXPECT_EQ(h.prog->Fw().GetCard().List(), (std::vector<std::string>{sim::kSampleFile, "EXTRA.PACK"}));
  EXPECT_EQ(h.With([](sim::State& st) { return st.openName; }), "EXTRA.PACK");
  h.host.Tesk('Q');
  h.host.Send({'c'});
  EXPECT_EQ(Chars(h.host.Drain()), (Bytes{0x06, 0x00}));
}

TEST(Card, ADamagedProjectDoesNotOpen) {
  SimHarness h;
  const fs::path dir = h.CardDir();
  Bytes file = sim::MakeSampleProject().Serialize();
  file.resize(file.size() / 2);  // a download that broke off, stored under its name by hand
  sim::Card(dir).Write("HALF.PACK", file);
  sim::ProgrammerConfig cfg;
  cfg.cardDir = dir;
  cfg.openProject = "HALF.PACK";
  h.Start(cfg);
  EXPECT_NE(h.prog->Notes().find("not opened"), std::string::npos) << h.prog->Notes();
  EXPECT_FALSE(h.With([](sim::State& st) { return st.open.has_value(); }));
  h.host.Tesk('Q');
  h.host.Send({'c'});
  EXPECT_EQ(Chars(h.host.Drain()), Bytes{0x15});
}

}  // namespace
