#include "cbm/entry.h"

#include <gtest/gtest.h>

#include <utility>

#include "support/disk_builder.h"

namespace kelvane {
namespace {

using testing::PaddedName;

TEST(Petscii, TypesAndNamesAsText) {
  EXPECT_EQ(DkCbmFileTypeFromByte(2), cftPRG);
  EXPECT_EQ(DkCbmFileTypeFromByte(7), cftDEL);
  EXPECT_EQ(DkCbmFileTypeName(cftREL), "REL");
  // The types each drive knows: up to REL on the 1541, 1571 and 8050 families (and their GCR
  // images), CBM partitions on the 1581, directories on CMD's native disks.
  for (const auto& [format, highest] : {std::pair{"g64", cftREL},
                                        {"D82", cftREL},
                                        {"d81", cftCBM},
                                        {"DNP", cftDIR},
                                        {"", cftDIR}}) {
    EXPECT_EQ(DkCbmMaxFileType(format), highest) << format;
  }
  EXPECT_FALSE(DkCbmFileTypeAllowed("D81", 6));
  // Both letter ranges read as capitals, shifted space as a blank, the rest as "?".
  const Bytes petscii = {0x41, 0x5A, 0x61, 0x7A, 0xC1, 0xDA, 0x20, 0xA0, 0x1F, 0x60, 0x7B, 0xFF};
  const Bytes ascii = DkPetsciiToAscii(petscii);
  EXPECT_EQ(std::string(ascii.begin(), ascii.end()), "AZAZAZ  ?-??");
  // A name stops at its first padding byte; trailing blanks go, a trailing control byte stays.
  EXPECT_EQ(DkCbmNameToString(PaddedName("HELLO")), "HELLO");
  EXPECT_EQ(DkCbmNameToString(Bytes{0xA0, 0x41, 0x42}), "");
  EXPECT_EQ(DkCbmNameToString(Bytes{0x41, 0x20, 0x42, 0x20, 0x20}), "A B");
  EXPECT_EQ(DkCbmNameToString(Bytes{0x41, 0x0D}), "A?");
}

// A directory slot: type, first sector, name, GEOS or REL bytes 21-29, blocks.
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

TEST(Slot, TypeFlagsAndGeosOrRelBytes) {
  const TDkCbmEntry flags = DkCbmEntryFromSlot(Slot(0xE2), {18, 1, 3});
  EXPECT_EQ(flags.FileType, cftPRG);
  EXPECT_TRUE(flags.Locked);
  EXPECT_TRUE(flags.ReplaceFlag);
  EXPECT_TRUE(flags.Closed);
  EXPECT_EQ(flags.Blocks, 0x1234);
  EXPECT_EQ(std::make_pair(flags.FirstTrack, flags.FirstSector), std::make_pair(17, 3));
  EXPECT_EQ(flags.Name, "GAME");
  EXPECT_EQ(flags.Location.Index, 3);
  const TDkCbmEntry scratched = DkCbmEntryFromSlot(Slot(0x00), {18, 1, 3});
  EXPECT_TRUE(scratched.Scratched);
  EXPECT_FALSE(scratched.Closed);

  const TDkCbmEntry geos = DkCbmEntryFromSlot(Slot(0x83), {18, 1, 0});
  EXPECT_EQ(geos.GeosKind, gkVlir);
  EXPECT_EQ(std::make_pair(geos.GeosInfoTrack, geos.GeosInfoSector), std::make_pair(19, 7));
  EXPECT_EQ(geos.GeosFileType, 6);
  EXPECT_EQ(geos.GeosStamp[4], 94);
  Bytes sequential = Slot(0x83);
  sequential[23] = 0;
  EXPECT_EQ(DkCbmEntryFromSlot(sequential, {18, 1, 0}).GeosKind, gkSequential);
  Bytes plain = Slot(0x82);
  plain[24] = 0;
  EXPECT_EQ(DkCbmEntryFromSlot(plain, {18, 1, 0}).GeosKind, gkNone);

  const TDkCbmEntry rel = DkCbmEntryFromSlot(Slot(0x84), {18, 1, 0});
  EXPECT_EQ(rel.GeosKind, gkNone);
  EXPECT_EQ(std::make_pair(rel.SideTrack, rel.SideSector), std::make_pair(19, 7));
  EXPECT_EQ(rel.RecordLength, 1);
}

}  // namespace
}  // namespace kelvane
