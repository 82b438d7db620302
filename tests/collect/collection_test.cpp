// kelvane find over a generated collection, and images inside archives through the tool.
#include <gtest/gtest.h>

#include <sstream>

#include "cli/run_cli.h"
#include "support/collection.h"
#include "support/disk_builder.h"
#include "support/temp_folder.h"

namespace kelvane::cli {
namespace {

using testing::TempFolder;

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

// "WHERE<tab>INDEX" of each hit line.
std::vector<std::string> WhereAndIndex(const std::string& out) {
  std::vector<std::string> hits;
  for (const std::string& line : Lines(out)) hits.push_back(line.substr(0, line.rfind('\t')));
  return hits;
}

// The recorded problem each stderr line names (the whole line when it names none).
std::set<std::string> Named(const std::string& err, const std::set<std::string>& problems) {
  std::set<std::string> named;
  for (const std::string& line : Lines(err)) {
    std::string found = line;
    for (const std::string& problem : problems) {
      const std::string head = "kelvane find: " + problem;
      if (line.rfind(head, 0) == 0 && (line[head.size()] == ':' || line[head.size()] == '/'))
        found = problem;
    }
    named.insert(found);
  }
  return named;
}

TEST(FindCollection, ReportsExactlyThePlantedHitsWhateverTheThreads) {
  const TempFolder folder("find");
  const std::string root = folder.Path("c");
  const testing::Collection record = testing::MakeCollection(root, 3000);
  ASSERT_GT(record.hits.size(), 600u);
  std::string first;
  for (const char* jobs : {"1", "8"}) {
    const Result r = RunWith({"find", "GIANA*", root, "-j", jobs});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(WhereAndIndex(r.out), record.hits);
    EXPECT_EQ(Named(r.err, record.problems), record.problems);
    if (first.empty()) first = r.out;
    EXPECT_EQ(r.out, first);
  }
  const Result strict = RunWith({"find", "GIANA*", root + "/d000", "--strict"});
  EXPECT_EQ(strict.status, 2);
  EXPECT_FALSE(strict.out.empty());
  EXPECT_EQ(RunWith({"find", "NO SUCH", root + "/d000"}).status, 1);
}

TEST(FindArchives, AnImageInAnArchiveReadsAsItDoesOutside) {
  const TempFolder folder("zip");
  const Bytes d64 = testing::ReadTestFile("tests/data/cbmconvert.d64");
  const std::string plain = folder.Write("x.d64", d64);
  const std::string zip = folder.Path("two.zip");
  testing::WriteArchive(zip, {{"a/x.d64", d64}, {"y.d81", testing::BlankD81()}}, false);
  testing::WriteArchive(folder.Path("x.d64.gz"), {{"x.d64", d64}}, true);

  const Result listed = RunWith({"list", plain});
  const Result found = RunWith({"find", "HELLO", zip});
  ASSERT_EQ(found.status, 0);
  const std::string member = found.out.substr(0, found.out.find('\t'));
  EXPECT_EQ(member, zip + "/a/x.d64");
  EXPECT_EQ(RunWith({"list", member}).out, listed.out);
  EXPECT_EQ(RunWith({"list", folder.Path("x.d64.gz")}).out, listed.out);

  const Result several = RunWith({"list", zip});
  EXPECT_EQ(several.status, 1);
  EXPECT_NE(several.err.find("a/x.d64, y.d81"), std::string::npos) << several.err;

  ASSERT_EQ(RunWith({"extract", member, "-d", folder.Path("in")}).status, 0);
  ASSERT_EQ(RunWith({"extract", plain, "-d", folder.Path("out")}).status, 0);
  for (const auto& file : std::filesystem::directory_iterator(folder.Path("out")))
    EXPECT_EQ(folder.Read("in/" + file.path().filename().string()),
              folder.Read("out/" + file.path().filename().string()));

  const Bytes before = folder.Read("two.zip");
  const Result add = RunWith({"add", member, plain});
  EXPECT_EQ(add.status, 1);
  EXPECT_NE(add.err.find("never writes into archives"), std::string::npos);
  EXPECT_EQ(folder.Read("two.zip"), before);
}

}  // namespace
}  // namespace kelvane::cli
