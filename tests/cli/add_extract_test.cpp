#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <random>
#include <sstream>
#include <thread>

#include "cli/run_cli.h"
#include "registry/registry.h"
#include "shell/drop_write.h"
#include "support/disk_builder.h"
#include "support/temp_folder.h"
#include "write/directory_writer.h"
#include "write/names.h"
#include "write/writer_select.h"

#ifndef _WIN32
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

namespace kelvane::cli {
namespace {

using namespace testing;

void Add(TDkCbmImageWriter& writer, int dir_track, int dir_sector, const std::string& name,
         TDkCbmFileType type, const Bytes& content) {
  DkCbmAddFile(writer, dir_track, dir_sector, DkCbmHostNameToBytes(name), type, content);
}

// A D81 holding GAME, two names that map to the same host name, and a partition with a file.
Bytes ExtractionDisk() {
  Bytes bytes = BlankD81();
  {
    auto writer = DkOpenWriter(bytes, "x.d81");
    Add(*writer, 40, 3, "GAME", cftPRG, PatternBytes(600, 1));
    Add(*writer, 40, 3, "A/B", cftSEQ, PatternBytes(20, 2));
    Add(*writer, 40, 3, "A_B", cftSEQ, PatternBytes(30, 3));
  }
  SectorEditor disk(bytes, D81Offset);
  disk.PutEntry(40, 3, 3, {"PART", 0x85, 10, 0, 80});
  disk.Link(10, 0, 10, 3);
  disk.Link(10, 3, 0, 255);
  disk.WriteFile({{11, 0}}, PatternBytes(50, 4));
  disk.PutEntry(10, 3, 0, {"INSIDE", 0x82, 11, 0, 1});
  return bytes;
}

TEST(CliExtract, EverythingWithFoldersAndUniqueNames) {
  TempFolder folder("extract");
  const std::string image = folder.Write("disk.d81", ExtractionDisk());
  const std::string out = folder.Path("out");
  const Result r = RunWith({"extract", image, "-d", out, "--recurse"});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, out + "/GAME.prg\n" + out + "/A_B.seq\n" + out + "/A_B (1).seq\n" + out +
                       "/PART/\n" + out + "/PART/INSIDE.prg\n");
  EXPECT_EQ(folder.Read("out/GAME.prg"), PatternBytes(600, 1));
  EXPECT_EQ(folder.Read("out/A_B.seq"), PatternBytes(20, 2));
  EXPECT_EQ(folder.Read("out/A_B (1).seq"), PatternBytes(30, 3));
  EXPECT_EQ(folder.Read("out/PART/INSIDE.prg"), PatternBytes(50, 4));

  // A second run keeps what is there unless told otherwise.
  const Result again = RunWith({"extract", image, "0", "-d", out});
  EXPECT_EQ(again.status, 1);
  EXPECT_EQ(again.err,
            "kelvane extract: " + out + "/GAME.prg: exists; not replaced (use --force)\n");
  EXPECT_EQ(RunWith({"extract", image, "0", "-d", out, "--force"}).status, 0);

  // A file that cannot be written is reported, and the others are still written.
  std::filesystem::remove(folder.path() / "out" / "GAME.prg");
  std::filesystem::create_directories(folder.path() / "out" / "GAME.prg" / "in the way");
  const Result blocked = RunWith({"extract", image, "0", "1", "-d", out, "--force"});
  EXPECT_EQ(blocked.status, 1);
  EXPECT_EQ(blocked.err, "kelvane extract: " + out + "/GAME.prg: cannot write the file.\n");
  EXPECT_EQ(blocked.out, out + "/A_B.seq\n");
  // A folder that cannot be made is reported once; its files are not tried.
  std::filesystem::create_directory(folder.path() / "file");
  folder.Write("file/PART", Bytes{1});
  const Result no_folder = RunWith({"extract", image, "PART", "-r", "-d", folder.Path("file")});
  EXPECT_EQ(no_folder.status, 1);
  EXPECT_EQ(no_folder.err,
            "kelvane extract: " + folder.Path("file") + "/PART: cannot make the folder.\n");
}

TEST(CliExtract, SelectionByIndexAndNameAndWhatIsSkipped) {
  TempFolder folder("extract");
  const std::string image = folder.Write("disk.d81", ExtractionDisk());
  const std::string out = folder.Path("sel");
  // Entries 0 to 3: "4" is one past the last. A lone "-" is a name, not an option.
  const Result r = RunWith({"extract", image, "a_b", "0", "nothing", "-", "4", "PART", "-d", out});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out, out + "/A_B.seq\n" + out + "/GAME.prg\n");
  EXPECT_EQ(r.err,
            "kelvane extract: nothing: no such entry on this disk\n"
            "kelvane extract: -: no such entry on this disk\n"
            "kelvane extract: 4: no such entry on this disk\n"
            "kelvane extract: PART: a partition or directory; skipped (use --recurse)\n");
  EXPECT_EQ(folder.Read("sel/A_B.seq"), PatternBytes(30, 3));
  EXPECT_FALSE(folder.Has("sel/PART"));

  // A folder's files take their names within the folder, even when the folder comes first.
  Bytes twice = ExtractionDisk();
  SectorEditor(twice, D81Offset).PutEntry(40, 3, 4, {"INSIDE", 0x82, 11, 0, 1});
  const std::string second = folder.Write("twice.d81", twice);
  const Result nested = RunWith({"extract", second, "PART", "INSIDE", "-r", "-d", out + "3"});
  EXPECT_EQ(nested.out, out + "3/PART/\n" + out + "3/PART/INSIDE.prg\n" + out + "3/INSIDE.prg\n");
  EXPECT_EQ(RunWith({"extract", folder.Path("missing.d64")}).status, kExitFailure);
}

TEST(CliAdd, ReportsWhatWasNotWrittenAndExitsAccordingly) {
  TempFolder folder("add");
  const std::string image = folder.Write("disk.d64", BlankD64());
  const std::string one = folder.Write("one.prg", PatternBytes(300, 1));
  const std::string two = folder.Write("two.seq", PatternBytes(30, 2));

  const Result first = RunWith({"add", image, one});
  EXPECT_EQ(first.status, 0);
  EXPECT_EQ(first.out, "");
  EXPECT_EQ(first.err, "");

  // --verbose adds the writer's own reason where the summary only says the write failed.
  const std::string rel = folder.Write("rel.r00", Pc64Bytes(Bytes{'R'}, PatternBytes(50, 3)));
  const Result second = RunWith({"add", "--verbose", image, one, two, rel});
  EXPECT_EQ(second.status, 1);
  EXPECT_EQ(second.out, "two.seq -> \"two\" SEQ\n");
  EXPECT_EQ(second.err,
            "kelvane add: one.prg: A file of that name is already on the disk; skipped.  "
            "rel.r00: The image could not be written; it is unchanged.\n"
            "  rel.r00: REL files need side sectors the 1541 writer does not emit yet.\n");
  const auto opened = DkOpenImage(folder.Read("disk.d64"), "disk.d64", false);
  ASSERT_EQ(opened->Entries().size(), 2u);
  EXPECT_EQ(opened->ReadFile(opened->Entries()[1]), PatternBytes(30, 2));

  const Result g64 = RunWith({"add", folder.Path("x.g64"), one});
  EXPECT_EQ(g64.status, 1);
  EXPECT_EQ(g64.err, "kelvane add: This image format is read-only.\n");
}

TEST(CliAdd, NamesOutsideAsciiReachTheFileSystem) {
  TempFolder folder("add");
  // u-umlaut and euro sign in UTF-8, the text the tool works in on every system.
  const std::string image = folder.Write("\xC3\xBC.d64", BlankD64());
  const std::string file = folder.Write("\xE2\x82\xAC.prg", PatternBytes(300, 1));
  const Result r = RunWith({"add", image, file});
  EXPECT_EQ(r.status, 0) << r.err;
  const auto opened = DkOpenImage(folder.Read("\xC3\xBC.d64"), "x.d64", false);
  ASSERT_EQ(opened->Entries().size(), 1u);
  EXPECT_EQ(opened->ReadFile(opened->Entries()[0]), PatternBytes(300, 1));
}

#ifndef _WIN32
TEST(CliAdd, ThroughALinkTheLinkedImageIsReplacedAndTheLinkStays) {
  TempFolder folder("add");
  folder.Write("disk.d64", BlankD64());
  std::filesystem::create_symlink("disk.d64", folder.path() / "link.d64");
  const std::string one = folder.Write("one.prg", PatternBytes(300, 1));
  EXPECT_EQ(RunWith({"add", folder.Path("link.d64"), one}).status, 0);
  EXPECT_TRUE(std::filesystem::is_symlink(folder.path() / "link.d64"));
  EXPECT_EQ(DkOpenImage(folder.Read("disk.d64"), "disk.d64", false)->Entries().size(), 1u);
}

// `kelvane add` killed at random moments (as by a power cut) never leaves the image missing or
// half-written: it is the old image or the complete new one.
TEST(CliAdd, KilledAtAnyMomentLeavesTheOldOrTheNewImage) {
  TempFolder folder("powercut");
  const Bytes original = BlankD81();
  const std::string image = folder.Path("disk.d81");
  std::vector<std::string> args = {"add", image};
  for (int i = 0; i < 20; ++i) {
    args.push_back(folder.Write("file" + std::to_string(i) + ".prg",
                                PatternBytes(254 * (1 + i % 7), static_cast<std::uint32_t>(i))));
  }
  const auto run_child = [&](std::chrono::microseconds kill_after) {
    folder.Write("disk.d81", original);
    const pid_t child = ::fork();
    if (child == 0) {
      std::ostringstream out;
      std::ostringstream err;
      const int code = cli::Run(args, out, err);
      if (code != 0) std::fprintf(stderr, "%s", err.str().c_str());
      ::_exit(code);
    }
    if (kill_after.count() >= 0) {
      std::this_thread::sleep_for(kill_after);
      ::kill(child, SIGKILL);
    }
    int status = 0;
    ::waitpid(child, &status, 0);
    return status;
  };

  // One undisturbed run gives the new image and the time a run takes.
  const auto start = std::chrono::steady_clock::now();
  const int status = run_child(std::chrono::microseconds(-1));
  const auto took = std::chrono::duration_cast<std::chrono::microseconds>(
      std::chrono::steady_clock::now() - start);
  ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  const Bytes complete = folder.Read("disk.d81");
  ASSERT_NE(complete, original);

  std::mt19937 random(7);
  int killed_midway = 0;
  for (int round = 0; round < 60; ++round) {
    const auto delay = std::chrono::microseconds(random() % (took.count() * 5 / 4 + 1));
    const int end = run_child(delay);
    killed_midway += WIFSIGNALED(end) ? 1 : 0;
    ASSERT_TRUE(folder.Has("disk.d81")) << "image missing after a kill at " << delay.count();
    const Bytes now = folder.Read("disk.d81");
    ASSERT_TRUE(now == original || now == complete)
        << "half-written image after a kill at " << delay.count() << " us";
  }
  EXPECT_GT(killed_midway, 0);
  // Whatever a kill left beside the image does not stand in the way of the next run.
  const int last = run_child(std::chrono::microseconds(-1));
  EXPECT_TRUE(WIFEXITED(last) && WEXITSTATUS(last) == 0);
  EXPECT_EQ(folder.Read("disk.d81"), complete);
  EXPECT_FALSE(folder.Has(std::string("disk.d81") + kKvTempSuffix));
  EXPECT_FALSE(folder.Has(std::string("disk.d81") + kKvBackupSuffix));
}
#endif

}  // namespace
}  // namespace kelvane::cli
