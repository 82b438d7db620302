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
  std::string size_message;  // for the blank size + 1
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
      {"disk.d71", BlankD71, true, "D71", 70, 1328, 18, 1, 1366, D71Offset,
       "Unrecognized D71 size: 349697 bytes. Expected 349696 or 351062 bytes - the second "
       "includes a trailing error-info block."},
      {"disk.d81", BlankD81, true, "D81", 80, 3160, 40, 3, 3200, D81Offset,
       "Unrecognized D81 size: 819201 bytes. Expected 819200 or 822400 bytes - the second "
       "includes a trailing error-info block."},
      {"disk.d80", BlankD80, true, "D80", 77, 2052, 39, 1, 2083, D80Offset,
       "Unrecognized D80 size: 533249 bytes. Expected 533248 or 535331 bytes - the second "
       "includes a trailing error-info block."},
      {"disk.d82", BlankD82, true, "D82", 154, 4133, 39, 1, 4166, D80Offset,
       "Unrecognized D82 size: 1066497 bytes. Expected 1066496 or 1070662 bytes - the second "
       "includes a trailing error-info block."},
      {"disk.dnp", [](bool) { return BlankDnp(2); }, false, "DNP", 2, 192 + 256, 1, 34, 512,
       FlatOffset,
       "Unrecognized DNP size: 131073 bytes. Expected a multiple of 65536 bytes, 1 to 256 "
       "tracks."},
      {"disk.dfi", [](bool) { return BlankDfi(2); }, false, "DFI", 2, 512 - 4, 1, 2, 512,
       FlatOffset,
       "Unrecognized DFI size: 131073 bytes. Expected a multiple of 65536 bytes, 1 to 256 "
       "tracks."},
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
  EXPECT_EQ(image->DiskNameBytes(), PaddedName("TEST DISK"));
  ASSERT_EQ(image->DiskIdBytes().size(), 5u);
  EXPECT_EQ(image->DiskIdBytes()[2], 0xA0);
  EXPECT_TRUE(image->Entries().empty());
  EXPECT_EQ(image->DirTrack(), c.dir_track);
  EXPECT_EQ(image->DirSector(), c.dir_sector);
  EXPECT_FALSE(image->HasErrorInfo());
  EXPECT_EQ(image->RecoveryWarnings(), nullptr);
  // The last sector of the last track is readable; the next track is not.
  const int last = image->SectorsInTrack(c.track_count) - 1;
  EXPECT_EQ(image->SectorOffset(c.track_count, last), (c.sectors - 1) * 256);
  EXPECT_NO_THROW(image->ReadSector(c.track_count, last));
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

TEST_P(ReaderTest, ErrorInfoBlockFollowsTheSectors) {
  const ReaderCase& c = GetParam();
  if (!c.has_error_info_variant) GTEST_SKIP() << "no error-info block in this format";
  const auto image = DkOpenImage(c.blank(true), c.file_name, false);
  EXPECT_TRUE(image->HasErrorInfo());
  EXPECT_EQ(image->ErrorInfo().size(), static_cast<std::size_t>(c.sectors));
  EXPECT_EQ(image->Bytes().size(), static_cast<std::size_t>(c.sectors) * 257);
}

TEST_P(ReaderTest, WrongSizeNamesTheFormatsSizes) {
  const ReaderCase& c = GetParam();
  Bytes bytes = c.blank(false);
  bytes.push_back(0);
  EXPECT_EQ(MessageOf([&] { DkOpenImage(bytes, c.file_name, false); }), c.size_message);
  EXPECT_EQ(DkSizeErrorText(c.file_name, static_cast<long long>(bytes.size())), c.size_message);
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
  const std::string inner = "Track 255 out of range for " + c.format_name + ".";
  EXPECT_EQ(MessageOf([&] { DkOpenImage(bytes, c.file_name, false); }), inner);

  const auto image = DkOpenImage(bytes, c.file_name, true);
  ASSERT_EQ(image->Entries().size(), 1u);
  ASSERT_NE(image->RecoveryWarnings(), nullptr);
  ASSERT_EQ(image->RecoveryWarnings()->size(), 1u);
  EXPECT_EQ(image->RecoveryWarnings()->front(),
            "Directory chain broke at T255/S0: " + inner +
                ". Recovered 1 entries so far; the rest is unreachable.");
}

INSTANTIATE_TEST_SUITE_P(Formats, ReaderTest, ::testing::ValuesIn(Cases()),
                         [](const auto& param_info) { return param_info.param.format_name; });

// --- D64 ---------------------------------------------------------------------------------------

TEST(D64, SixSizesGiveTracksAndErrorInfo) {
  const struct {
    int tracks;
    bool error_info;
    std::size_t size;
    TDkD64DosVariant variant;
    int free_blocks;
  } cases[] = {
      {35, false, 174848, ddvStandard35, 664}, {35, true, 175531, ddvStandard35, 664},
      {40, false, 196608, ddvSpeedDOS40, 749}, {40, true, 197376, ddvSpeedDOS40, 749},
      {42, false, 205312, ddvExtended42, 783}, {42, true, 206114, ddvExtended42, 783},
  };
  for (const auto& c : cases) {
    const Bytes bytes = BlankD64(c.tracks, c.error_info, c.variant);
    ASSERT_EQ(bytes.size(), c.size);
    const auto image = TDkD64Image::Open(bytes, false);
    EXPECT_EQ(image->TrackCount(), c.tracks) << c.size;
    EXPECT_EQ(image->HasErrorInfo(), c.error_info) << c.size;
    EXPECT_EQ(image->Variant(), c.variant) << c.size;
    EXPECT_EQ(image->FreeBlocks(), c.free_blocks) << c.size;
    EXPECT_EQ(image->MaxTrack(), 42);
  }
}

TEST(D64, VariantDetectionOn40Tracks) {
  EXPECT_EQ(TDkD64Image::Open(BlankD64(40, false, ddvDolphin40), false)->Variant(), ddvDolphin40);
  const auto prologic = TDkD64Image::Open(BlankD64(40, false, ddvPrologic40), false);
  EXPECT_EQ(prologic->Variant(), ddvPrologic40);
  EXPECT_EQ(prologic->DiskName(), "TEST DISK");  // read from $A4
  EXPECT_EQ(prologic->DosVersion(), 0x50);

  // Both the Dolphin area at $AC and the SpeedDOS area at $C0 plausible.
  Bytes both = BlankD64(40, false, ddvSpeedDOS40);
  SectorEditor editor(both, D64Offset);
  auto bam = editor.Sector(18, 0);
  for (int i = 0; i < 5; ++i) {
    bam[static_cast<std::size_t>(0xAC + 4 * i)] = 1;
    bam[static_cast<std::size_t>(0xAD + 4 * i)] = 0x10;
    bam[static_cast<std::size_t>(0xAE + 4 * i)] = 0;
    bam[static_cast<std::size_t>(0xAF + 4 * i)] = 0;
  }
  try {
    TDkD64Image::Open(both, true);
    ADD_FAILURE() << "no exception";
  } catch (const EDkAmbiguousD64Variant& error) {
    EXPECT_EQ(error.Message(),
              "Multiple D64 DOS variants match this image: Dolphin40, SpeedDOS40.");
    EXPECT_EQ(error.Matches(), (TDkD64DosVariantArray{ddvDolphin40, ddvSpeedDOS40}));
  }
  // A disk name that starts with a byte no name holds leaves neither candidate; one that starts
  // with a shifted letter is a name.
  bam[0x90] = 0x81;
  EXPECT_TRUE(DkD64DetectVariant(Bytes(bam.begin(), bam.end()), 40).Matches.empty());
  bam[0x90] = 0xC1;
  EXPECT_EQ(DkD64DetectVariant(Bytes(bam.begin(), bam.end()), 40).Matches.size(), 2u);
  // A name is padded somewhere in its last four bytes; one without padding there is no name.
  std::fill(bam.begin() + 0x90 + 12, bam.begin() + 0x90 + 16, 'X');
  EXPECT_TRUE(DkD64DetectVariant(Bytes(bam.begin(), bam.end()), 40).Matches.empty());
  bam[0x90 + 12] = 0xA0;
  EXPECT_EQ(DkD64DetectVariant(Bytes(bam.begin(), bam.end()), 40).Matches.size(), 2u);
  // And the two bytes after it are $A0 both.
  for (const int after : {16, 17}) {
    bam[static_cast<std::size_t>(0x90 + after)] = ' ';
    EXPECT_TRUE(DkD64DetectVariant(Bytes(bam.begin(), bam.end()), 40).Matches.empty()) << after;
    bam[static_cast<std::size_t>(0x90 + after)] = 0xA0;
  }
}

TEST(D64, NoPlausibleExtraAreaFallsBackToSpeedDosAndStillCountsIt) {
  // A free count above 17, or one its bits disagree with (17 are set), rejects the candidate.
  for (const int count : {18, 16}) {
    Bytes bytes = BlankD64(40, false, ddvSpeedDOS40);
    auto bam = SectorEditor(bytes, D64Offset).Sector(18, 0);
    bam[0xC0] = static_cast<std::uint8_t>(count);
    const TDkD64DosVariantResult result = DkD64DetectVariant(Bytes(bam.begin(), bam.end()), 40);
    EXPECT_FALSE(result.Found) << count;
    EXPECT_TRUE(result.Matches.empty()) << count;
    const auto image = TDkD64Image::Open(bytes, false);
    EXPECT_EQ(image->Variant(), ddvSpeedDOS40);
    EXPECT_EQ(image->FreeBlocks(), 664 + count + 4 * 17);
  }

  EXPECT_EQ(MessageOf([] { DkD64DetectVariant(Bytes(255), 40); }),
            "DkD64DetectVariant: BAM sector must be 256 bytes.");
  EXPECT_EQ(MessageOf([] { DkD64VariantOffsets(static_cast<TDkD64DosVariant>(5)); }),
            "DkD64VariantOffsets: unknown TDkD64DosVariant.");
  EXPECT_FALSE(DkD64DetectVariant(Bytes(256), 36).Found);
  // The count reads only the BAM bytes it is given: a view ending where SpeedDOS's area begins
  // holds the 35 standard tracks' counts alone.
  const Bytes speed = BlankD64(40, false, ddvSpeedDOS40);
  EXPECT_EQ(DkD64CountFree(ByteView(speed).subspan(D64Offset(18, 0), 0xC0), 40,
                           DkD64VariantOffsets(ddvSpeedDOS40)),
            664);

  // The extra areas count their tracks and no more: a count just past SpeedDOS's five entries
  // (36-40 at $C0), Dolphin's (at $AC), Prologic's (at $90, the name next) or the extended
  // layout's seven (36-42) is not free space.
  for (const auto& [tracks, variant, past, free] :
       {std::tuple{40, ddvSpeedDOS40, 0xC0 + 4 * 5, 749},
        std::tuple{40, ddvDolphin40, 0xAC + 4 * 5, 749},
        std::tuple{40, ddvPrologic40, 0x90 + 4 * 5, 749},
        std::tuple{42, ddvExtended42, 0xC0 + 4 * 7, 783}}) {
    Bytes extra = BlankD64(tracks, false, variant);
    SectorEditor(extra, D64Offset).Sector(18, 0)[static_cast<std::size_t>(past)] = 9;
    const auto counted = TDkD64Image::Open(extra, false);
    EXPECT_EQ(counted->Variant(), variant);
    EXPECT_EQ(counted->FreeBlocks(), free) << tracks;
  }
}

TEST(D64, SectorsBeyondTheImageNeverComeFromTheErrorInfoBlock) {
  // A 35-track image with its 683-byte error block: tracks 36-42 pass the track check (every D64
  // answers to 42) but lie beyond the sector data, whatever follows in the file.
  Bytes bytes = BlankD64(35, true);
  std::fill(bytes.begin() + 174848, bytes.end(), 0x05);
  SectorEditor editor(bytes, D64Offset);
  editor.PutEntry(18, 1, 0, {"BEFORE", 0x82, 0, 0, 0});
  editor.Link(18, 1, 36, 0);
  const auto image = TDkD64Image::Open(bytes, true);
  EXPECT_EQ(MessageOf([&] { image->ReadSector(36, 0); }), "Sector T36/S0 past end of image.");
  EXPECT_EQ(MessageOf([&] { image->ReadSector(36, 1); }), "Sector T36/S1 past end of image.");
  EXPECT_EQ(MessageOf([&] { image->ReadSector(43, 0); }), "Track 43 out of range for D64.");
  ASSERT_EQ(image->Entries().size(), 1u);
  EXPECT_EQ(image->RecoveryWarnings()->front(),
            "Directory chain broke at T36/S0: Sector T36/S0 past end of image.. Recovered 1 "
            "entries so far; the rest is unreachable.");
  EXPECT_EQ(image->ErrorInfo().size(), 683u);
  EXPECT_EQ(image->ErrorInfo()[0], 0x05);
}

// --- D71, D81 ----------------------------------------------------------------------------------

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
  EXPECT_EQ(image->SectorsInTrack(200), 40);
  EXPECT_EQ(MessageOf([&] { image->ReadSector(81, 0); }), "Track 81 out of range for D81.");
}

// --- D80, D82 ----------------------------------------------------------------------------------

TEST(D80D82, HeaderByteMustBeC) {
  for (const std::uint8_t value : {0x41, 0x0A}) {
    Bytes d80 = BlankD80();
    SectorEditor(d80, D80Offset).Sector(39, 0)[2] = value;
    Bytes d82 = BlankD82();
    SectorEditor(d82, D80Offset).Sector(39, 0)[2] = value;
    const std::string hex = value == 0x41 ? "41" : "0a";
    EXPECT_EQ(MessageOf([&] { TDkD80Image::Open(d80, false); }),
              "D80 header byte $02 is $" + hex + ", expected 'C' ($43).");
    EXPECT_EQ(MessageOf([&] { TDkD82Image::Open(d82, false); }),
              "D82 header byte $02 is $" + hex + ", expected 'C' ($43).");
  }
}

TEST(D80D82, D82GeometryRepeatsAndCountsTrack116) {
  Bytes bytes = BlankD82();
  auto image = TDkD82Image::Open(bytes, false);
  EXPECT_EQ(image->SectorsInTrack(78), 29);
  EXPECT_EQ(image->SectorOffset(78, 0), 2083 * 256);
  EXPECT_EQ(MessageOf([&] { image->ReadSector(155, 0); }), "Track 155 out of range for D82.");
  for (const int track : {-1, 0, 155}) {
    EXPECT_EQ(image->SectorsInTrack(track), 0) << track;
    EXPECT_EQ(DkD82Geometry().SectorOffset(track, 0), -1) << track;
  }
  // Track 116 (the second side's track 39) is an ordinary track: its free count is included.
  SectorEditor(bytes, D80Offset).Sector(38, 6)[6 + 5 * 15] = 0;
  EXPECT_EQ(TDkD82Image::Open(bytes, false)->FreeBlocks(), 4133 - 29);
}

// --- DNP, DFI ----------------------------------------------------------------------------------

TEST(Dnp, HeaderAndDirectoryChecks) {
  Bytes bytes = BlankDnp(2);
  SectorEditor editor(bytes, FlatOffset);
  editor.Sector(1, 1)[0] = 3;
  EXPECT_EQ(MessageOf([&] { TDkDnpImage::Open(bytes, false); }),
            "DNP root directory: first directory track 3 out of range (1..2).");
  editor.Sector(1, 1)[0] = 0;
  EXPECT_EQ(MessageOf([&] { TDkDnpImage::Open(bytes, false); }),
            "DNP root directory: first directory track 0 out of range (1..2).");
  editor.Sector(1, 1)[2] = 0x0B;
  EXPECT_EQ(MessageOf([&] { TDkDnpImage::Open(bytes, false); }),
            "DNP header byte $02 is $0b, expected 'H' ($48).");
}

TEST(Dnp, OneTrackImageAndBothBitmapLayouts) {
  const auto one = TDkDnpImage::Open(BlankDnp(1), false);
  EXPECT_EQ(one->TrackCount(), 1);
  EXPECT_EQ(one->FreeBlocks(), 192);
  // Every track a DNP may have holds 256 sectors; none outside them.
  for (const auto& [track, sectors] : {std::pair{0, 0}, {1, 256}, {256, 256}, {257, 0}})
    EXPECT_EQ(one->SectorsInTrack(track), sectors) << track;

  // Every bit set: track 1 loses its 64 system sectors; track 256 is never counted.
  for (const int tracks : {3, 256}) {
    Bytes full = BlankDnp(tracks);
    std::fill(full.begin() + 544, full.begin() + 544 + 32 * tracks, 0xFF);
    EXPECT_EQ(TDkDnpImage::Open(full, false)->FreeBlocks(), 256 * std::min(tracks, 255) - 64);
  }

  Bytes old = BlankDnp(3, false);
  EXPECT_FALSE(DkDnpIsCurrentLayout(old));
  EXPECT_TRUE(DkDnpIsCurrentLayout(BlankDnp(3, true)));
  // Every bit of the three tracks' bitmaps set, and the byte after them: no system-area
  // exception, and nothing counted past the last track.
  std::fill(old.begin() + 288, old.begin() + 288 + 97, 0xFF);
  EXPECT_EQ(TDkDnpImage::Open(old, false)->FreeBlocks(), 768);
  EXPECT_EQ(DkDnpBitmapByte(old, 0), 0xFF);
  old[288 + 8191] = 0x5A;  // the last index: track 256's last byte
  EXPECT_EQ(DkDnpBitmapByte(old, 8191), 0x5A);
  EXPECT_EQ(MessageOf([&] { DkDnpBitmapByte(old, 8192); }),
            "DNP BAM bitmap index 8192 is outside 0..8191.");
  // Bytes that end inside the bitmap: an index is read up to their end and no further.
  const Bytes short_bytes(old.begin(), old.begin() + 288 + 10);
  EXPECT_EQ(DkDnpBitmapByte(short_bytes, 9), old[288 + 9]);
  EXPECT_EQ(MessageOf([&] { DkDnpBitmapByte(short_bytes, 10); }),
            "DNP BAM bitmap index 10 is outside the image.");
  // The current layout's count takes what the bytes hold of its bitmap: 768 bytes end after
  // track 7's (track 1 without its 64 system sectors).
  Bytes current = BlankDnp(8);
  current.resize(768);
  std::fill(current.begin() + 544, current.end(), 0xFF);
  EXPECT_EQ(DkDnpCountFree(current, 8), 192 + 6 * 256);
}

TEST(Dfi, SignatureAndDirectoryChecks) {
  Bytes bytes = BlankDfi(1);
  EXPECT_EQ(TDkDfiImage::Open(bytes, false)->FreeBlocks(), 252);
  // The bitmap at $1000 takes 32 bytes a track; it must fit the bytes, to the last one.
  EXPECT_EQ(DkDfiCountFree(Bytes(0x1000 + 64), 2), 512);
  EXPECT_EQ(MessageOf([] { DkDfiCountFree(Bytes(0x1000 + 63), 2); }),
            "DFI BAM: 2 tracks do not fit the image.");
  SectorEditor(bytes, FlatOffset).Sector(1, 1)[0] = 2;
  EXPECT_EQ(MessageOf([&] { TDkDfiImage::Open(bytes, false); }),
            "DFI directory: first directory track 2 out of range (1..1).");
  // The signature is read from the bytes given and no further.
  const Bytes blank = BlankDfi(1);
  EXPECT_TRUE(DkDfiHasSignature(ByteView(blank).first(23)));
  EXPECT_FALSE(DkDfiHasSignature(ByteView(blank).first(22)));
  Bytes lower = blank;
  lower[1] = 'd';
  EXPECT_FALSE(DkDfiHasSignature(lower));
  EXPECT_EQ(MessageOf([&] { TDkDfiImage::Open(lower, false); }),
            "Not a DFI: no 'DREAMLOAD FILE ARCHIVE' at byte 1.");
}

}  // namespace
}  // namespace kelvane
