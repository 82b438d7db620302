#include "extract/entry_io.h"

#include <gtest/gtest.h>

#include "registry/registry.h"
#include "support/disk_builder.h"
#include "support/messages.h"

namespace kelvane {
namespace {

using namespace testing;

TEST(HostFileName, CharactersTrimAndExtensions) {
  EXPECT_EQ(DkHostFileName("A/B", cftSEQ), "A_B.seq");
  EXPECT_EQ(DkHostFileName("GAME.PRG", cftPRG), "GAME.PRG");
  EXPECT_EQ(DkHostFileName("GAME.prg", cftSEQ), "GAME.prg.seq");
  EXPECT_EQ(DkHostFileName("??**", cftPRG), "____.prg");
  EXPECT_EQ(DkHostFileName("   ", cftUSR), "extracted.usr");
  EXPECT_EQ(DkHostFileName("PART", cftCBM), "PART");
  EXPECT_EQ(DkHostFileName(" (A+B)-C_D ", cftDEL), "(A+B)-C_D.del");
}

TEST(HostFileName, NamesAHostTreatsSpeciallyGetASafeForm) {
  // ".." as a folder would write into the parent of the folder extracted into.
  EXPECT_EQ(DkHostFileName("..", cftDIR), ".._");
  EXPECT_EQ(DkHostFileName(".", cftCBM), "._");
  EXPECT_EQ(DkHostFileName("GAME.", cftDIR), "GAME._");
  EXPECT_EQ(DkHostFileName("..", cftPRG), "...prg");  // a file name with an extension is harmless
  EXPECT_EQ(DkHostFileName("CON", cftSEQ), "_CON.seq");
  EXPECT_EQ(DkHostFileName("nul", cftDIR), "_nul");
  EXPECT_EQ(DkHostFileName("LPT1.TXT", cftPRG), "_LPT1.TXT.prg");
  EXPECT_EQ(DkHostFileName("COM9", cftCBM), "_COM9");
  EXPECT_EQ(DkHostFileName("COM0", cftCBM), "COM0");
  EXPECT_EQ(DkHostFileName("COMA", cftCBM), "COMA");
  EXPECT_EQ(DkHostFileName("CONSOLE", cftCBM), "CONSOLE");
}

TEST(UniqueFileName, CountsUpPastTakenNamesIgnoringCase) {
  EXPECT_EQ(DkUniqueFileName({"GAME.prg"}, "GAME.prg", 1), "GAME (1).prg");
  EXPECT_EQ(DkUniqueFileName({"GAME.prg", "game (1).PRG"}, "GAME.prg", 1), "GAME (2).prg");
  EXPECT_EQ(DkUniqueFileName({"DIR"}, "DIR", 1), "DIR (1)");
  EXPECT_EQ(DkUniqueFileName({}, "a.b.seq", 5), "a.b (5).seq");
  std::vector<std::string> taken;
  for (int n = 1; n <= 998; ++n) taken.push_back("X (" + std::to_string(n) + ")");
  EXPECT_EQ(DkUniqueFileName(taken, "X", 1), "X (999)");  // the last of 999 tries
  taken.push_back("X (999)");
  EXPECT_EQ(MessageOf([&] { DkUniqueFileName(taken, "X", 1); }),
            "No available filename found within 999 attempts.");
}

TEST(EntryPaths, BothPartitionNotations) {
  EXPECT_EQ(MakeEntryPath("C:\\disks\\a.d81", 7), "C:\\disks\\a.d81::7");
  std::string image;
  int index = 0;
  EXPECT_TRUE(ParseEntryPath("/x/a.D64::12", image, index));
  EXPECT_EQ(image, "/x/a.D64");
  EXPECT_EQ(index, 12);
  EXPECT_FALSE(ParseEntryPath("/x/a.txt::1", image, index));
  EXPECT_EQ(index, -1);
  EXPECT_FALSE(ParseEntryPath("::1", image, index));
  // An index is one to nine digits.
  for (const char* bad : {"/x/a.d64::-1", "/x/a.d64::", "/x/a.d64::1234567890", "/x/a.d64::1x"})
    EXPECT_FALSE(ParseEntryPath(bad, image, index)) << bad;
  EXPECT_TRUE(ParseEntryPath("/x/a.d64::123456789", image, index));
  EXPECT_EQ(index, 123456789);

  std::vector<int> chain;
  EXPECT_TRUE(ParsePartitionChain("a.d81::3::1", image, chain));
  EXPECT_EQ(image, "a.d81");
  EXPECT_EQ(chain, (std::vector<int>{3, 1}));
  EXPECT_TRUE(ParsePartitionChain("a.dnp::3>1>2", image, chain));
  EXPECT_EQ(chain, (std::vector<int>{3, 1, 2}));
  EXPECT_TRUE(ParsePartitionChain("a.dnp::3>1::4", image, chain));
  EXPECT_EQ(chain, (std::vector<int>{3, 1, 4}));
  EXPECT_FALSE(ParsePartitionChain("a.dnp::3>-1", image, chain));
  EXPECT_FALSE(ParsePartitionChain("a.dnp::3>1>x", image, chain));  // two good numbers, a bad one
  EXPECT_TRUE(image.empty());
  EXPECT_FALSE(ParsePartitionChain("a.dnp", image, chain));
}

TEST(ReadSelection, FilesFoldersAndPartitionPaths) {
  const Bytes tree = DnpTreeImage();
  const auto image = DkOpenImage(tree, "t.dnp", false);
  TDkDiskEntryReadArray reads;
  std::string error;
  ASSERT_TRUE(ReadSelection({"t.dnp::1", "t.dnp::0"}, {"sub", ""}, *image, true, reads, error))
      << error;
  ASSERT_EQ(reads.size(), 5u);
  EXPECT_EQ(reads[0].Name, "SUB");
  EXPECT_TRUE(reads[0].IsDirectory);
  EXPECT_EQ(reads[1].Name, "FILE.prg");
  EXPECT_EQ(reads[1].Bytes, PatternBytes(250, 1));
  // Below the folder, depth first, each pointing to its folder.
  EXPECT_EQ(reads[2].Name, "INNER.prg");
  EXPECT_EQ(reads[2].Parent, 0);
  EXPECT_EQ(reads[2].Bytes, PatternBytes(400, 2));
  EXPECT_EQ(reads[3].Name, "DEEPER");
  EXPECT_EQ(reads[4].Name, "LEAF.usr");
  EXPECT_EQ(reads[4].Parent, 3);
  EXPECT_EQ(reads[1].Parent, -1);

  // Without recursion a folder is read as a file along its chain.
  ASSERT_TRUE(ReadSelection({"t.dnp::1"}, {}, *image, false, reads, error));
  EXPECT_FALSE(reads[0].IsDirectory);

  // A selection inside the sub-directory, by partition path.
  ASSERT_TRUE(ReadSelection({"t.dnp::1::0", "t.dnp::1::5", "other.d64::0"}, {}, *image, false,
                            reads, error));
  EXPECT_EQ(reads[0].Name, "INNER.prg");
  EXPECT_EQ(reads[1].Error, "entry 5 is not on this disk");
  EXPECT_EQ(reads[2].Error, "Selection spans more than one disk image.");
  ASSERT_TRUE(ReadSelection({"t.dnp::2"}, {"GONE"}, *image, false, reads, error));
  EXPECT_EQ(reads[0].Error, "That entry is no longer on this disk.");
  EXPECT_TRUE(reads[0].Bytes.empty());

  EXPECT_FALSE(ReadSelection({"t.dnp"}, {}, *image, false, reads, error));
  EXPECT_EQ(error, "Not a disk-image selection.");
  EXPECT_FALSE(ReadSelection({"t.dnp::9::0"}, {}, *image, false, reads, error));
  EXPECT_EQ(error, "Entry 9 is not on this disk.");
  EXPECT_FALSE(ReadSelection({"t.dnp::0::0"}, {}, *image, false, reads, error));
  EXPECT_EQ(error, "That entry is not a partition.");
  EXPECT_TRUE(ReadSelection({}, {}, *image, true, reads, error));
  EXPECT_TRUE(reads.empty());
}

TEST(ReadSelection, LoopingDirectoriesStopTheExtraction) {
  Bytes tree = DnpTreeImage();
  SectorEditor disk(tree, FlatOffset);
  disk.PutEntry(1, 81, 1, {"BACK", 0x86, 1, 70, 1});  // DEEPER holds SUB again
  const auto image = DkOpenImage(tree, "t.dnp", false);
  TDkDiskEntryReadArray reads;
  std::string error;
  EXPECT_EQ(MessageOf([&] { ReadSelection({"t.dnp::1"}, {}, *image, true, reads, error); }),
            "BACK: this directory loops back into itself.");
  // The same folder selected twice is a loop across the selection.
  const auto clean = DkOpenImage(DnpTreeImage(), "t.dnp", false);
  EXPECT_EQ(MessageOf([&] {
              ReadSelection({"t.dnp::1", "t.dnp::1"}, {}, *clean, true, reads, error);
            }),
            "SUB: this directory loops back into itself.");
}

TEST(OpenPartitionChain, NestedPartitionsMustLieInsideTheirParent) {
  Bytes bytes = BlankD81();
  SectorEditor disk(bytes, D81Offset);
  disk.PutEntry(40, 3, 0, {"OUTER", 0x85, 10, 0, 160});
  disk.Link(10, 0, 10, 3);
  disk.Link(10, 3, 0, 255);
  disk.PutEntry(10, 3, 0, {"INNER", 0x85, 11, 0, 40});
  disk.PutEntry(10, 3, 1, {"OUTSIDE", 0x85, 20, 0, 40});
  disk.Link(11, 0, 11, 3);
  disk.Link(11, 3, 0, 255);
  disk.WriteFile({{12, 0}}, PatternBytes(50, 5));
  disk.PutEntry(11, 3, 0, {"DEEP FILE", 0x82, 12, 0, 1});
  const auto image = DkOpenImage(bytes, "p.d81", false);
  TDkCbmEntryArray entries;
  std::string error;
  ASSERT_TRUE(OpenPartitionChain(*image, {0, 0}, entries, error)) << error;
  ASSERT_EQ(entries.size(), 1u);
  EXPECT_EQ(entries[0].Name, "DEEP FILE");
  EXPECT_FALSE(OpenPartitionChain(*image, {0, 1}, entries, error));
  EXPECT_EQ(error, "A partition inside a partition cannot be opened.");
  TDkDiskEntryReadArray reads;
  ASSERT_TRUE(ReadSelection({"p.d81::0>0::0"}, {}, *image, false, reads, error)) << error;
  EXPECT_EQ(reads[0].Bytes, PatternBytes(50, 5));

  // The edges: after the parent's first block (its header), up to its last block, and on the
  // image's last track when the parent reaches it.
  struct Row {
    int outer_track, outer_blocks, inner_track, inner_blocks;
    bool opens;
  };
  for (const Row& row : {Row{10, 160, 13, 40, true}, Row{10, 160, 13, 41, false},
                         Row{10, 160, 10, 40, false}, Row{41, 1600, 80, 40, true}}) {
    Bytes nested = BlankD81();
    SectorEditor edit(nested, D81Offset);
    edit.PutEntry(40, 3, 0, {"OUTER", 0x85, row.outer_track, 0, row.outer_blocks});
    for (const int track : {row.outer_track, row.inner_track}) {
      edit.Link(track, 0, track, 3);
      edit.Link(track, 3, 0, 255);
    }
    edit.PutEntry(row.outer_track, 3, 0, {"INNER", 0x85, row.inner_track, 0, row.inner_blocks});
    EXPECT_EQ(OpenPartitionChain(*DkOpenImage(nested, "n.d81", false), {0, 0}, entries, error),
              row.opens)
        << row.inner_track << " " << row.inner_blocks;
  }
}

}  // namespace
}  // namespace kelvane
