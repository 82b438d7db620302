// The sector-image readers on freshly formatted images built by the test helpers: geometry, size
// rules, header, free blocks, directory and error-info block, per format.
#include <gtest/gtest.h>

#include <tuple>

#include "cbm/errors.h"
#include "formats/d64.h"
#include "formats/d71_d81.h"
#include "formats/d80_d82.h"
#include "formats/dnp_dfi.h"
#include "registry/registry.h"
#include "support/disk_builder.h"
#include "support/messages.h"

namespace kelvane {
namespace {

using namespace testing;

struct ReaderCase {
  const char* file_name;
  std::function<Bytes(bool error_info)> blank;
  bool has_error_info_variant;
  std::string format_name;
  int track_count;
  int free_blocks;
  int dir_track;
  int dir_sector;
  int sectors;
  OffsetFunc offset;
  std::string size_message;  // for the blank size + 1 ("" where another row shows the shape)
};

void PrintTo(const ReaderCase& c, std::ostream* os) {
  *os << c.format_name;
}

const std::vector<ReaderCase>& Cases() {
  static const std::vector<ReaderCase> cases = {
      {"disk.d64", [](bool e) { return BlankD64(35, e); }, true, "D64", 35, 664, 18, 1, 683,
       D64Offset,
       "Unrecognized D64 size: 174849 bytes. Expected 174848 or 175531 bytes (35 tracks); 196608 "
       "or 197376 bytes (40 tracks); 205312 or 206114 bytes (42 tracks) - the second of each "
       "pair includes a trailing error-info block."},
      {"disk.d71", BlankD71, true, "D71", 70, 1328, 18, 1, 1366, D71Offset, ""},
      {"disk.d81", BlankD81, true, "D81", 80, 3160, 40, 3, 3200, D81Offset,
       "Unrecognized D81 size: 819201 bytes. Expected 819200 or 822400 bytes - the second "
       "includes a trailing error-info block."},
      {"disk.d80", BlankD80, true, "D80", 77, 2052, 39, 1, 2083, D80Offset, ""},
      {"disk.d82", BlankD82, true, "D82", 154, 4133, 39, 1, 4166, D80Offset, ""},
      {"disk.dnp", [](bool) { return BlankDnp(2); }, false, "DNP", 2, 192 + 256, 1, 34, 512,
       FlatOffset,
       "Unrecognized DNP size: 131073 bytes. Expected a multiple of 65536 bytes, 1 to 256 "
       "tracks."},
      {"disk.dfi", [](bool) { return BlankDfi(2); }, false, "DFI", 2, 512 - 4, 1, 2, 512,
       FlatOffset, ""},
  };
  return cases;
}

class ReaderTest : public ::testing::TestWithParam<ReaderCase> {};

TEST_P(ReaderTest, BlankImageOpensWithItsGeometryHeaderAndFreeBlocks) {
  const ReaderCase& c = GetParam();
  const auto image = DkOpenImage(c.blank(false), c.file_name, false);
  EXPECT_EQ(image->FormatName(), c.format_name);
  EXPECT_EQ(image->TrackCount(), c.track_count);
  EXPECT_EQ(image->FreeBlocks(), c.free_blocks);
  EXPECT_EQ(image->DiskName(), "TEST DISK");
  EXPECT_EQ(image->DiskId(), "12");
  EXPECT_TRUE(image->Entries().empty());
  EXPECT_EQ(image->DirTrack(), c.dir_track);
  EXPECT_EQ(image->DirSector(), c.dir_sector);
}

// Every track of every geometry against the drives' zone tables (the builder's own, not the
// readers'): its sector count, and where its first and last sectors lie; past the last track
// nothing is read.
TEST(Geometry, EveryTrackFollowsTheDrivesZones) {
  struct Case {
    const char* name;
    Bytes image;
    int tracks;
    int (*sectors)(int);
    int (*offset)(int, int);
  };
  const Case cases[] = {
      {"disk.d64", BlankD64(35), 35, Sectors1541, D64Offset},
      {"disk.d64", BlankD64(40, false, ddvSpeedDOS40), 40, Sectors1541, D64Offset},
      {"disk.d64", BlankD64(42, false, ddvExtended42), 42, Sectors1541, D64Offset},
      {"disk.d71", BlankD71(), 70, Sectors1571, D71Offset},
      {"disk.d80", BlankD80(), 77, Sectors8050, D80Offset},
      {"disk.d82", BlankD82(), 154, Sectors8050, D80Offset},
      {"disk.d81", BlankD81(), 80, [](int) { return 40; }, D81Offset},
  };
  for (const Case& c : cases) {
    const auto image = DkOpenImage(c.image, c.name, false);
    for (int track = 1; track <= c.tracks; ++track) {
      SCOPED_TRACE(std::string(c.name) + " track " + std::to_string(track));
      const int n = c.sectors(track);
      ASSERT_EQ(image->SectorsInTrack(track), n);
      EXPECT_EQ(image->SectorOffset(track, 0), c.offset(track, 0));
      EXPECT_EQ(image->SectorOffset(track, n - 1), c.offset(track, n - 1));
    }
    EXPECT_THROW(image->ReadSector(c.tracks + 1, 0), EDkCbmMalformedDisk) << c.name;
    EXPECT_EQ(image->Bytes().size(), static_cast<std::size_t>(c.offset(c.tracks + 1, 0))) << c.name;
  }
}

TEST(ErrorInfo, TheBlockFollowsTheSectors) {
  for (const ReaderCase& c : Cases()) {
    if (!c.has_error_info_variant) continue;  // DNP and DFI have none
    const auto image = DkOpenImage(c.blank(true), c.file_name, false);
    EXPECT_TRUE(image->HasErrorInfo()) << c.format_name;
    EXPECT_EQ(image->ErrorInfo().size(), static_cast<std::size_t>(c.sectors)) << c.format_name;
  }
}

TEST_P(ReaderTest, WrongSizeNamesTheFormatsSizes) {
  const ReaderCase& c = GetParam();
  Bytes bytes = c.blank(false);
  bytes.push_back(0);
  const std::string message =
      MessageOf<EDkCbmImageFormatError>([&] { DkOpenImage(bytes, c.file_name, false); });
  if (!c.size_message.empty()) {
    EXPECT_EQ(message, c.size_message);
  }
}

TEST_P(ReaderTest, DirectoryEntriesAndFilesRead) {
  const ReaderCase& c = GetParam();
  Bytes bytes = c.blank(false);
  SectorEditor disk(bytes, c.offset);
  const Bytes data = PatternBytes(600, 7);
  disk.WriteFile({{2, 0}, {2, 5}, {2, 1}}, data);
  disk.PutEntry(c.dir_track, c.dir_sector, 0, {"FIRST", 0x82, 2, 0, 3});
  disk.PutEntry(c.dir_track, c.dir_sector, 1, {"SECOND", 0xC1, 0, 0, 0});
  const auto image = DkOpenImage(bytes, c.file_name, false);
  ASSERT_EQ(image->Entries().size(), 2u);
  EXPECT_EQ(image->Entries()[0].Name, "FIRST");
  EXPECT_EQ(image->Entries()[1].FileType, cftSEQ);
  EXPECT_TRUE(image->Entries()[1].Locked);
  EXPECT_EQ(image->ReadFile(image->Entries()[0]), data);
}

TEST_P(ReaderTest, BrokenDirectoryRecoversWithAWarning) {
  const ReaderCase& c = GetParam();
  Bytes bytes = c.blank(false);
  SectorEditor disk(bytes, c.offset);
  disk.PutEntry(c.dir_track, c.dir_sector, 0, {"KEPT", 0x82, 0, 0, 0});
  disk.Link(c.dir_track, c.dir_sector, 255, 0);  // beyond every format's tracks
  EXPECT_EQ(MessageOf([&] { DkOpenImage(bytes, c.file_name, false); }),
            "Track 255 out of range for " + c.format_name + ".");
  const auto image = DkOpenImage(bytes, c.file_name, true);
  ASSERT_EQ(image->Entries().size(), 1u);
  ASSERT_NE(image->RecoveryWarnings(), nullptr);
  EXPECT_EQ(image->RecoveryWarnings()->size(), 1u);
}

INSTANTIATE_TEST_SUITE_P(Formats, ReaderTest, ::testing::ValuesIn(Cases()),
                         [](const auto& param_info) { return param_info.param.format_name; });

// --- D64 ---------------------------------------------------------------------------------------

TEST(D64, SizesGiveTracksErrorInfoAndTheExtraBamAreas) {
  // The extra BAM areas count their own tracks and no more: a count just past one (`past`) is
  // not free space.
  const struct {
    int tracks;
    bool error_info;
    TDkD64DosVariant variant;
    int free_blocks;
    int past;
  } cases[] = {
      {35, false, ddvStandard35, 664, 0},         {35, true, ddvStandard35, 664, 0},
      {40, false, ddvSpeedDOS40, 749, 0xC0 + 20}, {40, true, ddvSpeedDOS40, 749, 0xC0 + 20},
      {40, false, ddvDolphin40, 749, 0xAC + 20},  {40, false, ddvPrologic40, 749, 0},
      {42, false, ddvExtended42, 783, 0xC0 + 28}, {42, true, ddvExtended42, 783, 0xC0 + 28},
  };
  for (const auto& c : cases) {
    Bytes bytes = BlankD64(c.tracks, c.error_info, c.variant);
    if (c.past != 0)
      SectorEditor(bytes, D64Offset).Sector(18, 0)[static_cast<std::size_t>(c.past)] = 9;
    const auto image = TDkD64Image::Open(bytes, false);
    EXPECT_EQ(image->TrackCount(), c.tracks);
    EXPECT_EQ(image->HasErrorInfo(), c.error_info);
    EXPECT_EQ(image->Variant(), c.variant) << c.tracks;
    EXPECT_EQ(image->FreeBlocks(), c.free_blocks) << c.tracks;
    EXPECT_EQ(image->DiskName(), "TEST DISK");  // Prologic's from $A4
  }

  // Both the Dolphin area at $AC and the SpeedDOS area at $C0 plausible.
  Bytes both = BlankD64(40, false, ddvSpeedDOS40);
  auto bam = SectorEditor(both, D64Offset).Sector(18, 0);
  for (int i = 0; i < 5; ++i) {
    bam[static_cast<std::size_t>(0xAC + 4 * i)] = 1;
    bam[static_cast<std::size_t>(0xAD + 4 * i)] = 0x10;
  }
  try {
    TDkD64Image::Open(both, true);
    ADD_FAILURE() << "no exception";
  } catch (const EDkAmbiguousD64Variant& error) {
    EXPECT_EQ(error.Message(),
              "Multiple D64 DOS variants match this image: Dolphin40, SpeedDOS40.");
    EXPECT_EQ(error.Matches(), (TDkD64DosVariantArray{ddvDolphin40, ddvSpeedDOS40}));
  }

  // A disk name is plausible when it starts with a letter (shifted or not) and is padded with
  // $A0 somewhere in its last four bytes and in the two bytes after it; otherwise neither area
  // counts as proof.
  const auto matches = [&](std::size_t at, std::uint8_t value) {
    Bytes sector(bam.begin(), bam.end());
    sector[at] = value;
    return DkD64DetectVariant(sector, 40).Matches.size();
  };
  EXPECT_EQ(matches(0x90, 0xC1), 2u);
  EXPECT_EQ(matches(0x90, 0x81), 0u);
  EXPECT_EQ(matches(0x90 + 16, ' '), 0u);
  EXPECT_EQ(matches(0x90 + 17, ' '), 0u);
  std::fill(bam.begin() + 0x90 + 12, bam.begin() + 0x90 + 16, 'X');
  EXPECT_EQ(matches(0x90 + 12, 0xA0), 2u);
  EXPECT_EQ(matches(0x90 + 11, 0xA0), 0u);

  // A SpeedDOS area whose count is over 17, or disagrees with its bits, is no proof of the
  // variant; the image is still read as SpeedDOS and the count taken.
  for (const int count : {18, 16}) {
    Bytes odd = BlankD64(40, false, ddvSpeedDOS40);
    SectorEditor(odd, D64Offset).Sector(18, 0)[0xC0] = static_cast<std::uint8_t>(count);
    EXPECT_FALSE(DkD64DetectVariant(SectorEditor(odd, D64Offset).Sector(18, 0), 40).Found);
    const auto image = TDkD64Image::Open(odd, false);
    EXPECT_EQ(image->Variant(), ddvSpeedDOS40);
    EXPECT_EQ(image->FreeBlocks(), 664 + count + 4 * 17);
  }
}

TEST(D64, SectorsBeyondTheImageNeverComeFromTheErrorInfoBlock) {
  // A 35-track image with its 683-byte error block: tracks 36-42 pass the track check (every D64
  // answers to 42) but lie beyond the sector data, whatever follows in the file.
  Bytes bytes = BlankD64(35, true);
  std::fill(bytes.begin() + 174848, bytes.end(), 0x05);
  SectorEditor(bytes, D64Offset).Link(18, 1, 36, 0);
  const auto image = TDkD64Image::Open(bytes, true);
  EXPECT_EQ(MessageOf([&] { image->ReadSector(36, 1); }), "Sector T36/S1 past end of image.");
  EXPECT_EQ(MessageOf([&] { image->ReadSector(43, 0); }), "Track 43 out of range for D64.");
  EXPECT_EQ(image->RecoveryWarnings()->size(), 1u);
  EXPECT_EQ(image->ErrorInfo().size(), 683u);
  EXPECT_EQ(image->ErrorInfo()[0], 0x05);
}

// --- D71, D81, D80, D82 ------------------------------------------------------------------------

TEST(D71, SingleSidedFlagIsRefused) {
  Bytes bytes = BlankD71();
  SectorEditor(bytes, D71Offset).Sector(18, 0)[3] = 0;
  EXPECT_EQ(MessageOf([&] { TDkD71Image::Open(bytes, false); }),
            "D71 image has the double-sided flag cleared at T18/S0 byte $03 - looks like a D64.");
}

TEST(D81, ListsFrom40Slash3AndSkipsTrack40InTheCount) {
  Bytes bytes = BlankD81();
  SectorEditor editor(bytes, D81Offset);
  editor.Link(40, 0, 40, 20);              // the header's link is not followed
  editor.Sector(40, 1)[16 + 6 * 39] = 40;  // track 40's own entry never counts
  editor.PutEntry(40, 3, 0, {"HERE", 0x82, 0, 0, 0});
  const auto image = TDkD81Image::Open(bytes, false);
  ASSERT_EQ(image->Entries().size(), 1u);
  EXPECT_EQ(image->FreeBlocks(), 3160);
}

TEST(D80D82, HeaderByteAndTheD82sSecondSide) {
  Bytes d82 = BlankD82();
  SectorEditor(d82, D80Offset).Sector(39, 0)[2] = 0x41;
  EXPECT_EQ(MessageOf([&] { TDkD82Image::Open(d82, false); }),
            "D82 header byte $02 is $41, expected 'C' ($43).");
  // Track 116 (the second side's track 39) is an ordinary track: its free count is included.
  Bytes bytes = BlankD82();
  SectorEditor(bytes, D80Offset).Sector(38, 6)[6 + 5 * 15] = 0;
  EXPECT_EQ(TDkD82Image::Open(bytes, false)->FreeBlocks(), 4133 - 29);
}

// --- DNP, DFI ----------------------------------------------------------------------------------

TEST(Dnp, HeaderDirectoryAndBothBitmapLayouts) {
  Bytes bytes = BlankDnp(2);
  SectorEditor editor(bytes, FlatOffset);
  editor.Sector(1, 1)[0] = 3;
  EXPECT_EQ(MessageOf([&] { TDkDnpImage::Open(bytes, false); }),
            "DNP root directory: first directory track 3 out of range (1..2).");
  editor.Sector(1, 1)[2] = 0x0B;
  EXPECT_EQ(MessageOf([&] { TDkDnpImage::Open(bytes, false); }),
            "DNP header byte $02 is $0b, expected 'H' ($48).");

  EXPECT_EQ(TDkDnpImage::Open(BlankDnp(1), false)->FreeBlocks(), 192);
  // Every bit set: track 1 loses its 64 system sectors; track 256 is never counted.
  for (const int tracks : {3, 256}) {
    Bytes full = BlankDnp(tracks);
    std::fill(full.begin() + 544, full.begin() + 544 + 32 * tracks, 0xFF);
    EXPECT_EQ(TDkDnpImage::Open(full, false)->FreeBlocks(), 256 * std::min(tracks, 255) - 64);
  }
  // The old layout's bitmap at $120: no system-area exception, nothing counted past the last
  // track.
  Bytes old = BlankDnp(3, false);
  EXPECT_FALSE(DkDnpIsCurrentLayout(old));
  std::fill(old.begin() + 288, old.begin() + 288 + 97, 0xFF);
  old[288] = 0;
  EXPECT_EQ(TDkDnpImage::Open(old, false)->FreeBlocks(), 760);
}

TEST(Dfi, SignatureAndDirectoryChecks) {
  Bytes bytes = BlankDfi(1);
  EXPECT_EQ(TDkDfiImage::Open(bytes, false)->FreeBlocks(), 252);
  SectorEditor(bytes, FlatOffset).Sector(1, 1)[0] = 2;
  EXPECT_EQ(MessageOf([&] { TDkDfiImage::Open(bytes, false); }),
            "DFI directory: first directory track 2 out of range (1..1).");
  Bytes lower = BlankDfi(1);
  lower[1] = 'd';
  EXPECT_EQ(MessageOf([&] { TDkDfiImage::Open(lower, false); }),
            "Not a DFI: no 'DREAMLOAD FILE ARCHIVE' at byte 1.");
}

}  // namespace
}  // namespace kelvane
