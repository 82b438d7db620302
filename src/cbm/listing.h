#pragma once

// The directory as a Commodore 64 prints it after LOAD"$",8 and LIST: the drive sends a BASIC
// program whose line numbers are block counts, and LIST turns each line into screen cells
// (tokens expanded, quote mode, colour codes, reverse video). This unit produces the entry lines'
// bodies and those cells, and plain PETSCII byte lines for the header and "BLOCKS FREE." lines.

#include <cstdint>
#include <vector>

#include "cbm/entry.h"

namespace kelvane {

// A plain aggregate (no member initialisers) so that a line of them can be set up without
// initialising all 80 first.
struct TDkListCell {
  std::uint8_t Code;   // screen code 0..127; reverse is held separately
  std::uint8_t Color;  // C64 colour index 0..15
  bool Reverse;
};

// One logical C64 line: at most 80 cells (two 40-column rows).
using TDkListCells = std::vector<TDkListCell>;

inline constexpr int kListLineCells = 80;
inline constexpr std::uint8_t kListStartColor = 14;  // light blue

std::uint8_t DkPetsciiToScreenCode(std::uint8_t petscii);

// The entry line body as the drive sends it (padding, quoted name, splat, type, lock): LIST
// prints the block count, one space and this, so the opening quote stands in column 5 for block
// counts of one to four digits, as on the machine.
Bytes DkCbmEntryLineBody(const TDkCbmEntry& entry);

// LIST of one BASIC line. `color` is carried from line to line by the caller.
TDkListCells DkListBasicLine(int line_number, ByteView body, std::uint8_t& color);

Bytes DkCbmHeaderLineBytes(ByteView disk_name, ByteView disk_id, bool leading_space);
Bytes DkCbmBlocksFreeLineBytes(int free_blocks);

}  // namespace kelvane
