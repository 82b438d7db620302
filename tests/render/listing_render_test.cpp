#include "render/listing_render.h"

#include <gtest/gtest.h>

#include <tuple>

#include "registry/registry.h"
#include "render/thumbnail.h"
#include "support/disk_builder.h"

namespace kelvane {
namespace {

using namespace testing;

std::uint32_t PixelAt(const TDkRenderImage& image, int x, int y) {
  const std::uint8_t* p = image.Pixels.data() + (static_cast<std::size_t>(y) * image.Width + x) * 4;
  EXPECT_EQ(p[3], 255);
  return (std::uint32_t{p[0]} << 16) | (std::uint32_t{p[1]} << 8) | p[2];
}

// Every pixel of the cell at column `col` of row `row` against the glyph of `code` drawn in
// `fg` on `bg`.
void ExpectCell(const TDkRenderImage& image, int scale, int col, int row, std::uint8_t code,
                TDkCharset charset, std::uint32_t fg, std::uint32_t bg) {
  const TDkGlyph glyph = DkCharsetGlyph(code, charset);
  const int cell = 8 * scale;
  for (int y = 0; y < cell; ++y) {
    for (int x = 0; x < cell; ++x) {
      const std::uint32_t expected = DkGlyphScaledPixelXY(glyph, scale, scale, x, y) ? fg : bg;
      ASSERT_EQ(PixelAt(image, (col + 1) * cell + x, row * cell + y), expected)
          << "code " << int{code} << " at " << x << "," << y << " scale " << scale;
    }
  }
}

Bytes DiskWith(const std::vector<EntrySpec>& entries, Bytes bytes = BlankD64(),
               OffsetFunc offset = D64Offset, int dir_track = 18, int dir_sector = 1) {
  SectorEditor editor(bytes, std::move(offset));
  for (std::size_t i = 0; i < entries.size(); ++i)
    editor.PutEntry(dir_track, dir_sector, static_cast<int>(i), entries[i]);
  return bytes;
}

TEST(ListingRender, EmptyDiskSizesAndTheHeaderBand) {
  TDkRenderImage image;
  ASSERT_TRUE(DkRenderDiskPreview(BlankD64(), "x.d64", 0, 1, 0, image, csUpperGraphics));
  // Rows: the header (26 bytes: 0 "name" id) and "664 BLOCKS FREE."; one empty cell of margin.
  EXPECT_EQ(image.Width, 27 * 8);
  EXPECT_EQ(image.Height, 2 * 8);
  EXPECT_EQ(image.Pixels.size(), static_cast<std::size_t>(27 * 8 * 16 * 4));
  // The band spans the whole width, the margin included; the page below it is dark.
  EXPECT_EQ(PixelAt(image, 0, 0), kDkHeaderBand);
  EXPECT_EQ(PixelAt(image, image.Width - 1, 7), kDkHeaderBand);
  EXPECT_EQ(PixelAt(image, 0, 8), kDkPageBackground);
  // Header text: "0" then a blank then the quote.
  ExpectCell(image, 1, 0, 0, 0x30, csUpperGraphics, kDkHeaderText, kDkHeaderBand);
  ExpectCell(image, 1, 2, 0, 0x22, csUpperGraphics, kDkHeaderText, kDkHeaderBand);
  ExpectCell(image, 1, 0, 1, 0x36, csUpperGraphics, kDkRowText, kDkPageBackground);  // "6"
  ExpectCell(image, 1, 4, 1, 0x02, csUpperGraphics, kDkRowText, kDkPageBackground);  // "B"

  // A wider minimum width widens the band with it; the row limit cuts rows.
  ASSERT_TRUE(DkRenderDiskPreview(BlankD64(), "x.d64", 500, 1, 1, image, csUpperGraphics));
  EXPECT_EQ(image.Width, 500);
  EXPECT_EQ(image.Height, 8);
  EXPECT_EQ(PixelAt(image, 499, 3), kDkHeaderBand);
}

TEST(ListingRender, GlyphPixelsAtEveryScaleAndCharset) {
  const Bytes disk = DiskWith({{"AB", 0x82, 1, 0, 1}});
  for (int scale = 1; scale <= 4; ++scale) {
    for (const TDkCharset charset : {csUpperGraphics, csLowerUpper}) {
      TDkRenderImage image;
      ASSERT_TRUE(DkRenderDiskPreview(disk, "x.d64", 0, scale, 0, image, charset));
      EXPECT_EQ(image.Height, 3 * 8 * scale);
      // Entry row: "1" at column 0, the quote in column 5, then A and B.
      ExpectCell(image, scale, 0, 1, 0x31, charset, kDkRowText, kDkPageBackground);
      ExpectCell(image, scale, 5, 1, 0x22, charset, kDkRowText, kDkPageBackground);
      ExpectCell(image, scale, 6, 1, 0x01, charset, kDkRowText, kDkPageBackground);
      ExpectCell(image, scale, 7, 1, 0x02, charset, kDkRowText, kDkPageBackground);
    }
  }
}

TEST(ListingRender, RejectsWhatItCannotRead) {
  TDkRenderImage image;
  EXPECT_FALSE(DkRenderDiskPreview(BlankD64(), "x.d64", 0, 0, 0, image, csUpperGraphics));
  EXPECT_FALSE(DkRenderDiskPreview(Bytes(1000), "x.bin", 0, 1, 0, image, csUpperGraphics));
  EXPECT_FALSE(DkRenderDiskPreview(Bytes(200000), "x.d64", 0, 1, 0, image, csUpperGraphics));
  EXPECT_TRUE(image.Pixels.empty());
  // A damaged directory still renders what can be read.
  Bytes damaged = DiskWith({{"KEPT", 0x82, 1, 0, 1}});
  SectorEditor(damaged, D64Offset).Link(18, 1, 50, 0);
  ASSERT_TRUE(DkRenderDiskPreview(damaged, "x.d64", 0, 1, 0, image, csUpperGraphics));
  EXPECT_EQ(image.Height, 3 * 8);
  // The listing of one: header, entry, last line, and the entry; none of one whose name promises
  // a DFI its bytes are not.
  TRenderRows rows;
  TDkCbmEntryArray entries;
  ASSERT_TRUE(DkReadListing(damaged, "x.d64", rows, &entries));
  EXPECT_EQ(rows.size(), 3u);
  ASSERT_EQ(entries.size(), 1u);
  EXPECT_EQ(entries[0].Name, "KEPT");
  EXPECT_FALSE(DkReadListing(Bytes(65536), "x.dfi", rows, &entries));
  EXPECT_TRUE(rows.empty());
}

TEST(ListingRender, FlaggedTypesDependOnTheFormat) {
  const std::vector<EntrySpec> entries = {
      {"CBM", 0x85, 1, 0, 1}, {"DIR", 0x86, 1, 0, 1}, {"PRG", 0x82, 1, 0, 1}};
  const auto flags = [&](Bytes bytes, OffsetFunc offset, int t, int s, const char* name) {
    const Bytes disk = DiskWith(entries, std::move(bytes), std::move(offset), t, s);
    const auto image = DkOpenImage(disk, name, false);
    const TRenderRows rows =
        BuildRenderRows(image->DiskNameBytes(), image->DiskIdBytes(), image->Entries(),
                        image->FreeBlocks(), image->FormatName());
    return std::vector<bool>{rows[1].Flagged, rows[2].Flagged, rows[3].Flagged};
  };
  EXPECT_EQ(flags(BlankD64(), D64Offset, 18, 1, "x.d64"), (std::vector<bool>{true, true, false}));
  EXPECT_EQ(flags(BlankD81(), D81Offset, 40, 3, "x.d81"), (std::vector<bool>{false, true, false}));
  EXPECT_EQ(flags(BlankDnp(1), FlatOffset, 1, 34, "x.dnp"),
            (std::vector<bool>{false, false, false}));

  // A flagged row draws its text in red.
  TDkRenderImage image;
  ASSERT_TRUE(DkRenderDiskPreview(DiskWith(entries), "x.d64", 0, 1, 0, image, csUpperGraphics));
  ExpectCell(image, 1, 6, 1, 0x03, csUpperGraphics, kDkFlaggedText, kDkPageBackground);  // "C"
  ExpectCell(image, 1, 6, 3, 0x10, csUpperGraphics, kDkRowText, kDkPageBackground);      // "P"
}

TEST(ListingRender, RunsSplitAtColourChangesAndColoursCarryOn) {
  // RVS ON and a red colour code inside the first name, outside the quotes (after a hidden $A0).
  Bytes name = PaddedName("AB");
  name[3] = 0x12;  // reverse on
  name[4] = 0x1C;  // red
  name[5] = 'Z';
  TDkCbmEntry first = DkCbmEntryFromSlot(
      [&] {
        Bytes slot(32, 0);
        slot[2] = 0x82;
        std::copy(name.begin(), name.end(), slot.begin() + 5);
        slot[30] = 1;
        return slot;
      }(),
      {18, 1, 0});
  TDkCbmEntry second = first;
  second.NameBytes = PaddedName("NEXT");
  const TRenderRows rows =
      BuildRenderRows(PaddedName("D"), Bytes(5, 0x20), {first, second}, 0, "D64");
  const TDkListCells& cells = rows[1].Cells;
  // Cells up to the closing quote are plain colour 14; "Z" is reverse red.
  const auto z =
      std::find_if(cells.begin(), cells.end(), [](const TDkListCell& c) { return c.Code == 0x1A; });
  ASSERT_NE(z, cells.end());
  EXPECT_TRUE(z->Reverse);
  EXPECT_EQ(z->Color, 2);
  EXPECT_EQ(rows[2].Cells[0].Color, 2);  // the next entry starts red
  EXPECT_FALSE(rows[2].Cells[0].Reverse);

  const TDkListRuns runs = BuildListRuns(cells, kDkRowText, kDkPageBackground);
  ASSERT_GE(runs.size(), 2u);
  EXPECT_EQ(runs[0].Start, 0);
  EXPECT_EQ(runs[0].Foreground, kDkRowText);
  EXPECT_EQ(runs[0].Background, kDkPageBackground);
  // The reversed red run: background-coloured glyphs on the palette red.
  EXPECT_EQ(runs[1].Start, static_cast<int>(z - cells.begin()));
  EXPECT_EQ(runs[1].Foreground, kDkPageBackground);
  EXPECT_EQ(runs[1].Background, DkPaletteColor(2));
  int covered = 0;
  for (const TDkListRun& run : runs) covered += run.Count;
  EXPECT_EQ(covered, static_cast<int>(cells.size()));

  // In a flagged row colour 14 resolves to the flagged text colour.
  TDkListCells plain = {{0x01, 14, false}, {0x02, 14, false}, {0x03, 6, true}};
  const TDkListRuns mixed = BuildListRuns(plain, kDkFlaggedText, kDkPageBackground);
  ASSERT_EQ(mixed.size(), 2u);
  EXPECT_EQ(mixed[0].Count, 2);
  EXPECT_EQ(mixed[0].Foreground, kDkFlaggedText);
  EXPECT_EQ(mixed[1].Foreground, kDkPageBackground);
  EXPECT_EQ(mixed[1].Background, kDkPageBackground);
}

// tests/data/dirart.d64 (made by cc1541, see tests/data/README.md): three entries whose names draw
// a box of lines, tees and a cross, a box with rounded corners and a box of edge bars and corner
// brackets. Wherever two neighbouring cells of the names both hold a glyph, the pixels along their
// common edge must match, so that every stroke runs on without a step or a gap.
TEST(ListingRender, DirectoryArtJoinsAcrossCellsAndRows) {
  const Bytes disk = ReadTestFile("tests/data/dirart.d64");
  constexpr int kScale = 2, kCell = 8 * kScale, kNameLength = 16;
  TDkRenderImage image;
  ASSERT_TRUE(DkRenderDiskPreview(disk, "dirart.d64", 0, kScale, 0, image, csUpperGraphics));
  // Entry rows are 1 to 3; the name follows the first quote of its line.
  const auto opened = DkOpenImage(disk, "dirart.d64", false);
  const TRenderRows rows = BuildRenderRows(opened->DiskNameBytes(), opened->DiskIdBytes(),
                                           opened->Entries(), opened->FreeBlocks(), "D64");
  ASSERT_EQ(rows.size(), 5u);
  const auto quote = std::find(rows[1].Text.begin(), rows[1].Text.end(), 0x22);
  const int name_column = static_cast<int>(quote - rows[1].Text.begin()) + 1;

  const auto lit = [&](int x, int y) { return PixelAt(image, x, y) == kDkRowText; };
  const auto blank = [&](int column, int row) {
    for (int y = 0; y < kCell; ++y)
      for (int x = 0; x < kCell; ++x)
        if (lit((column + 1) * kCell + x, row * kCell + y)) return false;
    return true;
  };
  int horizontal_joins = 0, vertical_joins = 0;
  for (int row = 1; row <= 3; ++row) {
    for (int column = name_column; column < name_column + kNameLength; ++column) {
      if (blank(column, row)) continue;
      const int x = (column + 1) * kCell, y = row * kCell;
      if (column + 1 < name_column + kNameLength && !blank(column + 1, row)) {
        ++horizontal_joins;
        for (int dy = 0; dy < kCell; ++dy)
          ASSERT_EQ(lit(x + kCell - 1, y + dy), lit(x + kCell, y + dy))
              << "row " << row << " between columns " << column << " and " << column + 1;
      }
      if (row < 3 && !blank(column, row + 1)) {
        ++vertical_joins;
        for (int dx = 0; dx < kCell; ++dx)
          ASSERT_EQ(lit(x + dx, y + kCell - 1), lit(x + dx, y + kCell))
              << "column " << column << " between rows " << row << " and " << row + 1;
      }
    }
  }
  EXPECT_EQ(horizontal_joins, 13 + 7 + 13);
  EXPECT_EQ(vertical_joins, 11 + 11);
  // The top bar of the first box is one unbroken band, two glyph rows high, from the first
  // corner's arm to the last corner's.
  const int first = (name_column + 1) * kCell;
  for (int y = kCell + 3 * kScale; y < kCell + 5 * kScale; ++y)
    for (int x = first + 3 * kScale; x < first + 6 * kCell + 5 * kScale; ++x)
      ASSERT_TRUE(lit(x, y)) << x << "," << y;
}

TEST(Thumbnail, TheTopOfTheListingFittedIntoTheBox) {
  const Bytes disk = DiskWith({{"ONE", 0x82, 17, 0, 3}, {"TWO", 0x81, 17, 1, 1}});
  for (int size : {16, 100, 1024}) {
    TDkRenderImage upper, lower;
    ASSERT_TRUE(DkRenderThumbnail(disk, "x.d64", size, csUpperGraphics, upper));
    ASSERT_TRUE(DkRenderThumbnail(disk, "x.d64", size, csLowerUpper, lower));
    EXPECT_LE(upper.Width, size);
    EXPECT_LE(upper.Height, size);
    EXPECT_EQ(std::max(upper.Width, upper.Height), size);
    EXPECT_EQ(upper.Pixels.size(), static_cast<std::size_t>(upper.Width) * upper.Height * 4);
    EXPECT_NE(upper.Pixels, lower.Pixels);  // the charsets differ in the letters
  }
  // Area averaging: one output pixel of a 2 x 2 block is its rounded mean.
  TDkRenderImage block;
  block.Width = 2;
  block.Height = 2;
  block.Pixels = {0, 0, 0, 255, 10, 20, 30, 255, 1, 2, 3, 255, 255, 255, 255, 255};
  const TDkRenderImage one = DkResampleImage(block, 1, 1);
  EXPECT_EQ(one.Pixels, (Bytes{67, 69, 72, 255}));
  // Halving each way: every output pixel takes its own 2 x 2 block and nothing of its neighbours.
  TDkRenderImage quadrants{4, 4, Bytes(64, 255)};
  for (int y = 0; y < 4; ++y)
    for (int x = 0; x < 4; ++x)
      std::fill_n(quadrants.Pixels.begin() + (y * 4 + x) * 4, 3, (y / 2 * 2 + x / 2) * 60);
  EXPECT_EQ(DkResampleImage(quadrants, 2, 2).Pixels,
            (Bytes{0, 0, 0, 255, 60, 60, 60, 255, 120, 120, 120, 255, 180, 180, 180, 255}));
  TDkRenderImage none;
  EXPECT_FALSE(DkRenderThumbnail(Bytes(1000, 0), "x.d64", 64, csUpperGraphics, none));
  EXPECT_TRUE(none.Pixels.empty());
  EXPECT_FALSE(DkRenderThumbnail(disk, "x.d64", 0, csUpperGraphics, none));
}

}  // namespace
}  // namespace kelvane
