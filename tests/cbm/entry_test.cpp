#include "cbm/entry.h"

#include <gtest/gtest.h>

#include "support/disk_builder.h"

namespace kelvane {
namespace {

using testing::PaddedName;

TEST(FileType, LowBitsMapToTypesAndSevenIsDel) {
  EXPECT_EQ(DkCbmFileTypeFromByte(0), cftDEL);
  EXPECT_EQ(DkCbmFileTypeFromByte(2), cftPRG);
  EXPECT_EQ(DkCbmFileTypeFromByte(6), cftDIR);
  EXPECT_EQ(DkCbmFileTypeFromByte(7), cftDEL);
  EXPECT_EQ(DkCbmFileTypeName(cftREL), "REL");
}

TEST(Petscii, RangeBoundariesMapAsTheTableSays) {
  const struct {
    std::uint8_t in;
    char out;
  } cases[] = {{0x00, '?'}, {0x1F, '?'}, {0x20, ' '}, {0x41, 'A'}, {0x5F, 0x5F}, {0x60, '-'},
               {0x61, 'A'}, {0x7A, 'Z'}, {0x7B, '?'}, {0x9F, '?'}, {0xA0, ' '},  {0xA1, '?'},
               {0xC0, '?'}, {0xC1, 'A'}, {0xDA, 'Z'}, {0xDB, '?'}, {0xFF, '?'}};
  for (const auto& c : cases) {
    const Bytes out = DkPetsciiToAscii(Bytes{c.in});
    ASSERT_EQ(out.size(), 1u);
    EXPECT_EQ(out[0], static_cast<std::uint8_t>(c.out)) << "input $" << std::hex << int{c.in};
  }
}

TEST(Petscii, NameStopsAtFirstPaddingByteAndTrimsRight) {
  EXPECT_EQ(DkCbmNameToString(PaddedName("HELLO")), "HELLO");
  EXPECT_EQ(DkCbmNameToString(Bytes{0xA0, 0x41, 0x42}), "");
  // Trailing blanks go; inner blanks and a trailing mapped control byte ("?") stay.
  EXPECT_EQ(DkCbmNameToString(Bytes{0x41, 0x20, 0x42, 0x20, 0x20}), "A B");
  EXPECT_EQ(DkCbmNameToString(Bytes{0x41, 0x0D}), "A?");
  // Shifted letters of both PETSCII ranges read as capitals.
  EXPECT_EQ(DkCbmNameToString(Bytes{0x68, 0xC9, 0x20, 0xA0}), "HI");
}

Bytes Slot(std::uint8_t type) {
  Bytes slot(32, 0);
  slot[2] = type;
  slot[3] = 17;
  slot[4] = 3;
  const Bytes name = PaddedName("GAME");
  std::copy(name.begin(), name.end(), slot.begin() + 5);
  slot[21] = 19;
  slot[22] = 7;
  slot[23] = 1;
  slot[24] = 0x06;
  for (int i = 0; i < 5; ++i) slot[25 + i] = static_cast<std::uint8_t>(90 + i);
  slot[30] = 0x34;
  slot[31] = 0x12;
  return slot;
}

TEST(Slot, TypeByteFlags) {
  const TDkCbmDirSlot where{18, 1, 3};
  const TDkCbmEntry closed_del = DkCbmEntryFromSlot(Slot(0x80), where);
  EXPECT_EQ(closed_del.FileType, cftDEL);
  EXPECT_TRUE(closed_del.Closed);
  EXPECT_FALSE(closed_del.Scratched);

  const TDkCbmEntry scratched = DkCbmEntryFromSlot(Slot(0x00), where);
  EXPECT_TRUE(scratched.Scratched);
  EXPECT_FALSE(scratched.Closed);

  const TDkCbmEntry flags = DkCbmEntryFromSlot(Slot(0xE2), where);
  EXPECT_EQ(flags.FileType, cftPRG);
  EXPECT_TRUE(flags.Locked);
  EXPECT_TRUE(flags.ReplaceFlag);
  EXPECT_TRUE(flags.Closed);
  EXPECT_EQ(flags.Blocks, 0x1234);
  EXPECT_EQ(flags.FirstTrack, 17);
  EXPECT_EQ(flags.FirstSector, 3);
  EXPECT_EQ(flags.Name, "GAME");
  EXPECT_EQ(flags.Location.Index, 3);
}

TEST(Slot, GeosBytesFillGeosFieldsUnlessTheFileIsRel) {
  const TDkCbmEntry geos = DkCbmEntryFromSlot(Slot(0x83), {18, 1, 0});
  EXPECT_EQ(geos.GeosKind, gkVlir);
  EXPECT_EQ(geos.GeosInfoTrack, 19);
  EXPECT_EQ(geos.GeosInfoSector, 7);
  EXPECT_EQ(geos.GeosStructure, 1);
  EXPECT_EQ(geos.GeosFileType, 6);
  EXPECT_EQ(geos.GeosStamp[4], 94);

  Bytes sequential = Slot(0x83);
  sequential[23] = 0;
  EXPECT_EQ(DkCbmEntryFromSlot(sequential, {18, 1, 0}).GeosKind, gkSequential);

  const TDkCbmEntry rel = DkCbmEntryFromSlot(Slot(0x84), {18, 1, 0});
  EXPECT_EQ(rel.GeosKind, gkNone);
  EXPECT_EQ(rel.SideTrack, 19);
  EXPECT_EQ(rel.SideSector, 7);
  EXPECT_EQ(rel.RecordLength, 1);
  EXPECT_EQ(rel.GeosInfoTrack, 0);

  Bytes plain = Slot(0x82);
  plain[24] = 0;
  EXPECT_EQ(DkCbmEntryFromSlot(plain, {18, 1, 0}).GeosKind, gkNone);
}

}  // namespace
}  // namespace kelvane
