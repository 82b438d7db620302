#include "render/listing_render.h"

#include <algorithm>
#include <cstring>

#include "common/exception.h"
#include "registry/registry.h"

namespace kelvane {

namespace {

// The machine's palette as 0xRRGGBB.
constexpr std::array<std::uint32_t, 16> kPaletteRgb = {
    0x000000, 0xFFFFFF, 0x813338, 0x75CEC8, 0x8E3C97, 0x56AC4D, 0x2E2C9B, 0xEDF171,
    0x8E5029, 0x553800, 0xC46C71, 0x4A4A4A, 0x7B7B7B, 0xA9FF9F, 0x706DEB, 0xB2B2B2};

// Cell colour indices that stand for the row's own colours instead of the palette.
constexpr int kBackgroundIndex = 6;
constexpr int kTextIndex = 14;

void PutPixel(std::uint8_t* at, std::uint32_t color) {
  at[0] = static_cast<std::uint8_t>(color >> 16);  // blue
  at[1] = static_cast<std::uint8_t>(color >> 8);   // green
  at[2] = static_cast<std::uint8_t>(color);        // red
  at[3] = 255;
}

std::uint32_t Resolve(int index, std::uint32_t text, std::uint32_t background) {
  if (index == kBackgroundIndex) return background;
  if (index == kTextIndex) return text;
  return DkPaletteColor(index);
}

}  // namespace

std::uint32_t DkPaletteColor(int index) {
  const std::uint32_t rgb = kPaletteRgb[static_cast<std::size_t>(((index % 16) + 16) % 16)];
  return ((rgb & 0xFF) << 16) | (rgb & 0xFF00) | (rgb >> 16);
}

TRenderRows BuildRenderRows(ByteView disk_name, ByteView disk_id, const TDkCbmEntryArray& entries,
                            int blocks_free, const std::string& format_name) {
  return BuildRenderRows(disk_name, disk_id, entries, DkCbmBlocksFreeLineBytes(blocks_free),
                         format_name);
}

TRenderRows BuildRenderRows(ByteView disk_name, ByteView disk_id, const TDkCbmEntryArray& entries,
                            ByteView last_line, const std::string& format_name) {
  TRenderRows rows;
  rows.reserve(entries.size() + 2);
  TRenderRow header;
  header.Text = DkCbmHeaderLineBytes(disk_name, disk_id, false);
  header.Header = true;
  rows.push_back(std::move(header));

  // The colour carries from entry to entry, as a colour code printed in one name does on the
  // machine.
  std::uint8_t color = kListStartColor;
  for (const TDkCbmEntry& entry : entries) {
    TRenderRow row;
    // The BASIC line the drive sends: the block count as its line number, the body.
    const int blocks = std::clamp(entry.Blocks, 0, 65535);
    const Bytes body = DkCbmEntryLineBody(entry);
    const std::string number = std::to_string(blocks) + " ";
    row.Text.assign(number.begin(), number.end());
    row.Text.insert(row.Text.end(), body.begin(), body.end());
    row.Cells = DkListBasicLine(blocks, body, color);
    row.Flagged = !DkCbmFileTypeAllowed(format_name, static_cast<std::uint8_t>(entry.RawType & 15));
    rows.push_back(std::move(row));
  }
  TRenderRow free_row;
  free_row.Text.assign(last_line.begin(), last_line.end());
  rows.push_back(std::move(free_row));
  return rows;
}

TDkListRuns BuildListRuns(const TDkListCells& cells, std::uint32_t text, std::uint32_t background) {
  TDkListRuns runs;
  for (std::size_t i = 0; i < cells.size(); ++i) {
    const TDkListCell& cell = cells[i];
    const int fg_index = cell.Reverse ? kBackgroundIndex : cell.Color;
    const int bg_index = cell.Reverse ? cell.Color : kBackgroundIndex;
    const std::uint32_t fg = Resolve(fg_index, text, background);
    const std::uint32_t bg = Resolve(bg_index, text, background);
    if (!runs.empty() && runs.back().Foreground == fg && runs.back().Background == bg) {
      ++runs.back().Count;
    } else {
      runs.push_back({static_cast<int>(i), 1, fg, bg});
    }
  }
  return runs;
}

void FillImageRows(TDkRenderImage& image, int top, int width, int height, std::uint32_t color) {
  const int first = std::max(top, 0);
  const int last = std::min(image.Height, top + height);  // exclusive
  const int columns = std::min(image.Width, width);
  if (first >= last || columns <= 0) return;
  std::uint8_t pixel[4];
  PutPixel(pixel, color);
  // The first row pixel by pixel, the others as copies of it.
  const std::size_t stride = static_cast<std::size_t>(image.Width) * 4;
  const std::size_t length = static_cast<std::size_t>(columns) * 4;
  std::uint8_t* first_row = image.Pixels.data() + static_cast<std::size_t>(first) * stride;
  for (std::size_t x = 0; x < length; x += 4) std::memcpy(first_row + x, pixel, 4);
  for (int y = first + 1; y < last; ++y) {
    std::memcpy(image.Pixels.data() + static_cast<std::size_t>(y) * stride, first_row, length);
  }
}

namespace {

// A tile's row is a few dozen bytes, copied tens of thousands of times per listing: in 16-byte
// pieces the compiler copies them in place, where a memcpy call per row costs more than the copy
// (most of all with a C runtime whose memcpy is not inlined, as on Windows).
void CopyPixelRow(std::uint8_t* target, const std::uint8_t* source, std::size_t bytes) {
  std::size_t i = 0;
  for (; i + 16 <= bytes; i += 16) {
    std::uint8_t piece[16];
    std::memcpy(piece, source + i, 16);
    std::memcpy(target + i, piece, 16);
  }
  if (i < bytes) std::memcpy(target + i, source + i, bytes - i);
}

}  // namespace

int CellBankFor(TCellCache& cache, TDkCharset charset, int vertical_scale, int horizontal_scale,
                std::uint32_t foreground, std::uint32_t background) {
  for (std::size_t i = 0; i < cache.size(); ++i) {
    const TCellBank& bank = cache[i];
    if (bank.Charset == charset && bank.Foreground == foreground && bank.Background == background &&
        bank.VerticalScale == vertical_scale && bank.HorizontalScale == horizontal_scale) {
      return static_cast<int>(i);
    }
  }
  TCellBank bank;
  bank.Charset = charset;
  bank.Foreground = foreground;
  bank.Background = background;
  bank.VerticalScale = vertical_scale;
  bank.HorizontalScale = horizontal_scale;
  cache.push_back(std::move(bank));
  return static_cast<int>(cache.size() - 1);
}

const Bytes& CellTile(TCellBank& bank, std::uint8_t code) {
  Bytes& tile = bank.Tiles[code];
  if (!tile.empty()) return tile;
  const TDkGlyph glyph = DkCharsetGlyph(code, static_cast<TDkCharset>(bank.Charset));
  const int width = 8 * bank.HorizontalScale;
  const int height = 8 * bank.VerticalScale;
  tile.resize(static_cast<std::size_t>(width) * static_cast<std::size_t>(height) * 4);
  std::uint8_t* at = tile.data();
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x, at += 4) {
      PutPixel(at, DkGlyphScaledPixelXY(glyph, bank.HorizontalScale, bank.VerticalScale, x, y)
                       ? bank.Foreground
                       : bank.Background);
    }
  }
  return tile;
}

void BlitGlyphRun(TDkRenderImage& image, TCellCache& cache, int x, int y, ByteView codes,
                  int vertical_scale, int horizontal_scale, std::uint32_t foreground,
                  std::uint32_t background, TDkCharset charset) {
  const int cell_width = 8 * horizontal_scale;
  const int cell_height = 8 * vertical_scale;
  const int first_row = std::max(y, 0);
  const int last_row = std::min(image.Height, y + cell_height);  // exclusive
  if (first_row >= last_row) return;
  TCellBank& bank = cache[static_cast<std::size_t>(
      CellBankFor(cache, charset, vertical_scale, horizontal_scale, foreground, background))];
  const std::size_t stride = static_cast<std::size_t>(image.Width) * 4;
  for (std::size_t k = 0; k < codes.size(); ++k) {
    const long long left = x + static_cast<long long>(k) * cell_width;
    const long long first_col = std::max<long long>(left, 0);
    const long long last_col = std::min<long long>(image.Width, left + cell_width);  // exclusive
    if (first_col >= last_col) continue;
    const Bytes& tile = CellTile(bank, codes[k]);
    const std::size_t tile_stride = static_cast<std::size_t>(cell_width) * 4;
    const std::size_t bytes = static_cast<std::size_t>(last_col - first_col) * 4;
    for (int row = first_row; row < last_row; ++row) {
      const std::uint8_t* source = tile.data() + static_cast<std::size_t>(row - y) * tile_stride +
                                   static_cast<std::size_t>(first_col - left) * 4;
      std::uint8_t* target = image.Pixels.data() + static_cast<std::size_t>(row) * stride +
                             static_cast<std::size_t>(first_col) * 4;
      CopyPixelRow(target, source, bytes);
    }
  }
}

// Empties the image but keeps its pixel buffer, so that rendering into it again reuses the memory.
void ClearImage(TDkRenderImage& image) {
  image.Width = 0;
  image.Height = 0;
  image.Pixels.clear();
}

bool RenderRows(const TRenderRows& rows, int min_width, int scale, int row_limit,
                TDkRenderImage& image, int& rows_drawn, TDkCharset charset) {
  ClearImage(image);
  rows_drawn = 0;
  TCellCache cache;
  const int cell = 8 * scale;
  int n = static_cast<int>(rows.size());
  if (row_limit > 0) n = std::min(n, row_limit);
  if (n < 1 || cell < 1) return false;

  std::size_t columns = 0;
  for (int i = 0; i < n; ++i) {
    const TRenderRow& row = rows[static_cast<std::size_t>(i)];
    columns = std::max({columns, row.Text.size(), row.Cells.size()});
  }
  const long long width =
      std::max<long long>(min_width, static_cast<long long>(columns + 1) * cell);
  const long long height = static_cast<long long>(n) * cell;
  if (width * height > (1LL << 28))
    return false;  // refuse absurd sizes instead of failing to allocate
  image.Width = static_cast<int>(width);
  image.Height = static_cast<int>(height);
  image.Pixels.resize(static_cast<std::size_t>(width * height) * 4);
  FillImageRows(image, 0, image.Width, image.Height, kDkPageBackground);

  for (int i = 0; i < n; ++i) {
    const TRenderRow& row = rows[static_cast<std::size_t>(i)];
    ++rows_drawn;
    const int y = i * cell;
    std::uint32_t text = row.Flagged ? kDkFlaggedText : kDkRowText;
    std::uint32_t background = kDkPageBackground;
    if (row.Header) {
      text = kDkHeaderText;
      background = kDkHeaderBand;
      FillImageRows(image, y, image.Width, cell, kDkHeaderBand);
    }
    if (row.Cells.empty()) {
      Bytes codes(row.Text.size());
      std::transform(row.Text.begin(), row.Text.end(), codes.begin(), DkPetsciiToScreenCode);
      BlitGlyphRun(image, cache, cell, y, codes, scale, scale, text, background, charset);
      continue;
    }
    for (const TDkListRun& run : BuildListRuns(row.Cells, text, background)) {
      Bytes codes(static_cast<std::size_t>(run.Count));
      for (int k = 0; k < run.Count; ++k)
        codes[static_cast<std::size_t>(k)] =
            row.Cells[static_cast<std::size_t>(run.Start + k)].Code;
      BlitGlyphRun(image, cache, (run.Start + 1) * cell, y, codes, scale, scale, run.Foreground,
                   run.Background, charset);
    }
  }
  return true;
}

bool DkReadListing(ByteView data, const std::string& file_name, TRenderRows& rows,
                   TDkCbmEntryArray* entries) {
  rows.clear();
  try {
    const long long size = static_cast<long long>(data.size());
    if (!DkIsListableFormat(DkDetectImageFormat(file_name, data, size))) return false;
    // A damaged directory shows what can be read.
    const auto opened = DkOpenImage(TDkImageBytes::Borrow(data), file_name, true);
    const std::string name = opened->FormatName();
    // Only the drive families that fix a set of native file types name one; DFI and the
    // containers do not.
    const std::string format_name = opened->MaxTrack() == 0 || name == "DFI" ? std::string() : name;
    TDkCbmEntryArray listed = opened->Entries();
    rows = BuildRenderRows(opened->DiskNameBytes(), opened->DiskIdBytes(), listed,
                           opened->LastLineBytes(), format_name);
    if (entries != nullptr) *entries = std::move(listed);
    return true;
  } catch (const Exception&) {
    rows.clear();
    return false;
  }
}

bool DkRenderDiskPreview(ByteView data, const std::string& file_name, int min_width, int scale,
                         int max_rows, TDkRenderImage& image, TDkCharset charset) {
  ClearImage(image);
  TRenderRows rows;
  if (scale < 1 || !DkReadListing(data, file_name, rows)) return false;
  int drawn = 0;
  return RenderRows(rows, min_width, scale, max_rows < 1 ? 0 : max_rows, image, drawn, charset);
}

}  // namespace kelvane
