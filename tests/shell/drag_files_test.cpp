#include "shell/drag_files.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/disk_builder.h"
#include "support/messages.h"

namespace kelvane {
namespace {

using namespace testing;

std::string Narrow(const std::u16string& text) {
  return std::string(text.begin(), text.end());
}

// "PATH" for files, "PATH/" for folders, in list order.
std::vector<std::string> Listing(const TKvDragFileArray& files) {
  std::vector<std::string> out;
  for (const TKvDragFile& file : files)
    out.push_back(Narrow(file.Path) + (file.IsDirectory ? "/" : ""));
  return out;
}

const TKvDragFile& Find(const TKvDragFileArray& files, const std::string& path) {
  for (const TKvDragFile& file : files) {
    if (Narrow(file.Path) == path) return file;
  }
  throw std::runtime_error("no drag file " + path);
}

TEST(DragFiles, FoldersComeBeforeWhatTheyHoldWithTheirContents) {
  TKvDragFileArray files;
  ASSERT_TRUE(BuildDragFiles(DnpTreeImage(), ".dnp", {1, 0, 2}, files));
  EXPECT_EQ(Listing(files),
            (std::vector<std::string>{"SUB/", "FILE.prg", "TEXT.seq", "SUB\\INNER.prg",
                                      "SUB\\DEEPER/", "SUB\\DEEPER\\LEAF.usr"}));
  EXPECT_EQ(Find(files, "SUB\\INNER.prg").Bytes, PatternBytes(400, 2));
  EXPECT_EQ(Find(files, "SUB\\DEEPER\\LEAF.usr").Bytes, PatternBytes(10, 3));
  EXPECT_TRUE(Find(files, "SUB").Bytes.empty());

  ASSERT_TRUE(BuildDragFiles(D81PartitionImage(), ".d81", {1, 0}, files));
  EXPECT_EQ(Listing(files), (std::vector<std::string>{"PART/", "README.seq", "PART\\INSIDE.prg"}));
  EXPECT_EQ(Find(files, "PART\\INSIDE.prg").Bytes, PatternBytes(600, 7));

  ASSERT_TRUE(BuildDragFiles(DnpTreeImage(), ".dnp", {}, files));
  EXPECT_TRUE(files.empty());
  EXPECT_FALSE(BuildDragFiles(Bytes(1000, 7), ".prg", {0}, files));
  EXPECT_FALSE(BuildDragFiles(DnpTreeImage(), ".dnp", {-1}, files));  // no entry has it
  EXPECT_TRUE(files.empty());
}

TEST(DragFiles, SiblingNamesAreMadeUniqueAndUnreadableSelectionsGiveNoDrag) {
  Bytes bytes = DnpTreeImage();
  SectorEditor disk(bytes, FlatOffset);
  disk.PutEntry(1, 34, 3, {"FILE", 0x82, 1, 102, 1});
  disk.PutEntry(1, 34, 4, {"FILE", 0x82, 1, 100, 1});
  disk.PutEntry(1, 71, 2, {"FILE", 0x82, 1, 100, 1});  // the same name in another folder
  disk.PutEntry(1, 34, 5, {"BROKEN", 0x82, 1, 105, 1});
  disk.Link(1, 105, 99, 0);                                // a chain out of the disk
  disk.PutEntry(1, 34, 6, {"FILE.PRG", 0x82, 1, 100, 1});  // the same name in other capitals
  TKvDragFileArray files;
  ASSERT_TRUE(BuildDragFiles(bytes, ".dnp", {0, 3, 4, 9, 1, 6}, files));  // there is no entry 9
  EXPECT_EQ(Listing(files),
            (std::vector<std::string>{"FILE.prg", "FILE (1).prg", "FILE (2).prg", "SUB/",
                                      "FILE (3).PRG", "SUB\\INNER.prg", "SUB\\DEEPER/",
                                      "SUB\\DEEPER\\LEAF.usr", "SUB\\FILE.prg"}));
  const Bytes inner = PatternBytes(400, 2);  // entry 3 starts at INNER's second sector
  EXPECT_EQ(Find(files, "FILE (1).prg").Bytes, Bytes(inner.begin() + 254, inner.end()));

  // A chain that leaves the disk, or a directory that contains itself, stops the whole drag.
  EXPECT_EQ(MessageOf([&] {
              BuildDragFiles(bytes, ".dnp", {0, 5}, files);
            }),
            "Track 99 out of range for DNP.");
  disk.PutEntry(1, 81, 1, {"BACK", 0x86, 1, 70, 1});
  EXPECT_EQ(MessageOf([&] { BuildDragFiles(bytes, ".dnp", {1}, files); }),
            "BACK: this directory loops back into itself.");
}

// Sub-directories nested `levels` deep, each named "DIRECTORYNAME_NN" (16 characters), so that
// level n has a relative path of 17 n - 1 characters. Level 15 (254 characters) also holds
// "ABCD", a folder whose path is 259 characters, and "A", a file whose path "…\A.prg" is 260.
Bytes DeepTree(int levels) {
  Bytes bytes = BlankDnp(1);
  SectorEditor disk(bytes, FlatOffset);
  int directory_track = 1;
  int directory_sector = 34;  // the root's first directory sector
  for (int level = 1; level <= levels; ++level) {
    const int header = 100 + 2 * level;
    const std::string name =
        "DIRECTORYNAME_" + std::string(level < 10 ? "0" : "") + std::to_string(level);
    disk.PutEntry(directory_track, directory_sector, 0, {name, 0x86, 1, header, 1});
    disk.Link(1, header, 1, header + 1);
    disk.Link(1, header + 1, 0, 255);
    directory_sector = header + 1;
    if (level == 14) {
      disk.WriteFile({{1, 200}}, PatternBytes(5, 9));
      disk.PutEntry(1, directory_sector, 1, {"KEPT", 0x82, 1, 200, 1});
    }
    if (level == 15) {
      disk.PutEntry(1, directory_sector, 1, {"ABCD", 0x86, 1, 210, 1});
      disk.Link(1, 210, 1, 211);
      disk.Link(1, 211, 0, 255);
      disk.WriteFile({{1, 201}}, PatternBytes(5, 9));
      disk.PutEntry(1, directory_sector, 2, {"A", 0x82, 1, 201, 1});
    }
  }
  return bytes;
}

TEST(DragFiles, PathsOf260CharactersAreLeftOutWithWhatTheyHold) {
  TKvDragFileArray files;
  ASSERT_TRUE(BuildDragFiles(DeepTree(17), ".dnp", {0}, files));
  std::size_t longest = 0;
  bool kept = false;
  bool abcd = false;
  for (const TKvDragFile& file : files) {
    longest = std::max(longest, file.Path.size());
    kept = kept || Narrow(file.Path).ends_with("\\KEPT.prg");
    abcd = abcd || Narrow(file.Path).ends_with("\\ABCD");
    EXPECT_FALSE(Narrow(file.Path).ends_with("\\A.prg"));
    EXPECT_EQ(Narrow(file.Path).find("DIRECTORYNAME_16"), std::string::npos);
  }
  EXPECT_TRUE(kept);
  EXPECT_TRUE(abcd);
  EXPECT_EQ(longest, 259u);
  EXPECT_EQ(files.size(), 15u + 2u);  // 15 folders, KEPT and ABCD
}

TEST(DragFiles, GuidNamesAndUtf16) {
  EXPECT_TRUE(KvIsGuidName(u"0f8fad5b-d9cb-469f-a165-70867728950e"));
  EXPECT_FALSE(KvIsGuidName(u"{0f8fad5b-d9cb-469f-a165-70867728950e}"));
  EXPECT_FALSE(KvIsGuidName(u"0f8fad5b-d9cb-469f-a165-70867728950g"));
  // Every length of sequence; a byte that starts nothing, or a sequence cut short, is one
  // replacement character.
  const std::pair<const char*, std::u16string> cases[] = {
      {"A\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80", {u'A', 0xE9, 0x20AC, 0xD83D, 0xDE00}},
      {"\xFF"
       "b\xC3",
       {0xFFFD, u'b', 0xFFFD}},
      {"\xEF\xBF\xBF\xF0\x90\x80\x80", {0xFFFF, 0xD800, 0xDC00}},  // the last of one unit
      {"\xF4\x8F\xBF\xBF", {0xDBFF, 0xDFFF}},                      // the largest code point
      {"\xF4\x90\x80\x80", {0xFFFD}},
      {"\xE2\x41", {0xFFFD, u'A'}},
  };
  for (const auto& [text, expected] : cases) EXPECT_EQ(KvUtf8ToUtf16(text), expected) << text;
}

}  // namespace
}  // namespace kelvane
