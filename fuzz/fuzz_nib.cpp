// NIB files: the header and table come from the input, the track data is the rest of the input
// repeated into 8192-byte blocks (so small inputs still make whole files). Whatever the input, a
// G64 built from it must parse and convert.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "formats/gcr.h"

using namespace kelvane;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 1) return 0;
  const int tracks = data[0] % 6;
  Bytes nib(256, 0);
  std::memcpy(nib.data(), "MNIB-1541-RAW", 13);
  std::size_t at = 1;
  for (int k = 0; k < tracks && at + 1 < size; ++k, at += 2) {
    nib[16 + 2 * static_cast<std::size_t>(k)] = data[at];
    nib[17 + 2 * static_cast<std::size_t>(k)] = data[at + 1];
  }
  const std::size_t rest = size - std::min(at, size);
  for (int k = 0; k < tracks; ++k) {
    for (int i = 0; i < 8192; ++i) {
      nib.push_back(
          rest == 0 ? 0
                    : data[at + (static_cast<std::size_t>(i) + 977u * static_cast<std::size_t>(k)) %
                                    rest]);
    }
  }
  Bytes g64;
  try {
    g64 = DkNibToG64(nib);
  } catch (const EDkNibImage&) {
    return 0;
  }
  try {
    DkG64ToD64(g64);
  } catch (const EDkG64Image&) {
    std::abort();  // our own G64 must always be valid
  }
  return 0;
}
