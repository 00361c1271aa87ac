#include <gtest/gtest.h>

#include <cstring>

#include "common/uGlobals.h"

using namespace nurva;

TEST(Types, ResultOrdinalsKeepTheirPlaces) {
  EXPECT_EQ(Ord(TPrgResult::resNone), 0);
  EXPECT_EQ(Ord(TPrgResult::noProg), 3);
  EXPECT_EQ(Ord(TPrgResult::progTimeOutErr), 9);
  EXPECT_EQ(Ord(TPrgResult::ProtectedErr), 19);
  EXPECT_EQ(Ord(TPrgResult::ParmErr), 29);
  EXPECT_EQ(Ord(TPrgResult::FileErr), 37);
  EXPECT_EQ(Ord(TPrgResult::MMCok), 39);
  EXPECT_EQ(Ord(TPrgResult::MMCnoMedia), 41);
  EXPECT_EQ(Ord(TPrgResult::MMCprogBusy), 47);
}

TEST(Types, DeviceRecordIsTheWireLayout) {
  // Bytes as a programmer sends them: name, revisions, ids, serial 0x12345678, date, flags.
  uint8_t wire[41] = {10, 'N', 'U', 'R', 'V', 'A', ' ', 'P', 'r', 'o', 'g', 0, 0, 0, 0, 0, 0,
                      0x02, 0x01, 0x03, 0x00, 0x07, 0x00, 0x34, 0x12, 0x78, 0x56,
                      0x78, 0x56, 0x34, 0x12, 6, '2', '6', '1', '2', '1', '0', 1, 1, 2};
  TDeviceRec rec;
  std::memcpy(&rec, wire, sizeof rec);
  // Packed fields are read by value (+x): a reference to one may be misaligned.
  EXPECT_EQ(rec.DevName.View(), kModelProg);
  EXPECT_EQ(+rec.SW_rev, 0x0102);
  EXPECT_EQ(+rec.HW_rev, 3);
  EXPECT_EQ(+rec.LoaderID, 7);
  EXPECT_EQ(+rec.VID, 0x1234);
  EXPECT_EQ(+rec.PID, 0x5678);
  EXPECT_EQ(+rec.SerNum, 0x12345678u);
  EXPECT_EQ(rec.Date.View(), "261210");
  EXPECT_EQ(rec.calibrate, 1);
  EXPECT_EQ(rec.FirmwLost, 1);
  EXPECT_EQ(rec.curMode, TCmdTyp::TESKcmd);
}

TEST(Types, ShortStringNeverReadsPastItsCapacity) {
  TString64 s;
  std::memset(&s, 'x', sizeof s);
  s.len = 200;
  EXPECT_EQ(s.View().size(), 64u);
  s.Assign(std::string(100, 'a'));
  EXPECT_EQ(s.len, 64);
}

TEST(Types, ProtectionSetBits) {
  TAES q;
  q.Include(TAESen::Quantity);
  EXPECT_EQ(q.bits, 0x04);
  TAES ap;
  ap.Include(TAESen::AES);
  ap.Include(TAESen::PWDprot);
  EXPECT_EQ(ap.bits, 0x03);
  ap.Include(TAESen::Quantity);
  EXPECT_EQ(ap.bits, 0x07);
  EXPECT_TRUE(ap.Has(TAESen::PWDprot));
}
