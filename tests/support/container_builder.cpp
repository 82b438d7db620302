#include "support/container_builder.h"

#include <algorithm>

namespace kelvane::testing {

namespace {

void Put16(Bytes& out, std::size_t at, unsigned value) {
  out[at] = static_cast<std::uint8_t>(value);
  out[at + 1] = static_cast<std::uint8_t>(value >> 8);
}

void AppendText(Bytes& out, const std::string& text) {
  out.insert(out.end(), text.begin(), text.end());
}

}  // namespace

Bytes BuildT64(const std::vector<T64File>& files, const T64Options& options) {
  const std::size_t slots =
      options.slots < 0 ? files.size() : static_cast<std::size_t>(options.slots);
  Bytes out(64 + 32 * slots, 0);
  std::copy_n(options.signature.begin(), std::min<std::size_t>(options.signature.size(), 32),
              out.begin());
  Put16(out, 32, 0x0101);
  Put16(out, 34, static_cast<unsigned>(slots));
  Put16(out, 36, static_cast<unsigned>(options.used < 0 ? files.size() : options.used));
  std::fill_n(out.begin() + 40, 24, 0x20);
  std::copy_n(options.tape_name.begin(), std::min<std::size_t>(options.tape_name.size(), 24),
              out.begin() + 40);
  std::vector<std::size_t> order(files.size());
  for (std::size_t i = 0; i < files.size(); ++i) order[i] = i;
  if (options.data_reversed) std::reverse(order.begin(), order.end());
  for (const std::size_t i : order) {
    const T64File& file = files[i];
    const std::size_t slot = 64 + 32 * i;
    const std::size_t offset = out.size();
    out[slot] = file.entry_type;
    out[slot + 1] = file.file_type;
    Put16(out, slot + 2, file.start);
    Put16(out, slot + 4,
          options.converter_end ? 0xC3C6u : static_cast<unsigned>(file.start + file.data.size()));
    for (int b = 0; b < 4; ++b) out[slot + 8 + b] = static_cast<std::uint8_t>(offset >> (8 * b));
    std::fill_n(out.begin() + static_cast<std::ptrdiff_t>(slot + 16), 16, 0x20);
    std::copy_n(file.name.begin(), std::min<std::size_t>(file.name.size(), 16),
                out.begin() + static_cast<std::ptrdiff_t>(slot + 16));
    out.insert(out.end(), file.data.begin(), file.data.end());
    out.resize(out.size() + options.gap, 0);
  }
  return out;
}

Bytes BuildLynx(const std::vector<LynxFile>& files, const LynxOptions& options) {
  // 10 SYS... as a BASIC program at 0x0801: a link, the line number, text and end; then a zero
  // link.
  Bytes out = {0x01, 0x08};
  const unsigned next = 0x0801 + 4 + static_cast<unsigned>(options.basic_text.size()) + 1;
  out.insert(out.end(),
             {static_cast<std::uint8_t>(next), static_cast<std::uint8_t>(next >> 8), 10, 0});
  AppendText(out, options.basic_text);
  out.insert(out.end(), {0, 0, 0});
  if (!options.bare_signature) out.push_back(0x0D);

  Bytes entries;
  const int claimed =
      options.claimed_entries < 0 ? static_cast<int>(files.size()) : options.claimed_entries;
  AppendText(entries, " " + std::to_string(claimed) + " \r");
  for (std::size_t i = 0; i < files.size(); ++i) {
    const LynxFile& file = files[i];
    Bytes name(file.name.begin(), file.name.end());
    name.resize(16, 0xA0);
    entries.insert(entries.end(), name.begin(), name.end());
    const std::size_t blocks = (file.data.size() + 253) / 254;
    AppendText(entries, "\r " + std::to_string(blocks) + "\r" + std::string(1, file.type) + "\r");
    if (file.type == 'R') AppendText(entries, " 64\r");
    if (options.omit_last_size && i + 1 == files.size()) continue;
    const std::size_t last = file.data.empty() ? 0 : file.data.size() - (blocks - 1) * 254 + 1;
    AppendText(entries, " " + std::to_string(last) + " \r");
  }
  // The directory's size in blocks counts the BASIC program and the lines themselves.
  std::size_t directory_blocks = 1;
  for (;;) {
    const std::string head = (options.bare_signature ? "" : " ") +
                             std::to_string(directory_blocks) + "  " + options.stamp + "\r";
    const std::size_t size = out.size() + head.size() + entries.size();
    if (size <= directory_blocks * 254) {
      AppendText(out, head);
      break;
    }
    ++directory_blocks;
  }
  out.insert(out.end(), entries.begin(), entries.end());
  out.resize(directory_blocks * 254, 0);
  for (const LynxFile& file : files) {
    const std::size_t blocks = (file.data.size() + 253) / 254;
    Bytes padded = file.data;
    padded.resize(blocks * 254, 0);
    out.insert(out.end(), padded.begin(), padded.end());
  }
  // The last file ends where its bytes end: nothing pads it.
  if (!files.empty()) {
    const std::size_t tail = files.back().data.size();
    const std::size_t blocks = (tail + 253) / 254;
    out.resize(out.size() - (blocks * 254 - tail));
  }
  return out;
}

}  // namespace kelvane::testing
