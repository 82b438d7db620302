#pragma once

// Small pieces the sector-image readers share.

#include <bit>
#include <cstdint>
#include <string>

#include "common/format.h"

namespace kelvane {

// "%d or %d bytes - the second includes a trailing error-info block"
inline std::string DkSizePairText(int plain, int with_error_info) {
  return Format("%d or %d bytes - the second includes a trailing error-info block", plain,
                with_error_info);
}

inline int DkBitCount(std::uint8_t byte) {
  return std::popcount(byte);
}

}  // namespace kelvane
