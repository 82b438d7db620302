// D81, DNP and DFI writers, writer selection and drop preparation.
#include "write/flat_writers.h"

#include <gtest/gtest.h>

#include <bit>
#include <cstring>

#include "cbm/errors.h"
#include "common/format.h"
#include "registry/registry.h"
#include "support/disk_builder.h"
#include "support/messages.h"
#include "write/directory_writer.h"
#include "write/drop_prep.h"
#include "write/writer_select.h"

namespace kelvane {
namespace {

using namespace testing;

TDkCbmEntry Add(TDkCbmImageWriter& writer, const std::string& name, std::size_t length) {
  return DkCbmAddFile(writer, writer.DirTrack(), writer.FirstDirSector(),
                      Bytes(name.begin(), name.end()), cftPRG, PatternBytes(length, 3));
}

TEST(DnpWriter, BlocksFollowEachOtherFromSector64WithMsbFirstBits) {
  Bytes bytes = BlankDnp(80);
  auto writer = TDkDnpWriter::FromBytes(bytes);
  std::tm fixed{};
  fixed.tm_year = 126;
  fixed.tm_mon = 11;
  fixed.tm_mday = 6;
  fixed.tm_hour = 8;
  fixed.tm_min = 15;
  writer->SetClock([fixed] { return fixed; });
  EXPECT_EQ(writer->FormatName(), "DNP (80 tracks)");
  const int free_before = writer->FreeBlocks();
  const TDkCbmEntry entry = Add(*writer, "STAMPED", 3 * 254);
  EXPECT_EQ(entry.FirstTrack, 1);
  EXPECT_EQ(entry.FirstSector, 64);
  EXPECT_EQ(writer->ReadSector(1, 64)[1], 65);
  EXPECT_EQ(writer->ReadSector(1, 65)[1], 66);
  EXPECT_EQ(writer->FreeBlocks(), free_before - 3);
  // Sector 64 of track 1 is bit 7 of the ninth bitmap byte of track 1 (1/2 offset 32 + 8).
  EXPECT_EQ(bytes[512 + 32 + 8], 0x1F);
  const Bytes dir = writer->ReadSector(entry.Location.Track, entry.Location.Sector);
  const std::size_t at = static_cast<std::size_t>(32 * entry.Location.Index);
  EXPECT_EQ((Bytes(dir.begin() + at + 24, dir.begin() + at + 30)), (Bytes{0, 126, 12, 6, 8, 15}));
  // The ninth entry takes one more directory sector: the first free one after 1/34 on its track,
  // past the blocks of the files written so far (1/64 to 1/73); the search reaches a free sector
  // just below 1/34 only after wrapping round.
  writer->SetSectorFree(1, 33, true);
  TDkCbmEntry ninth;
  for (int i = 2; i <= 9; ++i) ninth = Add(*writer, "F" + std::to_string(i), 10);
  EXPECT_EQ(std::make_tuple(ninth.Location.Track, ninth.Location.Sector, ninth.Location.Index),
            std::make_tuple(1, 74, 0));
  EXPECT_EQ(writer->FreeBlocks(), free_before - 3 - 8 - 1);
}

TEST(DnpWriter, AFileRunsOnFromTrackToTrackWithoutGaps) {
  Bytes bytes = BlankDnp(4);
  auto writer = TDkDnpWriter::FromBytes(bytes);
  Add(*writer, "LONG", (192 + 3) * 254);  // 1/64-1/255, then 2/0-2/2
  EXPECT_EQ(writer->ReadSector(1, 255)[0], 2);
  EXPECT_EQ(writer->ReadSector(1, 255)[1], 0);
  EXPECT_EQ(writer->ReadSector(2, 0)[1], 1);
  EXPECT_EQ(writer->ReadSector(2, 1)[1], 2);
}

TEST(DnpWriter, TheLastFreeBlockOfANearlyFullDiskIsFound) {
  // The search from track 1 skips full tracks whole and still reaches 80/255, the last sector it
  // looks at.
  Bytes bytes = BlankDnp(80);
  std::fill(bytes.begin() + 544, bytes.begin() + 544 + 32 * 80, 0);
  bytes[544 + 32 * 79 + 31] = 0x01;
  auto writer = TDkDnpWriter::FromBytes(bytes);
  ASSERT_EQ(writer->FreeBlocks(), 1);
  const TDkCbmEntry entry = Add(*writer, "LAST", 10);
  EXPECT_EQ(std::make_pair(entry.FirstTrack, entry.FirstSector), std::make_pair(80, 255));
  EXPECT_EQ(writer->FreeBlocks(), 0);
}

TEST(DnpWriter, ReadOnlyReasons) {
  Bytes old = BlankDnp(4, false);
  auto old_writer = TDkDnpWriter::FromBytes(old);
  EXPECT_TRUE(old_writer->IsOldLayout());
  EXPECT_EQ(MessageOf<EDkCbmConstraintViolation>([&] { Add(*old_writer, "NO", 1); }),
            "This DNP has an old layout a CMD drive cannot read. It stays read-only until it is "
            "converted.");
  Bytes huge = BlankDnp(256);
  auto huge_writer = TDkDnpWriter::FromBytes(huge);
  EXPECT_EQ(huge_writer->ReadOnlyReason(),
            "A DNP of 256 tracks cannot be written: a CMD partition holds at most 255.");
  EXPECT_GT(huge_writer->FreeBlocks(), 0);  // still answers queries
  Bytes bad(65537);
  EXPECT_EQ(
      MessageOf([&] { TDkDnpWriter::FromBytes(bad); }),
      "Unrecognized DNP size: 65537 bytes. Expected a multiple of 65536 bytes, 1 to 256 tracks.");
}

TEST(DnpWriter, AFullSizePartitionKeepsTheDirectoryOnItsLastTrack) {
  // 255 tracks, the most a CMD partition holds: a directory sector on track 255 and a file in
  // sector 255 of track 2, the last sectors of their tracks, are in use though the BAM calls
  // them free.
  Bytes bytes = BlankDnp(255);
  auto writer = TDkDnpWriter::FromBytes(bytes);
  EXPECT_EQ(writer->ReadOnlyReason(), "");
  SectorEditor disk(bytes, FlatOffset);
  disk.Link(writer->DirTrack(), writer->FirstDirSector(), 255, 255);
  disk.Link(255, 255, 0, 255);
  disk.PutEntry(255, 255, 0, {"LAST", 0x82, 2, 255, 1});
  disk.Link(2, 255, 0, 10);
  TDkSectorOccupancy map;
  DkCbmBuildOccupancy(*writer, writer->DirTrack(), writer->FirstDirSector(), map);
  EXPECT_EQ(map.At(255, 255), 1);
  EXPECT_EQ(map.At(2, 255), 1);
  EXPECT_EQ(DkCbmCountHiddenUsed(*writer, map), 2);
}

TEST(DnpWriter, ADirectoryOf256SectorsIsSearchedToItsEnd) {
  // The root directory runs from 1/34 through 256 sectors to 2/33; only the last slot is free.
  Bytes bytes = BlankDnp(2);
  SectorEditor disk(bytes, FlatOffset);
  for (int k = 0; k < 256; ++k) {
    const int block = 34 + k;
    const auto sector = disk.Sector(1 + block / 256, block % 256);
    for (int e = 0; e < 8; ++e) sector[static_cast<std::size_t>(32 * e + 2)] = 0x82;
    disk.Link(1 + block / 256, block % 256, k < 255 ? 1 + (block + 1) / 256 : 0,
              k < 255 ? (block + 1) % 256 : 255);
  }
  disk.Sector(2, 33)[32 * 7 + 2] = 0;
  auto writer = TDkDnpWriter::FromBytes(bytes);
  int track = 0, sector = 0, slot = 0;
  DkCbmFindFreeSlot(*writer, 1, 34, track, sector, slot);
  EXPECT_EQ(std::make_tuple(track, sector, slot), std::make_tuple(2, 33, 7));
  // The sectors in use are found through the same 256 sectors and no further: a file named in
  // the last is protected, one named in a 257th directory sector is not reached.
  disk.PutEntry(2, 33, 6, {"IN", 0x82, 2, 200, 1});
  disk.Link(2, 33, 2, 34);
  disk.PutEntry(2, 34, 0, {"PAST", 0x82, 2, 210, 1});
  TDkSectorOccupancy map;
  DkCbmBuildOccupancy(*writer, 1, 34, map);
  EXPECT_EQ(map.At(2, 200), 1);
  EXPECT_EQ(map.At(2, 210), 0);
}

TEST(DfiWriter, UsedBitsAndADirectoryConfinedToTrackOneSectors2To15) {
  Bytes bytes = BlankDfi(2);
  auto writer = TDkDfiWriter::FromBytes(bytes);
  const TDkCbmEntry entry = Add(*writer, "FIRST", 254);
  EXPECT_EQ(entry.FirstTrack, 1);
  EXPECT_EQ(entry.FirstSector, 48);
  EXPECT_EQ(bytes[0x1000 + 6] & 0x01, 0x01);  // sector 48: bit 0 of byte 6, set = used
  EXPECT_EQ(writer->FreeBlocks(), 512 - 5);
  for (int i = 0; i < 13 * 8 + 7; ++i) Add(*writer, "F" + std::to_string(i), 0);
  EXPECT_EQ(MessageOf<EDkCbmConstraintViolation>([&] { Add(*writer, "ONE MORE", 0); }),
            "Directory is full on this DFI image.");
  EXPECT_EQ(DkOpenImage(bytes, "x.dfi", false)->Entries().size(), 14u * 8u);

  // Every track keeps its 32 bitmap bytes in turn from sector 1/16 on (tracks 9 and up in 1/17):
  // a file across ten tracks is counted alike by the writer and the reader, and the reader's
  // bits are the writer's.
  Bytes wide = BlankDfi(10);
  auto wide_writer = TDkDfiWriter::FromBytes(wide);
  const int free_before = wide_writer->FreeBlocks();
  const Bytes content = PatternBytes(254 * 2400, 5);
  const TDkCbmEntry big =
      DkCbmAddFile(*wide_writer, wide_writer->DirTrack(), wide_writer->FirstDirSector(),
                   Bytes{'B', 'I', 'G'}, cftPRG, content);
  EXPECT_EQ(wide_writer->FreeBlocks(), free_before - 2400);
  const auto reread = DkOpenImage(wide, "x.dfi", false);
  EXPECT_EQ(reread->FreeBlocks(), free_before - 2400);
  EXPECT_EQ(reread->ReadFile(big), content);
  const Bytes blank_wide = BlankDfi(10);
  const auto used_bits = [](const Bytes& image, int track) {
    const std::size_t bitmap = 0x1000 + 32 * static_cast<std::size_t>(track - 1);
    int used = 0;
    for (std::size_t b = 0; b < 32; ++b) used += std::popcount(image[bitmap + b]);
    return used;
  };
  // Track 1 from sector 48 on, then tracks 2 to 9 whole, the rest on track 10.
  EXPECT_EQ(used_bits(wide, 1), used_bits(blank_wide, 1) + 256 - 48);
  for (int track = 2; track <= 10; ++track) {
    EXPECT_EQ(used_bits(wide, track), track <= 9 ? 256 : 2400 - (256 - 48) - 8 * 256)
        << "track " << track;
  }

  Bytes moved = BlankDfi(1);
  for (const int first : {1, 16, 20}) {
    moved[257] = static_cast<std::uint8_t>(first);
    EXPECT_EQ(TDkDfiWriter::FromBytes(moved)->ReadOnlyReason(),
              Format("This DFI's directory starts at 1/%d, outside T1/S2-15; it stays read-only.",
                     first));
  }
  moved[257] = 15;
  EXPECT_EQ(TDkDfiWriter::FromBytes(moved)->ReadOnlyReason(), "");
  // A sector link names tracks up to 255.
  Bytes largest = BlankDfi(255);
  EXPECT_EQ(TDkDfiWriter::FromBytes(largest)->ReadOnlyReason(), "");
  Bytes too_large = BlankDfi(256);
  EXPECT_EQ(TDkDfiWriter::FromBytes(too_large)->ReadOnlyReason(),
            "A DFI of 256 tracks cannot be written: a sector link names at most track 255.");
}

// The header sector of a 1581 partition at (track, sector).
void PutPartitionHeader(SectorEditor& editor, int track, int sector) {
  auto header = editor.Sector(track, sector);
  header[0] = static_cast<std::uint8_t>(track);
  header[1] = 3;
  header[2] = 'D';
  header[3] = 0;
  header[20] = header[21] = header[24] = 0xA0;
  header[25] = '3';
  header[26] = 'D';
}

// An entry in slot `slot` of (track, sector) naming an old-layout partition whose header is at
// (header_track, header_sector).
void NameOldPartition(SectorEditor& editor, int track, int sector, int slot, int header_track,
                      int header_sector) {
  editor.PutEntry(track, sector, slot, {"OLD", 0x85, header_track, header_sector, 80});
  PutPartitionHeader(editor, header_track, header_sector);
}

// A D81 with one partition entry on the root directory.
Bytes D81WithPartition(int track, int sector, int blocks, bool header_at_start) {
  Bytes bytes = BlankD81();
  SectorEditor editor(bytes, D81Offset);
  editor.PutEntry(40, 3, 0, {"PART", 0x85, track, sector, blocks});
  if (header_at_start) {
    PutPartitionHeader(editor, track, sector);
  }
  return bytes;
}

TEST(D81Writer, OldPartitionLayoutsStayReadOnly) {
  Bytes current = D81WithPartition(10, 0, 160, true);
  EXPECT_FALSE(TDkD81Writer::FromBytes(current)->IsOldLayout());
  Bytes odd_blocks = D81WithPartition(10, 0, 100, true);
  auto writer = TDkD81Writer::FromBytes(odd_blocks);
  EXPECT_TRUE(writer->IsOldLayout());
  EXPECT_EQ(MessageOf<EDkCbmConstraintViolation>([&] { Add(*writer, "NO", 1); }),
            "This D81 has a partition in an old layout a 1581 cannot read. It stays read-only "
            "until it is "
            "converted.");
  Bytes odd_start = D81WithPartition(10, 5, 160, true);
  EXPECT_TRUE(TDkD81Writer::FromBytes(odd_start)->IsOldLayout());
  // Each field of a header at its limits and one past them: its directory's track 1-80 and
  // sector 0-39, "D", 0, the $A0 fillers and "3D".
  const struct {
    std::size_t at;
    std::uint8_t value;
    bool header;
  } fields[] = {{0, 1, true},     {0, 80, true},    {0, 0, false},    {0, 81, false},
                {1, 39, true},    {1, 40, false},   {2, 'E', false},  {3, 1, false},
                {20, ' ', false}, {21, ' ', false}, {24, ' ', false}, {25, '2', false},
                {26, 'E', false}};
  for (const auto& field : fields) {
    Bytes bytes = odd_start;
    SectorEditor(bytes, D81Offset).Sector(10, 5)[field.at] = field.value;
    EXPECT_EQ(TDkD81Writer::FromBytes(bytes)->IsOldLayout(), field.header)
        << field.at << " " << int{field.value};
  }
  // A link to track 81 is not followed, though with an error block there are bytes where its
  // first sectors would be: an old partition named in them is not seen.
  Bytes with_errors = BlankD81(true);
  SectorEditor errors(with_errors, D81Offset);
  errors.Link(40, 3, 81, 0);
  NameOldPartition(errors, 81, 0, 0, 10, 5);
  EXPECT_FALSE(TDkD81Writer::FromBytes(with_errors)->IsOldLayout());
  // A partition header may stand on track 1; an entry naming sector 40, which a 1581 track lacks,
  // names none, though the next track's sector 0 (where its bytes would be) holds one.
  for (const auto& [track, sector, found] : {std::tuple{1, 0, true}, {10, 40, false}}) {
    Bytes bytes = BlankD81();
    SectorEditor editor(bytes, D81Offset);
    editor.PutEntry(40, 3, 0, {"OLD", 0x85, track, sector, 80});
    PutPartitionHeader(editor, track + sector / 40, sector % 40);
    EXPECT_EQ(TDkD81Writer::FromBytes(bytes)->IsOldLayout(), found) << track << "/" << sector;
  }
  // Nor one to sector 40, which a 1581 track lacks: its bytes would be the next track's sector 0,
  // where a link to 41/0 does find the old partition.
  for (const auto& [link_track, link_sector, found] : {std::tuple{41, 0, true}, {40, 40, false}}) {
    Bytes bytes = BlankD81();
    SectorEditor editor(bytes, D81Offset);
    editor.Link(40, 3, link_track, link_sector);
    NameOldPartition(editor, 41, 0, 0, 10, 5);
    EXPECT_EQ(TDkD81Writer::FromBytes(bytes)->IsOldLayout(), found) << link_sector;
  }
  // The smallest partition a 1581 makes, 120 blocks, is searched inside like a larger one, here
  // on the disk's first track.
  Bytes smallest = D81WithPartition(1, 0, 120, false);
  SectorEditor small_editor(smallest, D81Offset);
  small_editor.Link(1, 3, 0, 255);
  NameOldPartition(small_editor, 1, 3, 0, 2, 7);
  EXPECT_TRUE(TDkD81Writer::FromBytes(smallest)->IsOldLayout());
  Bytes no_header = D81WithPartition(10, 5, 100, false);
  EXPECT_FALSE(TDkD81Writer::FromBytes(no_header)->IsOldLayout());
  // Nested: an odd partition inside a current one (tracks 10-13) is found by searching inside,
  // here in a directory sector on the partition's last track.
  Bytes nested = D81WithPartition(10, 0, 160, false);
  SectorEditor editor(nested, D81Offset);
  editor.Link(10, 3, 13, 0);
  editor.Link(13, 0, 0, 255);
  NameOldPartition(editor, 13, 0, 0, 11, 7);
  EXPECT_TRUE(TDkD81Writer::FromBytes(nested)->IsOldLayout());
  // A partition reaching the directory track (here 31-40) is none a 1581 makes: not searched.
  for (const int first : {30, 31}) {
    Bytes over = D81WithPartition(first, 0, 400, false);
    SectorEditor over_editor(over, D81Offset);
    over_editor.Link(first, 3, 0, 255);
    NameOldPartition(over_editor, first, 3, 0, first + 1, 7);
    EXPECT_EQ(TDkD81Writer::FromBytes(over)->IsOldLayout(), first == 30) << first;
  }
}

// Partitions nested `levels` deep (level k on tracks 40 + k to 80, its directory at its first
// track's sector 3), the innermost directory naming an old-layout partition header at 80/7.
Bytes D81WithNestedPartitions(int levels) {
  Bytes bytes = BlankD81();
  SectorEditor editor(bytes, D81Offset);
  for (int k = 1; k <= levels; ++k) {
    editor.PutEntry(k == 1 ? 40 : 39 + k, 3, 0, {"PART", 0x85, 40 + k, 0, (41 - k) * 40});
    editor.Link(40 + k, 3, 0, 255);
  }
  NameOldPartition(editor, 40 + levels, 3, 1, 80, 7);
  return bytes;
}

TEST(D81Writer, TheOldLayoutSearchHasBoundedDepthAndLength) {
  // Partitions inside partitions are searched seven levels down, not further.
  for (const int levels : {7, 8}) {
    Bytes bytes = D81WithNestedPartitions(levels);
    EXPECT_EQ(TDkD81Writer::FromBytes(bytes)->IsOldLayout(), levels == 7);
  }

  // A directory chain is followed for 256 sectors: an old partition named in the 257th is not
  // seen (as a chain that loops ends there).
  for (const int length : {256, 257}) {
    Bytes bytes = BlankD81();
    SectorEditor editor(bytes, D81Offset);
    int track = 40, sector = 3;
    for (int k = 1; k < length; ++k) {
      const int next_track = 1 + (k - 1) / 39;
      const int next_sector = 1 + (k - 1) % 39;
      editor.Link(track, sector, next_track, next_sector);
      track = next_track;
      sector = next_sector;
    }
    editor.Link(track, sector, 0, 255);
    NameOldPartition(editor, track, sector, 0, 80, 7);
    EXPECT_EQ(TDkD81Writer::FromBytes(bytes)->IsOldLayout(), length == 256) << length;
  }
}

TEST(D81Writer, TracksInAscendingOrderAroundTheHeaderTrack) {
  Bytes bytes = BlankD81();
  auto writer = TDkD81Writer::FromBytes(bytes);
  const TDkCbmEntry entry = Add(*writer, "A", 41 * 254);
  EXPECT_EQ(entry.FirstTrack, 1);
  EXPECT_EQ(entry.FirstSector, 0);
  EXPECT_EQ(writer->FreeBlocks(), 3160 - 41);
  EXPECT_EQ(writer->ReadSector(1, 39)[0], 2);  // the 40th block goes on to track 2
}

// Track 40 holds 296 entries (40/3 to 40/39); the 297th goes into a free sector elsewhere, linked
// after 40/39.
TEST(D81Writer, TheDirectoryGoesOnPastTrack40) {
  Bytes bytes = BlankD81();
  SectorEditor editor(bytes, D81Offset);
  for (int s = 3; s <= 39; ++s) {
    for (int e = 0; e < 8; ++e) editor.Sector(40, s)[static_cast<std::size_t>(32 * e + 2)] = 0x82;
    editor.Link(40, s, s < 39 ? 40 : 0, s < 39 ? s + 1 : 255);
  }
  auto writer = TDkD81Writer::FromBytes(bytes);
  const TDkCbmEntry entry = Add(*writer, "NEW", 10);
  EXPECT_NE(entry.Location.Track, 40);
  const Bytes last = writer->ReadSector(40, 39);
  EXPECT_EQ(std::make_pair(int{last[0]}, int{last[1]}),
            std::make_pair(entry.Location.Track, entry.Location.Sector));
  EXPECT_EQ(DkOpenImage(bytes, "x.d81", false)->Entries().size(), 297u);
}

TEST(WriterSelection, FormatsReasonsAndRefusals) {
  Bytes d64 = BlankD64();
  EXPECT_EQ(DkOpenWriter(d64, "x.bin")->FormatName(), "D64");
  Bytes g64 = {'G', 'C', 'R', '-', '1', '5', '4', '1', 0, 0, 0, 0};
  EXPECT_EQ(MessageOf<EDkUnsupportedImageFormat>([&] { DkOpenWriter(g64, "x.g64"); }),
            "Image format G64 is not supported.");
  Bytes junk(1234);
  EXPECT_EQ(MessageOf<EDkCbmImageFormatError>([&] { DkOpenWriter(junk, "x.bin"); }),
            "Unrecognized disk-image size: 1234 bytes.");
  EXPECT_EQ(DkWriteBlockReason("x.d64", 174848), "");
  EXPECT_EQ(DkWriteBlockReason("x.g64", 5000), "Unrecognized disk-image size: 5000 bytes.");
  EXPECT_EQ(DkReadOnlyReasonText(cifD80),
            "This D80 has old header and BAM links an 8050 cannot follow. It stays read-only until "
            "it is converted.");
  EXPECT_EQ(DkReadOnlyReasonText(cifD64), DkReadOnlyReasonText(cifDnp));
  Bytes old_d80 = BlankD80();
  SectorEditor(old_d80, D80Offset).Sector(38, 0)[3] = 255;
  EXPECT_TRUE(DkOpenWriter(old_d80, "x.d80")->IsOldLayout());  // no converter is installed
}

TEST(DropPreparation, NamesTypesAndPc64Files) {
  TDkPreparedFile prepared = DkPrepareDroppedFile("game.rel", Bytes(10, 1));
  EXPECT_EQ(prepared.CbmName, "game");
  EXPECT_EQ(prepared.FileType, cftPRG);
  EXPECT_TRUE(prepared.RawName.empty());
  EXPECT_EQ(DkPrepareDroppedFile("data.SEQ", {}).FileType, cftSEQ);
  // A name without a dot, or whose only dot leads it, has no extension: a program file.
  EXPECT_EQ(DkPrepareDroppedFile("README", {}).FileType, cftPRG);
  EXPECT_EQ(DkPrepareDroppedFile(".seq", {}).FileType, cftPRG);

  Bytes p00(26, 0);
  std::memcpy(p00.data(), "C64File", 7);
  p00[8] = 'H';
  p00[9] = 0xC9;
  p00.push_back(42);
  prepared = DkPrepareDroppedFile("hi.s00", p00);
  EXPECT_EQ(prepared.RawName, (Bytes{'H', 0xC9}));
  EXPECT_EQ(prepared.CbmName, "HI");
  EXPECT_EQ(prepared.FileType, cftSEQ);
  EXPECT_EQ(prepared.Content, Bytes{42});

  EXPECT_EQ(DkBlocksForBytes(0, cftDEL), 0);
  EXPECT_EQ(DkBlocksForBytes(0, cftSEQ), 1);
  EXPECT_EQ(DkBlocksForBytes(255, cftPRG), 2);
}

TEST(DropPreparation, SpacePlanCountsDirectorySectors) {
  Bytes bytes = BlankD64();
  auto writer = DkOpenWriter(bytes, "x.d64");
  for (int i = 0; i < 5; ++i) Add(*writer, "F" + std::to_string(i), 0);  // 3 free slots left
  std::vector<TDkCbmSpaceSource> sources(20, {cftPRG, 300});
  sources.push_back({cftREL, 5000});  // counted neither as blocks nor as an entry
  TDkSpacePlan plan = DkPlanSpace(*writer, sources);
  EXPECT_EQ(plan.Blocks, 40);
  EXPECT_EQ(plan.DirSectors, 3);
  EXPECT_EQ(plan.Total, 43);
  EXPECT_EQ(plan.Free, 664 - 5);
  EXPECT_TRUE(DkPlanFits(plan));
  // Eight entries more than the free slots fill exactly one new sector.
  EXPECT_EQ(DkPlanSpace(*writer, std::vector<TDkCbmSpaceSource>(11, {cftPRG, 1})).DirSectors, 1);
  plan = DkPlanSpace(*writer, {{cftPRG, 700 * 254}});
  EXPECT_EQ(plan.DirSectors, 0);
  EXPECT_FALSE(DkPlanFits(plan));
  plan.Total = plan.Free;
  EXPECT_TRUE(DkPlanFits(plan));

  // A directory is walked for 256 sectors: a full one that ends there needs a new sector for
  // two more entries; one that goes on past them is taken as no room to plan with.
  for (const int length : {256, 257}) {
    Bytes dnp = BlankDnp(4);
    SectorEditor editor(dnp, FlatOffset);
    int track = 1, sector = 34;  // the root directory's first sector
    for (int k = 1; k <= length; ++k) {
      for (int slot = 0; slot < 8; ++slot) editor.Sector(track, sector)[2 + 32 * slot] = 0x82;
      const int next_track = 2 + k / 256, next_sector = k % 256;
      editor.Link(track, sector, k < length ? next_track : 0, k < length ? next_sector : 255);
      track = next_track;
      sector = next_sector;
    }
    auto dnp_writer = DkOpenWriter(dnp, "x.dnp");
    EXPECT_EQ(DkPlanSpace(*dnp_writer, std::vector<TDkCbmSpaceSource>(2, {cftPRG, 1})).DirSectors,
              length == 256 ? 1 : 0)
        << length;
  }
}

}  // namespace
}  // namespace kelvane
