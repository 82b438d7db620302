#pragma once

namespace kelvane {

// The two charsets of the machine's character ROM; the ordinal is what the per-user setting keeps.
enum TDkCharset : int {
  csUpperGraphics = 0,  // upper-case letters and graphics, the set shown after power-on
  csLowerUpper = 1,     // lower-case and upper-case letters
};

}  // namespace kelvane
