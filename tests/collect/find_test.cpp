#include "collect/find.h"

#include <gtest/gtest.h>

#include "registry/registry.h"
#include "support/disk_builder.h"

namespace kelvane {
namespace {

using testing::PaddedName;

TEST(NamePattern, MatchesAsTheDriveDoes) {
  Bytes shifted = PaddedName("GIANA");
  shifted[0] = 0xC7;  // a shifted G: a capital in the lower charset
  Bytes hidden = PaddedName("GAME");
  hidden[5] = ',';  // text after the $A0 that ends the name
  const struct {
    const char* pattern;
    Bytes name;
    bool matches;
  } rows[] = {
      {"*", PaddedName("GAME"), true},          {"GA*", PaddedName("GAME"), true},
      {"GA*", PaddedName("GOLD"), false},       {"GAME", PaddedName("GAMES"), false},
      {"GAMES", PaddedName("GAME"), false},     {"G?ME", PaddedName("GAME"), true},
      {"G?ME", PaddedName("GME"), false},       {"GA*ZZZ", PaddedName("GAME"), true},
      {"game", PaddedName("GAME"), true},       {"giana", shifted, false},
      {"?IANA", shifted, true},                 {"GAME", hidden, true},
      {"ABCDEFGHIJKLMNOP", PaddedName("ABCDEFGHIJKLMNOP"), true},
  };
  for (const auto& row : rows)
    EXPECT_EQ(TDkNamePattern(row.pattern).Matches(row.name), row.matches) << row.pattern;
}

std::vector<std::vector<int>> Paths(const Bytes& bytes, const char* pattern,
                                    std::vector<TDkCbmFileType> types = {},
                                    const char* name = "tree.dnp") {
  const auto image = DkOpenImage(bytes, name, false);
  TDkStringList warnings;
  std::vector<std::vector<int>> paths;
  for (const TDkFindHit& hit : DkFindEntries(*image, {TDkNamePattern(pattern), types}, warnings))
    paths.push_back(hit.Path);
  EXPECT_TRUE(warnings.empty());
  return paths;
}

TEST(FindEntries, SearchesPartitionsAndSubDirectoriesDepthFirst) {
  using P = std::vector<std::vector<int>>;
  const Bytes dnp = testing::DnpTreeImage();
  EXPECT_EQ(Paths(dnp, "*"), (P{{0}, {1}, {1, 0}, {1, 1}, {1, 1, 0}, {2}}));
  EXPECT_EQ(Paths(dnp, "LEAF"), (P{{1, 1, 0}}));
  EXPECT_EQ(Paths(dnp, "*", {cftDIR}), (P{{1}, {1, 1}}));
  EXPECT_EQ(Paths(dnp, "*", {cftUSR, cftDIR}), (P{{1}, {1, 1}, {1, 1, 0}}));
  EXPECT_EQ(Paths(testing::D81PartitionImage(), "INSIDE", {}, "part.d81"), (P{{1, 0}}));
}

TEST(FindEntries, ADirectoryLinkingBackIsWalkedOnceWithAWarning) {
  Bytes dnp = testing::DnpTreeImage();
  testing::SectorEditor(dnp, testing::FlatOffset).Link(1, 80, 1, 71);  // DEEPER -> SUB
  const auto image = DkOpenImage(dnp, "tree.dnp", false);
  TDkStringList warnings;
  EXPECT_EQ(DkFindEntries(*image, {TDkNamePattern("*"), {}}, warnings).size(), 5u);
  ASSERT_EQ(warnings.size(), 1u);
  EXPECT_NE(warnings[0].find("SUB/DEEPER"), std::string::npos);
}

}  // namespace
}  // namespace kelvane
