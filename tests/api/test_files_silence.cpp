// Time limits of the project file commands against programmers that stop answering; each
// limit measured once, the three on channels of their own at the same time.
#include <filesystem>
#include <fstream>
#include <thread>

#include "tests/api/files_fixture.h"

using namespace nurva;
using namespace nurva::test;

namespace {

class FilesSilenceTest : public ApiTest {
 protected:
  void SetUp() override { Discover(3); }
};

struct Timed {
  Answer a;
  long long ms = 0;
};

template <class F>
Timed Time(F f) {
  auto t0 = Clock::now();
  Timed t;
  t.a = f();
  t.ms = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - t0).count();
  return t;
}

}  // namespace

TEST_F(FilesSilenceTest, ProgrammersThatStopAnswering) {
  // Channel 0 lists three names and stops: the fourth entry waits 10 times 100 + 2000 ms.
  peers[0]->On({0x02, 'C'}).Send({Pkt({4})});
  std::vector<Pkt> three;
  for (const char* n : {"A.PACK", "B.PACK", "C.PACK"}) three.insert(three.end(), {StringReply(n), Pkt({kACK})});
  peers[0]->On(NamePackets("*.*")[1]).Send(three);

  // Channel 1 refuses the first block once and then says nothing: 9 more waits of
  // 2000 ms, then the final reply's 100 + 2000 ms.
  const std::filesystem::path file = std::filesystem::temp_directory_path() / "nurva-silence-dl.pack";
  Bytes data(300, 0x5A);
  std::ofstream(file, std::ios::binary).write(reinterpret_cast<const char*>(data.data()), 300);
  peers[1]->On({0x02, 'G'}).Send({Pkt({0})});
  peers[1]->On({0x02, 'D'}).Send({Pkt({kACK})});
  peers[1]->On(NamePackets("nurva-si.PACK")[1]).Send({Pkt({kACK}), Pkt({kACK})});
  peers[1]->On(Bytes(data.begin(), data.begin() + 128)).Send({Pkt({kNAK})});

  // Channel 2 never answers the close: 5 waits of 2000 ms.
  Timed list, down, close;
  std::thread t0([&] { list = Time([] { return ApiTest::Call(GetFileNames, 0); }); });
  std::thread t1([&] {
    const std::string path = file.string();
    down = Time([&] {
      return ApiTest::Call([&](int32_t ch, int32_t* r, char* t) { DownloadFile(ch, path.c_str(), r, t); }, 1);
    });
  });
  Link(2).OpMode = TOpMode::opProg;
  std::thread t2([&] { close = Time([] { return ApiTest::Call(CloseAfile, 2); }); });
  t0.join();
  t1.join();
  t2.join();
  std::error_code ec;
  std::filesystem::remove(file, ec);

  EXPECT_EQ(list.a.res, 9);
  EXPECT_EQ(list.a.text, "communication error");
  // An 11th attempt would add 2.1 s: the upper bounds leave less than that.
  const long long listMs = 500 + 3 * 100 + 10 * 2100;
  EXPECT_GE(list.ms, listMs - 100);
  EXPECT_LT(list.ms, listMs + 1800);

  EXPECT_EQ(down.a.res, 38);
  EXPECT_EQ(down.a.text, "filesize mismatch");
  EXPECT_GE(down.ms, 9 * 2000 + 2100 - 100);
  EXPECT_LT(down.ms, 9 * 2000 + 2100 + 1800);
  auto sent = peers[1]->OutPayloads();
  ASSERT_GE(sent.size(), 3u);
  EXPECT_EQ(sent.back(), Bytes{static_cast<uint8_t>(128 * 0x5A & 0xFF)}) << "nothing after the first checksum";
  EXPECT_EQ(sent[sent.size() - 3], Bytes{128});

  EXPECT_EQ(close.a.res, 9);
  EXPECT_EQ(close.a.text, "communication error");
  EXPECT_GE(close.ms, 5 * 2000 - 100);
  EXPECT_LT(close.ms, 5 * 2000 + 1800);
  EXPECT_EQ(Link(2).OpMode, TOpMode::opProg);
}
