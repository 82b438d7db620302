// Adding files through the D64, D71, D80 and D82 writers: the drives' allocation orders, the
// directory growth, the checks before any change, and the sectors a damaged BAM calls free.
#include <gtest/gtest.h>

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
using Chain = std::vector<std::pair<int, int>>;

Bytes Name(const std::string& text) {
  return Bytes(text.begin(), text.end());
}

// The sectors of a file's chain, in order.
Chain ChainOf(const TDkCbmImageWriter& writer, const TDkCbmEntry& entry) {
  Chain chain;
  for (int track = entry.FirstTrack, sector = entry.FirstSector;
       track != 0 && chain.size() < 999;) {
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

// Marks every sector of tracks `first` to `last` used but the directory track's.
void FillTracks(TDkCbmImageWriter& writer, int first, int last) {
  for (int t = first; t <= last; ++t) {
    for (int s = 0; s < writer.SectorsOnTrack(t); ++s) {
      if (t != writer.DirTrack()) writer.MarkSectorUsed(t, s);
    }
  }
}

TEST(D64Writer, BlocksAndDirectorySectorsFollowTheDrivesOrder) {
  Bytes bytes = BlankD64();
  auto writer = TDkD64Writer::FromBytes(bytes);
  const TDkCbmEntry entry = Add(*writer, "SEVEN", 7 * 254);
  EXPECT_EQ(ChainOf(*writer, entry),
            (Chain{{17, 0}, {17, 10}, {17, 20}, {17, 8}, {17, 18}, {17, 6}, {17, 16}}));
  const auto image = DkOpenImage(bytes, "x.d64", false);
  EXPECT_EQ(image->ReadFile(image->Entries()[0]), PatternBytes(7 * 254, 7 * 254));
  EXPECT_EQ(image->FreeBlocks(), 664 - 7);

  // The directory grows from 18/1 to 18/4 and then 18/7, outside the free count.
  for (int i = 1; i < 8; ++i) Add(*writer, "F" + std::to_string(i), 0, cftDEL);
  EXPECT_EQ(Add(*writer, "NINTH", 0, cftDEL).Location.Sector, 4);
  for (int i = 0; i < 7; ++i) Add(*writer, "G" + std::to_string(i), 0, cftDEL);
  EXPECT_EQ(Add(*writer, "SEVENTEENTH", 0, cftDEL).Location.Sector, 7);
  EXPECT_EQ(writer->FreeBlocks(), 664 - 7);
}

// A nearly full disk's last free block is found wherever it is in its track's bitmap, here in
// the last, partly used byte of track 1.
TEST(D64Writer, TheLastFreeSectorIsFoundInTheTailByteOfItsTrack) {
  Bytes bytes = BlankD64();
  auto writer = TDkD64Writer::FromBytes(bytes);
  FillTracks(*writer, 1, 35);
  writer->SetSectorFree(1, 17, true);
  const TDkCbmEntry entry = Add(*writer, "LAST", 10);
  EXPECT_EQ(std::make_pair(entry.FirstTrack, entry.FirstSector), std::make_pair(1, 17));
}

TEST(D71Writer, BothSidesInTheDrivesOrder) {
  Bytes bytes = BlankD71();
  auto writer = TDkD71Writer::FromBytes(bytes);
  EXPECT_EQ(ChainOf(*writer, Add(*writer, "A", 2 * 254)), (Chain{{17, 0}, {17, 6}}));
  // With side 1 full, files go to side 2 from track 52; its count (18/0) and bitmap (53/0)
  // change together.
  FillTracks(*writer, 1, 35);
  EXPECT_EQ(ChainOf(*writer, Add(*writer, "B", 3 * 254)), (Chain{{52, 0}, {52, 6}, {52, 12}}));
  SectorEditor editor(bytes, D71Offset);
  EXPECT_EQ(editor.Sector(18, 0)[0xDD + 52 - 36], 21 - 3);
  EXPECT_EQ(editor.Sector(53, 0)[3 * (52 - 36)] & 0x01, 0);
  const auto image = DkOpenImage(bytes, "x.d71", false);
  EXPECT_EQ(image->ReadFile(image->Entries()[1]), PatternBytes(3 * 254, 3 * 254));
  // Track 36, the farthest from 53 on the lower side, is the last one tried.
  FillTracks(*writer, 37, 70);
  EXPECT_EQ(Add(*writer, "C", 10).FirstTrack, 36);
}

TEST(D80D82Writers, TrackOrderAroundTheDirectoryTrack) {
  Bytes d80 = BlankD80();
  auto writer = TDkD80Writer::FromBytes(d80);
  Chain expected;
  for (int s = 1; s < 29; ++s) {
    if (s != 3) expected.emplace_back(38, s);  // the BAM sectors 38/0 and 38/3 stay
  }
  for (int s = 0; s < 3; ++s) expected.emplace_back(40, s);
  EXPECT_EQ(ChainOf(*writer, Add(*writer, "LONG", 30 * 254)), expected);
  EXPECT_EQ(DkOpenImage(d80, "x.d80", false)->FreeBlocks(), 2052 - 30);
  // The ninth entry needs a second directory sector: the first free one of track 39 from 2 on.
  TDkCbmEntry ninth;
  for (int i = 1; i <= 8; ++i) ninth = Add(*writer, "F" + std::to_string(i), 0);
  EXPECT_EQ(std::make_tuple(ninth.Location.Track, ninth.Location.Sector, ninth.Location.Index),
            std::make_tuple(39, 2, 0));

  Bytes d82 = BlankD82();
  const TDkCbmEntry small = Add(*TDkD82Writer::FromBytes(d82), "SMALL", 254);
  EXPECT_EQ(std::make_pair(small.FirstTrack, small.FirstSector), std::make_pair(38, 1));

  // An old header and BAM layout stays read-only.
  SectorEditor(d82, D80Offset).Sector(38, 0)[3] = 255;
  const Bytes before = d82;
  EXPECT_EQ(
      MessageOf<EDkCbmConstraintViolation>([&] { Add(*DkOpenWriter(d82, "x.d82"), "NO", 10); }),
      "This D82 has old header and BAM links an 8250 cannot follow. It stays read-only until it is "
      "converted.");
  EXPECT_EQ(d82, before);
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
  EXPECT_EQ(refused(Name("X"), cftREL, 1),
            "REL files need side sectors the 1541 writer does not emit yet.");
  EXPECT_EQ(refused(Name("A:B"), cftPRG, 1),
            "File name contains reserved byte 0x3A at position 1.");
  // The stored name is padded with $A0, the new one not: still a clash, found before the space.
  EXPECT_EQ(refused(Name("TAKEN"), cftPRG, 10'000'000), "A file named 'TAKEN' already exists.");
  EXPECT_EQ(
      refused(Name("HUGE"), cftSEQ, 700 * 254),
      "File does not fit on this 1541 image: needs 700 block(s), only 655 free (177800 byte(s) of "
      "content).");
  EXPECT_EQ(bytes, before);
  EXPECT_TRUE(DkCbmHostNameInDirectory(*writer, 18, 1, "taken  "));

  // A slot a scratched GEOS file held gives the new file none of its GEOS bytes.
  Bytes reused = BlankD64();
  SectorEditor old_slot(reused, D64Offset);
  old_slot.PutEntry(18, 1, 0, {"OLD", 0x00});
  std::fill_n(old_slot.Sector(18, 1).begin() + 21, 9, 0x33);
  const TDkCbmEntry fresh = Add(*TDkD64Writer::FromBytes(reused), "NEW", 10);
  const auto listed = DkOpenImage(reused, "x.d64", false)->Entries();
  ASSERT_EQ(listed.size(), 1u);
  EXPECT_EQ(listed[0].Location.Index, fresh.Location.Index);
  EXPECT_EQ(listed[0].GeosKind, gkNone);
  EXPECT_FALSE(DkCbmBytesNameInDirectory(*writer, 18, 1, "taken2"));

  // A full directory sector costs a block of its own: 12 free blocks take no 12-block file.
  for (int k = 8; k < 15; ++k) Add(*writer, "G" + std::to_string(k), 0, cftDEL);
  FillTracks(*writer, 1, 35);
  for (int s = 0; s < 12; ++s) writer->SetSectorFree(35, s, true);
  EXPECT_EQ(MessageOf<EDkCbmConstraintViolation>([&] { Add(*writer, "TWELVE", 12 * 254); }),
            "File does not fit on this 1541 image: needs 12 block(s) + 1 for directory extension, "
            "only 12 free (3048 byte(s) of content).");
  EXPECT_NO_THROW(Add(*writer, "ELEVEN", 11 * 254));
}

// Sectors that files or the directory hold are never given out, whatever a damaged BAM says.
TEST(DirectoryWriter, SectorsInUseAreProtectedEvenWhenTheBamCallsThemFree) {
  Bytes bytes = BlankD64();
  auto writer = TDkD64Writer::FromBytes(bytes);
  const TDkCbmEntry first = Add(*writer, "FIRST", 3 * 254);
  for (const auto& [t, s] : ChainOf(*writer, first)) writer->SetSectorFree(t, s, true);
  SectorEditor editor(bytes, D64Offset);
  editor.PutEntry(18, 1, 1, {"LOOP", 0x82, 35, 5, 1});  // on the last track
  editor.Link(35, 5, 35, 5);
  // A relative file: records at 20/8, its side sector at 22/4 (entry bytes 21-22).
  editor.PutEntry(18, 1, 2, {"RECORDS", 0x84, 20, 8, 2});
  editor.Sector(18, 1)[2 * 32 + 21] = 22;
  editor.Sector(18, 1)[2 * 32 + 22] = 4;
  // The space check does not count them as free either.
  TDkSectorOccupancy map;
  DkCbmBuildOccupancy(*writer, 18, 1, map);
  EXPECT_EQ(DkCbmCountHiddenUsed(*writer, map), 6);
  const TDkCbmEntry second = Add(*writer, "SECOND", 5 * 254);
  for (const auto& sector : ChainOf(*writer, second)) {
    for (const auto& held : Chain{{17, 0}, {17, 10}, {17, 20}, {35, 5}, {20, 8}, {22, 4}})
      EXPECT_NE(sector, held);
  }
  EXPECT_EQ(writer->ProtectedSectors(), nullptr);

  // Sectors free in the BAM but in use are passed over on the way too: with every track full but
  // 17/5 and 19/3, a two-block file takes those two and FIRST stays whole.
  FillTracks(*writer, 1, 35);
  for (const auto& [t, s] : ChainOf(*writer, first)) writer->SetSectorFree(t, s, true);
  writer->SetSectorFree(17, 5, true);
  writer->SetSectorFree(19, 3, true);
  const TDkCbmEntry third = Add(*writer, "THIRD", 2 * 254);
  EXPECT_EQ(ChainOf(*writer, third), (Chain{{17, 5}, {19, 3}}));
  const auto reread = DkOpenImage(bytes, "x.d64", false);
  EXPECT_EQ(reread->ReadFile(first), PatternBytes(3 * 254, 3 * 254));
  EXPECT_EQ(reread->ReadFile(third), PatternBytes(2 * 254, 2 * 254));
  // A sector outside its track is no place to read or write, whatever a link says.
  EXPECT_THROW(writer->ReadSector(19, 19), EDkCbmMalformedDisk);
  EXPECT_THROW(writer->WriteSector(17, 21, Bytes(256)), EDkCbmMalformedDisk);

  // A BAM count already at 0 stays 0 when its sector is taken: it does not wrap to 255.
  editor.Sector(18, 0)[4 * 2] = 0;
  writer->MarkSectorUsed(2, 0);
  EXPECT_EQ(editor.Sector(18, 0)[4 * 2], 0);
}

// A GEOS VLIR file: index block 5/0, info block 5/2, records on 6/0 and the last sector of track
// 7 around an empty one; 8/1 stands after the end marker.
TEST(DirectoryWriter, AGeosDisksRecordChainsAreProtected) {
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
    TDkSectorOccupancy map;
    DkCbmBuildOccupancy(*DkOpenWriter(c.bytes, c.name), c.dir_track, c.dir_sector, map);
    for (const auto& [t, s] : Chain{{5, 0}, {5, 2}, {6, 0}, {7, c.last_sector}})
      EXPECT_EQ(map.At(t, s), 1) << c.name << " " << t << "/" << s;
    EXPECT_EQ(map.At(8, 1), 0) << c.name;
  }
}

// A directory track whose BAM calls the bits past its last sector free: the directory is full
// once its real sectors are, on the 1571 (track 18, 19 sectors) and the 8050 (track 39, 29).
TEST(DirectoryWriter, BamBitsPastTheDirectoryTracksLastSectorAreNeverTaken) {
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
    // Something in every other sector of the track; all but the last one used in the BAM.
    for (int s = 2; s < c.sectors; ++s) {
      if (s < c.sectors - 1) writer->MarkSectorUsed(c.dir_track, s);
      SectorEditor(c.bytes, c.offset).Sector(c.dir_track, s)[2] = 0x80;
    }
    SectorEditor(c.bytes, c.offset).Sector(c.bam_track, 0)[static_cast<std::size_t>(c.bam_byte)] |=
        static_cast<std::uint8_t>(0xFF << (c.sectors % 8));
    for (int i = 0; i < 16; ++i) Add(*writer, "F" + std::to_string(i), 0, cftDEL);
    EXPECT_EQ(MessageOf<EDkCbmConstraintViolation>([&] { Add(*writer, "LAST", 0, cftDEL); }),
              c.full);
  }
}

}  // namespace
}  // namespace kelvane
