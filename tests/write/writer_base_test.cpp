#include "write/writer_base.h"

#include <gtest/gtest.h>

#include "cbm/errors.h"
#include "support/messages.h"

namespace kelvane {
namespace {

using testing::MessageOf;

// A small disk for the base's own logic: 4 tracks of 8 sectors; header and BAM in 1/0 (count at
// 4 * track, one bitmap byte after it, bit set = free); directory from 1/1.
class TestWriter : public TDkCbmImageWriter {
 public:
  explicit TestWriter(Bytes& bytes) : TDkCbmImageWriter(bytes) {}
  bool read_only = false;

  void LocateBam(TDkBamLocation& location, int track) const override {
    location.Track = track;
    if (track < 1 || track > 4) return;
    location.BitmapPresent = location.CountPresent = true;
    location.BitmapTrack = location.CountTrack = 1;
    location.BitmapSector = location.CountSector = 0;
    location.CountOffset = 4 * track;
    location.BitmapOffset = 4 * track + 1;
  }
  void CheckWritable() const override {
    if (read_only) throw EDkCbmConstraintViolation("read-only");
  }
  int HeaderTrack() const override { return 1; }
  int HeaderSector() const override { return 0; }
  int TrackCount() const override { return 4; }
  int SectorsOnTrack(int track) const override { return track >= 1 && track <= 4 ? 8 : 0; }
  int RawSectorOffset(int track, int sector) const override {
    return ((track - 1) * 8 + sector) * 256;
  }
  std::string FormatName() const override { return "TST"; }
  std::string DriveName() const override { return "test drive"; }
  int DirTrack() const override { return 1; }
  int FirstDirSector() const override { return 1; }
  bool AllocateDataSector(int, int, int&, int&) override { return false; }
  int FreeBlocks() const override { return 0; }
  bool ExtendDirectory(int, int, int&, int&, int&) override { return false; }
};

Bytes BlankTestDisk() {
  Bytes bytes(4 * 8 * 256, 0);
  for (int t = 1; t <= 4; ++t) {
    bytes[static_cast<std::size_t>(4 * t)] = 8;
    bytes[static_cast<std::size_t>(4 * t + 1)] = 0xFF;
  }
  bytes[256 + 1] = 255;  // directory 1/1: end of chain
  return bytes;
}

TEST(WriterBase, AddressingChecksInOrderAndWritesLandInTheCallersBytes) {
  Bytes bytes = BlankTestDisk();
  TestWriter writer(bytes);
  EXPECT_EQ(MessageOf<EDkCbmMalformedDisk>([&] { writer.SectorOffset(5, 0); }),
            "Track 5 out of range for TST.");
  EXPECT_EQ(MessageOf<EDkCbmMalformedDisk>([&] { writer.SectorOffset(2, 8); }),
            "Sector 8 out of range for track 2.");
  EXPECT_EQ(MessageOf<EDkCbmConstraintViolation>([&] { writer.WriteSector(2, 0, Bytes(255)); }),
            "A sector is 256 bytes; got 255.");
  writer.WriteSector(2, 3, Bytes(256, 0x5A));
  EXPECT_EQ(bytes[static_cast<std::size_t>((8 + 3) * 256 + 17)], 0x5A);
  EXPECT_EQ(writer.ReadSector(2, 3), Bytes(256, 0x5A));
  const Bytes copy = writer.ImageBytes();
  bytes[0] = 99;
  EXPECT_NE(copy[0], 99);

  // A truncated image: the geometry allows the sector, the bytes do not.
  Bytes truncated = BlankTestDisk();
  truncated.resize(truncated.size() - 1);
  TestWriter short_writer(truncated);
  EXPECT_EQ(MessageOf<EDkCbmMalformedDisk>([&] { short_writer.ReadSector(4, 7); }),
            "Sector T4/S7 past end of image.");

  // A read-only image refuses writes before any byte changes.
  writer.read_only = true;
  const Bytes before = bytes;
  EXPECT_THROW(writer.WriteSector(2, 0, Bytes(256, 1)), EDkCbmConstraintViolation);
  EXPECT_THROW(writer.MarkSectorUsed(2, 0), EDkCbmConstraintViolation);
  EXPECT_EQ(bytes, before);
}

TEST(WriterBase, BamBitsAndCounts) {
  Bytes bytes = BlankTestDisk();
  TestWriter writer(bytes);
  EXPECT_TRUE(writer.IsSectorFree(3, 5));
  writer.MarkSectorUsed(3, 5);
  EXPECT_FALSE(writer.IsSectorFree(3, 5));
  EXPECT_EQ(bytes[4 * 3], 7);
  EXPECT_EQ(bytes[4 * 3 + 1], 0xFF & ~(1 << 5));
  writer.MarkSectorUsed(3, 5);  // already used: neither bit nor count change
  EXPECT_EQ(bytes[4 * 3], 7);
  writer.SetSectorFree(3, 5, true);
  EXPECT_EQ(bytes[4 * 3], 8);
  EXPECT_EQ(bytes[4 * 3 + 1], 0xFF);

  // A count already at 0 stays 0; one at the maximum stays there.
  bytes[4 * 2] = 0;
  writer.MarkSectorUsed(2, 0);
  EXPECT_EQ(bytes[4 * 2], 0);
  bytes[4 * 4] = 8;
  bytes[4 * 4 + 1] = 0xFE;
  writer.SetSectorFree(4, 0, true);
  EXPECT_EQ(bytes[4 * 4], 8);

  // Protected sectors are never free, but changing them is not the map's business.
  TDkSectorOccupancy map;
  map.At(3, 1) = 1;
  writer.SetProtectedSectors(&map);
  EXPECT_FALSE(writer.IsSectorFree(3, 1));
  EXPECT_TRUE(writer.IsSectorFree(3, 2));
  writer.SetProtectedSectors(nullptr);
  EXPECT_TRUE(writer.IsSectorFree(3, 1));
  EXPECT_FALSE(writer.IsSectorFree(9, 0));  // no BAM for the track
}

TEST(WriterBase, SystemSectorMapAndDirectorySectors) {
  Bytes bytes = BlankTestDisk();
  TestWriter writer(bytes);
  // Directory 1/1 -> 1/4 -> back to 1/1: the loop is marked once and the walk ends.
  bytes[256 + 0] = 1;
  bytes[256 + 1] = 4;
  bytes[4 * 256 + 0] = 1;
  bytes[4 * 256 + 1] = 1;
  TDkSectorOccupancy map;
  map.At(3, 3) = 7;  // cleared by the build
  writer.BuildSystemSectorMap(1, 1, map);
  int marked = 0;
  for (const auto flag : map.Flags) marked += flag != 0;
  EXPECT_EQ(marked, 3);  // header/BAM 1/0, directory 1/1 and 1/4
  EXPECT_NE(map.At(1, 4), 0);
  EXPECT_EQ(map.At(3, 3), 0);
  // A link one past a track's last sector ends the walk: the bytes where that sector would be
  // (2/0) are not read as a directory sector.
  bytes[4 * 256 + 1] = 8;
  bytes[8 * 256 + 0] = 3;
  bytes[8 * 256 + 1] = 3;
  writer.BuildSystemSectorMap(1, 1, map);
  EXPECT_EQ(map.At(1, 8), 0);
  EXPECT_EQ(map.At(3, 3), 0);
  bytes[4 * 256 + 1] = 1;
  bytes[8 * 256 + 0] = bytes[8 * 256 + 1] = 0;

  // Claiming: 1/2 holds an entry, 1/3 is empty and gets linked after 1/4.
  bytes[2 * 256 + 2 + 32 * 5] = 0x82;
  int track = -1, sector = -1, slot = -1;
  ASSERT_TRUE(writer.ClaimEmptyDirSector(1, 4, track, sector, slot));
  EXPECT_EQ(track, 1);
  EXPECT_EQ(sector, 3);
  EXPECT_EQ(slot, 0);
  EXPECT_EQ(bytes[4 * 256 + 0], 1);
  EXPECT_EQ(bytes[4 * 256 + 1], 3);
  EXPECT_EQ(bytes[3 * 256 + 0], 0);
  EXPECT_EQ(bytes[3 * 256 + 1], 255);

  for (int s = 2; s < 8; ++s) bytes[static_cast<std::size_t>(s * 256 + 2)] = 0x81;
  EXPECT_FALSE(writer.ClaimEmptyDirSector(1, 3, track, sector, slot));
  EXPECT_EQ(track, 0);

  Bytes entry_sector(256, 0xEE);
  writer.FinishEntry(entry_sector, 32);
  EXPECT_EQ(entry_sector[32 + 23], 0xEE);
  EXPECT_EQ(entry_sector[32 + 24], 0);
  EXPECT_EQ(entry_sector[32 + 29], 0);
  EXPECT_EQ(entry_sector[32 + 30], 0xEE);
}

}  // namespace
}  // namespace kelvane
