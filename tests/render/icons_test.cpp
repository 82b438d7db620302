#include "render/icons.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "render/charset.h"

namespace kelvane {
namespace {

Bytes Mask(std::string_view path, int size) {
  TKvIconMask mask;
  EXPECT_TRUE(RasteriseIcon(path, size, mask)) << path;
  EXPECT_EQ(mask.Size, size);
  return mask.Coverage;
}

TEST(PathReader, GrammarAndRefusals) {
  TPathReader reader;
  EXPECT_TRUE(reader.Parse("M 10,10 l 5 5"));  // implicit close at the end
  ASSERT_EQ(reader.Edges().size(), 2u);
  EXPECT_DOUBLE_EQ(reader.Edges()[0].x1, 15);
  EXPECT_DOUBLE_EQ(reader.Edges()[1].y1, 10);

  // A second point ends a number; a number after M repeats as L; exponents and signs.
  EXPECT_TRUE(reader.Parse("M1.5.5 10 20 +1e+1-2E-0"));
  ASSERT_EQ(reader.Edges().size(), 3u);
  EXPECT_DOUBLE_EQ(reader.Edges()[0].x0, 1.5);
  EXPECT_DOUBLE_EQ(reader.Edges()[0].y0, 0.5);
  EXPECT_DOUBLE_EQ(reader.Edges()[1].x1, 10);
  EXPECT_DOUBLE_EQ(reader.Edges()[1].y1, -2);

  // Horizontal pieces are never stored: H adds nothing, V adds one edge.
  EXPECT_TRUE(reader.Parse("M0 0 H100 V50 h-100 z"));
  EXPECT_EQ(reader.Edges().size(), 2u);

  for (const char* bad :
       {"M0 0 A10 10 0 0 1 20 20", "10 10 L 5 5", "M0 0 Z 5 5", "M0 0 L 5", "M0 0 L - 5",
        "M0 0 L 1e 5", "M0 0 L ++1 5", "M0 0 X", "M0 0 L . 5",
        // every command with one number short
        "M0", "M0 0 H", "M0 0 v", "M0 0 C1 2 3 4 5", "M0 0 s1 2 3", "M0 0 Q1 2 3", "M0 0 t1"}) {
    EXPECT_FALSE(reader.Parse(bad)) << bad;
  }
}

TEST(PathReader, CurvesFlattenIntoFixedSteps) {
  TPathReader reader;
  // A cubic and its smooth continuation: 16 steps each, ending on their end points; the
  // reflected control point keeps the second curve symmetric.
  ASSERT_TRUE(reader.Parse("M0 10 C0 110 100 110 100 10 S200 -90 200 10"));
  ASSERT_EQ(reader.Edges().size(), 32u);
  EXPECT_DOUBLE_EQ(reader.Edges()[15].x1, 100);
  EXPECT_DOUBLE_EQ(reader.Edges()[15].y1, 10);
  EXPECT_NEAR(reader.Edges()[7].y1, 85, 1e-9);    // B(0.5) of the first curve
  EXPECT_NEAR(reader.Edges()[23].y1, -65, 1e-9);  // and of the reflected one
  EXPECT_NEAR(reader.Edges()[23].x1, 150, 1e-9);

  ASSERT_TRUE(reader.Parse("M0 0 q50 100 100 0 t100 0"));
  ASSERT_EQ(reader.Edges().size(), 24u);
  EXPECT_NEAR(reader.Edges()[5].y1, 50, 1e-9);    // B(0.5) = 50
  EXPECT_NEAR(reader.Edges()[17].y1, -50, 1e-9);  // the reflected control point
  // After anything but a quadratic the smooth curve's control point is the current point: here a
  // straight line along y 0, which stores no edges.
  ASSERT_TRUE(reader.Parse("M0 0 Q50 100 100 0 L200 0 T300 0"));
  EXPECT_EQ(reader.Edges().size(), 12u);
}

TEST(Rasterise, FullAndQuarterSquares) {
  EXPECT_EQ(Mask("M0 0 L640 0 L640 640 L0 640 Z", 4), Bytes(16, 255));
  EXPECT_EQ(Mask("M0 0 H320 V320 H0 Z", 2), (Bytes{255, 0, 0, 0}));
  // Half a pixel covered horizontally: 8 of 16 samples.
  EXPECT_EQ(Mask("M0 0 H80 V160 H0 Z", 4)[0], (8 * 255 + 8) / 16);
  // Three quarters each way: 9 of 16 samples, 143.4 rounded.
  EXPECT_EQ(Mask("M0 0 H120 V120 H0 Z", 4)[0], 143);
}

// A vertex on a sample row's centre ends one edge and starts the next there: a notch whose tip
// just touches the row takes nothing from it. (At 40 pixels a sample row is 4 units high and
// its first centre lies exactly on y = 2.)
TEST(Rasterise, AVertexOnASampleRowCountsOnce) {
  Bytes first_row_quarter_covered(40 * 40, 0);
  std::fill_n(first_row_quarter_covered.begin(), 40, 64);
  EXPECT_EQ(Mask("M0 0 L320 2 L640 0 V4 H0 Z", 40), first_row_quarter_covered);
}

TEST(Rasterise, EvenOddEmptiesOverlaps) {
  // The same square twice is empty; a square inside another leaves a ring.
  EXPECT_EQ(Mask("M0 0 H640 V640 H0 Z M0 0 H640 V640 H0 Z", 4), Bytes(16, 0));
  Bytes ring(16, 255);
  ring[5] = ring[6] = ring[9] = ring[10] = 0;
  EXPECT_EQ(Mask("M0 0 H640 V640 H0 Z M160 160 H480 V480 H160 Z", 4), ring);
}

TEST(Rasterise, RefusesBadSizesAndPaths) {
  TKvIconMask mask;
  mask.Size = 3;
  EXPECT_FALSE(RasteriseIcon("M0 0 H640 V640 Z", 0, mask));
  EXPECT_EQ(mask.Size, 0);
  EXPECT_TRUE(mask.Coverage.empty());
  EXPECT_FALSE(RasteriseIcon("M0 0 A1 1 0 0 0 2 2", 8, mask));
}

TEST(Icons, HollowArrowsOverABar) {
  for (const int size : {14, 28, 56}) {
    const Bytes up = Mask(IconPath(csUpperGraphics), size);
    const Bytes down = Mask(IconPath(csLowerUpper), size);
    EXPECT_NE(up, down);
    // The pixel that holds design point (x, y).
    const auto at = [size](const Bytes& mask, double x, double y) {
      return mask[static_cast<std::size_t>(static_cast<int>(y * size / 640) * size +
                                           static_cast<int>(x * size / 640))];
    };
    EXPECT_GT(at(up, 320, 560), 100) << size;  // the bar
    EXPECT_GT(at(down, 320, 560), 100) << size;
    EXPECT_EQ(at(up, 100, 300), 0) << size;  // left of everything
    if (size < 28) continue;                 // finer details need more than 14 pixels
    // Hollow: the middle of each shaft is empty.
    EXPECT_EQ(at(up, 320, 400), 0) << size;
    EXPECT_EQ(at(down, 320, 200), 0) << size;
    // The down arrow's head is wide just below y 288, where the up arrow has only its shaft.
    EXPECT_EQ(at(down, 200, 300), 255) << size;
    EXPECT_EQ(at(up, 200, 300), 0) << size;
  }
}

}  // namespace
}  // namespace kelvane
