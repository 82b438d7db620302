// Adding files through the D64, D71, D80 and D82 writers: the drives' allocation orders, the
// directory growth, the checks before any change, and what the readers then see.
#include <gtest/gtest.h>

#include "cbm/chain.h"
#include "cbm/errors.h"
#include "registry/registry.h"
#include "support/disk_builder.h"
#include "support/messages.h"
#include "write/cbm_writers.h"
#include "write/directory_writer.h"
#include "write/writer_select.h"

namespace kelvane {
namespace {

using namespace testing;

Bytes Name(const std::string& text) {
  return Bytes(text.begin(), text.end());
}

// The sectors of a file's chain, in order.
std::vector<std::pair<int, int>> ChainOf(const TDkCbmImageWriter& writer, int track, int sector) {
  std::vector<std::pair<int, int>> chain;
  while (track != 0 && chain.size() < 1000) {
    chain.emplace_back(track, sector);
    const Bytes data = writer.ReadSector(track, sector);
    track = data[0];
    sector = data[1];
  }
  return chain;
}

TDkCbmEntry Add(TDkCbmImageWriter& writer, const std::string& name, std::size_t length,
                TDkCbmFileType type = cftPRG) {
  return DkCbmAddFile(writer, writer.DirTrack(), writer.FirstDirSector(), Name(name), type,
                      PatternBytes(length, static_cast<std::uint32_t>(length)));
}

// Marks every sector of tracks `first` to `last` used, apart from the directory track 18 and
// the sector `spare`.
void FillTracks(TDkCbmImageWriter& writer, int first, int last, std::pair<int, int> spare = {}) {
  for (int t = first; t <= last; ++t) {
    for (int s = 0; s < writer.SectorsOnTrack(t); ++s) {
      if (t != 18 && std::make_pair(t, s) != spare) writer.MarkSectorUsed(t, s);
    }
  }
}

TEST(D64Writer, TheLastFreeSectorIsFoundInTheTailByteOfItsTrack) {
  Bytes bytes = BlankD64();
  auto writer = TDkD64Writer::FromBytes(bytes);
  FillTracks(*writer, 1, 35, {1, 17});
  const TDkCbmEntry entry = Add(*writer, "LAST", 10);
  EXPECT_EQ(std::make_pair(entry.FirstTrack, entry.FirstSector), std::make_pair(1, 17));
  EXPECT_EQ(writer->FreeBlocks(), 0);
}

TEST(D64Writer, BlocksFollowTheDrivesInterleave) {
  Bytes bytes = BlankD64();
  auto writer = TDkD64Writer::FromBytes(bytes);
  const TDkCbmEntry entry = Add(*writer, "SEVEN", 7 * 254);
  EXPECT_EQ(entry.Blocks, 7);
  EXPECT_EQ(ChainOf(*writer, entry.FirstTrack, entry.FirstSector),
            (std::vector<std::pair<int, int>>{
                {17, 0}, {17, 10}, {17, 20}, {17, 8}, {17, 18}, {17, 6}, {17, 16}}));
  EXPECT_EQ(writer->FreeBlocks(), 664 - 7);

  // The reader sees the file, its bytes and the new free count.
  const auto image = DkOpenImage(bytes, "x.d64", false);
  ASSERT_EQ(image->Entries().size(), 1u);
  EXPECT_EQ(image->Entries()[0].Name, "SEVEN");
  EXPECT_TRUE(image->Entries()[0].Closed);
  EXPECT_EQ(image->ReadFile(image->Entries()[0]), PatternBytes(7 * 254, 7 * 254));
  EXPECT_EQ(image->FreeBlocks(), 657);
}

TEST(D64Writer, AFileOnTrackOneKeepsTheInterleave) {
  Bytes bytes = BlankD64();
  auto writer = TDkD64Writer::FromBytes(bytes);
  FillTracks(*writer, 2, 35);
  const TDkCbmEntry entry = Add(*writer, "FIRST", 3 * 254);
  EXPECT_EQ(ChainOf(*writer, entry.FirstTrack, entry.FirstSector),
            (std::vector<std::pair<int, int>>{{1, 0}, {1, 10}, {1, 20}}));
}

TEST(D64Writer, DirectoryGrowsTo18Slash4Then18Slash7) {
  Bytes bytes = BlankD64();
  auto writer = TDkD64Writer::FromBytes(bytes);
  for (int i = 0; i < 8; ++i) Add(*writer, "F" + std::to_string(i), 0, cftDEL);
  const TDkCbmEntry ninth = Add(*writer, "NINTH", 0, cftDEL);
  EXPECT_EQ(ninth.Location.Sector, 4);
  EXPECT_EQ(ninth.Location.Index, 0);
  for (int i = 0; i < 7; ++i) Add(*writer, "G" + std::to_string(i), 0, cftDEL);
  EXPECT_EQ(Add(*writer, "SEVENTEENTH", 0, cftDEL).Location.Sector, 7);
  EXPECT_EQ(DkOpenImage(bytes, "x.d64", false)->Entries().size(), 17u);
  EXPECT_FALSE(writer->IsSectorFree(18, 4));
  EXPECT_EQ(writer->FreeBlocks(), 664);  // the directory track is not counted
}

TEST(DirectoryWriter, RefusalsComeBeforeAnyChange) {
  Bytes bytes = BlankD64();
  auto writer = TDkD64Writer::FromBytes(bytes);
  for (int k = 0; k < 8; ++k) Add(*writer, "F" + std::to_string(k), 1);
  Add(*writer, "TAKEN", 10);  // in the directory's second sector
  const Bytes before = bytes;
  const auto refused = [&](const Bytes& name, TDkCbmFileType type, std::size_t length) {
    return MessageOf<EDkCbmConstraintViolation>(
        [&] { DkCbmAddFile(*writer, 18, 1, name, type, PatternBytes(length, 1)); });
  };
  EXPECT_EQ(refused(Name("X"), cftDIR, 1), "Cannot write a DIR entry on a 1541 image.");
  EXPECT_EQ(refused(Name("X"), cftCBM, 1), "Cannot write a CBM entry on a 1541 image.");
  EXPECT_EQ(refused(Name("X"), cftREL, 1),
            "REL files need side sectors the 1541 writer does not emit yet.");
  EXPECT_EQ(refused(Name("A:B"), cftPRG, 1),
            "File name contains reserved byte 0x3A at position 1.");
  // The stored name is padded with $A0; the new one is not: still a clash.
  EXPECT_EQ(refused(Name("TAKEN"), cftPRG, 1), "A file named 'TAKEN' already exists.");
  // A clash is reported before the space check.
  EXPECT_EQ(refused(Name("TAKEN"), cftPRG, 10'000'000), "A file named 'TAKEN' already exists.");
  EXPECT_EQ(
      refused(Name("HUGE"), cftSEQ, 700 * 254),
      "File does not fit on this 1541 image: needs 700 block(s), only 655 free (177800 byte(s) of "
      "content).");
  EXPECT_EQ(bytes, before);
  EXPECT_TRUE(DkCbmHostNameInDirectory(*writer, 18, 1, "taken  "));
  EXPECT_TRUE(DkCbmBytesNameInDirectory(*writer, 18, 1, "taken"));
  EXPECT_FALSE(DkCbmBytesNameInDirectory(*writer, 18, 1, "taken2"));
}

TEST(DirectoryWriter, DirectoryExtensionCountsAgainstTheSpace) {
  Bytes bytes = BlankD64();
  auto writer = TDkD64Writer::FromBytes(bytes);
  for (int i = 0; i < 8; ++i) Add(*writer, "F" + std::to_string(i), 0, cftDEL);
  // Leave exactly 12 free blocks outside the directory track.
  SectorEditor editor(bytes, D64Offset);
  for (int t = 1; t <= 35; ++t) {
    if (t == 18) continue;
    editor.Sector(18, 0)[static_cast<std::size_t>(4 * t)] = 0;
    for (int b = 1; b <= 3; ++b) editor.Sector(18, 0)[static_cast<std::size_t>(4 * t + b)] = 0;
  }
  editor.Sector(18, 0)[4] = 12;
  editor.Sector(18, 0)[5] = 0xFF;
  editor.Sector(18, 0)[6] = 0x0F;
  EXPECT_EQ(DkCbmDirExtensionNeeded(*writer, 18, 1), 1);
  EXPECT_EQ(MessageOf<EDkCbmConstraintViolation>([&] { Add(*writer, "TWELVE", 12 * 254); }),
            "File does not fit on this 1541 image: needs 12 block(s) + 1 for directory extension, "
            "only 12 "
            "free (3048 byte(s) of content).");
  // A full directory that loops on itself cannot be extended: no room is counted for it and the
  // add fails on the chain, not on the space.
  const Bytes before = bytes;
  editor.Link(18, 1, 18, 1);
  EXPECT_EQ(DkCbmDirExtensionNeeded(*writer, 18, 1), 0);
  EXPECT_EQ(MessageOf<EDkCbmConstraintViolation>([&] { Add(*writer, "TWELVE", 12 * 254); }),
            "Directory chain is corrupt.");
  bytes = before;
  EXPECT_NO_THROW(Add(*writer, "ELEVEN", 11 * 254));
}

TEST(DirectoryWriter, SectorsInUseAreProtectedEvenWhenTheBamCallsThemFree) {
  Bytes bytes = BlankD64();
  auto writer = TDkD64Writer::FromBytes(bytes);
  const TDkCbmEntry first = Add(*writer, "FIRST", 3 * 254);
  // A damaged BAM that frees the file's sectors again, and a chain that loops on itself.
  for (const auto& [t, s] : ChainOf(*writer, first.FirstTrack, first.FirstSector))
    writer->SetSectorFree(t, s, true);
  SectorEditor editor(bytes, D64Offset);
  editor.PutEntry(18, 1, 1, {"LOOP", 0x82, 20, 5, 1});
  editor.Link(20, 5, 20, 5);
  // A relative file: its records at 20/8 and its side sector at 22/4 (bytes 21-22 of the
  // entry; byte 23 is the record length).
  editor.PutEntry(18, 1, 2, {"RECORDS", 0x84, 20, 8, 2});
  const auto rel = editor.Sector(18, 1).subspan(2 * 32);
  rel[21] = 22;
  rel[22] = 4;
  rel[23] = 30;
  TDkSectorOccupancy map;
  DkCbmBuildOccupancy(*writer, 18, 1, map);
  EXPECT_EQ(DkCbmCountHiddenUsed(*writer, map), 6);
  EXPECT_EQ(map.At(22, 4), 1);
  const TDkCbmEntry second = Add(*writer, "SECOND", 5 * 254);
  for (const auto& sector : ChainOf(*writer, second.FirstTrack, second.FirstSector)) {
    EXPECT_NE(sector, std::make_pair(17, 0));
    EXPECT_NE(sector, std::make_pair(17, 10));
    EXPECT_NE(sector, std::make_pair(17, 20));
    EXPECT_NE(sector, std::make_pair(20, 5));
    EXPECT_NE(sector, std::make_pair(22, 4));
  }
  EXPECT_EQ(writer->ProtectedSectors(), nullptr);
}

TEST(DirectoryWriter, AGeosDisksRecordChainsAreProtected) {
  // A VLIR file: index block 5/0, info block 5/2, records on the first sector of track 6 and
  // the last of track 7 around an empty one; 8/1 stands after the end marker.
  struct Case {
    const char* name;
    Bytes bytes;
    OffsetFunc offset;
    int dir_track, dir_sector, header_track, header_sector, last_sector;
  };
  for (Case c : {Case{"x.d64", BlankD64(), D64Offset, 18, 1, 18, 0, 20},
                 Case{"x.dnp", BlankDnp(8), FlatOffset, 1, 34, 1, 1, 255}}) {
    SectorEditor editor(c.bytes, c.offset);
    const std::string signature = "GEOS format V1.";
    std::copy(signature.begin(), signature.end(),
              editor.Sector(c.header_track, c.header_sector).begin() + 0xAD);
    editor.PutEntry(c.dir_track, c.dir_sector, 0, {"VLIR", 0x83, 5, 0, 4});
    const auto entry = editor.Sector(c.dir_track, c.dir_sector);
    entry[21] = 5;
    entry[22] = 2;
    entry[23] = 1;
    entry[24] = 5;
    const std::uint8_t last = static_cast<std::uint8_t>(c.last_sector);
    const std::uint8_t records[] = {6, 0, 0, 255, 7, last, 0, 0, 8, 1};
    std::copy(std::begin(records), std::end(records), editor.Sector(5, 0).begin() + 2);
    auto writer = DkOpenWriter(c.bytes, c.name);
    TDkSectorOccupancy map;
    DkCbmBuildOccupancy(*writer, c.dir_track, c.dir_sector, map);
    for (const auto& [t, s] : {std::pair{5, 0}, {5, 2}, {6, 0}, {7, c.last_sector}})
      EXPECT_EQ(map.At(t, s), 1) << c.name << " " << t << "/" << s;
    EXPECT_EQ(map.At(8, 1), 0) << c.name;
    EXPECT_EQ(DkCbmCountHiddenUsed(*writer, map), 4) << c.name;
    // Without the signature the same bytes make no GEOS file: only the chain from 5/0 is its own.
    std::fill_n(editor.Sector(c.header_track, c.header_sector).begin() + 0xAD, signature.size(), 0);
    const auto plain = DkOpenWriter(c.bytes, c.name);
    TDkSectorOccupancy plain_map;
    DkCbmBuildOccupancy(*plain, c.dir_track, c.dir_sector, plain_map);
    EXPECT_EQ(plain_map.At(5, 2) + plain_map.At(6, 0), 0) << c.name;
    EXPECT_EQ(DkCbmCountHiddenUsed(*plain, plain_map), 1) << c.name;
    // A full index, 127 records and no end marker: the last, in the sector's last two bytes, is
    // a record like the others.
    std::copy(signature.begin(), signature.end(),
              editor.Sector(c.header_track, c.header_sector).begin() + 0xAD);
    const auto index = editor.Sector(5, 0);
    for (std::size_t at = 2; at < 256; at += 2) {
      index[at] = 0;
      index[at + 1] = 255;
    }
    index[254] = 8;
    index[255] = 1;
    TDkSectorOccupancy full_map;
    DkCbmBuildOccupancy(*DkOpenWriter(c.bytes, c.name), c.dir_track, c.dir_sector, full_map);
    EXPECT_EQ(full_map.At(8, 1), 1) << c.name;
  }
}

TEST(D71Writer, BothSidesInTheDrivesOrder) {
  Bytes bytes = BlankD71();
  auto writer = TDkD71Writer::FromBytes(bytes);
  const TDkCbmEntry entry = Add(*writer, "A", 2 * 254);
  EXPECT_EQ(ChainOf(*writer, entry.FirstTrack, entry.FirstSector),
            (std::vector<std::pair<int, int>>{{17, 0}, {17, 6}}));
  // With side 1 full, files go to side 2 from track 52.
  FillTracks(*writer, 1, 35);
  const TDkCbmEntry side2 = Add(*writer, "B", 3 * 254);
  EXPECT_EQ(ChainOf(*writer, side2.FirstTrack, side2.FirstSector),
            (std::vector<std::pair<int, int>>{{52, 0}, {52, 6}, {52, 12}}));
  // The side-2 count in 18/0 and the bitmap in 53/0 changed together.
  SectorEditor editor(bytes, D71Offset);
  EXPECT_EQ(editor.Sector(18, 0)[0xDD + 52 - 36], 21 - 3);
  EXPECT_EQ(editor.Sector(53, 0)[3 * (52 - 36)] & 0x01, 0);
  EXPECT_EQ(DkOpenImage(bytes, "x.d71", false)
                ->ReadFile(DkOpenImage(bytes, "x.d71", false)->Entries()[1]),
            PatternBytes(3 * 254, 3 * 254));
  // With 52 full too, a file goes on to 54 and stays there in the drive's interleave.
  for (int s = 0; s < writer->SectorsOnTrack(52); ++s) writer->MarkSectorUsed(52, s);
  const TDkCbmEntry above = Add(*writer, "D", 3 * 254);
  EXPECT_EQ(ChainOf(*writer, above.FirstTrack, above.FirstSector),
            (std::vector<std::pair<int, int>>{{54, 0}, {54, 6}, {54, 12}}));
  // Track 36, the farthest from 53 on the lower side, is the last one tried.
  for (int t = 37; t <= 70; ++t) {
    for (int s = 0; s < writer->SectorsOnTrack(t); ++s) {
      if (t != 53) writer->MarkSectorUsed(t, s);
    }
  }
  EXPECT_EQ(Add(*writer, "C", 10).FirstTrack, 36);
}

// A directory track whose BAM calls the bits past its last sector free: the directory is full
// once its real sectors are, on the 1571 (track 18, 19 sectors) and the 8050 (track 39, 29).
TEST(Writers, BamBitsPastTheDirectoryTracksLastSectorAreNeverTaken) {
  struct Case {
    const char* name;
    Bytes bytes;
    OffsetFunc offset;
    int dir_track, sectors, bam_track, bam_byte;
    const char* full;
  };
  for (Case c : {Case{"x.d71", BlankD71(), D71Offset, 18, 19, 18, 4 * 18 + 3,
                      "Directory is full on this 1571 image."},
                 Case{"x.d80", BlankD80(), D80Offset, 39, 29, 38, 6 + 5 * 38 + 4,
                      "Directory is full on this 8050 image."}}) {
    auto writer = DkOpenWriter(c.bytes, c.name);
    // Something in every other sector of the track (the 8050 would take an empty directory
    // sector even where its BAM says used); all but the last one used in the BAM.
    for (int s = 2; s < c.sectors; ++s) {
      if (s < c.sectors - 1) writer->MarkSectorUsed(c.dir_track, s);
      SectorEditor(c.bytes, c.offset).Sector(c.dir_track, s)[2] = 0x80;
    }
    // Every bit of the track's last bitmap byte past its sectors free.
    SectorEditor(c.bytes, c.offset).Sector(c.bam_track, 0)[static_cast<std::size_t>(c.bam_byte)] |=
        static_cast<std::uint8_t>(0xFF << (c.sectors % 8));
    for (int i = 0; i < 16; ++i) {
      const TDkCbmEntry entry = Add(*writer, "F" + std::to_string(i), 0, cftDEL);
      if (i >= 8) {
        EXPECT_EQ(entry.Location.Sector, c.sectors - 1) << c.name;  // the track's last sector
      }
    }
    EXPECT_EQ(MessageOf<EDkCbmConstraintViolation>([&] { Add(*writer, "LAST", 0, cftDEL); }),
              c.full);
  }
}

TEST(D80D82Writers, TrackOrderAroundTheDirectoryTrack) {
  Bytes d80 = BlankD80();
  auto writer = TDkD80Writer::FromBytes(d80);
  EXPECT_EQ(writer->FreeBlocks(), 2052);
  const TDkCbmEntry entry = Add(*writer, "LONG", 30 * 254);
  const auto chain = ChainOf(*writer, entry.FirstTrack, entry.FirstSector);
  ASSERT_EQ(chain.size(), 30u);
  std::vector<std::pair<int, int>> expected;
  for (int s = 0; s < 29; ++s) {
    if (s != 0 && s != 3) expected.emplace_back(38, s);  // the BAM sectors stay
  }
  for (int s = 0; s < 3; ++s) expected.emplace_back(40, s);
  EXPECT_EQ(chain, expected);
  EXPECT_EQ(DkOpenImage(d80, "x.d80", false)->FreeBlocks(), 2052 - 30);
  // The ninth entry needs a second directory sector: the first free one of track 39 from 2 on.
  TDkCbmEntry ninth;
  for (int i = 1; i <= 8; ++i) ninth = Add(*writer, "F" + std::to_string(i), 0);
  EXPECT_EQ(ninth.Location.Track, 39);
  EXPECT_EQ(ninth.Location.Sector, 2);
  EXPECT_EQ(ninth.Location.Index, 0);

  Bytes d82 = BlankD82();
  auto writer82 = TDkD82Writer::FromBytes(d82);
  EXPECT_EQ(writer82->FreeBlocks(), 4133);
  const TDkCbmEntry small = Add(*writer82, "SMALL", 254);
  EXPECT_EQ(small.FirstTrack, 38);
  EXPECT_EQ(small.FirstSector, 1);
}

TEST(D80D82Writers, OldLayoutStaysReadOnly) {
  Bytes d82 = BlankD82();
  SectorEditor(d82, D80Offset).Sector(38, 0)[3] = 255;
  auto writer = TDkD82Writer::FromBytes(d82);
  EXPECT_TRUE(writer->IsOldLayout());
  const Bytes before = d82;
  EXPECT_EQ(
      MessageOf<EDkCbmConstraintViolation>([&] { Add(*writer, "NO", 10); }),
      "This D82 has old header and BAM links an 8250 cannot follow. It stays read-only until it is "
      "converted.");
  EXPECT_EQ(d82, before);
}

// A program may install a converter for old layouts and a question to the user: the image is
// converted only when both are there and the answer is yes (1).
TEST(D80D82Writers, AnOldLayoutIsConvertedOnlyWithAConverterAndAYes) {
  Bytes old = BlankD82();
  SectorEditor(old, D80Offset).Sector(38, 0)[3] = 255;
  const Bytes converted = BlankD82();
  struct Case {
    bool converter;
    int answer;  // -1: no question installed
    bool converts;
  };
  for (const Case& c : {Case{false, 1, false}, Case{true, -1, false}, Case{true, 0, false},
                        Case{true, 2, false}, Case{true, 1, true}}) {
    SCOPED_TRACE(std::to_string(c.converter) + " " + std::to_string(c.answer));
    std::string asked;
    DkRegisterLayoutConverter(cifD82, c.converter ? TDkLayoutConverter([&](const Bytes& bytes) {
                                EXPECT_EQ(bytes, old);
                                return converted;
                              })
                                                  : nullptr);
    DkSetConversionConsentHook(
        c.answer < 0 ? nullptr
                     : TDkConversionConsent([&](const std::string& name, TDkCbmImageFormat format) {
                         asked = name + " " + DkImageFormatName(format);
                         return c.answer;
                       }));
    Bytes bytes = old;
    const auto writer = DkOpenWriter(bytes, "x.d82");
    EXPECT_EQ(writer->IsOldLayout(), !c.converts);
    EXPECT_EQ(bytes, c.converts ? converted : old);
    EXPECT_EQ(asked, c.converter && c.answer >= 0 ? "x.d82 D82" : "");
  }
  DkRegisterLayoutConverter(cifD82, nullptr);
  DkSetConversionConsentHook(nullptr);
}

TEST(Writers, SizeChecks) {
  // Every writer refuses a size its format does not have, with the format's size text.
  Bytes wrong(1000);
  EXPECT_EQ(
      MessageOf([&] { TDkD71Writer::FromBytes(wrong); }),
      "Unrecognized D71 size: 1000 bytes. Expected 349696 or 351062 bytes - the second includes a "
      "trailing error-info block.");
  EXPECT_THROW(TDkD64Writer::FromBytes(wrong), EDkD64FormatError);
  for (const TDkCbmImageFormat format : {cifD71, cifD81, cifD80, cifD82, cifDnp, cifDfi}) {
    EXPECT_EQ(MessageOf([&] { DkCreateWriter(wrong, "x", format); }),
              DkFormatSizeErrorText(format, 1000))
        << DkImageFormatName(format);
  }
  Bytes with_errors = BlankD64(40, true, ddvSpeedDOS40);
  auto writer = TDkD64Writer::FromBytes(with_errors);
  EXPECT_TRUE(writer->HasErrorInfo());
  EXPECT_EQ(writer->Variant(), ddvSpeedDOS40);
  EXPECT_EQ(writer->FreeBlocks(), 749);
}

}  // namespace
}  // namespace kelvane

namespace kelvane {
namespace {

// A BAM whose counts promise room its bitmaps do not have: the add fails only after it began
// allocating, so the caller must take the changes back (from a copy or the writer's journal);
// the protection map is released either way.
TEST(DirectoryWriter, FailureAfterChangesBeganLeavesItToTheCallerToDiscard) {
  const Bytes original = [] {
    Bytes bytes = BlankD64();
    SectorEditor editor(bytes, D64Offset);
    for (int t = 1; t <= 35; ++t) {
      if (t == 18) continue;
      for (int b = 1; b <= 3; ++b) editor.Sector(18, 0)[static_cast<std::size_t>(4 * t + b)] = 0;
    }
    editor.Sector(18, 0)[4 * 1 + 1] = 0x03;  // two sectors really free on track 1
    return bytes;
  }();
  Bytes working = original;
  auto writer = TDkD64Writer::FromBytes(working);
  EXPECT_EQ(MessageOf<EDkCbmConstraintViolation>([&] { Add(*writer, "THREE", 3 * 254); }),
            "No free sectors available.");
  EXPECT_EQ(writer->ProtectedSectors(), nullptr);
  EXPECT_NE(working, original);  // the two blocks were taken before the third failed
  EXPECT_EQ(DkOpenImage(original, "x.d64", false)->Entries().size(), 0u);
  // The 1581's search alike: every bitmap used, every count 40.
  Bytes d81 = BlankD81();
  SectorEditor d81_bam(d81, D81Offset);
  for (int t = 1; t <= 80; ++t) {
    const auto bam = d81_bam.Sector(40, t <= 40 ? 1 : 2);
    std::fill_n(bam.begin() + 0x10 + 6 * ((t - 1) % 40) + 1, 5, 0);
  }
  auto d81_writer = DkOpenWriter(d81, "x.d81");
  EXPECT_EQ(MessageOf<EDkCbmConstraintViolation>([&] { Add(*d81_writer, "ONE", 10); }),
            "No free sectors available.");

  // With a journal the writer takes such a failure back itself, and only that one add.
  working = original;
  auto journaled = TDkD64Writer::FromBytes(working);
  journaled->StartJournal();
  Add(*journaled, "ONE", 254);
  const Bytes after_one = working;
  journaled->StartJournal();
  EXPECT_THROW(Add(*journaled, "TWO", 2 * 254), EDkCbmConstraintViolation);
  EXPECT_NE(working, after_one);
  journaled->RollBack();
  EXPECT_EQ(working, after_one);
  journaled->RollBack();  // an empty journal changes nothing
  EXPECT_EQ(working, after_one);
}

}  // namespace
}  // namespace kelvane
