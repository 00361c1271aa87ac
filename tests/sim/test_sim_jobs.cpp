// Erase, program and verify on the virtual programmer: the answers, the status stream of
// a job and what the job does to the target.
#include <gtest/gtest.h>

#include "tests/sim/SimHarness.h"

using namespace nurva;
using namespace nurva::test;
using Clock = std::chrono::steady_clock;

namespace {

class SimJobs : public ::testing::Test {
 protected:
  void Serve(std::initializer_list<const char*> faults = {}, double speed = 50) {
    sim::ProgrammerConfig cfg = SampleConfig(h.CardDir());
    cfg.jobSpeed = speed;
    for (const char* f : faults) ASSERT_TRUE(sim::ParseFault(f, cfg.faults, nullptr)) << f;
    h.Start(cfg);
  }
  // 'Q', the letter and, for a verify, its 0x00.
  void Q(uint8_t letter, bool verifyByte = false) {
    h.host.Tesk('Q');
    h.host.Send({letter});
    if (verifyByte) h.host.Send({0x00});
  }
  Bytes Job(int quietMs = 150) { return Chars(h.host.Drain(quietMs)); }
  sim::Project Sample() const { return sim::MakeSampleProject(); }

  SimHarness h;
};

// The status stream of programming the sample: chip erase, 8 Flash pages, 4 EEprom
// chunks, the fuses (with the last memory's letter), done.
Bytes SampleProgramStream() {
  Bytes b{kACK, 'c'};
  b.insert(b.end(), 8, 'F');
  b.insert(b.end(), 5, 'E');
  b.push_back(0x00);
  return b;
}

Bytes SampleVerifyStream() {
  Bytes b{kACK};
  b.insert(b.end(), 8, 'f');
  b.insert(b.end(), 4, 'e');
  b.push_back(0x00);
  return b;
}

}  // namespace

TEST_F(SimJobs, ProgramThenVerifyTheSample) {
  Serve();
  Q('P');
  EXPECT_EQ(Job(), SampleProgramStream());
  const sim::Project p = Sample();
  h.With([&](sim::State& st) {
    EXPECT_TRUE(std::equal(p.flash->data.begin(), p.flash->data.end(), st.target.flash.begin()));
    EXPECT_TRUE(std::equal(p.eeprom->data.begin(), p.eeprom->data.end(), st.target.eeprom.begin()));
    EXPECT_EQ(st.target.fuses[0], 0xE2);
    EXPECT_EQ(st.target.lockBits, 0xFF) << "lock bits have a command of their own";
    EXPECT_EQ(st.count.devicesProgrammed, 1);
  });
  Q('V', true);
  EXPECT_EQ(Job(), SampleVerifyStream());
  // A programmed chip is not empty: ProgDevice is told so and programs all the same.
  Q('P');
  Bytes again = SampleProgramStream();
  again[0] = 0x05;
  EXPECT_EQ(Job(), again);
  Q('v', true);
  Bytes flashOnly{kACK};
  flashOnly.insert(flashOnly.end(), 8, 'f');
  flashOnly.push_back(0x00);
  EXPECT_EQ(Job(), flashOnly);
}

TEST_F(SimJobs, VerifyFindsWhatDiffers) {
  Serve({"verify-error"});
  Q('V', true);
  EXPECT_EQ(Job(), (Bytes{kACK, 0x06})) << "an empty chip is not the project";
  Q('P');
  Job();
  Q('V', true);
  EXPECT_EQ(Job(), (Bytes{kACK, 0x06})) << "the faulty cell in the first Flash page";
  Q('d', true);
  EXPECT_EQ(Job(), (Bytes{kACK, 'e', 'e', 'e', 'e', 0x00})) << "the EEprom reads right";
}

TEST_F(SimJobs, StartAnswers) {
  struct Case {
    const char* fault;
    uint8_t letter;
    bool verifyByte;
    Bytes stream;  // everything the programmer sends
  };
  Bytes notEmptyProgram = SampleProgramStream();
  notEmptyProgram[0] = 0x05;
  const Case cases[] = {
      {"power-down", 'P', false, {0x01}},
      {"wrong-signature", 'f', false, {0x03}},
      {"protected", 'V', true, {0x04}},
      {"prog-timeout", 'e', false, {0x08}},
      {"card=missing", 'P', false, {kNAK}},
      {"no-start-answer", 'P', false, {}},
      {"no-start-answer", 'F', false, {}},
      {"not-empty", 'f', false, {0x05}},  // Flash must be erased first: no job
      {"not-empty", 'P', false, notEmptyProgram},  // ProgDevice erases first
      {"job-fails=power-down", 'P', false, {kACK, 'c', 0x01}},
      {"job-fails=timeout", 'e', false, {kACK, 'E', 0x08}},
      {"job-fails=not-empty", 'P', false, {kACK, 'c', 0x05}},
      {"job-fails=wrong-signature", 'P', false, {kACK, 'c', 0x03}},
      {"job-fails=protected", 'P', false, {kACK, 'c', 0x04}},
      {"device-limit=0", 'P', false, {kACK, 0x0F}},
      {"device-limit=0", 'f', false, {kACK, 0x0F}},
      {"silent-after=0", 'U', false, {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.fault) + " " + static_cast<char>(c.letter));
    h.Stop();
    Serve({c.fault});
    Q(c.letter, c.verifyByte);
    EXPECT_EQ(Job(), c.stream);
  }
  // A memory the project has no image for cannot be programmed or verified.
  h.Stop();
  Serve();
  Q('U');
  EXPECT_EQ(Job(), (Bytes{kNAK}));
}

TEST_F(SimJobs, FusesAndLockBitsAnswerWhenWritten) {
  Serve({}, 1);
  auto t0 = Clock::now();
  Q('F');
  EXPECT_EQ(Job(), (Bytes{kACK}));
  Q('L');
  EXPECT_EQ(Job(), (Bytes{kACK}));
  EXPECT_GE(std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - t0).count(), 2 * 60);
  h.With([](sim::State& st) {
    EXPECT_EQ(st.target.fuses[0], 0xE2);
    EXPECT_EQ(st.target.lockBits, 0xFC);
    EXPECT_TRUE(st.target.locked);
  });
  Q('V', true);
  EXPECT_EQ(Job(), (Bytes{0x04})) << "a locked chip cannot be verified";
  // The chip erase takes the lock away.
  Q('E');
  EXPECT_EQ(Job(300), (Bytes{kACK, kACK, 0x00}));
  h.With([](sim::State& st) { EXPECT_FALSE(st.target.locked); });
}

TEST_F(SimJobs, EraseAnswers) {
  struct Case {
    const char* fault;
    uint8_t letter;
    Bytes stream;
  };
  const Case cases[] = {
      {"", 'E', {kACK, kACK, 0x00}},
      {"", 'G', {kACK, kACK, 0x00}},
      {"", 'R', {kACK, kACK, 0x00}},
      {"card=missing", 'E', {kNAK}},
      {"power-down", 'G', {kACK, 0x01}},
      {"wrong-signature", 'E', {kACK, kACK, 0x03}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.fault) + " " + static_cast<char>(c.letter));
    h.Stop();
    if (*c.fault) Serve({c.fault}); else Serve();
    h.With([](sim::State& st) { std::fill(st.target.flash.begin(), st.target.flash.begin() + 8, 0x00); });
    Q(c.letter);
    EXPECT_EQ(Job(), c.stream);
    const bool erased = c.stream.size() == 3 && c.stream[2] == 0x00;
    h.With([&](sim::State& st) { EXPECT_EQ(st.target.flash[0] == 0xFF, erased && c.letter != 'R'); });
  }
}

TEST_F(SimJobs, AProjectsQuantityLimitsTheDevices) {
  sim::Project p = Sample();
  p.protection.Include(TAESen::Quantity);
  p.quantity = 1;
  sim::Card(h.CardDir()).Write("QTY.PACK", p.Serialize());
  sim::ProgrammerConfig cfg;
  cfg.cardDir = h.CardDir();
  cfg.openProject = "QTY.PACK";
  cfg.jobSpeed = 50;
  h.Start(cfg);
  Q('P');
  EXPECT_EQ(Job().back(), 0x00);
  Q('P');
  EXPECT_EQ(Job(), (Bytes{0x05, 'L'}));
}

TEST_F(SimJobs, JobSpeedKeepsTestsShortAndDemosRealistic) {
  for (double speed : {1.0, 50.0}) {
    h.Stop();
    Serve({}, speed);
    auto t0 = Clock::now();
    Q('P');
    ASSERT_EQ(Chars(h.host.RecvN(SampleProgramStream().size(), 3000)), SampleProgramStream());
    const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - t0).count();
    if (speed == 1.0) {
      EXPECT_GE(ms, 700) << "erase, 8 pages, 4 chunks and the fuses at their own pace";
    } else {
      EXPECT_LT(ms, 200);
    }
  }
}

TEST(JobFaultSpec, ParsesTheJobFaults) {
  sim::Faults f;
  std::string err;
  for (const char* spec : {"no-start-answer", "prog-timeout", "job-fails=timeout", "device-limit=3"})
    ASSERT_TRUE(sim::ParseFault(spec, f, &err)) << spec << ": " << err;
  EXPECT_TRUE(f.noStartAnswer);
  EXPECT_TRUE(f.progTimeout);
  EXPECT_EQ(f.jobFails, 0x08);
  EXPECT_EQ(f.deviceLimit, 3);
  const std::pair<const char*, uint8_t> kinds[] = {
      {"job-fails=power-down", 0x01}, {"job-fails=wrong-signature", 0x03}, {"job-fails=protected", 0x04},
      {"job-fails=not-empty", 0x05}};
  for (const auto& [spec, status] : kinds) {
    ASSERT_TRUE(sim::ParseFault(spec, f, &err)) << spec;
    EXPECT_EQ(f.jobFails, status) << spec;
  }
  for (const char* bad : {"job-fails", "job-fails=melt", "device-limit", "device-limit=-1", "prog-timeout=1"}) {
    EXPECT_FALSE(sim::ParseFault(bad, f, &err)) << bad;
    EXPECT_FALSE(err.empty());
  }
}
