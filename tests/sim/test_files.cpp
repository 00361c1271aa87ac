// The virtual programmer's card files and downloads, driven over the bus by a bare host.
#include <gtest/gtest.h>

#include <filesystem>

#include "tests/sim/SimHarness.h"

using namespace nurva;
using namespace nurva::test;

namespace {

constexpr uint8_t ACK = 0x06, NAK = 0x15, CAN = 0x18;

Bytes Junk(size_t n) {
  Bytes b(n);
  for (size_t i = 0; i < n; ++i) b[i] = static_cast<uint8_t>(i * 13 + 5);
  return b;
}

uint8_t Sum(const Bytes& b) {
  uint8_t s = 0;
  for (uint8_t x : b) s = static_cast<uint8_t>(s + x);
  return s;
}

// Every name in the card directory, temporaries included.
std::vector<std::string> DirEntries(const std::filesystem::path& dir) {
  std::vector<std::string> r;
  for (const auto& e : std::filesystem::directory_iterator(dir)) r.push_back(e.path().filename().string());
  std::sort(r.begin(), r.end());
  return r;
}

class SimFilesTest : public ::testing::Test {
 protected:
  void StartWith(std::initializer_list<const char*> faults = {}) {
    sim::ProgrammerConfig cfg = SampleConfig(h.CardDir());
    cfg.openProject.reset();
    for (const char* f : faults) ASSERT_TRUE(sim::ParseFault(f, cfg.faults, nullptr)) << f;
    h.Start(cfg);
  }
  Bytes Ask(uint8_t cmd, const std::string& name, size_t replies) {
    h.host.Tesk(cmd);
    h.host.SendString(name);
    return Chars(h.host.RecvN(replies));
  }
  Bytes AskQ(uint8_t letter, size_t replies) {
    h.host.Tesk('Q');
    h.host.Send({letter});
    return Chars(h.host.RecvN(replies));
  }
  // The download's opening: time stamp and name; the replies to both.
  Bytes Begin(const std::string& name) {
    h.host.Tesk('D');
    h.host.Send({0xA4, 0});
    h.host.Send({0x70, 0});
    Bytes r = Chars(h.host.RecvN(1));
    h.host.Tesk('d');
    h.host.SendString(name);
    Bytes more = Chars(h.host.RecvN(2, 500));
    r.insert(r.end(), more.begin(), more.end());
    return r;
  }
  void SendBlock(const Bytes& data, std::optional<uint8_t> checksum = std::nullopt) {
    h.host.Send({static_cast<uint8_t>(data.size())});
    if (!data.empty()) h.host.Send(data);
    h.host.Send({checksum.value_or(Sum(data))});
  }
  // The whole file in blocks of 128; the replies that came.
  Bytes SendFile(const Bytes& data) {
    Bytes replies;
    size_t pos = 0;
    do {
      const size_t n = std::min<size_t>(128, data.size() - pos);
      SendBlock(Bytes(data.begin() + static_cast<std::ptrdiff_t>(pos), data.begin() + static_cast<std::ptrdiff_t>(pos + n)));
      pos += n;
      auto r = h.host.Recv(1500);
      if (!r) break;
      replies.insert(replies.end(), r->begin(), r->end());
    } while (pos < data.size());
    auto last = h.host.Recv(1500);
    if (last) replies.insert(replies.end(), last->begin(), last->end());
    return replies;
  }
  sim::Card Card() { return sim::Card(h.CardDir()); }

  SimHarness h;
};

TEST_F(SimFilesTest, ListingIsFifteenEntriesOfMatchingNames) {
  sim::Card(h.CardDir()).Write("b.pac", Junk(10));
  sim::Card(h.CardDir()).Write("C.EN1", Junk(10));
  StartWith();
  h.host.Tesk('C');
  EXPECT_EQ(Chars(h.host.RecvN(1)), Bytes{4});
  struct Case {
    const char* pattern;
    std::vector<std::string> names;
  };
  for (const Case& c : {Case{"*.*", {"b.pac", "C.EN1", "DEMO.PACK"}}, Case{"*.pac*", {"b.pac", "DEMO.PACK"}},
                        Case{"?.*", {"b.pac", "C.EN1"}}, Case{"none", {}}}) {
    h.host.Tesk('l');
    h.host.SendString(c.pattern);
    auto got = h.host.RecvN(30);
    ASSERT_EQ(got.size(), 30u) << c.pattern;
    for (size_t i = 0; i < 15; ++i) {
      Bytes name{static_cast<uint8_t>(i < c.names.size() ? c.names[i].size() : 0)};
      if (i < c.names.size()) name.insert(name.end(), c.names[i].begin(), c.names[i].end());
      EXPECT_EQ(got[2 * i], name) << c.pattern << " entry " << i;
      EXPECT_EQ(got[2 * i + 1], Bytes{ACK});
    }
  }
}

TEST_F(SimFilesTest, CheckOpenStateCloseDelete) {
  sim::Card(h.CardDir()).Write("junk.pack", Junk(40));
  StartWith();
  EXPECT_EQ(Ask('c', "demo.pack", 2), (Bytes{ACK, ACK}));
  EXPECT_EQ(Ask('c', "junk.pack", 2), (Bytes{ACK, NAK}));
  EXPECT_EQ(Ask('c', "none.pack", 1), Bytes{NAK});
  EXPECT_EQ(AskQ('s', 1), Bytes{NAK}) << "nothing open yet";

  h.host.Tesk('Q');
  h.host.Send({'O'});
  h.host.SendString("none.pack");
  EXPECT_EQ(Chars(h.host.RecvN(1)), Bytes{NAK});
  h.host.Tesk('Q');
  h.host.Send({'O'});
  h.host.SendString("junk.pack");
  EXPECT_EQ(Chars(h.host.RecvN(2)), (Bytes{ACK, NAK}));
  h.host.Tesk('Q');
  h.host.Send({'O'});
  h.host.SendString("demo.pack");
  EXPECT_EQ(Chars(h.host.RecvN(4)), (Bytes{ACK, ACK, ACK, sim::kTargetEmpty}));

  EXPECT_EQ(AskQ('s', 1), Bytes{ACK});
  h.host.Tesk('Q');
  h.host.Send({'N'});
  auto name = h.host.RecvN(3);
  ASSERT_EQ(name.size(), 3u);
  EXPECT_EQ(name[2], (Bytes{9, 'D', 'E', 'M', 'O', '.', 'P', 'A', 'C', 'K'})) << "the name as stored";
  EXPECT_EQ(Ask('e', "DEMO.PACK", 1), Bytes{NAK}) << "the open project stays";

  EXPECT_EQ(AskQ('C', 1), Bytes{ACK});
  EXPECT_EQ(AskQ('N', 2), (Bytes{NAK, NAK}));
  EXPECT_FALSE(h.With([](sim::State& st) { return st.open.has_value(); }));
  EXPECT_EQ(Ask('e', "demo.PACK", 1), Bytes{ACK});
  EXPECT_EQ(Ask('e', "demo.PACK", 1), Bytes{NAK});
  EXPECT_EQ(Card().List(), std::vector<std::string>{"junk.pack"});
}

TEST_F(SimFilesTest, CardFaults) {
  struct Case {
    const char* fault;
    uint8_t cardCheck;
    Bytes check, create, del;
  };
  const Case cases[] = {
      {"card-refuse", 0, {ACK, ACK}, {ACK, NAK}, {NAK}},
      {"file-missing", 4, {NAK}, {ACK, ACK}, {NAK}},
      {"card=missing", 0, {NAK}, {ACK, NAK}, {NAK}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.fault);
    StartWith({c.fault});
    h.host.Tesk('C');
    EXPECT_EQ(Chars(h.host.RecvN(1)), Bytes{c.cardCheck});
    EXPECT_EQ(Ask('c', "DEMO.PACK", c.check.size()), c.check);
    EXPECT_EQ(Ask('e', "DEMO.PACK", 1), c.del);
    EXPECT_EQ(Begin("NEW.PACK"), (Bytes{ACK, c.create[0], c.create[1]}));
    h.Stop();
  }
  EXPECT_EQ(Card().List(), std::vector<std::string>{"DEMO.PACK"});
}

TEST_F(SimFilesTest, DownloadStoresTheWholeFile) {
  StartWith();
  for (size_t size : {300, 256, 0}) {
    SCOPED_TRACE(size);
    const std::string name = "F" + std::to_string(size) + ".PACK";
    const Bytes data = Junk(size);
    EXPECT_EQ(Begin(name), (Bytes{ACK, ACK, ACK}));
    const size_t blocks = size == 0 ? 1 : (size + 127) / 128;
    EXPECT_EQ(SendFile(data), Bytes(blocks + 1, ACK)) << "each block, then the final character";
    EXPECT_EQ(Card().Read(name), data);
  }
  EXPECT_EQ(Begin("F300.PACK"), (Bytes{ACK, NAK})) << "the file exists";
  EXPECT_EQ(DirEntries(h.CardDir()), (std::vector<std::string>{"DEMO.PACK", "F0.PACK", "F256.PACK", "F300.PACK"}));
}

TEST_F(SimFilesTest, ABrokenDownloadLeavesNoFile) {
  const Bytes data = Junk(300);
  const Bytes b1(data.begin(), data.begin() + 128), b2(data.begin() + 128, data.begin() + 256);
  struct Case {
    const char* fault;
    std::function<Bytes()> run;
    Bytes replies;
  };
  const Case cases[] = {
      {"",
       [&] {
         SendBlock(b1);
         SendBlock(b2, static_cast<uint8_t>(Sum(b2) + 1));
         return Chars(h.host.RecvN(4));
       },
       {ACK, NAK, CAN, NAK}},
      {"checksum-refuse=2", [&] { return SendFile(data); }, {ACK, NAK, CAN, NAK}},
      {"download-stops=1", [&] { return SendFile(data); }, {ACK}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.fault);
    if (*c.fault)
      StartWith({c.fault});
    else
      StartWith();
    EXPECT_EQ(Begin("NEW.PACK"), (Bytes{ACK, ACK, ACK}));
    EXPECT_EQ(c.run(), c.replies);
    h.Stop();
    EXPECT_EQ(DirEntries(h.CardDir()), std::vector<std::string>{"DEMO.PACK"});
  }

  StartWith({"time-refuse"});
  h.host.Tesk('D');
  h.host.Send({0xA4, 0});
  h.host.Send({0x70, 0});
  EXPECT_EQ(Chars(h.host.RecvN(1)), Bytes{NAK});
  h.Stop();
}

TEST_F(SimFilesTest, AnUnplugMidDownloadLeavesNoFile) {
  // OUT packets: 'D', two words, 'd', the name's two, then per block length, data, checksum:
  // the 11th is the second block's data.
  StartWith({"unplug-after=11"});
  const Bytes data = Junk(300);
  EXPECT_EQ(Begin("NEW.PACK"), (Bytes{ACK, ACK, ACK}));
  SendBlock(Bytes(data.begin(), data.begin() + 128));
  EXPECT_EQ(Chars(h.host.RecvN(1)), Bytes{ACK});
  SendBlock(Bytes(data.begin() + 128, data.begin() + 256));
  EXPECT_TRUE(h.host.Closed(3000));
  h.Stop();
  EXPECT_EQ(DirEntries(h.CardDir()), std::vector<std::string>{"DEMO.PACK"}) << "no file and no temporary";

  // Stopped in the middle too.
  StartWith();
  EXPECT_EQ(Begin("NEW.PACK"), (Bytes{ACK, ACK, ACK}));
  SendBlock(Bytes(data.begin(), data.begin() + 128));
  EXPECT_EQ(Chars(h.host.RecvN(1)), Bytes{ACK});
  h.Stop();
  EXPECT_EQ(DirEntries(h.CardDir()), std::vector<std::string>{"DEMO.PACK"});
}

}  // namespace
