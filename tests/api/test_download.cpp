// Project file download: name rules, blocks and checksums, and every reply path.
#include <atomic>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <numeric>
#include <thread>

#include "commands/FileNames.h"
#include "commands/ProjDownload.h"
#include "tests/api/files_fixture.h"

using namespace nurva;
using namespace nurva::test;
namespace fs = std::filesystem;

namespace {

TEST(DownloadNames, ExtensionsTheCardTakes) {
  struct Case {
    const char* path;
    const char* ext;
    bool accepted;
  };
  const Case cases[] = {
      {"proj.PACK", ".PACK", true},  {"proj.pac", ".PAC", true},   {"x.EN", ".EN", true},
      {"x.en7", ".EN7", true},       {"x.pkz", ".PKZ", true},      {"x.PACKS", ".PACKS", false},
      {"x.PA", ".PA", false},        {"x.E", ".E", false},         {"noext", "", false},
      {"C:\\a.en\\proj", "", false}, {"a.pk/proj", "", false},     {"D:x.Pk1", ".PK1", true},
      {"a.b.pack", ".PACK", true},   {"dir.v2/proj.pac", ".PAC", true},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(PcExtension(c.path), c.ext) << c.path;
    EXPECT_EQ(IsDownloadExtension(PcExtension(c.path)), c.accepted) << c.path;
  }
  EXPECT_EQ(PcExtension("x." + std::string(80, 'e')).size(), 64u);
}

TEST(DownloadNames, CardNamesFromPcPaths) {
  struct Case {
    std::string path, card;
  };
  const Case cases[] = {
      {"My Project.pack", "MyProjec.PACK"},
      {"a.b.en1", "a.EN1"},
      {"C:\\work\\proj.pack", "proj.PACK"},
      {"C:/work/proj.pack", "proj.PACK"},
      {"/work/proj.pack", "proj.PACK"},
      {"d:x.Pk1", "x.PK1"},
      {"longfilename.pac", "longfile.PAC"},
      {"a b c d e f g h i.enc", "abcdefgh.ENC"},
      {"/tmp/dir.with.dots/p.pack", "p.PACK"},
      {"x." + std::string(70, 'e'), "x." + std::string(62, 'E')},
  };
  for (const auto& c : cases) EXPECT_EQ(CardFileName(c.path, PcExtension(c.path)), c.card) << c.path;
  EXPECT_EQ(TrimName(" \t\x01 a b \r\n"), "a b");
  EXPECT_EQ(TrimName("\x7F"), "\x7F");
}

TEST(DownloadNames, ChecksumAndTimeWords) {
  const uint8_t three[] = {0x80, 0x80, 0x01};
  EXPECT_EQ(BlockChecksum(three, 3), 0x01);
  EXPECT_EQ(BlockChecksum(three, 0), 0);
  std::tm t{};
  t.tm_year = 2026 - 1900;
  t.tm_mon = 11;
  t.tm_mday = 11;
  t.tm_hour = 14;
  t.tm_min = 5;
  t.tm_sec = 9;
  const uint32_t packed = PackedDateTime(t);
  EXPECT_EQ(packed, (46u << 25) | (12u << 21) | (11u << 16) | 0x70A4u);
  EXPECT_EQ(DownloadTimeWords(packed).low, 0xA4);
  EXPECT_EQ(DownloadTimeWords(packed).high, 0x70);
  for (int year : {1979, 2108}) {
    t.tm_year = year - 1900;
    EXPECT_EQ(PackedDateTime(t), 0u) << year;
  }
  t.tm_year = 2107 - 1900;
  EXPECT_NE(PackedDateTime(t), 0u);
}

// A file in a directory of the test's own.
class PcFiles {
 public:
  PcFiles() {
    static std::atomic<int> n{0};
    dir_ = fs::temp_directory_path() / ("nurva-dl-" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()) +
                                        "-" + std::to_string(n++));
    fs::create_directories(dir_);
  }
  ~PcFiles() {
    std::error_code ec;
    fs::remove_all(dir_, ec);
  }
  std::string Put(const std::string& name, const Bytes& data) const {
    const fs::path p = dir_ / name;
    std::ofstream(p, std::ios::binary).write(reinterpret_cast<const char*>(data.data()),
                                             static_cast<std::streamsize>(data.size()));
    return p.string();
  }
  std::string Path(const std::string& name) const { return (dir_ / name).string(); }

 private:
  fs::path dir_;
};

Bytes Content(size_t n) {
  Bytes b(n);
  for (size_t i = 0; i < n; ++i) b[i] = static_cast<uint8_t>(i * 7 + i / 128 + 1);
  return b;
}

std::vector<Bytes> Blocks(const Bytes& data) {
  std::vector<Bytes> r;
  for (size_t pos = 0; pos < data.size(); pos += 128)
    r.emplace_back(data.begin() + static_cast<std::ptrdiff_t>(pos),
                   data.begin() + static_cast<std::ptrdiff_t>(std::min(pos + 128, data.size())));
  if (r.empty()) r.emplace_back();
  return r;
}

uint8_t Sum(const Bytes& b) { return static_cast<uint8_t>(std::accumulate(b.begin(), b.end(), 0u) & 0xFF); }

class DownloadTest : public FilesFixture {
 protected:
  // The programmer's side of a download up to the first block: check, time stamp, name.
  void ScriptOpening(const std::string& cardName, Bytes timeReply = {kACK}, Bytes nameReplies = {kACK, kACK}) {
    Peer().On({0x02, 'G'}).Send({Pkt({0})});
    Peer().On({0x02, 'D'}).Send(CharReplies(timeReply));
    Peer().On(NamePackets(cardName)[1]).Send(CharReplies(nameReplies));
  }
  // Acknowledges every block of `data` and ends with `last`.
  void ScriptBlocks(const Bytes& data, uint8_t last = kACK) {
    auto blocks = Blocks(data);
    for (size_t i = 0; i < blocks.size(); ++i) {
      std::vector<Pkt> r{Pkt({kACK})};
      if (i + 1 == blocks.size()) r.push_back(Pkt({last}));
      Peer().On(blocks[i].empty() ? Bytes{0} : blocks[i]).Send(r);
    }
  }
  Answer Download(const std::string& path) {
    return Call([&](int32_t ch, int32_t* r, char* t) { DownloadFile(ch, path.c_str(), r, t); }, 0);
  }
  static uint32_t Packed(std::time_t s) {
    std::tm t{};
#ifdef _WIN32
    localtime_s(&t, &s);
#else
    localtime_r(&s, &t);
#endif
    return PackedDateTime(t);
  }
  // The opening as sent at some second in [from, to]: the one whose time words match what
  // went out, or the one of `from` when none does (the comparison then shows the fault).
  static std::vector<Bytes> OpeningBetween(std::time_t from, std::time_t to, const std::vector<Bytes>& sent,
                                           const std::string& cardName) {
    for (std::time_t s = from; s <= to; ++s) {
      auto w = Opening(Packed(s), cardName);
      if (sent.size() > 3 && sent[2] == w[2] && sent[3] == w[3]) return w;
    }
    return Opening(Packed(from), cardName);
  }
  // What the link sends up to the first block, with the time words of `packed`.
  static std::vector<Bytes> Opening(uint32_t packed, const std::string& cardName) {
    const TimeWords w = DownloadTimeWords(packed);
    return Concat({{{0x02, 'G'}, {0x02, 'D'}, {static_cast<uint8_t>(w.low), 0}, {static_cast<uint8_t>(w.high), 0},
                    {0x02, 'd'}},
                   NamePackets(cardName)});
  }
  PcFiles files;
};

TEST_F(DownloadTest, BlocksOfAtMost128WithTheirChecksums) {
  struct Case {
    size_t size;
    std::vector<uint8_t> lengths;
  };
  const Case cases[] = {{300, {128, 128, 44}}, {256, {128, 128}}, {0, {0}}, {1, {1}}, {32 * 128 + 1, {}}};
  for (const auto& c : cases) {
    Rescript();
    const Bytes data = Content(c.size);
    const std::string path = files.Put("My Project.pack", data);
    ScriptOpening("MyProjec.PACK");
    ScriptBlocks(data);
    const std::time_t before = std::time(nullptr);
    Answer a = Download(path);
    const std::time_t after = std::time(nullptr);
    EXPECT_EQ(a.res, 1) << c.size;
    EXPECT_EQ(a.text, "ok");

    auto sent = Peer().OutPayloads();
    std::vector<Bytes> want = OpeningBetween(before, after, sent, "MyProjec.PACK");
    const auto blocks = Blocks(data);
    for (size_t i = 0; i < blocks.size(); ++i) {
      if (!c.lengths.empty()) {
        EXPECT_EQ(blocks[i].size(), c.lengths[i]);
      }
      want.push_back({static_cast<uint8_t>(blocks[i].size())});
      if (!blocks[i].empty()) want.push_back(blocks[i]);
      want.push_back({Sum(blocks[i])});
    }
    EXPECT_EQ(sent, want) << c.size << " bytes";
    EXPECT_EQ(Link(0).FTxCount, 0);
    EXPECT_EQ(Link(0).Fres, TPrgResult::progFound) << "the programmer check's outcome stays";
    EXPECT_EQ(Link(0).Msg, "TESK found");
  }
}

TEST_F(DownloadTest, EveryReplyPath) {
  const Bytes data = Content(300);
  const auto blocks = Blocks(data);
  fs::create_directories(fs::path(files.Path("folder.pack")));
  struct Case {
    const char* what;
    std::string file;  // PC file name; "good.pack" holds the data
    Bytes card, time, name;
    std::vector<Bytes> blockReplies;  // per block, keyed on its data
    int32_t res;
    const char* text;
    size_t packets;  // how much of the whole exchange went out
  };
  const size_t all = 7 + 9;
  const Case cases[] = {
      {"wrong extension", "good.txt", {0}, {}, {}, {}, 34, "invalid file name", 1},
      {"missing file", "missing.pack", {0}, {}, {}, {}, 34, "File not found", 1},
      {"unreadable file", "folder.pack", {0}, {}, {}, {}, 34, "File not found", 1},
      {"time stamp refused", "good.pack", {0}, {kNAK}, {}, {}, 8, "communication error", 4},
      {"file exists", "good.pack", {0}, {kACK}, {kNAK}, {}, 35, "File exists", 7},
      {"not created", "good.pack", {0}, {kACK}, {kACK, kNAK}, {}, 37, "File create failed", 7},
      {"block refused", "good.pack", {0}, {kACK}, {kACK, kACK}, {{kNAK, 'x'}}, 38, "filesize mismatch", 10},
      {"NAK, then ACK", "good.pack", {0}, {kACK}, {kACK, kACK}, {{kNAK, kACK}, {kACK}, {kACK, kACK}}, 1, "ok", all},
      {"final NAK", "good.pack", {0}, {kACK}, {kACK, kACK}, {{kACK}, {kACK}, {kACK, kNAK}}, 38, "filesize mismatch",
       all},
      {"final missing", "good.pack", {0}, {kACK}, {kACK, kACK}, {{kACK}, {kACK}, {kACK}}, 38, "filesize mismatch", all},
      {"no card in the check", "good.pack", {1}, {kACK}, {kACK, kACK}, {{kACK}, {kACK}, {kACK, kACK}}, 1, "ok", all},
  };
  files.Put("good.pack", data);
  files.Put("good.txt", data);
  for (const auto& c : cases) {
    Rescript();
    Peer().On({0x02, 'G'}).Send(CharReplies(c.card));
    Peer().On({0x02, 'D'}).Send(CharReplies(c.time));
    Peer().On(NamePackets("good.PACK")[1]).Send(CharReplies(c.name));
    for (size_t i = 0; i < c.blockReplies.size(); ++i) Peer().On(blocks[i]).Send(CharReplies(c.blockReplies[i]));
    const std::time_t before = std::time(nullptr);
    Answer a = Download(files.Path(c.file));
    const std::time_t after = std::time(nullptr);
    EXPECT_EQ(a.res, c.res) << c.what;
    EXPECT_EQ(a.text, c.text) << c.what;
    EXPECT_FALSE(Link(0).busy.load());

    // A reply may overtake the last packets on their way to the peer.
    Peer().WaitForOut(static_cast<int>(c.packets), 1000);
    auto sent = Peer().OutPayloads();
    std::vector<Bytes> want = OpeningBetween(before, after, sent, "good.PACK");
    for (const auto& b : blocks) want.insert(want.end(), {{static_cast<uint8_t>(b.size())}, b, {Sum(b)}});
    want.resize(c.packets);
    EXPECT_EQ(sent, want) << c.what;
  }
  EXPECT_EQ(Link(0).Fres, TPrgResult::MMCnoMedia) << "the check's outcome stays in the link";
  EXPECT_EQ(Link(0).Msg, "TESK found, no flashcard");

  Link(0).Disconnect();
  Peer().ClearLog();
  Answer a = Download(files.Path("good.pack"));
  EXPECT_EQ(a.res, 3);
  EXPECT_EQ(a.text, "TESK not found");
  EXPECT_EQ(Peer().OutCount(), 0);
}

}  // namespace
