// Finding files by name: the drive's pattern rules, the search through partitions, and
// kelvane find over a generated collection and inside archives.
#include "collect/find.h"

#include <gtest/gtest.h>

#include <sstream>

#include "cli/run_cli.h"
#include "collect/properties.h"
#include "registry/registry.h"
#include "support/collection.h"
#include "support/container_builder.h"
#include "support/disk_builder.h"
#include "support/temp_folder.h"

namespace kelvane {
namespace {

using cli::Result;
using cli::RunWith;
using testing::PaddedName;

// Names as stored: $C7 is a shifted G (a capital in the lower charset); text after an $A0 is not
// part of the name.
TEST(NamePattern, MatchesAsTheDriveDoes) {
  const struct {
    const char* pattern;
    const char* name;
    bool matches;
  } rows[] = {
      {"*", "GAME", true},          {"GA*", "GAME", true},       {"GA*", "GOLD", false},
      {"GAME", "GAMES", false},     {"GAMES", "GAME", false},    {"G?ME", "GAME", true},
      {"G?ME", "GME", false},       {"GA*ZZZ", "GAME", true},    {"game", "GAME", true},
      {"giana", "\xC7IANA", false}, {"?IANA", "\xC7IANA", true}, {"GAME", "GAME\xA0,8", true}};
  for (const auto& row : rows)
    EXPECT_EQ(TDkNamePattern(row.pattern).Matches(PaddedName(row.name)), row.matches)
        << row.pattern;
}

// The paths of the hits; then, per warning, the place of "SUB/DEEPER" in it.
std::vector<std::vector<int>> Find(const Bytes& bytes, const char* name, const char* pattern,
                                   std::vector<TDkCbmFileType> types = {}) {
  TDkStringList warnings;
  std::vector<std::vector<int>> paths;
  for (const TDkFindHit& hit :
       DkFindEntries(*DkOpenImage(bytes, name, false), {TDkNamePattern(pattern), types}, warnings))
    paths.push_back(hit.Path);
  for (const std::string& warning : warnings)
    paths.push_back({static_cast<int>(warning.find("SUB/DEEPER"))});
  return paths;
}

TEST(FindEntries, SearchesPartitionsAndSubDirectoriesDepthFirst) {
  using P = std::vector<std::vector<int>>;
  Bytes dnp = testing::DnpTreeImage();
  EXPECT_EQ(Find(dnp, "t.dnp", "*"), (P{{0}, {1}, {1, 0}, {1, 1}, {1, 1, 0}, {2}}));
  EXPECT_EQ(Find(dnp, "t.dnp", "LEAF"), (P{{1, 1, 0}}));
  EXPECT_EQ(Find(dnp, "t.dnp", "*", {cftUSR, cftDIR}), (P{{1}, {1, 1}, {1, 1, 0}}));
  EXPECT_EQ(Find(testing::D81PartitionImage(), "p.d81", "INSIDE"), (P{{1, 0}}));
  // A directory linking back into one above it is searched once, with a warning naming it.
  testing::SectorEditor(dnp, testing::FlatOffset).Link(1, 80, 1, 71);  // DEEPER -> SUB's
  EXPECT_EQ(Find(dnp, "t.dnp", "*"), (P{{0}, {1}, {1, 0}, {1, 1}, {2}, {0}}));
}

// What a file manager shows, for names of plain letters what list --json and info say: the summary
// in words (a tape's in its own), every file's name and type, folders' files included.
TEST(ImageProperties, NameIdSummaryAndEveryFile) {
  const auto disk = DkOpenImage(testing::ReadTestFile("tests/data/cbmconvert.d64"), "c.d64", false);
  const TDkImageProperties found = DkImageProperties(*disk);
  EXPECT_EQ(found.Title, disk->DiskName());
  EXPECT_EQ(found.Keywords, disk->DiskId().substr(0, 2));
  EXPECT_EQ(found.Comment, "D64, 4 files, " + std::to_string(disk->FreeBlocks()) + " blocks free");
  EXPECT_EQ(found.FileCount, disk->Entries().size());
  const TDkImageProperties tree =
      DkImageProperties(*DkOpenImage(testing::DnpTreeImage(), "t.dnp", false));
  EXPECT_EQ(tree.Comment, "DNP, 3 files, 192 blocks free");
  EXPECT_EQ(tree.Contents, "FILE PRG\nSUB DIR\nINNER PRG\nDEEPER DIR\nLEAF USR\nTEXT SEQ\n");
  const Bytes tape = testing::BuildT64({{"TAPE FILE", 0x82, 0x801, {1}}});
  EXPECT_EQ(DkImageProperties(*DkOpenImage(tape, "t.t64", false)).Comment,
            "T64, 1 file, 0 slots free");
}

// Each line's "WHERE<tab>INDEX" (a hit) or "WHERE" (an error line: "kelvane find: WHERE: ...").
std::vector<std::string> Wheres(const std::string& text, bool errors) {
  std::vector<std::string> wheres;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);)
    wheres.push_back(errors ? line.substr(14, line.find(": ", 14) - 14)
                            : line.substr(0, line.rfind('\t')));
  return wheres;
}

TEST(FindCollection, ReportsExactlyThePlantedHitsWhateverTheThreads) {
  const testing::TempFolder folder("find");
  const std::string root = folder.Path("c");
  const testing::Collection record = testing::MakeCollection(root, 3000);
  ASSERT_GT(record.hits.size(), 900u);
  std::string first;
  for (const char* jobs : {"1", "8"}) {
    const Result r = RunWith({"find", "GIANA*", root, "-j", jobs});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(Wheres(r.out, false), record.hits);
    const std::vector<std::string> named = Wheres(r.err, true);
    EXPECT_EQ(std::set<std::string>(named.begin(), named.end()), record.problems);
    if (first.empty()) first = r.out;
    EXPECT_EQ(r.out, first);
  }
  const Result strict = RunWith({"find", "GIANA*", root + "/d000", "--strict"});
  EXPECT_EQ(strict.status, 2);
  EXPECT_FALSE(strict.out.empty());
  EXPECT_EQ(RunWith({"find", "NO SUCH", root + "/d000"}).status, 1);
}

TEST(FindArchives, AnImageInAnArchiveReadsAsItDoesOutside) {
  const testing::TempFolder folder("zip");
  const Bytes d64 = testing::ReadTestFile("tests/data/cbmconvert.d64");
  const std::string plain = folder.Write("x.d64", d64);
  const std::string zip = folder.Path("two.zip");
  testing::WriteArchive(zip, {{"a/x.d64", d64}, {"y.d81", testing::BlankD81()}}, false);
  testing::WriteArchive(folder.Path("x.d64.gz"), {{"x.d64", d64}}, true);

  const Result found = RunWith({"find", "HELLO", zip});
  const std::string member = found.out.substr(0, found.out.find('\t'));
  EXPECT_EQ(member, zip + "/a/x.d64");
  EXPECT_NE(
      RunWith({"find", "HELLO", zip, "--json"}).out.find("\"member\": \"a/x.d64\", \"index\": 0"),
      std::string::npos);
  // A path below a file that is no archive names no member.
  EXPECT_NE(RunWith({"list", plain + "/x.d64"}).err.find("cannot read the file"),
            std::string::npos);
  EXPECT_EQ(RunWith({"list", member}).out, RunWith({"list", plain}).out);
  EXPECT_EQ(RunWith({"list", folder.Path("x.d64.gz")}).out, RunWith({"list", plain}).out);
  EXPECT_NE(RunWith({"list", zip})
                .err.find("2 disk images; name one as " + zip + "/MEMBER: a/x.d64, y.d81"),
            std::string::npos);

  ASSERT_EQ(RunWith({"extract", member, "-d", folder.Path("in")}).status, 0);
  ASSERT_EQ(RunWith({"extract", plain, "-d", folder.Path("out")}).status, 0);
  for (const auto& file : std::filesystem::directory_iterator(folder.Path("out")))
    EXPECT_EQ(folder.Read("in/" + file.path().filename().string()),
              folder.Read("out/" + file.path().filename().string()));

  const Bytes before = folder.Read("two.zip");
  EXPECT_NE(RunWith({"add", member, plain}).err.find("never writes into archives"),
            std::string::npos);
  EXPECT_EQ(folder.Read("two.zip"), before);
}

}  // namespace
}  // namespace kelvane
