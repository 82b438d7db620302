// Arbitrary path data through the path reader and the rasteriser at a small size.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "render/icons.h"

using namespace kelvane;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 1) return 0;
  const int mask_size = 1 + data[0] % 24;
  const std::string_view path(reinterpret_cast<const char*>(data + 1), size - 1);
  TKvIconMask mask;
  if (RasteriseIcon(path, mask_size, mask)) {
    if (mask.Size != mask_size ||
        mask.Coverage.size() != static_cast<std::size_t>(mask_size * mask_size)) {
      std::abort();
    }
  } else if (mask.Size != 0 || !mask.Coverage.empty()) {
    std::abort();
  }
  return 0;
}
