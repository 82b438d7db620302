// Archives of arbitrary bytes, as find and the tool meet them: every member is handed over or
// refused, none larger than the limit, and every member that reads as an image is opened over
// its buffer and searched through its partitions. Nothing may fail other than by a library
// exception.
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "collect/archive.h"
#include "collect/find.h"
#include "common/exception.h"
#include "registry/registry.h"

using namespace kelvane;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  // Small enough that the fuzzer reaches it: a member past it must be cut off there.
  constexpr std::size_t kLimit = 256 * 1024;
  const TDkFindQuery everything;
  try {
    DkReadArchiveBytes(ByteView(data, size), "fuzz.zip", kLimit, [&](const TDkArchiveMember& m) {
      if (m.Bytes.size() > kLimit || (!m.Error.empty() && !m.Bytes.empty())) std::abort();
      if (!m.Error.empty()) return true;
      try {
        const auto image = DkOpenImage(TDkImageBytes::Borrow(m.Bytes), m.Name, true);
        TDkStringList warnings;
        DkFindEntries(*image, everything, warnings);
      } catch (const Exception&) {
      }
      return true;
    });
  } catch (const Exception&) {
  }
  return 0;
}
