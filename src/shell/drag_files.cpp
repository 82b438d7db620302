#include "shell/drag_files.h"

#include <algorithm>

#include "common/text.h"
#include "extract/entry_io.h"
#include "registry/registry.h"

namespace kelvane {

namespace {

// The image is handed to the extraction open; its entry paths only need a valid image name.
constexpr const char* kDragImageName = "kelvane.d64";

}  // namespace

std::u16string KvUtf8ToUtf16(std::string_view text) {
  std::u16string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size();) {
    const auto byte = static_cast<unsigned char>(text[i]);
    char32_t code = 0xFFFD;
    std::size_t length = 1;
    if (byte < 0x80) {
      code = byte;
    } else if (byte >= 0xC2 && byte < 0xF5) {
      length = byte < 0xE0 ? 2 : byte < 0xF0 ? 3 : 4;
      code = byte & (0x7F >> length);
      // A sequence cut short, by a byte that continues nothing or by the end of the text, is one
      // replacement character for what it has; the byte that cut it starts the next character.
      std::size_t k = 1;
      for (; k < length && i + k < text.size(); ++k) {
        const auto next = static_cast<unsigned char>(text[i + k]);
        if ((next & 0xC0) != 0x80) break;
        code = code << 6 | (next & 0x3F);
      }
      if (k < length) {
        code = 0xFFFD;
        length = k;
      }
    }
    if (code > 0x10FFFF) code = 0xFFFD;
    if (code >= 0x10000) {
      code -= 0x10000;
      out.push_back(static_cast<char16_t>(0xD800 + (code >> 10)));
      out.push_back(static_cast<char16_t>(0xDC00 + (code & 0x3FF)));
    } else {
      out.push_back(static_cast<char16_t>(code));
    }
    i += length;
  }
  return out;
}

bool KvIsGuidName(std::u16string_view name) {
  if (name.size() != 36) return false;
  for (std::size_t i = 0; i < name.size(); ++i) {
    const char16_t c = name[i];
    if (i == 8 || i == 13 || i == 18 || i == 23) {
      if (c != u'-') return false;
    } else if (!((c >= u'0' && c <= u'9') || (c >= u'a' && c <= u'f') ||
                 (c >= u'A' && c <= u'F'))) {
      return false;
    }
  }
  return true;
}

bool BuildDragFiles(ByteView data, const std::string& detection_name,
                    const std::vector<int>& indices, TKvDragFileArray& files) {
  files.clear();
  const long long size = static_cast<long long>(data.size());
  if (!DkIsSupportedImage(detection_name, data, size)) return false;
  std::vector<std::string> paths;
  paths.reserve(indices.size());
  for (int index : indices) paths.push_back(MakeEntryPath(kDragImageName, index));

  TDkDiskEntryReadArray reads;
  std::string error;
  {
    const auto image = DkOpenImage(TDkImageBytes::Borrow(data), detection_name, false);
    if (!ReadSelection(paths, *image, true, reads, error)) return false;
  }

  // Per item: offered or not and its relative path.
  std::vector<bool> offered(reads.size(), false);
  std::vector<std::string> relative(reads.size());
  // The final names offered so far under each folder (index 0: the top level).
  std::vector<std::vector<std::string>> siblings(reads.size() + 1);
  for (std::size_t i = 0; i < reads.size(); ++i) {
    TDkDiskEntryRead& item = reads[i];
    const int parent = item.Parent;
    const bool parent_ok = parent < 0 || (static_cast<std::size_t>(parent) < i &&
                                          offered[static_cast<std::size_t>(parent)]);
    if (!item.Error.empty() || !parent_ok) continue;
    std::vector<std::string>& taken = siblings[static_cast<std::size_t>(parent + 1)];
    std::string name = item.Name;
    if (std::any_of(taken.begin(), taken.end(), [&](const std::string& other) {
          return DkAsciiUpper(other) == DkAsciiUpper(name);
        })) {
      name = DkUniqueFileName(taken, name, 1);
    }
    const std::string path =
        parent < 0 ? name : relative[static_cast<std::size_t>(parent)] + "\\" + name;
    std::u16string wide = KvUtf8ToUtf16(path);
    if (wide.size() >= kKvLongestDragPath) continue;
    offered[i] = true;
    taken.push_back(name);
    relative[i] = path;
    files.push_back(TKvDragFile{std::move(wide), std::move(item.Bytes), item.IsDirectory});
  }
  return true;
}

}  // namespace kelvane
