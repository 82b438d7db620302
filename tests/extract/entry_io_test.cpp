#include "extract/entry_io.h"

#include <gtest/gtest.h>

#include "registry/registry.h"
#include "support/disk_builder.h"
#include "support/messages.h"

namespace kelvane {
namespace {

using namespace testing;

TEST(HostFileName, SafeCharactersExtensionsAndNamesAHostTreatsSpecially) {
  const struct {
    const char* name;
    TDkCbmFileType type;
    const char* host;
  } cases[] = {
      {"A/B", cftSEQ, "A_B.seq"},
      {"GAME.PRG", cftPRG, "GAME.PRG"},
      {"GAME.prg", cftSEQ, "GAME.prg.seq"},
      {"   ", cftUSR, "extracted.usr"},
      {"PART", cftCBM, "PART"},
      {" (A+B)-C_D ", cftDEL, "(A+B)-C_D.del"},
      // ".." as a folder would write into the parent of the folder extracted into; a trailing
      // point is dropped by Windows; device names open the device.
      {"..", cftDIR, ".._"},
      {"GAME.", cftDIR, "GAME._"},
      {"..", cftPRG, "...prg"},
      {"CON", cftSEQ, "_CON.seq"},
      {"LPT1.TXT", cftPRG, "_LPT1.TXT.prg"},
      {"COM0", cftCBM, "COM0"},
  };
  for (const auto& c : cases) EXPECT_EQ(DkHostFileName(c.name, c.type), c.host) << c.name;
}

TEST(UniqueFileName, CountsUpPastTakenNamesIgnoringCase) {
  EXPECT_EQ(DkUniqueFileName({"GAME.prg", "game (1).PRG"}, "GAME.prg", 1), "GAME (2).prg");
  EXPECT_EQ(DkUniqueFileName({}, "a.b.seq", 5), "a.b (5).seq");
  std::vector<std::string> taken;
  for (int n = 1; n <= 999; ++n) taken.push_back("X (" + std::to_string(n) + ")");
  EXPECT_EQ(MessageOf([&] { DkUniqueFileName(taken, "X", 1); }),
            "No available filename found within 999 attempts.");
}

TEST(EntryPaths, ImageAndIndex) {
  EXPECT_EQ(MakeEntryPath("C:\\disks\\a.d81", 7), "C:\\disks\\a.d81::7");
  std::string image;
  int index = 0;
  EXPECT_TRUE(ParseEntryPath("/x/a.D64::190", image, index));  // every digit, 9 and 0 too
  EXPECT_EQ(image, "/x/a.D64");
  EXPECT_EQ(index, 190);
  for (const char* bad : {"/x/a.txt::1", "::1", "/x/a.d64::-1", "/x/a.d64::1x"})
    EXPECT_FALSE(ParseEntryPath(bad, image, index)) << bad;
  EXPECT_EQ(index, -1);
}

TEST(ReadSelection, FilesFoldersAndWhatIsNotThere) {
  const auto image = DkOpenImage(DnpTreeImage(), "t.dnp", false);
  TDkDiskEntryReadArray reads;
  std::string error;
  ASSERT_TRUE(ReadSelection({"t.dnp::1", "t.dnp::0"}, *image, true, reads, error)) << error;
  ASSERT_EQ(reads.size(), 5u);
  EXPECT_EQ(reads[0].Name, "SUB");
  EXPECT_TRUE(reads[0].IsDirectory);
  EXPECT_EQ(reads[1].Name, "FILE.prg");
  EXPECT_EQ(reads[1].Bytes, PatternBytes(250, 1));
  EXPECT_EQ(reads[1].Parent, -1);
  // Below the folder, depth first, each pointing to its folder.
  EXPECT_EQ(reads[2].Name, "INNER.prg");
  EXPECT_EQ(reads[2].Parent, 0);
  EXPECT_EQ(reads[2].Bytes, PatternBytes(400, 2));
  EXPECT_EQ(reads[3].Name, "DEEPER");
  EXPECT_EQ(reads[4].Parent, 3);

  // Without recursion a folder is read as a file along its chain.
  ASSERT_TRUE(ReadSelection({"t.dnp::1", "t.dnp::5", "other.d64::0"}, *image, false, reads, error));
  EXPECT_FALSE(reads[0].IsDirectory);
  EXPECT_EQ(reads[1].Error, "entry 5 is not on this disk");
  EXPECT_EQ(reads[2].Error, "Selection spans more than one disk image.");
  EXPECT_FALSE(ReadSelection({"t.dnp"}, *image, false, reads, error));
  EXPECT_EQ(error, "Not a disk-image selection.");
}

TEST(ReadSelection, LoopingDirectoriesStopTheExtraction) {
  Bytes tree = DnpTreeImage();
  SectorEditor(tree, FlatOffset).PutEntry(1, 81, 1, {"BACK", 0x86, 1, 70, 1});  // DEEPER holds SUB
  TDkDiskEntryReadArray reads;
  std::string error;
  EXPECT_EQ(MessageOf([&] {
              ReadSelection({"t.dnp::1"}, *DkOpenImage(tree, "t.dnp", false), true, reads, error);
            }),
            "BACK: this directory loops back into itself.");
  // The same folder selected twice is a loop across the selection.
  EXPECT_EQ(MessageOf([&] {
              ReadSelection({"t.dnp::1", "t.dnp::1"}, *DkOpenImage(DnpTreeImage(), "t.dnp", false),
                            true, reads, error);
            }),
            "SUB: this directory loops back into itself.");
}

}  // namespace
}  // namespace kelvane
