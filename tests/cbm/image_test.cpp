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

  TDkCbmEntryArray Recover(int track, int sector, TDkStringList& warnings, TDkParseStatus& status) {
    const auto image = disk.Open(40);
    return DkCbmParseDirectory(track, sector, image->SectorReader(), &warnings, status);
  }
};

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

TEST_F(DirectoryTest, OnlyMalformedDiskErrorsAreRecovered) {
  const TDkCbmReadSectorFunc failing = [](int, int) -> Bytes { throw std::runtime_error("io"); };
  TDkStringList warnings;
  TDkParseStatus status = psComplete;
  EXPECT_THROW(DkCbmParseDirectory(18, 1, failing, &warnings, status), std::runtime_error);
  const TDkCbmReadSectorFunc format_error = [](int, int) -> Bytes {
    throw EDkCbmImageFormatError("header");
  };
  EXPECT_THROW(DkCbmParseDirectory(18, 1, format_error, &warnings, status), EDkCbmImageFormatError);
  EXPECT_TRUE(warnings.empty());
}

TEST_F(DirectoryTest, ScratchedAndEmptySlotsAreNoEntries) {
  disk.PutEntry(18, 1, 0, {"GONE", 0x00, 1, 1, 1});
  disk.PutEntry(18, 1, 2, {"LIVE", 0x82, 1, 0, 1});
  const TDkCbmEntryArray entries = DkCbmParseDirectory(18, 1, disk.Open()->SectorReader());
  ASSERT_EQ(entries.size(), 1u);
  EXPECT_EQ(entries[0].Location.Index, 2);
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

TEST(ImageSectors, CheckedReadMessages) {
  FlatDisk disk(35, 21);
  disk.Sector(35, 20)[255] = 0xA5;
  const auto image = disk.Open(42);
  EXPECT_EQ(image->ReadSector(35, 20)[255], 0xA5);
  ExpectMalformed([&] { image->ReadSector(0, 0); }, "Track 0 out of range for TST.");
  // The track check comes first even when the sector is also bad.
  ExpectMalformed([&] { image->ReadSector(43, -1); }, "Track 43 out of range for TST.");
  ExpectMalformed([&] { image->ReadSector(1, 21); }, "Sector 21 out of range for track 1.");
  ExpectMalformed([&] { image->ReadSector(36, 0); }, "Sector T36/S0 past end of image.");
}

}  // namespace
}  // namespace kelvane
