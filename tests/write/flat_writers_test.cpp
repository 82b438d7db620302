// D81, DNP and DFI writers, writer selection and drop preparation.
#include "write/flat_writers.h"

#include <gtest/gtest.h>

#include <bit>
#include <cstring>

#include "cbm/errors.h"
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
  Bytes bytes = BlankDnp(4);
  auto writer = TDkDnpWriter::FromBytes(bytes);
  std::tm fixed{};
  fixed.tm_year = 126;
  fixed.tm_mon = 11;
  fixed.tm_mday = 6;
  fixed.tm_hour = 8;
  fixed.tm_min = 15;
  writer->SetClock([fixed] { return fixed; });
  const TDkCbmEntry entry = Add(*writer, "LONG", (192 + 3) * 254);  // 1/64-1/255, then 2/0-2/2
  EXPECT_EQ(std::make_pair(entry.FirstTrack, entry.FirstSector), std::make_pair(1, 64));
  EXPECT_EQ(writer->ReadSector(1, 64)[1], 65);
  EXPECT_EQ(writer->ReadSector(1, 255)[0], 2);
  EXPECT_EQ(writer->ReadSector(1, 255)[1], 0);
  EXPECT_EQ(writer->ReadSector(2, 0)[1], 1);
  // Sector 64 of track 1 is bit 7 of the ninth bitmap byte of track 1 (1/2 offset 32 + 8).
  EXPECT_EQ(bytes[512 + 32 + 8], 0x00);
  EXPECT_EQ(bytes[512 + 64 + 0], 0x1F);  // track 2: sectors 0-2 used
  const Bytes dir = writer->ReadSector(entry.Location.Track, entry.Location.Sector);
  EXPECT_EQ((Bytes(dir.begin() + 24, dir.begin() + 30)), (Bytes{0, 126, 12, 6, 8, 15}));

  Bytes old = BlankDnp(4, false);
  EXPECT_EQ(
      MessageOf<EDkCbmConstraintViolation>([&] { Add(*TDkDnpWriter::FromBytes(old), "X", 1); }),
      "This DNP has an old layout a CMD drive cannot read. It stays read-only until it is "
      "converted.");
  Bytes huge = BlankDnp(256);
  EXPECT_EQ(TDkDnpWriter::FromBytes(huge)->ReadOnlyReason(),
            "A DNP of 256 tracks cannot be written: a CMD partition holds at most 255.");
}

TEST(DfiWriter, UsedBitsAndADirectoryConfinedToTrackOneSectors2To15) {
  Bytes bytes = BlankDfi(2);
  auto writer = TDkDfiWriter::FromBytes(bytes);
  const TDkCbmEntry entry = Add(*writer, "FIRST", 254);
  EXPECT_EQ(std::make_pair(entry.FirstTrack, entry.FirstSector), std::make_pair(1, 48));
  EXPECT_EQ(bytes[0x1000 + 6] & 0x01, 0x01);  // sector 48: bit 0 of byte 6, set = used
  for (int i = 0; i < 13 * 8 + 7; ++i) Add(*writer, "F" + std::to_string(i), 0);
  EXPECT_EQ(MessageOf<EDkCbmConstraintViolation>([&] { Add(*writer, "ONE MORE", 0); }),
            "Directory is full on this DFI image.");

  // Every track keeps its 32 bitmap bytes in turn from sector 1/16 on (tracks 9 and up in 1/17):
  // a file across ten tracks is counted alike by the writer and the reader.
  Bytes wide = BlankDfi(10);
  auto wide_writer = TDkDfiWriter::FromBytes(wide);
  const int free_before = wide_writer->FreeBlocks();
  const TDkCbmEntry big = Add(*wide_writer, "BIG", 254 * 2400);
  const auto reread = DkOpenImage(wide, "x.dfi", false);
  EXPECT_EQ(reread->FreeBlocks(), free_before - 2400);
  EXPECT_EQ(wide_writer->FreeBlocks(), free_before - 2400);
  EXPECT_EQ(reread->ReadFile(big), PatternBytes(254 * 2400, 3));
  int used_on_10 = 0;
  for (std::size_t b = 0; b < 32; ++b) used_on_10 += std::popcount(wide[0x1000 + 32 * 9 + b]);
  EXPECT_EQ(used_on_10, 2400 - (256 - 48) - 8 * 256);

  // The directory must start in T1/S2-15.
  Bytes moved = BlankDfi(1);
  for (const int first : {1, 2, 15, 16}) {
    moved[257] = static_cast<std::uint8_t>(first);
    EXPECT_EQ(TDkDfiWriter::FromBytes(moved)->ReadOnlyReason().empty(), first >= 2 && first <= 15)
        << first;
  }
  EXPECT_EQ(TDkDfiWriter::FromBytes(moved)->ReadOnlyReason(),
            "This DFI's directory starts at 1/16, outside T1/S2-15; it stays read-only.");
}

// The header sector of a 1581 partition at (track, sector).
void PutPartitionHeader(SectorEditor& editor, int track, int sector) {
  auto header = editor.Sector(track, sector);
  header[0] = static_cast<std::uint8_t>(track);
  header[1] = 3;
  header[2] = 'D';
  header[20] = header[21] = header[24] = 0xA0;
  header[25] = '3';
  header[26] = 'D';
}

// A D81 with one partition entry on the root directory.
Bytes D81WithPartition(int track, int sector, int blocks, bool header_at_start) {
  Bytes bytes = BlankD81();
  SectorEditor editor(bytes, D81Offset);
  editor.PutEntry(40, 3, 0, {"PART", 0x85, track, sector, blocks});
  if (header_at_start) PutPartitionHeader(editor, track, sector);
  return bytes;
}

// A partition a 1581 would not make (not whole tracks) whose first block is a partition header
// is an old layout the writer must not touch; partitions of whole tracks are searched inside.
TEST(D81Writer, OldPartitionLayoutsStayReadOnly) {
  struct Case {
    const char* what;
    Bytes bytes;
    bool old;
  };
  Bytes nested = D81WithPartition(10, 0, 160, false);
  SectorEditor editor(nested, D81Offset);
  editor.Link(10, 3, 13, 0);
  editor.Link(13, 0, 0, 255);
  editor.PutEntry(13, 0, 0, {"OLD", 0x85, 11, 7, 80});
  PutPartitionHeader(editor, 11, 7);
  for (const Case& c : {Case{"whole tracks", D81WithPartition(10, 0, 160, true), false},
                        Case{"odd size", D81WithPartition(10, 0, 100, true), true},
                        Case{"odd start", D81WithPartition(10, 5, 160, true), true},
                        Case{"odd but no header", D81WithPartition(10, 5, 100, false), false},
                        Case{"inside a partition", nested, true}}) {
    Bytes bytes = c.bytes;
    EXPECT_EQ(TDkD81Writer::FromBytes(bytes)->IsOldLayout(), c.old) << c.what;
  }
  // A partition header is known by its signature: a directory link to a 1581 sector, "D", 0,
  // the $A0 fillers and "3D"; any of them otherwise and the block is none.
  for (const auto& [at, value] : {std::pair<std::size_t, std::uint8_t>{0, 0},
                                  {0, 81},
                                  {1, 40},
                                  {2, 'E'},
                                  {3, 1},
                                  {20, ' '},
                                  {21, ' '},
                                  {24, ' '},
                                  {25, '2'},
                                  {26, 'E'}}) {
    Bytes spoilt = D81WithPartition(10, 5, 160, true);
    SectorEditor(spoilt, D81Offset).Sector(10, 5)[at] = value;
    EXPECT_FALSE(TDkD81Writer::FromBytes(spoilt)->IsOldLayout()) << at << " " << int{value};
  }
  // The smallest partition a 1581 makes, 120 blocks, is searched inside like a larger one.
  Bytes smallest = D81WithPartition(1, 0, 120, false);
  SectorEditor inside(smallest, D81Offset);
  inside.Link(1, 3, 0, 255);
  inside.PutEntry(1, 3, 0, {"OLD", 0x85, 2, 7, 80});
  PutPartitionHeader(inside, 2, 7);
  EXPECT_TRUE(TDkD81Writer::FromBytes(smallest)->IsOldLayout());
  Bytes odd = D81WithPartition(10, 0, 100, true);
  EXPECT_EQ(
      MessageOf<EDkCbmConstraintViolation>([&] { Add(*TDkD81Writer::FromBytes(odd), "X", 1); }),
      "This D81 has a partition in an old layout a 1581 cannot read. It stays read-only "
      "until it is converted.");
}

TEST(D81Writer, TracksInAscendingOrderAndTheDirectoryGoesOnPastTrack40) {
  Bytes bytes = BlankD81();
  auto writer = TDkD81Writer::FromBytes(bytes);
  const TDkCbmEntry first = Add(*writer, "A", 41 * 254);
  EXPECT_EQ(std::make_pair(first.FirstTrack, first.FirstSector), std::make_pair(1, 0));
  EXPECT_EQ(writer->ReadSector(1, 39)[0], 2);  // the 40th block goes on to track 2

  // Track 40 holds 296 entries (40/3 to 40/39); the 297th goes into a free sector elsewhere,
  // linked after 40/39.
  SectorEditor editor(bytes, D81Offset);
  for (int s = 3; s <= 39; ++s) {
    for (int e = 0; e < 8; ++e) editor.Sector(40, s)[static_cast<std::size_t>(32 * e + 2)] = 0x82;
    editor.Link(40, s, s < 39 ? 40 : 0, s < 39 ? s + 1 : 255);
  }
  const TDkCbmEntry entry = Add(*writer, "NEW", 10);
  EXPECT_NE(entry.Location.Track, 40);
  const Bytes last = writer->ReadSector(40, 39);
  EXPECT_EQ(std::make_pair(int{last[0]}, int{last[1]}),
            std::make_pair(entry.Location.Track, entry.Location.Sector));
  EXPECT_EQ(DkOpenImage(bytes, "x.d81", false)->Entries().size(), 297u);
}

TEST(WriterSelection, FormatsAndRefusals) {
  Bytes d64 = BlankD64();
  EXPECT_EQ(DkOpenWriter(d64, "x.bin")->FormatName(), "D64");
  Bytes g64 = {'G', 'C', 'R', '-', '1', '5', '4', '1', 0, 0, 0, 0};
  EXPECT_EQ(MessageOf<EDkUnsupportedImageFormat>([&] { DkOpenWriter(g64, "x.g64"); }),
            "Image format G64 is not supported.");
  Bytes junk(1234);
  EXPECT_THROW(DkOpenWriter(junk, "x.bin"), EDkCbmImageFormatError);
  EXPECT_EQ(DkWriteBlockReason("x.d64", 174848), "");
  EXPECT_EQ(DkWriteBlockReason("x.g64", 5000), "Unrecognized disk-image size: 5000 bytes.");
}

TEST(DropPreparation, NamesTypesAndPc64Files) {
  TDkPreparedFile prepared = DkPrepareDroppedFile("game.rel", Bytes(10, 1));
  EXPECT_EQ(prepared.CbmName, "game");
  EXPECT_EQ(prepared.FileType, cftPRG);
  EXPECT_EQ(DkPrepareDroppedFile("data.SEQ", {}).FileType, cftSEQ);
  EXPECT_EQ(DkPrepareDroppedFile(".seq", {}).FileType, cftPRG);

  prepared = DkPrepareDroppedFile("hi.s00", Pc64Bytes(Bytes{'H', 0xC9}, Bytes{42}));
  EXPECT_EQ(prepared.RawName, (Bytes{'H', 0xC9}));
  EXPECT_EQ(prepared.FileType, cftSEQ);
  EXPECT_EQ(prepared.Content, Bytes{42});
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
  EXPECT_FALSE(DkPlanFits(DkPlanSpace(*writer, {{cftPRG, 700 * 254}})));
  // Blocks of empty files: a DEL none, any other one.
  EXPECT_EQ(DkPlanSpace(*writer, {{cftDEL, 0}, {cftSEQ, 0}, {cftPRG, 255}}).Blocks, 3);
}

}  // namespace
}  // namespace kelvane
