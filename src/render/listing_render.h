#pragma once

// The directory listing of a disk image as a bitmap: the header line on a band, one line per
// entry and the "BLOCKS FREE." line, drawn with the machine's glyphs enlarged by a whole factor.
// The output is plain 32-bit pixels (blue, green, red, alpha), rows top to bottom.

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "cbm/entry.h"
#include "cbm/listing.h"
#include "render/charset.h"

namespace kelvane {

// Colours are 0x00BBGGRR throughout.
inline constexpr std::uint32_t kDkPageBackground = 0x2A2A2A;
inline constexpr std::uint32_t kDkRowText = 0x909090;
inline constexpr std::uint32_t kDkFlaggedText = 0x4040FF;
inline constexpr std::uint32_t kDkHeaderText = 0xF2F2F2;
inline constexpr std::uint32_t kDkHeaderBand = 0x5D5D5D;

struct TDkRenderImage {
  int Width = 0;
  int Height = 0;
  Bytes Pixels;  // Width x Height x 4: blue, green, red, alpha (always 255)
};

struct TRenderRow {
  Bytes Text;          // the PETSCII line
  TDkListCells Cells;  // screen cells from the LIST model; empty for header and blocks-free rows
  bool Header = false;
  bool Flagged = false;  // the entry's type is not one the format holds
};
using TRenderRows = std::vector<TRenderRow>;

struct TDkListRun {
  int Start = 0;
  int Count = 0;
  std::uint32_t Foreground = 0;
  std::uint32_t Background = 0;
};
using TDkListRuns = std::vector<TDkListRun>;

// Tiles of one (charset, colours, scale): each the glyph of its screen code, drawn opaque.
struct TCellBank {
  int Charset = 0;
  std::uint32_t Foreground = 0;
  std::uint32_t Background = 0;
  int VerticalScale = 1;
  int HorizontalScale = 1;
  std::array<Bytes, 256> Tiles;  // empty until built
};
using TCellCache = std::vector<TCellBank>;

// The machine's colour `index` (0-15, taken modulo 16) as 0x00BBGGRR.
std::uint32_t DkPaletteColor(int index);

// Renders the listing of the image in `data`; false (and an empty image) when it cannot be read.
// `max_rows` >= 1 limits the rows (the header counts), 0 or less renders all. The pixel buffer
// `image` brings is reused when it is large enough.
bool DkRenderDiskPreview(ByteView data, const std::string& file_name, int min_width, int scale,
                         int max_rows, TDkRenderImage& image, TDkCharset charset);

// Reads the listing's rows from the image in `data`, and with `entries` its entries, opening it
// once; false (and no rows) when it cannot be read.
bool DkReadListing(ByteView data, const std::string& file_name, TRenderRows& rows,
                   TDkCbmEntryArray* entries = nullptr);

TRenderRows BuildRenderRows(ByteView disk_name, ByteView disk_id, const TDkCbmEntryArray& entries,
                            int blocks_free, const std::string& format_name);
// The same with the last line given (a container's).
TRenderRows BuildRenderRows(ByteView disk_name, ByteView disk_id, const TDkCbmEntryArray& entries,
                            ByteView last_line, const std::string& format_name);
TDkListRuns BuildListRuns(const TDkListCells& cells, std::uint32_t text, std::uint32_t background);
bool RenderRows(const TRenderRows& rows, int min_width, int scale, int row_limit,
                TDkRenderImage& image, int& rows_drawn, TDkCharset charset);
void BlitGlyphRun(TDkRenderImage& image, TCellCache& cache, int x, int y, ByteView codes,
                  int vertical_scale, int horizontal_scale, std::uint32_t foreground,
                  std::uint32_t background, TDkCharset charset);
void FillImageRows(TDkRenderImage& image, int top, int width, int height, std::uint32_t color);
int CellBankFor(TCellCache& cache, TDkCharset charset, int vertical_scale, int horizontal_scale,
                std::uint32_t foreground, std::uint32_t background);
const Bytes& CellTile(TCellBank& bank, std::uint8_t code);

}  // namespace kelvane
