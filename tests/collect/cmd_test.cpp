// CMD FD disks: the reference samples read as the disk tool lists them, files written into each
// kind of default partition, damaged partition tables, and new blank disks of every kind.
#include "formats/cmd.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <sstream>

#include "cli/run_cli.h"
#include "collect/archive.h"
#include "common/exception.h"
#include "common/format.h"
#include "registry/registry.h"
#include "support/disk_builder.h"
#include "support/peer_listing.h"
#include "support/temp_folder.h"
#include "write/blank.h"

namespace kelvane {
namespace {

using cli::RunWith;
using testing::ReadTestFile;
using testing::TempFolder;
using testing::Upper;

const std::string kData = "tests/data/cmd/";

Bytes Sample(const std::string& name) {
  Bytes bytes;
  DkReadArchiveFile(kData + name + ".gz", 16 << 20, [&](const TDkArchiveMember& member) {
    bytes.assign(member.Bytes.begin(), member.Bytes.end());
    return false;
  });
  return bytes;
}

const TDkCbmEntry& Row(const TDkCbmImage& image, int partition) {
  for (const TDkCbmEntry& entry : image.Entries())
    if (entry.Partition == partition) return entry;
  throw std::runtime_error("no partition row");
}

// Every partition of every sample lists as c1541 lists it (its header line starts with the
// partition's number instead of 0), and the written files read back as the payload they came from.
TEST(CmdSamples, EveryPartitionListsAsTheDiskToolAndFilesReadBack) {
  for (const char* name :
       {"empty-dd8.d1m", "empty-ddn.d1m", "empty-hd8.d2m", "empty-hdn.d2m", "empty-ed8.d4m",
        "empty-edn.d4m", "populated-dd8.d1m", "populated-ddn.d1m", "populated-hd8.d2m",
        "populated-ed8.d4m", "errors-dd8.d1m"}) {
    SCOPED_TRACE(name);
    const auto disk = DkOpenImage(Sample(name), name, false);
    const auto& cmd = dynamic_cast<const TDkCmdImage&>(*disk);
    EXPECT_EQ(disk->FormatName(), Upper(std::string(name).substr(std::string(name).size() - 3)));
    EXPECT_EQ(cmd.DefaultPartition(), 1);
    EXPECT_EQ(disk->ErrorInfo().size(), std::string(name).rfind("errors", 0) == 0 ? 3240u : 0u);
    for (const TDkCmdPartition& partition : cmd.Partitions()) {
      std::ifstream in(kData + name + Format(".p%d.txt", partition.Number));
      std::stringstream text;
      text << in.rdbuf();
      std::string listing = text.str();
      const std::size_t header = listing.find(Format("\n%d \"", partition.Number));
      listing.replace(header + 1, std::to_string(partition.Number).size(), "0");
      const testing::PeerListing theirs = testing::ParseListing(listing);
      const TDkCbmImage& ours = *disk->PartitionImage(Row(*disk, partition.Number));
      EXPECT_EQ(ours.DiskName(),
                Upper(theirs.disk_name.substr(0, theirs.disk_name.find_last_not_of(' ') + 1)));
      EXPECT_EQ(ours.FreeBlocks(), theirs.free_blocks);
      ASSERT_EQ(ours.Entries().size(), theirs.entries.size());
      for (std::size_t i = 0; i < theirs.entries.size(); ++i) {
        const TDkCbmEntry& entry = ours.Entries()[i];
        EXPECT_EQ(entry.Name, Upper(theirs.entries[i].name));
        EXPECT_EQ(entry.Blocks, theirs.entries[i].blocks);
        EXPECT_EQ(DkCbmFileTypeName(entry.FileType), Upper(theirs.entries[i].type));
        // FILEn and P2-FILEn hold payload/bn.bin.
        const std::size_t file = entry.Name.rfind("FILE");
        if (file != std::string::npos && file + 4 < entry.Name.size()) {
          EXPECT_EQ(ours.ReadFile(entry),
                    ReadTestFile(kData + "payload/b" + entry.Name.substr(file + 4) + ".bin"))
              << entry.Name;
        }
      }
    }
  }
}

// A disk of 1541, 1571 and native partitions, built from the layout: partition 1 (1541) from unit
// 0, 2 (1571) after it, 3 (native, 3 tracks) after that; `default_number` names the default.
Bytes MixedDisk(int default_number) {
  TDkNewDisk request{cifD1M, 0, testing::PaddedName("MIXED"), {'M', 'X'}};
  Bytes disk = DkBlankImage(request);
  const std::size_t system = 0x640 * 512;
  const auto put = [&](int n, std::uint8_t type, int start, int units, const Bytes& image) {
    std::uint8_t* e = disk.data() + system + 8 * 256 + n * 32;
    e[2] = type;
    const Bytes name = testing::PaddedName(Format("PART %d", n));
    std::copy(name.begin(), name.end(), e + 5);
    for (const auto& [at, value] : {std::pair{0x16, start}, {0x1E, units}}) {
      e[at] = static_cast<std::uint8_t>(value >> 8);
      e[at + 1] = static_cast<std::uint8_t>(value & 0xFF);
    }
    std::copy(image.begin(), image.end(), disk.begin() + start * 512);
  };
  std::fill(disk.begin(), disk.begin() + static_cast<long>(system), 0);
  put(1, cpt1541, 0, 0x156, testing::BlankD64());
  put(2, cpt1571, 0x156, 0x2AC, testing::BlankD71());
  put(3, cptNative, 0x410, 0x180, testing::BlankDnp(3));
  disk[system + 5 * 256 + 0xE2] = static_cast<std::uint8_t>(default_number);
  return disk;
}

// A file added goes into the default partition through that partition's writer: it lists and
// reads back there, and no byte outside the partition changes.
TEST(CmdWrite, FilesGoIntoTheDefaultPartitionOnly) {
  TempFolder folder("cmd-write");
  const std::string payload = kData + "payload/b3000.bin";
  struct Case {
    std::string name;
    Bytes disk;
    int partition;
  };
  const std::vector<Case> cases = {{"ddn.d1m", Sample("populated-ddn.d1m"), 1},
                                   {"ed8.d4m", Sample("populated-ed8.d4m"), 1},
                                   {"d64.d1m", MixedDisk(1), 1},
                                   {"d71.d1m", MixedDisk(2), 2},
                                   {"dnp.d1m", MixedDisk(3), 3}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string path = folder.Write(c.name, c.disk);
    ASSERT_EQ(RunWith({"add", path, payload}).status, 0);
    const Bytes after = ReadTestFile(path);
    const auto disk = DkOpenImage(after, c.name, false);
    const TDkCmdPartition& target =
        *std::find_if(dynamic_cast<const TDkCmdImage&>(*disk).Partitions().begin(),
                      dynamic_cast<const TDkCmdImage&>(*disk).Partitions().end(),
                      [&](const TDkCmdPartition& p) { return p.Number == c.partition; });
    const TDkCbmImage& inner = *disk->PartitionImage(Row(*disk, c.partition));
    const auto added =
        std::find_if(inner.Entries().begin(), inner.Entries().end(),
                     [](const TDkCbmEntry& e) { return e.Name.rfind("B3000", 0) == 0; });
    ASSERT_NE(added, inner.Entries().end());
    EXPECT_EQ(inner.ReadFile(*added), ReadTestFile(payload));
    for (std::size_t i = 0; i < after.size(); ++i) {
      if (i >= target.Start && i < target.Start + target.Size) continue;
      ASSERT_EQ(after[i], c.disk[i]) << "byte " << i << " outside the partition";
    }
  }
  // A print-buffer default partition takes no files, and says why.
  Bytes buffer = MixedDisk(3);
  buffer[0x640 * 512 + 8 * 256 + 3 * 32 + 2] = cptPrintBuffer;
  const std::string path = folder.Write("buffer.d1m", buffer);
  const cli::Result refused = RunWith({"add", path, payload});
  EXPECT_NE(refused.status, 0);
  EXPECT_NE((refused.out + refused.err).find("holds a print buffer"), std::string::npos)
      << refused.out << refused.err;
  EXPECT_EQ(ReadTestFile(path), buffer);
}

// Damaged partition tables: the partition is left out with a warning, or the disk refused with
// --strict; a disk without its signature is listed only when named as an FD disk.
TEST(CmdTable, DamageIsAWarningAndAnErrorWithStrict) {
  const std::size_t entry = 0x640 * 512 + 8 * 256;
  const struct {
    const char* what;
    std::size_t offset;
    std::uint8_t value;
    const char* warning;
  } rows[] = {
      {"outside", entry + 3 * 32 + 0x16, 0x06, "lies outside the partition area"},
      {"overlapping", entry + 2 * 32 + 0x17, 0x00, "overlaps partition 1 \"PART 1\""},
      {"impossible size", entry + 1 * 32 + 0x1F, 0x57, "which a 1541 partition cannot have"},
      {"no signature", 0x640 * 512 + 5 * 256 + 0xF0, 'X', "No \"CMD FD SERIES\" signature"},
      {"no default", 0x640 * 512 + 5 * 256 + 0xE2, 9, "The default partition 9 is not"},
  };
  TempFolder folder("cmd-damage");
  for (const auto& row : rows) {
    SCOPED_TRACE(row.what);
    Bytes disk = MixedDisk(2);
    disk[row.offset] = row.value;
    const auto image = DkOpenImage(disk, "x.d1m", true);
    ASSERT_NE(image->RecoveryWarnings(), nullptr);
    ASSERT_FALSE(image->RecoveryWarnings()->empty());
    EXPECT_NE(image->RecoveryWarnings()->front().find(row.warning), std::string::npos)
        << image->RecoveryWarnings()->front();
    EXPECT_THROW(DkOpenImage(disk, "x.d1m", false), Exception);
    const std::string path = folder.Write(std::string(row.what) + ".d1m", disk);
    EXPECT_NE(RunWith({"add", path, kData + "payload/b1.bin"}).status, 0);
    EXPECT_EQ(ReadTestFile(path), disk);
  }
}

// kelvane new: every kind reads back empty at its drive's free count; the FD blank is the
// reference blank byte for byte; cc1541 adds a file to the kinds it knows.
TEST(NewDisk, EveryKindFormatsAsItsDrive) {
  TempFolder folder("new");
  const struct {
    const char* name;
    const char* options;
    int free_blocks;
  } rows[] = {{"a.d64", "", 664},
              {"b.d64", "--tracks 40", 749},
              {"c.d64", "--tracks 42", 783},
              {"d.d71", "", 1328},
              {"e.d81", "", 3160},
              {"f.d80", "", 2052},
              {"g.d82", "", 4133},
              {"h.dnp", "--tracks 3", 192 + 2 * 256},
              {"i.dfi", "--tracks 2", 508},
              {"j.d1m", "", 3008},
              {"k.d2m", "", 6336},
              {"l.d4m", "", 12736}};
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    const std::string path = folder.Path(row.name);
    std::vector<std::string> args = {"new", path, "--name", "EMPTY,D4"};
    if (*row.options != '\0') args.insert(args.end(), {"--tracks", row.options + 9});
    ASSERT_EQ(RunWith(args).status, 0);
    EXPECT_NE(RunWith(args).status, 0);  // an existing file only with --force
    args.push_back("--force");
    EXPECT_EQ(RunWith(args).status, 0);
    const auto image = DkOpenImage(ReadTestFile(path), row.name, false);
    EXPECT_EQ(image->DiskName(), "EMPTY");
    EXPECT_EQ(image->FreeBlocks(), row.free_blocks);
    const Bytes directory = image->ReadSector(image->DirTrack(), image->DirSector());
    EXPECT_EQ(directory[0] * 256 + directory[1], 0x00FF);  // the chain's only sector
    const std::string extension = std::string(row.name).substr(2);
    if (extension == "d80" || extension == "d82") {
      // An 8050's BAM: from the header's link, one block per 50 tracks naming its range, the
      // last linking on to the directory.
      Bytes block = image->ReadSector(39, 0);
      for (int first = 1; first <= image->MaxTrack(); first += 50) {
        block = image->ReadSector(block[0], block[1]);
        EXPECT_EQ(block[4], first);
        EXPECT_EQ(block[5], std::min(first + 50, image->MaxTrack() + 1));
      }
      EXPECT_EQ(block[0] * 256 + block[1], 39 * 256 + 1);
    }
    const bool fd = extension == "d1m" || extension == "d2m" || extension == "d4m";
    EXPECT_EQ(image->Entries().size(), fd ? 1u : 0u);  // an FD disk lists its partition
    if (extension == "d64" || extension == "d71" || extension == "d81") {
      const std::string command =
          "cc1541 -f HELLO -w " + kData + "payload/b3000.bin " + path + " > /dev/null 2>&1";
      ASSERT_EQ(std::system(command.c_str()), 0);
      const auto written = DkOpenImage(ReadTestFile(path), row.name, false);
      ASSERT_EQ(written->Entries().size(), 1u);
      EXPECT_EQ(written->ReadFile(written->Entries()[0]),
                ReadTestFile(kData + "payload/b3000.bin"));
    }
  }
  // The FD blanks equal the reference blanks of one native partition byte for byte.
  for (const char* kind : {"d1m", "d2m", "d4m"}) {
    const std::string path = folder.Path(std::string("fd.") + kind);
    const std::string id = Upper(std::string("D") + kind[1]);
    ASSERT_EQ(RunWith({"new", path, "--name", "EMPTY," + id}).status, 0);
    const char* sample = kind[1] == '1'   ? "empty-ddn.d1m"
                         : kind[1] == '2' ? "empty-hdn.d2m"
                                          : "empty-edn.d4m";
    EXPECT_EQ(ReadTestFile(path), Sample(sample)) << kind;
  }
  for (const char* bad : {"EMP:TY,D4", "EMPTY,D", "SEVENTEEN LETTERS,D4"})
    EXPECT_NE(RunWith({"new", folder.Path("m.d64"), "--name", bad}).status, 0) << bad;
}

}  // namespace
}  // namespace kelvane
