// CMD FD disks with damaged partition tables: the input is laid over a blank D1M's system area
// (config block, partition directory) and, past 10 KiB, over the start of its first partition.
// Opening in both modes, searching and adding a file may only fail by a library exception; the
// partitions the table keeps lie inside the partition area and do not overlap, and a write never
// touches a byte outside the default partition.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "collect/find.h"
#include "common/exception.h"
#include "formats/cmd.h"
#include "registry/registry.h"
#include "write/blank.h"
#include "write/directory_writer.h"
#include "write/writer_select.h"

using namespace kelvane;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static const Bytes blank = DkBlankImage({cifD1M,
                                           0,
                                           Bytes{'F', 'U', 'Z', 'Z', 0xA0, 0xA0, 0xA0, 0xA0, 0xA0,
                                                 0xA0, 0xA0, 0xA0, 0xA0, 0xA0, 0xA0, 0xA0},
                                           {'F', 'Z'}});
  constexpr std::size_t kSystem = 0x640 * 512;
  constexpr std::size_t kSystemBytes = 40 * 256;
  Bytes image = blank;
  std::memcpy(image.data() + kSystem, data, std::min(size, kSystemBytes));
  if (size > kSystemBytes) {
    std::memcpy(image.data(), data + kSystemBytes, std::min(size - kSystemBytes, kSystem));
  }

  const TDkCmdTable table = DkCmdReadTable(image);
  for (std::size_t i = 0; i < table.Partitions.size(); ++i) {
    const TDkCmdPartition& p = table.Partitions[i];
    if (p.Start + p.Size > kSystem) std::abort();
    for (std::size_t j = 0; j < i; ++j) {
      const TDkCmdPartition& q = table.Partitions[j];
      if (p.Start < q.Start + q.Size && q.Start < p.Start + p.Size) std::abort();
    }
  }
  for (const bool recover : {true, false}) {
    try {
      const auto disk = DkOpenImage(TDkImageBytes::Borrow(image), "fuzz.d1m", recover);
      TDkStringList warnings;
      DkFindEntries(*disk, TDkFindQuery{}, warnings);
    } catch (const Exception&) {
    }
  }
  const Bytes before = image;
  try {
    auto writer = DkOpenWriter(image, "fuzz.d1m");
    DkCbmAddFile(*writer, writer->DirTrack(), writer->FirstDirSector(), Bytes{'F'}, cftPRG,
                 Bytes(600, 0x55));
  } catch (const Exception&) {
  }
  const TDkCmdPartition* target = table.Default();
  for (std::size_t i = 0; i < image.size(); ++i) {
    const bool inside = target != nullptr && i >= target->Start && i < target->Start + target->Size;
    if (!inside && image[i] != before[i]) std::abort();
  }
  return 0;
}
