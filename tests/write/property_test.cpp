// For every writable format: random files are added until the disk or its directory is full.
// After every add the reader lists every file and reads it back byte for byte, no sector belongs
// to two chains or to the system area, every chain sector is used in the BAM, and the free count
// equals the free bits and the free blocks the formats' arithmetic gives; the final refusal comes
// from the space check (never half-way through a file) or from a full directory.
#include <gtest/gtest.h>

#include <map>
#include <random>
#include <set>
#include <vector>

#include "registry/registry.h"
#include "support/disk_builder.h"
#include "write/directory_writer.h"
#include "write/writer_select.h"

namespace kelvane {
namespace {

using namespace testing;

struct FormatCase {
  const char* file_name;
  std::function<Bytes()> blank;
  std::set<int> uncounted_tracks;  // tracks the free count leaves out
  int max_track_for_bits;          // tracks whose bits the free count covers
  int reserved_track1;             // sectors of track 1 the count never covers
  int blank_free;                  // the formatted disk's free blocks
  std::size_t free_directory;      // entries held before directory sectors cost free blocks
  int reserved_free;               // free blocks of the blank no file is given (DFI: 1/0-1/47)
};

void PrintTo(const FormatCase& c, std::ostream* os) {
  *os << c.file_name;
}

class WriterProperty : public ::testing::TestWithParam<FormatCase> {};

// The blocks a file takes: one for every 254 bytes begun, an empty file one, an empty DEL none.
int ModelBlocks(std::size_t size, TDkCbmFileType file_type) {
  return size == 0 && file_type == cftDEL ? 0
                                          : std::max<int>(1, static_cast<int>((size + 253) / 254));
}

int CountFreeBits(const TDkCbmImageWriter& writer, const FormatCase& c) {
  int free_bits = 0;
  for (int t = 1; t <= std::min(writer.TrackCount(), c.max_track_for_bits); ++t) {
    if (c.uncounted_tracks.count(t) != 0) continue;
    for (int s = (t == 1 ? c.reserved_track1 : 0); s < writer.SectorsOnTrack(t); ++s) {
      free_bits += writer.IsSectorFree(t, s);
    }
  }
  return free_bits;
}

TEST_P(WriterProperty, RandomFilesUntilFull) {
  const FormatCase& c = GetParam();
  Bytes bytes = c.blank();
  std::mt19937 rng(12345);
  std::map<std::string, Bytes> written;
  std::string refusal;
  // The free blocks by the formats' own arithmetic: files take their ModelBlocks, a directory
  // sector holds eight entries, and the sectors the drive sets aside for the directory cost
  // nothing.
  const auto new_dir_sector = [&] {
    return written.size() >= c.free_directory && written.size() % 8 == 0;
  };
  int model_free = c.blank_free;
  int reserved_free = c.reserved_free;  // a DFI's new directory sectors come from there
  int refused_blocks = 0;
  for (int round = 0; round < 2000 && refusal.empty(); ++round) {
    const int kind = static_cast<int>(rng() % 6);
    const std::size_t length = kind == 0   ? 0
                               : kind == 1 ? 254
                               : kind == 2 ? 255
                               : kind == 3 ? 1 + rng() % 300
                                           : 1 + rng() % (40 * 254);
    const std::string name = "F" + std::to_string(round) + (rng() % 2 ? " X" : "");
    const Bytes content = PatternBytes(length, static_cast<std::uint32_t>(round));
    const TDkCbmFileType type = length == 0 && rng() % 2 ? cftDEL
                                : rng() % 5 == 0         ? cftSEQ
                                                         : cftPRG;
    auto writer = DkOpenWriter(bytes, c.file_name);
    try {
      DkCbmAddFile(*writer, writer->DirTrack(), writer->FirstDirSector(),
                   Bytes(name.begin(), name.end()), type, content);
    } catch (const EDkCbmConstraintViolation& error) {
      refusal = error.Message();
      refused_blocks = ModelBlocks(length, type);
      break;
    }
    model_free -= ModelBlocks(length, type);
    if (new_dir_sector()) {
      --model_free;
      if (reserved_free > 0) --reserved_free;
    }
    written[name] = content;

    // The reader's view.
    const auto image = DkOpenImage(bytes, c.file_name, false);
    ASSERT_EQ(image->Entries().size(), written.size());
    std::set<std::pair<int, int>> owned;
    TDkSectorOccupancy system;
    writer->BuildSystemSectorMap(writer->DirTrack(), writer->FirstDirSector(), system);
    for (const TDkCbmEntry& entry : image->Entries()) {
      const auto expected = written.find(entry.Name);
      ASSERT_NE(expected, written.end()) << entry.Name;
      ASSERT_EQ(image->ReadFile(entry), expected->second) << entry.Name;
      ASSERT_EQ(entry.Blocks, ModelBlocks(expected->second.size(), entry.FileType));
      int track = entry.FirstTrack, sector = entry.FirstSector;
      while (track != 0) {
        ASSERT_TRUE(owned.insert({track, sector}).second)
            << "T" << track << "/S" << sector << " twice";
        ASSERT_EQ(system.At(track, sector), 0) << "file block in the system area";
        ASSERT_FALSE(writer->IsSectorFree(track, sector)) << "file block free in the BAM";
        const Bytes data = image->ReadSector(track, sector);
        track = data[0];
        sector = data[1];
      }
    }
    ASSERT_EQ(writer->FreeBlocks(), CountFreeBits(*writer, c)) << "after " << name;
    ASSERT_EQ(image->FreeBlocks(), writer->FreeBlocks());
    ASSERT_EQ(image->FreeBlocks(), model_free) << "after " << name;
  }
  EXPECT_GT(written.size(), 5u);
  // On a sound disk the space check refuses before any block is taken.
  const bool full_disk = refusal.rfind("File does not fit on this ", 0) == 0;
  const bool full_dir = refusal.rfind("Directory is full on this ", 0) == 0;
  EXPECT_TRUE(full_disk || full_dir) << refusal;
  // Never refused while it would still have fitted (a new directory sector counted in).
  if (full_disk) {
    EXPECT_GT(refused_blocks + (new_dir_sector() ? 1 : 0), model_free - reserved_free) << refusal;
  }

  // A track outside the disk, as a damaged link names one, has no BAM entry: nothing is free
  // there, and marking it changes no byte.
  const Bytes before = bytes;
  auto writer = DkOpenWriter(bytes, c.file_name);
  for (const int track : {0, writer->TrackCount() + 1}) {
    EXPECT_FALSE(writer->IsSectorFree(track, 0)) << track;
    writer->SetSectorFree(track, 0, true);
    writer->MarkSectorUsed(track, 1);
  }
  EXPECT_EQ(bytes, before);
}

std::function<Bytes()> D64Of(int tracks, TDkD64DosVariant variant) {
  return [=] { return BlankD64(tracks, false, variant); };
}

std::vector<FormatCase> Formats() {
  return {
      FormatCase{"p.d64", D64Of(35, ddvStandard35), {18}, 35, 0, 664, 144, 0},
      // Tracks 36-40 counted in SpeedDOS's and Dolphin's extra BAM areas, 36-42 in the extended
      // 42-track layout.
      FormatCase{"speeddos.d64", D64Of(40, ddvSpeedDOS40), {18}, 40, 0, 664 + 5 * 17, 144, 0},
      FormatCase{"dolphin.d64", D64Of(40, ddvDolphin40), {18}, 40, 0, 664 + 5 * 17, 144, 0},
      FormatCase{"extended.d64", D64Of(42, ddvExtended42), {18}, 42, 0, 664 + 7 * 17, 144, 0},
      FormatCase{"p.d71", [] { return BlankD71(); }, {18, 53}, 70, 0, 1328, 144, 0},
      FormatCase{"p.d81", [] { return BlankD81(); }, {40}, 80, 0, 3160, 296, 0},
      FormatCase{"p.d80", [] { return BlankD80(); }, {39}, 77, 0, 2052, 224, 0},
      FormatCase{"p.d82", [] { return BlankD82(); }, {39}, 154, 0, 4133, 224, 0},
      // 4 tracks: a 3-track DNP would be 196608 bytes, a D64 size.
      FormatCase{"p.dnp", [] { return BlankDnp(4); }, {}, 255, 64, 192 + 3 * 256, 8, 0},
      FormatCase{"p.dfi", [] { return BlankDfi(2); }, {}, 256, 0, 512 - 4, 8, 48 - 4},
  };
}

INSTANTIATE_TEST_SUITE_P(Formats, WriterProperty, ::testing::ValuesIn(Formats()),
                         [](const auto& param_info) {
                           std::string name = param_info.param.file_name;
                           name.erase(name.find('.'), 1);
                           return name;
                         });

// Sectors marked used and free again at random, on every track of every writable format (and a
// DNP of 255 tracks, the most a CMD partition holds): the writer's bits follow, its free count
// moves by one for each counted sector, and a reader of the bytes counts the same.
TEST(WriterBam, BitsAndCountsFollowEveryChange) {
  std::vector<FormatCase> cases = Formats();
  cases.push_back({"full.dnp", [] { return BlankDnp(255); }, {}, 255, 64, 0, 0, 0});
  std::mt19937 rng(2026);
  for (const FormatCase& c : cases) {
    Bytes bytes = c.blank();
    auto writer = DkOpenWriter(bytes, c.file_name);
    int free_blocks = writer->FreeBlocks();
    for (int round = 0; round < 600; ++round) {
      const int t =
          round < 2 ? writer->TrackCount() : 1 + static_cast<int>(rng() % writer->TrackCount());
      const int s = static_cast<int>(rng() % writer->SectorsOnTrack(t));
      const bool counted = c.uncounted_tracks.count(t) == 0 && t <= c.max_track_for_bits &&
                           !(t == 1 && s < c.reserved_track1);
      const bool was_free = writer->IsSectorFree(t, s);
      const bool free = round == 0 || (round > 1 && rng() % 2 == 0);
      if (free) {
        writer->SetSectorFree(t, s, true);
      } else {
        writer->MarkSectorUsed(t, s);
      }
      ASSERT_EQ(writer->IsSectorFree(t, s), free) << c.file_name << " " << t << "/" << s;
      if (counted) free_blocks += static_cast<int>(free) - static_cast<int>(was_free);
      ASSERT_EQ(writer->FreeBlocks(), free_blocks) << c.file_name << " " << t << "/" << s;
    }
    EXPECT_EQ(DkOpenImage(bytes, c.file_name, false)->FreeBlocks(), free_blocks) << c.file_name;
  }
}

}  // namespace
}  // namespace kelvane
