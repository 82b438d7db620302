#include "cbm/chain.h"

#include <gtest/gtest.h>

#include "cbm/errors.h"
#include "support/disk_builder.h"
#include "support/messages.h"

namespace kelvane {
namespace {

using testing::FlatDisk;
using testing::PatternBytes;

// Expects `call` to throw EDkCbmMalformedDisk with exactly `message`.
template <typename F>
void ExpectMalformed(F&& call, const std::string& message) {
  EXPECT_EQ(testing::MessageOf<EDkCbmMalformedDisk>(call), message);
}

class ChainTest : public ::testing::Test {
 protected:
  FlatDisk disk{35, 21};
};

TEST_F(ChainTest, LengthFollowsTheLastSectorsByteOne) {
  const struct {
    std::size_t length;
    int sectors;
  } cases[] = {{0, 1}, {1, 1}, {253, 1}, {254, 1}, {255, 2}, {508, 2}, {509, 3}, {2540, 10}};
  for (const auto& c : cases) {
    FlatDisk fresh(35, 21);
    testing::SectorPath path;
    for (int i = 0; i < 12; ++i) path.emplace_back(1 + (i * 7) % 30, (i * 5) % 21);
    const Bytes data = PatternBytes(c.length, static_cast<std::uint32_t>(c.length));
    fresh.WriteFile(path, data);
    const auto image = fresh.Open();
    EXPECT_EQ(DkCbmChainReadFile(1, 0, image->SectorReader()), data) << c.length;
    EXPECT_EQ(DkCbmChainCountSectors(1, 0, image->SectorReader()), c.sectors) << c.length;
  }
}

TEST_F(ChainTest, LastByteIndexZeroOrOneGivesNoData) {
  disk.Link(5, 0, 0, 0);
  disk.Link(5, 1, 0, 1);
  disk.Link(5, 2, 0, 255);
  const auto image = disk.Open();
  EXPECT_TRUE(DkCbmChainReadFile(5, 0, image->SectorReader()).empty());
  EXPECT_TRUE(DkCbmChainReadFile(5, 1, image->SectorReader()).empty());
  EXPECT_EQ(DkCbmChainReadFile(5, 2, image->SectorReader()).size(), 254u);
  EXPECT_EQ(DkCbmChainCountSectors(5, 1, image->SectorReader()), 1);
}

TEST_F(ChainTest, LoopsAreErrorsNamingTheRepeatedSector) {
  disk.Link(3, 3, 3, 3);  // a sector that links to itself
  disk.Link(4, 0, 4, 1);  // a longer cycle back to the second sector
  disk.Link(4, 1, 4, 2);
  disk.Link(4, 2, 4, 1);
  const auto image = disk.Open();
  ExpectMalformed([&] { DkCbmChainReadFile(3, 3, image->SectorReader()); },
                  "Sector chain loop at T3/S3.");
  ExpectMalformed([&] { DkCbmChainCountSectors(3, 3, image->SectorReader()); },
                  "Sector chain loop at T3/S3.");
  ExpectMalformed([&] { DkCbmChainReadFile(4, 0, image->SectorReader()); },
                  "Sector chain loop at T4/S1.");
}

TEST_F(ChainTest, LongestPossibleChainEnds) {
  // A reader whose every sector links to the next pair in order visits all 65535 non-zero-track
  // pairs... then hits a repeat: the walk must end with the loop error, not run forever.
  const TDkCbmReadSectorFunc endless = [](int track, int sector) {
    Bytes data(256, 0);
    const int next = (track * 256 + sector + 1) % 65536;
    data[0] = static_cast<std::uint8_t>(next == 0 ? 1 : next >> 8);
    data[1] = static_cast<std::uint8_t>(next == 0 ? 0 : next & 0xFF);
    return data;
  };
  ExpectMalformed([&] { DkCbmChainCountSectors(1, 0, endless); }, "Sector chain loop at T1/S0.");
}

}  // namespace
}  // namespace kelvane
