#include "cbm/image.h"

#include <gtest/gtest.h>

#include "cbm/errors.h"
#include "support/disk_builder.h"
#include "support/messages.h"

namespace kelvane {
namespace {

using testing::EntrySpec;
using testing::FlatDisk;

// Expects `call` to throw EDkCbmMalformedDisk with exactly `message`.
template <typename F>
void ExpectMalformed(F&& call, const std::string& message) {
  EXPECT_EQ(testing::MessageOf<EDkCbmMalformedDisk>(call), message);
}

// A 35-track disk whose directory starts at 18/1, the way most formats lay it out.
class DirectoryTest : public ::testing::Test {
 protected:
  FlatDisk disk{35, 21};

  // Fills `count` slots of sector 18/`sector` with entries named prefix + slot index.
  void FillSector(int sector, int count, const std::string& prefix) {
    for (int i = 0; i < count; ++i) {
      disk.PutEntry(18, sector, i, {prefix + std::to_string(i), 0x82, 1, 0, i + 1});
    }
  }

  TDkCbmEntryArray Recover(int track, int sector, TDkStringList& warnings, TDkParseStatus& status,
                           bool include_scratched = false) {
    const auto image = disk.Open(40);
    return DkCbmParseDirectory(track, sector, image->SectorReader(), &warnings, status,
                               include_scratched);
  }
};

TEST_F(DirectoryTest, EighteenFullSectorsGive144EntriesInOrder) {
  for (int s = 1; s <= 18; ++s) {
    FillSector(s, 8, "F" + std::to_string(s) + "-");
    disk.Link(18, s, s < 18 ? 18 : 0, s < 18 ? s + 1 : 255);
  }
  const auto image = disk.Open();
  const TDkCbmEntryArray entries = DkCbmParseDirectory(18, 1, image->SectorReader());
  ASSERT_EQ(entries.size(), 144u);
  for (std::size_t i = 0; i < entries.size(); ++i) {
    const int sector = static_cast<int>(i / 8) + 1;
    const int index = static_cast<int>(i % 8);
    EXPECT_EQ(entries[i].Location.Track, 18);
    EXPECT_EQ(entries[i].Location.Sector, sector);
    EXPECT_EQ(entries[i].Location.Index, index);
    EXPECT_EQ(entries[i].Name, "F" + std::to_string(sector) + "-" + std::to_string(index));
  }
}

TEST_F(DirectoryTest, FirstTrackZeroIsNoDirectoryWithoutReading) {
  int calls = 0;
  const TDkCbmReadSectorFunc counting = [&](int, int) {
    ++calls;
    return Bytes(256);
  };
  TDkStringList warnings;
  TDkParseStatus status = psBroken;
  EXPECT_TRUE(DkCbmParseDirectory(0, 5, counting, &warnings, status, true).empty());
  EXPECT_EQ(status, psNoDirectory);
  EXPECT_TRUE(DkCbmParseDirectory(0, 5, counting).empty());
  EXPECT_EQ(calls, 0);
  EXPECT_TRUE(warnings.empty());
}

TEST_F(DirectoryTest, LoopsEndTheWalkWithoutError) {
  FillSector(1, 3, "A");
  disk.Link(18, 1, 18, 1);  // links to itself
  FillSector(4, 2, "B");
  FillSector(5, 2, "C");
  disk.Link(18, 4, 18, 5);
  disk.Link(18, 5, 18, 4);  // two sectors that point at each other
  const auto image = disk.Open();
  EXPECT_EQ(DkCbmParseDirectory(18, 1, image->SectorReader()).size(), 3u);
  TDkStringList warnings;
  TDkParseStatus status = psBroken;
  EXPECT_EQ(Recover(18, 4, warnings, status).size(), 4u);
  EXPECT_EQ(status, psComplete);
  EXPECT_TRUE(warnings.empty());
}

TEST_F(DirectoryTest, LinkPastTheImageRaisesStrictlyAndRecoversWithAWarning) {
  FillSector(1, 8, "A");
  disk.Link(18, 1, 18, 2);
  FillSector(2, 5, "B");
  disk.Link(18, 2, 36, 4);  // track 36 of a 35-track image whose geometry allows 40
  const auto image = disk.Open(40);
  ExpectMalformed([&] { DkCbmParseDirectory(18, 1, image->SectorReader()); },
                  "Sector T36/S4 past end of image.");

  TDkStringList warnings;
  TDkParseStatus status = psComplete;
  const TDkCbmEntryArray entries = Recover(18, 1, warnings, status);
  EXPECT_EQ(entries.size(), 13u);
  EXPECT_EQ(status, psBroken);
  ASSERT_EQ(warnings.size(), 1u);
  EXPECT_EQ(warnings[0],
            "Directory chain broke at T36/S4: Sector T36/S4 past end of image.. Recovered 13 "
            "entries so far; the rest is unreachable.");
}

TEST_F(DirectoryTest, RecoveryCoversEveryReaderFault) {
  FillSector(1, 2, "A");
  disk.Link(18, 1, 50, 0);
  TDkStringList warnings;
  TDkParseStatus status = psComplete;
  EXPECT_EQ(Recover(18, 1, warnings, status).size(), 2u);
  EXPECT_EQ(status, psBroken);
  ASSERT_EQ(warnings.size(), 1u);
  EXPECT_NE(warnings[0].find("Track 50 out of range for TST."), std::string::npos);

  // A reader that breaks its length contract is recovered from the same way.
  const TDkCbmReadSectorFunc short_reader = [](int, int) { return Bytes(100); };
  warnings.clear();
  EXPECT_TRUE(DkCbmParseDirectory(18, 1, short_reader, &warnings, status, false).empty());
  EXPECT_EQ(status, psBroken);
  ASSERT_EQ(warnings.size(), 1u);
  EXPECT_EQ(warnings[0],
            "Directory chain broke at T18/S1: AReadSector returned 100 bytes for T18/S1; a "
            "TDkCbmReadSectorFunc must return exactly 256 bytes or raise.. Recovered 0 entries so "
            "far; the rest is unreachable.");
}

TEST_F(DirectoryTest, OnlyMalformedDiskErrorsAreRecovered) {
  const TDkCbmReadSectorFunc failing = [](int, int) -> Bytes { throw std::runtime_error("io"); };
  TDkStringList warnings;
  TDkParseStatus status = psComplete;
  EXPECT_THROW(DkCbmParseDirectory(18, 1, failing, &warnings, status, false), std::runtime_error);
  const TDkCbmReadSectorFunc format_error = [](int, int) -> Bytes {
    throw EDkCbmImageFormatError("header");
  };
  EXPECT_THROW(DkCbmParseDirectory(18, 1, format_error, &warnings, status, false),
               EDkCbmImageFormatError);
  EXPECT_TRUE(warnings.empty());
}

TEST_F(DirectoryTest, FirstLinkOutsideByteRangeRaisesEvenWhenRecovering) {
  const auto image = disk.Open();
  const std::string message =
      "DkCbmParseDirectory: first directory link T18/S256 is outside the 0..255 range.";
  ExpectMalformed([&] { DkCbmParseDirectory(18, 256, image->SectorReader()); }, message);
  TDkStringList warnings;
  TDkParseStatus status = psComplete;
  ExpectMalformed([&] { Recover(18, 256, warnings, status); }, message);
  ExpectMalformed([&] { Recover(-1, 0, warnings, status); },
                  "DkCbmParseDirectory: first directory link T-1/S0 is outside the 0..255 range.");
  ExpectMalformed([&] { Recover(256, 0, warnings, status); },
                  "DkCbmParseDirectory: first directory link T256/S0 is outside the 0..255 range.");
}

TEST_F(DirectoryTest, ScratchedSlotsOnlyWhenAskedAndOnlyWithAName) {
  disk.PutEntry(18, 1, 0, {"LIVE", 0x82, 1, 0, 1});
  disk.PutEntry(18, 1, 1, {"GONE", 0x00, 1, 1, 1});
  disk.PutEntry(18, 1, 2, {"", 0x00, 0, 0, 0});  // empty slot; name starts with $A0
  disk.Sector(18, 1)[3 * 32 + 5] = 0;            // slot 3: type 0, name byte 0
  const auto image = disk.Open();
  EXPECT_EQ(DkCbmParseDirectory(18, 1, image->SectorReader()).size(), 1u);

  TDkStringList warnings;
  TDkParseStatus status = psComplete;
  const TDkCbmEntryArray all = Recover(18, 1, warnings, status, true);
  // The empty slot's name is all $A0 (non-zero), so it is returned as a scratched entry too.
  ASSERT_EQ(all.size(), 3u);
  EXPECT_EQ(all[1].Name, "GONE");
  EXPECT_TRUE(all[1].Scratched);
  EXPECT_EQ(all[2].Location.Index, 2);
  EXPECT_EQ(Recover(18, 1, warnings, status, false).size(), 1u);
}

TEST_F(DirectoryTest, RecoveringOverloadNeedsASink) {
  const auto image = disk.Open();
  TDkParseStatus status = psComplete;
  try {
    DkCbmParseDirectory(18, 1, image->SectorReader(), nullptr, status, false);
    ADD_FAILURE() << "no exception";
  } catch (const EDkCbmMalformedDisk&) {
    ADD_FAILURE() << "wrong class";
  } catch (const Exception& error) {
    EXPECT_EQ(error.Message(),
              "DkCbmParseDirectory: the recovering overload requires a non-nil ARecoveryWarnings "
              "sink (CON-4, REVIEW-2026-08-15.md round 35) \u2014 \"recovered, nothing needed "
              "skipping\" and \"recovered, here's what broke\" must both be representable, and "
              "there is nowhere to put that distinction without one.");
  }
}

TEST_F(DirectoryTest, LoadDirectoryKeepsWarningsOnlyWhenRecovering) {
  FillSector(1, 4, "A");
  disk.Link(18, 1, 36, 0);
  auto image = disk.Open(40);
  EXPECT_THROW(image->LoadDirectory(18, 1, false), EDkCbmMalformedDisk);

  image->LoadDirectory(18, 1, true);
  EXPECT_EQ(image->DirTrack(), 18);
  EXPECT_EQ(image->DirSector(), 1);
  EXPECT_EQ(image->Entries().size(), 4u);
  ASSERT_NE(image->RecoveryWarnings(), nullptr);
  EXPECT_EQ(image->RecoveryWarnings()->size(), 1u);

  disk.Link(18, 1, 0, 255);
  auto healthy = disk.Open();
  healthy->LoadDirectory(18, 1, true);
  ASSERT_NE(healthy->RecoveryWarnings(), nullptr);
  EXPECT_TRUE(healthy->RecoveryWarnings()->empty());
  healthy->LoadDirectory(18, 1, false);
  EXPECT_EQ(healthy->RecoveryWarnings(), nullptr);
  EXPECT_EQ(healthy->Entries().size(), 4u);
}

TEST(ImageSectors, CheckedReadMessagesInOrder) {
  FlatDisk disk(35, 21);
  disk.Sector(35, 20)[0] = 0x5A;
  disk.Sector(35, 20)[255] = 0xA5;
  const auto image = disk.Open(42);
  const Bytes last = image->ReadSector(35, 20);
  ASSERT_EQ(last.size(), 256u);
  EXPECT_EQ(last[0], 0x5A);
  EXPECT_EQ(last[255], 0xA5);
  ExpectMalformed([&] { image->ReadSector(0, 0); }, "Track 0 out of range for TST.");
  ExpectMalformed([&] { image->ReadSector(43, 0); }, "Track 43 out of range for TST.");
  // The track check comes first even when the sector is also bad.
  ExpectMalformed([&] { image->ReadSector(43, -1); }, "Track 43 out of range for TST.");
  ExpectMalformed([&] { image->ReadSector(1, 21); }, "Sector 21 out of range for track 1.");
  ExpectMalformed([&] { image->ReadSector(1, -1); }, "Sector -1 out of range for track 1.");
  ExpectMalformed([&] { image->ReadSector(36, 0); }, "Sector T36/S0 past end of image.");
}

TEST(ImageSectors, PartialSectorAtTheEndIsPastTheEnd) {
  FlatDisk disk(2, 4);
  Bytes bytes = disk.Bytes();
  bytes.resize(bytes.size() - 1);
  testing::FlatImage image(bytes, 2, 4);
  EXPECT_NO_THROW(image.ReadSector(2, 2));
  ExpectMalformed([&] { image.ReadSector(2, 3); }, "Sector T2/S3 past end of image.");
}

TEST(ImageSectors, NegativeOrHugeOffsetsFromAGeometryAreRefused) {
  // A geometry whose offsets would overflow or go negative must not read outside the bytes.
  struct WildImage : testing::FlatImage {
    using FlatImage::FlatImage;
    int SectorOffset(int track, int) const override { return track == 1 ? -256 : 0x7FFFFF80; }
  };
  WildImage image(Bytes(4096), 2, 4);
  ExpectMalformed([&] { image.ReadSector(1, 0); }, "Sector T1/S0 past end of image.");
  ExpectMalformed([&] { image.ReadSector(2, 0); }, "Sector T2/S0 past end of image.");
}

// The 16-byte name and 5-byte id may lie anywhere in the header sector, and nowhere else.
TEST(ImageHeader, NameAndIdAreTakenFromInsideTheHeaderSector) {
  Bytes header(256);
  for (std::size_t i = 0; i < header.size(); ++i) header[i] = static_cast<std::uint8_t>(i);
  testing::FlatImage image(Bytes(4096), 2, 4);
  for (const auto& [name_at, id_at] : {std::pair{0, 0}, {240, 251}, {7, 100}}) {
    image.SetDiskHeader(header, name_at, id_at);
    EXPECT_EQ(image.DiskNameBytes(),
              Bytes(header.begin() + name_at, header.begin() + name_at + 16));
    EXPECT_EQ(image.DiskIdBytes(), Bytes(header.begin() + id_at, header.begin() + id_at + 5));
  }
  for (const auto& [name_at, id_at] : {std::pair{241, 0}, {0, 252}, {-1, 0}, {0, -1}}) {
    EXPECT_EQ(testing::MessageOf([&] { image.SetDiskHeader(header, name_at, id_at); }),
              "SetDiskHeader: name or id outside the header sector.")
        << name_at << " " << id_at;
  }
}

TEST(ImageErrorInfo, TakesOneByteFromJustAfterTheSectors) {
  // A 35-track D64 with its 683-byte error block: 174848 + 683 = 175531 bytes.
  Bytes bytes(175531, 0);
  bytes[174848] = 0x01;
  bytes[175530] = 0x05;
  testing::FlatImage image(bytes, 42, 21);
  image.SetErrorInfo(true, 683);
  EXPECT_TRUE(image.HasErrorInfo());
  ASSERT_EQ(image.ErrorInfo().size(), 683u);
  EXPECT_EQ(image.ErrorInfo().front(), 0x01);
  EXPECT_EQ(image.ErrorInfo().back(), 0x05);

  image.SetErrorInfo(false, 683);
  EXPECT_FALSE(image.HasErrorInfo());
  EXPECT_TRUE(image.ErrorInfo().empty());

  // A block that would run past the bytes is refused instead of read.
  EXPECT_THROW(image.SetErrorInfo(true, 684), Exception);
  EXPECT_THROW(image.SetErrorInfo(true, -1), Exception);
  image.SetErrorInfo(true, 0);  // no sectors: an empty block
  EXPECT_TRUE(image.HasErrorInfo() && image.ErrorInfo().empty());
}

TEST(ImageFiles, ReadFileFollowsTheEntrysChain) {
  FlatDisk disk(35, 21);
  const Bytes data = testing::PatternBytes(700, 3);
  disk.WriteFile({{17, 0}, {17, 10}, {16, 3}}, data);
  disk.PutEntry(18, 1, 0, {"DATA", 0x81, 17, 0, 3});
  auto image = disk.Open();
  image->LoadDirectory(18, 1, false);
  ASSERT_EQ(image->Entries().size(), 1u);
  EXPECT_EQ(image->ReadFile(image->Entries()[0]), data);
}

}  // namespace
}  // namespace kelvane
