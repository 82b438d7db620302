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
  EXPECT_EQ(DkCbmFileTypeName(static_cast<TDkCbmFileType>(7)), "?");
  EXPECT_EQ(DkCbmFileTypeName(static_cast<TDkCbmFileType>(-1)), "?");
}

TEST(FileType, NativeTypesPerFormatName) {
  EXPECT_EQ(DkCbmMaxFileType("D64"), cftREL);
  EXPECT_EQ(DkCbmMaxFileType("g64"), cftREL);
  EXPECT_EQ(DkCbmMaxFileType("D82"), cftREL);
  EXPECT_EQ(DkCbmMaxFileType("d81"), cftCBM);
  EXPECT_EQ(DkCbmMaxFileType("D81"), cftCBM);
  EXPECT_EQ(DkCbmMaxFileType("DNP"), cftDIR);
  EXPECT_EQ(DkCbmMaxFileType(""), cftDIR);
  EXPECT_TRUE(DkCbmFileTypeAllowed("D64", 4));
  EXPECT_FALSE(DkCbmFileTypeAllowed("D64", 5));
  EXPECT_TRUE(DkCbmFileTypeAllowed("D81", 5));
  EXPECT_FALSE(DkCbmFileTypeAllowed("D81", 6));
  EXPECT_FALSE(DkCbmFileTypeAllowed("DNP", 7));
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
  // Sixteen bytes without padding convert in full.
  EXPECT_EQ(DkCbmNameToString(PaddedName("ABCDEFGHIJKLMNOP")), "ABCDEFGHIJKLMNOP");
  EXPECT_EQ(DkCbmNameToString(Bytes{0xA0, 0x41, 0x42}), "");
  EXPECT_EQ(DkCbmNameToString(Bytes{}), "");
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

  const TDkCbmEntry odd = DkCbmEntryFromSlot(Slot(0x87), where);
  EXPECT_EQ(odd.FileType, cftDEL);
  EXPECT_EQ(odd.RawType, 0x87);

  const TDkCbmEntry flags = DkCbmEntryFromSlot(Slot(0xE2), where);
  EXPECT_EQ(flags.FileType, cftPRG);
  EXPECT_TRUE(flags.Locked);
  EXPECT_TRUE(flags.ReplaceFlag);
  EXPECT_TRUE(flags.Closed);
  EXPECT_EQ(flags.Blocks, 0x1234);
  EXPECT_EQ(flags.FirstTrack, 17);
  EXPECT_EQ(flags.FirstSector, 3);
  EXPECT_EQ(flags.Name, "GAME");
  EXPECT_EQ(flags.NameBytes, PaddedName("GAME"));
  EXPECT_EQ(flags.Location.Track, 18);
  EXPECT_EQ(flags.Location.Index, 3);
}

TEST(Slot, GeosBytesFillGeosFieldsUnlessTheFileIsRel) {
  const TDkCbmEntry geos = DkCbmEntryFromSlot(Slot(0x83), {18, 1, 0});
  EXPECT_EQ(geos.GeosKind, gkVlir);
  EXPECT_EQ(geos.GeosInfoTrack, 19);
  EXPECT_EQ(geos.GeosInfoSector, 7);
  EXPECT_EQ(geos.GeosStructure, 1);
  EXPECT_EQ(geos.GeosFileType, 6);
  EXPECT_EQ(geos.GeosStamp[0], 90);
  EXPECT_EQ(geos.GeosStamp[4], 94);
  EXPECT_EQ(geos.SideTrack, 0);

  Bytes sequential = Slot(0x83);
  sequential[23] = 0;
  EXPECT_EQ(DkCbmEntryFromSlot(sequential, {18, 1, 0}).GeosKind, gkSequential);

  const TDkCbmEntry rel = DkCbmEntryFromSlot(Slot(0x84), {18, 1, 0});
  EXPECT_EQ(rel.GeosKind, gkNone);
  EXPECT_EQ(rel.SideTrack, 19);
  EXPECT_EQ(rel.SideSector, 7);
  EXPECT_EQ(rel.RecordLength, 1);
  EXPECT_EQ(rel.GeosFileType, 6);  // kept even though the entry is not GEOS
  EXPECT_EQ(rel.GeosInfoTrack, 0);
  EXPECT_EQ(rel.GeosStamp[0], 0);

  Bytes plain = Slot(0x82);
  plain[24] = 0;
  const TDkCbmEntry prg = DkCbmEntryFromSlot(plain, {18, 1, 0});
  EXPECT_EQ(prg.GeosKind, gkNone);
  EXPECT_EQ(prg.GeosStructure, 0);
  EXPECT_EQ(prg.RecordLength, 0);
}

}  // namespace
}  // namespace kelvane
