// The simulator's project file: format, parameter record, Intel HEX, builder.
#include <gtest/gtest.h>

#include <cstring>
#include <fstream>

#include "tests/sim/SimHarness.h"
#include "tools/sim/ProjectBuilder.h"

using namespace nurva;
using namespace nurva::test;

namespace {

uint32_t Le32(const uint8_t* p) { return p[0] | (p[1] << 8) | (p[2] << 16) | (static_cast<uint32_t>(p[3]) << 24); }
uint16_t Le16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }

sim::Project Full() {
  sim::Project p = sim::MakeSampleProject();
  sim::MemImage u;
  u.base = 0x10;
  u.data = {1, 2, 3, 4, 5, 6, 7, 8};
  p.device = "ATxmega128A1";
  p.signature = {0x1E, 0x97, 0x4C};
  p.flashSize = 139264;
  p.eepromSize = 2048;
  p.usrRowSize = 512;
  p.iface = sim::Interface::PDI;
  p.usrRow = u;
  p.fuses = {{0, 0xFF}, {1, 0x00}, {5, 0xE7}};
  p.lockBits = 0xBC;
  p.protection.bits = 0x07;
  p.quantity = 250;
  p.password = "secret";
  return p;
}

void ExpectSame(const sim::Project& a, const sim::Project& b) {
  EXPECT_EQ(a.name, b.name);
  EXPECT_EQ(a.info, b.info);
  EXPECT_EQ(a.fileDate, b.fileDate);
  EXPECT_EQ(a.date100, b.date100);
  EXPECT_EQ(a.frequency, b.frequency);
  EXPECT_EQ(a.iface, b.iface);
  EXPECT_EQ(a.power, b.power);
  EXPECT_EQ(a.optionFlag, b.optionFlag);
  EXPECT_EQ(a.device, b.device);
  EXPECT_EQ(a.signature, b.signature);
  EXPECT_EQ(a.flashSize, b.flashSize);
  EXPECT_EQ(a.eepromSize, b.eepromSize);
  EXPECT_EQ(a.usrRowSize, b.usrRowSize);
  EXPECT_EQ(a.pageSize, b.pageSize);
  for (auto m : {tMemType::isFlash, tMemType::isEEprom, tMemType::isUsrRow}) {
    ASSERT_EQ(a.Image(m).has_value(), b.Image(m).has_value());
    if (a.Image(m)) {
      EXPECT_EQ(a.Image(m)->base, b.Image(m)->base);
      EXPECT_EQ(a.Image(m)->data, b.Image(m)->data);
    }
  }
  EXPECT_EQ(a.fuses, b.fuses);
  EXPECT_EQ(a.lockBits, b.lockBits);
  EXPECT_EQ(a.protection.bits, b.protection.bits);
  EXPECT_EQ(a.quantity, b.quantity);
  EXPECT_EQ(a.password, b.password);
}

TEST(ProjectFile, RoundTrips) {
  sim::Project minimal;
  minimal.device = "X";
  minimal.flashSize = 16;
  for (const sim::Project& p : {minimal, sim::MakeSampleProject(), Full()}) {
    SCOPED_TRACE(p.device);
    std::string err;
    auto back = sim::Project::Parse(p.Serialize(), &err);
    ASSERT_TRUE(back) << err;
    ExpectSame(p, *back);
  }
}

TEST(ProjectFile, NoCutOrDamagedFileLooksWhole) {
  const Bytes file = Full().Serialize();
  for (size_t n = 0; n < file.size(); ++n) {
    std::string err;
    ASSERT_FALSE(sim::Project::Parse(std::span(file).first(n), &err)) << "cut at " << n;
    ASSERT_FALSE(err.empty());
  }
  for (size_t i = 0; i < file.size(); i += 7) {
    Bytes bad = file;
    bad[i] ^= 0x20;
    EXPECT_FALSE(sim::Project::Parse(bad, nullptr)) << "byte " << i;
  }
  Bytes longer = file;
  longer.push_back(0);
  EXPECT_FALSE(sim::Project::Parse(longer, nullptr));
}

TEST(ProjectFile, ChunksOfALaterRevisionAreSkipped) {
  Bytes file = sim::MakeSampleProject().Serialize();
  file.resize(file.size() - 4);  // without its CRC
  const uint8_t chunk[] = {'X', 'T', 'R', 'A', 3, 0, 0, 0, 9, 9, 9};
  file.insert(file.end(), chunk, chunk + sizeof chunk);
  const uint32_t crc = sim::Crc32(file);
  for (int i = 0; i < 4; ++i) file.push_back(static_cast<uint8_t>(crc >> (8 * i)));
  std::string err;
  auto p = sim::Project::Parse(file, &err);
  ASSERT_TRUE(p) << err;
  ExpectSame(*p, sim::MakeSampleProject());
}

TEST(ProjectFile, RefusesWhatDoesNotFit) {
  struct Case {
    const char* what;
    std::function<void(sim::Project&)> spoil;
  };
  const Case cases[] = {
      {"name too long", [](sim::Project& p) { p.name = std::string(15, 'n'); }},
      {"info too long", [](sim::Project& p) { p.info = std::string(19, 'i'); }},
      {"flash past the end", [](sim::Project& p) { p.flash->base = p.flashSize - 10; }},
      {"eeprom too big", [](sim::Project& p) { p.eeprom->data.resize(p.eepromSize + 1); }},
      {"empty image", [](sim::Project& p) { p.flash->data.clear(); }},
      {"fuse index", [](sim::Project& p) { p.fuses[10] = 1; }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    sim::Project p = sim::MakeSampleProject();
    c.spoil(p);
    EXPECT_FALSE(p.Validate().empty());
    EXPECT_FALSE(sim::Project::Parse(p.Serialize(), nullptr));
  }
  EXPECT_EQ(sim::MakeSampleProject().Validate(), "");
}

TEST(ProjectFile, ParameterRecordLayout) {
  sim::Project p = Full();
  p.name = "fourteen chars";
  p.info = "eighteen char info";
  p.fileDate = sim::PackDateTime(2024, 3, 5, 14, 5, 9);
  p.date100 = sim::Date100(2024, 3, 5);
  p.frequency = 7372800;
  p.power = sim::PackPower(sim::PowerMode::Max100mA, 500);
  p.optionFlag = true;
  const auto r = p.ParamRecord();
  ASSERT_EQ(r.size(), 195u);
  EXPECT_EQ(Le16(&r[0]), 195);
  EXPECT_EQ(r[2], 14);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(&r[3]), 14), "fourteen chars");
  EXPECT_EQ(Le32(&r[17]), 0x586570A4u);
  EXPECT_EQ(r[21], 18);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(&r[22]), 18), "eighteen char info");
  EXPECT_EQ(Le32(&r[40]), 7372800u);
  EXPECT_EQ(r[44], 8 / 4);      // user row in units of 4 bytes
  EXPECT_EQ(r[49], 1);          // has a user row
  EXPECT_EQ(r[58], 1);          // has Flash
  EXPECT_EQ(r[59], 1);          // has EEprom
  EXPECT_EQ(r[61], 1);          // verify option
  EXPECT_EQ(Le32(&r[66]), 64u);    // EEprom bytes
  EXPECT_EQ(Le32(&r[70]), 1024u);  // Flash bytes
  EXPECT_EQ(Le32(&r[164]), 4535600u);
  EXPECT_EQ(r[188], 2);  // PDI
  EXPECT_EQ(Le16(&r[189]), 0x0800 + 500);

  sim::Project bare = sim::MakeSampleProject();
  bare.flash.reset();
  bare.eeprom.reset();
  const auto b = bare.ParamRecord();
  EXPECT_EQ(b[49] | b[58] | b[59], 0);
  EXPECT_EQ(Le32(&b[66]) | Le32(&b[70]), 0u);
}

TEST(ProjectFile, DatesAndChecksum) {
  EXPECT_EQ(sim::Date100(1899, 12, 30), 0);
  EXPECT_EQ(sim::Date100(1900, 1, 1), 200);
  EXPECT_EQ(sim::Date100(2024, 3, 5), 45356 * 100);
  EXPECT_EQ(sim::PackDateTime(1980, 1, 1, 0, 0, 0), 0x00210000);
  EXPECT_EQ(sim::PackDateTime(1979, 12, 31, 23, 59, 59), 0);
  EXPECT_EQ(sim::PackDateTime(2108, 1, 1, 0, 0, 0), 0);
  const char* text = "123456789";
  EXPECT_EQ(sim::Crc32({reinterpret_cast<const uint8_t*>(text), 9}), 0xCBF43926u);
}

TEST(IntelHex, ReadsRecords) {
  struct Case {
    const char* what;
    const char* text;
    uint32_t base;
    Bytes data;
  };
  const Case cases[] = {
      {"one record", ":03001000010203E7\n:00000001FF\n", 0x10, {1, 2, 3}},
      {"gap filled with FF", ":020000001122CB\n:0100040033C8\n:00000001FF\n", 0, {0x11, 0x22, 0xFF, 0xFF, 0x33}},
      {"extended linear address", ":020000040001F9\n:0200000055AAFF\n:00000001FF\n", 0x10000, {0x55, 0xAA}},
      {"extended segment address", ":020000021000EC\n:0100000042BD\n:00000001FF\n", 0x10000, {0x42}},
      {"CRLF, blanks and start address", "  :0400000501020304ED\r\n:0100000042BD\r\n:00000001FF\r\n", 0, {0x42}},
      {"nothing after the end record", ":0100000042BD\n:00000001FF\ngarbage\n", 0, {0x42}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    std::string err;
    auto img = sim::ParseIntelHex(c.text, &err);
    ASSERT_TRUE(img) << err;
    EXPECT_EQ(img->base, c.base);
    EXPECT_EQ(img->data, c.data);
  }
}

TEST(IntelHex, RefusesMalformedFiles) {
  const std::pair<const char*, const char*> cases[] = {
      {":0300100001020308\n", "checksum"},
      {"03001000010203E7\n", "':'"},
      {":03001000010203\n", "byte count"},
      {":0300100001020GE7\n", "hexadecimal"},
      {":0100000042BD\n:0100000042BD\n", "twice"},
      {":0100000642B7\n", "record type"},
      {":00000001FF\n", "no data"},
      {"", "no data"},
  };
  for (const auto& [text, why] : cases) {
    SCOPED_TRACE(text);
    std::string err;
    EXPECT_FALSE(sim::ParseIntelHex(text, &err));
    EXPECT_NE(err.find(why), std::string::npos) << err;
  }
}

TEST(Builder, ImagesFromFiles) {
  TempDir tmp;
  const auto hex = tmp.Path() / "app.hex";
  const auto bin = tmp.Path() / "ee.bin";
  std::ofstream(hex) << ":03001000010203E7\n:00000001FF\n";
  std::ofstream(bin, std::ios::binary) << "EEDATA";

  auto img = sim::LoadImage(hex.string(), nullptr);
  ASSERT_TRUE(img);
  EXPECT_EQ(img->base, 0x10u);
  img = sim::LoadImage(hex.string() + "@0x200", nullptr);
  ASSERT_TRUE(img);
  EXPECT_EQ(img->base, 0x200u);
  img = sim::LoadImage(bin.string() + "@16", nullptr);
  ASSERT_TRUE(img);
  EXPECT_EQ(img->base, 16u);
  EXPECT_EQ(img->data, (Bytes{'E', 'E', 'D', 'A', 'T', 'A'}));
  std::string err;
  EXPECT_FALSE(sim::LoadImage((tmp.Path() / "missing.bin").string(), &err));
  EXPECT_FALSE(sim::LoadImage(bin.string() + "@zz", &err));

  sim::BuildOptions o;
  o.device = "atmega328p";
  o.flash = hex.string();
  o.eeprom = bin.string();
  o.fuses = {{0, 0xE2}};
  o.lockBits = 0xFC;
  o.aes = true;
  o.password = "pw";
  o.quantity = 10;
  o.powerMode = sim::PowerMode::Max30mA;
  o.centiVolts = 330;
  o.unixTime = 1709647509;  // 2024-03-05 14:05:09 UTC
  auto p = sim::BuildProject(o, &err);
  ASSERT_TRUE(p) << err;
  EXPECT_EQ(p->device, "ATmega328P");
  EXPECT_EQ(p->signature, (std::array<uint8_t, 3>{0x1E, 0x95, 0x0F}));
  EXPECT_EQ(p->name, "ATmega328P");
  EXPECT_EQ(p->flash->data, (Bytes{1, 2, 3}));
  EXPECT_EQ(p->eeprom->data.size(), 6u);
  EXPECT_EQ(p->protection.bits, 0x07);
  EXPECT_EQ(p->quantity, 10);
  EXPECT_EQ(p->power, 0x0400 + 330);
  EXPECT_NE(p->fileDate, 0);
  EXPECT_EQ(p->date100 / 100 * 100, p->date100);
  ASSERT_TRUE(sim::Project::Parse(p->Serialize(), &err)) << err;

  // Only the features asked for.
  sim::BuildOptions q;
  q.quantity = 3;
  p = sim::BuildProject(q, &err);
  ASSERT_TRUE(p) << err;
  EXPECT_EQ(p->protection.bits, 0x04);
}

TEST(Builder, RefusesWhatCannotBeBuilt) {
  TempDir tmp;
  const auto big = tmp.Path() / "big.bin";
  std::ofstream(big, std::ios::binary) << std::string(2000, 'x');
  struct Case {
    const char* what;
    std::function<void(sim::BuildOptions&)> set;
  };
  const Case cases[] = {
      {"unknown device", [](sim::BuildOptions& o) { o.device = "Z80"; }},
      {"image larger than the chip", [&](sim::BuildOptions& o) { o.eeprom = big.string(); }},
      {"missing image", [&](sim::BuildOptions& o) { o.flash = (tmp.Path() / "none.hex").string(); }},
      {"name too long", [](sim::BuildOptions& o) { o.name = "a name of too many characters"; }},
      {"supply without voltage", [](sim::BuildOptions& o) { o.powerMode = sim::PowerMode::Max100mA; }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    sim::BuildOptions o;
    c.set(o);
    std::string err;
    EXPECT_FALSE(sim::BuildProject(o, &err));
    EXPECT_FALSE(err.empty());
  }
  // A device without a preset, described by its signature and sizes.
  sim::BuildOptions o;
  o.device = "MyChip";
  o.signature = sim::ParseSignature("1e-99-01");
  o.flashSize = 4096;
  auto p = sim::BuildProject(o, nullptr);
  ASSERT_TRUE(p);
  EXPECT_EQ(p->signature, (std::array<uint8_t, 3>{0x1E, 0x99, 0x01}));
}

TEST(Builder, FuseAndSignatureSpecs) {
  const std::tuple<const char*, int, uint8_t> good[] = {
      {"l=0xE2", 0, 0xE2}, {"low=e2", 0, 0xE2}, {"h=D9", 1, 0xD9}, {"ext=FF", 2, 0xFF}, {"5=3c", 5, 0x3C}};
  for (auto [spec, index, value] : good) {
    SCOPED_TRACE(spec);
    int i = -1;
    uint8_t v = 0;
    ASSERT_TRUE(sim::ParseFuseSpec(spec, i, v, nullptr));
    EXPECT_EQ(i, index);
    EXPECT_EQ(v, value);
  }
  for (const char* bad : {"l", "x=01", "l=100", "l=", "l=0xZZ", "10=01"}) {
    int i = 0;
    uint8_t v = 0;
    EXPECT_FALSE(sim::ParseFuseSpec(bad, i, v, nullptr)) << bad;
  }
  EXPECT_EQ(sim::ParseSignature("1E950F"), (std::array<uint8_t, 3>{0x1E, 0x95, 0x0F}));
  EXPECT_EQ(sim::ParseSignature("1e 95 0f"), (std::array<uint8_t, 3>{0x1E, 0x95, 0x0F}));
  EXPECT_FALSE(sim::ParseSignature("1E95"));
  EXPECT_FALSE(sim::ParseSignature("1E950G"));
}

}  // namespace
