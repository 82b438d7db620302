#include "extract/entry_io.h"

#include <algorithm>
#include <cctype>
#include <set>

#include "cbm/chain.h"
#include "common/exception.h"
#include "common/format.h"
#include "common/text.h"
#include "registry/registry.h"

namespace kelvane {

namespace {

constexpr const char* kSeparator = "::";
constexpr int kPartitionSectorsPerTrack = 40;

const char* HostExtension(TDkCbmFileType type) {
  switch (type) {
    case cftDEL:
      return ".del";
    case cftSEQ:
      return ".seq";
    case cftPRG:
      return ".prg";
    case cftUSR:
      return ".usr";
    case cftREL:
      return ".rel";
    default:
      return "";
  }
}

bool IsImagePath(const std::string& path) {
  const std::size_t cut = path.find(kSeparator);
  const std::string host = cut == std::string::npos ? path : path.substr(0, cut);
  return DkHasKnownExtension(host);
}

bool ParseNumber(const std::string& text, int& value) {
  if (text.empty() || text.size() > 9) return false;
  value = 0;
  for (const char c : text) {
    if (c < '0' || c > '9') return false;
    value = value * 10 + (c - '0');
  }
  return true;
}

bool IsReservedDeviceName(std::string stem) {
  stem = DkAsciiUpper(stem);
  if (stem == "CON" || stem == "PRN" || stem == "AUX" || stem == "NUL") return true;
  return stem.size() == 4 && (stem.rfind("COM", 0) == 0 || stem.rfind("LPT", 0) == 0) &&
         stem[3] >= '1' && stem[3] <= '9';
}

std::string TrimUpper(std::string text) {
  while (!text.empty() && static_cast<unsigned char>(text.back()) <= ' ') text.pop_back();
  return DkAsciiUpper(std::move(text));
}

// The directory of a sub-directory or partition: its first block is a header whose link names
// the first directory sector.
TDkCbmEntryArray ListFolder(const TDkCbmImage& image, const TDkCbmEntry& entry) {
  const Bytes header = image.ReadSector(entry.FirstTrack, entry.FirstSector);
  return DkCbmParseDirectory(header[0], header[1], image.SectorReader());
}

int LinearBlock(const TDkCbmEntry& entry) {
  return (entry.FirstTrack - 1) * kPartitionSectorsPerTrack + entry.FirstSector;
}

void ReadEntryInto(const TDkCbmImage& image, const TDkCbmEntry& entry, bool recurse,
                   std::size_t item, TDkDiskEntryReadArray& reads, std::set<std::string>& visited) {
  const bool folder = recurse && (entry.FileType == cftCBM || entry.FileType == cftDIR);
  reads[item].Name = DkHostFileName(entry.Name, entry.FileType);
  if (!folder) {
    reads[item].Bytes = image.ReadFile(entry);
    return;
  }
  reads[item].IsDirectory = true;
  const std::string key = Format("%d/%d", entry.FirstTrack, entry.FirstSector);
  if (!visited.insert(key).second) {
    std::string name = entry.Name;
    while (!name.empty() && name.back() == ' ') name.pop_back();
    throw Exception(Format("%s: this directory loops back into itself.", name.c_str()));
  }
  for (const TDkCbmEntry& child : ListFolder(image, entry)) {
    reads.push_back(TDkDiskEntryRead{});
    const std::size_t child_item = reads.size() - 1;
    reads[child_item].Parent = static_cast<int>(item);
    ReadEntryInto(image, child, recurse, child_item, reads, visited);
  }
}

}  // namespace

std::string DkHostFileName(const std::string& name, TDkCbmFileType file_type) {
  std::string host;
  for (const char c : name) {
    const bool kept =
        std::isalnum(static_cast<unsigned char>(c)) != 0 && static_cast<unsigned char>(c) < 128;
    host += (kept || std::string(" .-_()+").find(c) != std::string::npos) ? c : '_';
  }
  const auto is_blank = [](char c) { return static_cast<unsigned char>(c) < 33; };
  while (!host.empty() && is_blank(host.back())) host.pop_back();
  host.erase(host.begin(), std::find_if_not(host.begin(), host.end(), is_blank));
  if (host.empty()) host = "extracted";
  const std::string extension = HostExtension(file_type);
  if (!extension.empty() && !DkEndsWithNoCase(host, extension)) host += extension;

  // Names a host file system treats specially never reach it as such: "." and ".." would name
  // the folder itself or its parent, a trailing point is dropped by Windows, and device names
  // open the device instead of a file.
  if (host.back() == '.' || host.back() == ' ') host += '_';
  if (IsReservedDeviceName(host.substr(0, host.find('.')))) host = "_" + host;
  return host;
}

std::string DkUniqueFileName(const std::vector<std::string>& taken, const std::string& name,
                             int first_number) {
  const std::size_t dot = name.rfind('.');
  const std::string stem = dot == std::string::npos ? name : name.substr(0, dot);
  const std::string extension = dot == std::string::npos ? std::string() : name.substr(dot);
  for (int n = first_number; n <= first_number + 998; ++n) {
    const std::string candidate = Format("%s (%d)%s", stem.c_str(), n, extension.c_str());
    const std::string upper = DkAsciiUpper(candidate);
    if (std::none_of(taken.begin(), taken.end(),
                     [&](const std::string& other) { return DkAsciiUpper(other) == upper; }))
      return candidate;
  }
  throw Exception("No available filename found within 999 attempts.");
}

std::string MakeEntryPath(const std::string& image_path, int index) {
  return image_path + kSeparator + std::to_string(index);
}

bool ParseEntryPath(const std::string& path, std::string& image_path, int& index) {
  image_path.clear();
  index = -1;
  const std::size_t cut = path.rfind(kSeparator);
  if (cut == std::string::npos || cut == 0) return false;
  const std::string image = path.substr(0, cut);
  int value = 0;
  if (!IsImagePath(image) || !ParseNumber(path.substr(cut + 2), value)) return false;
  image_path = image;
  index = value;
  return true;
}

bool ParsePartitionChain(const std::string& path, std::string& host_image_path,
                         std::vector<int>& chain) {
  chain.clear();
  std::string rest = path;
  std::string image;
  int index = 0;
  while (ParseEntryPath(rest, image, index)) {
    chain.insert(chain.begin(), index);
    rest = image;
  }
  // A ">" chain after one "::": image::3>1>...
  const std::size_t cut = rest.rfind(kSeparator);
  if (cut != std::string::npos && cut > 0 && IsImagePath(rest.substr(0, cut))) {
    const std::string tail = rest.substr(cut + 2);
    std::vector<int> numbers;
    std::size_t start = 0;
    bool valid = tail.find('>') != std::string::npos;
    while (valid) {
      const std::size_t next = tail.find('>', start);
      int value = 0;
      valid = ParseNumber(
          tail.substr(start, next == std::string::npos ? std::string::npos : next - start), value);
      if (valid) numbers.push_back(value);
      if (next == std::string::npos) break;
      start = next + 1;
    }
    if (valid && numbers.size() >= 2) {
      chain.insert(chain.begin(), numbers.begin(), numbers.end());
      rest = rest.substr(0, cut);
    }
  }
  if (chain.empty()) {
    host_image_path.clear();
    return false;
  }
  host_image_path = rest;
  return true;
}

bool OpenPartitionChain(const TDkCbmImage& image, const std::vector<int>& chain,
                        TDkCbmEntryArray& entries, std::string& error) {
  entries = image.Entries();
  const TDkCbmEntry* enclosing = nullptr;
  TDkCbmEntry enclosing_copy;
  for (std::size_t level = 0; level < chain.size(); ++level) {
    const int index = chain[level];
    if (index < 0 || index >= static_cast<int>(entries.size())) {
      error = Format("Entry %d is not on this disk.", index);
      entries.clear();
      return false;
    }
    const TDkCbmEntry entry = entries[static_cast<std::size_t>(index)];
    if (entry.FileType != cftCBM && entry.FileType != cftDIR) {
      error = "That entry is not a partition.";
      return false;
    }
    if (level > 0 && entry.FileType == cftCBM) {
      const bool inside =
          enclosing != nullptr && enclosing->FileType == cftCBM && entry.FirstTrack >= 1 &&
          entry.FirstTrack <= image.TrackCount() && entry.Blocks > 0 &&
          LinearBlock(entry) > LinearBlock(*enclosing) &&
          LinearBlock(entry) + entry.Blocks <= LinearBlock(*enclosing) + enclosing->Blocks;
      if (!inside) {
        error = "A partition inside a partition cannot be opened.";
        return false;
      }
    }
    entries = ListFolder(image, entry);
    enclosing_copy = entry;
    enclosing = &enclosing_copy;
  }
  return true;
}

bool ReadSelection(const std::vector<std::string>& entry_paths,
                   const std::vector<std::string>& expected_names, const TDkCbmImage& image,
                   bool recurse, TDkDiskEntryReadArray& reads, std::string& error) {
  reads.clear();
  error.clear();
  if (entry_paths.empty()) return true;
  std::string first_image;
  int first_index = 0;
  if (!ParseEntryPath(entry_paths.front(), first_image, first_index)) {
    error = "Not a disk-image selection.";
    return false;
  }
  std::string host_image;
  std::vector<int> chain;
  if (!ParsePartitionChain(first_image, host_image, chain)) chain.clear();
  TDkCbmEntryArray entries;
  if (!OpenPartitionChain(image, chain, entries, error)) return false;

  reads.assign(entry_paths.size(), TDkDiskEntryRead{});
  std::set<std::string> visited;  // first blocks of the folders read, across the whole selection
  for (std::size_t i = 0; i < entry_paths.size(); ++i) {
    std::string image_path;
    int index = 0;
    if (!ParseEntryPath(entry_paths[i], image_path, index) ||
        DkAsciiUpper(image_path) != DkAsciiUpper(first_image)) {
      reads[i].Error = "Selection spans more than one disk image.";
      continue;
    }
    if (index < 0 || index >= static_cast<int>(entries.size())) {
      reads[i].Error = Format("entry %d is not on this disk", index);
      continue;
    }
    const TDkCbmEntry& entry = entries[static_cast<std::size_t>(index)];
    if (i < expected_names.size() && !expected_names[i].empty() &&
        TrimUpper(expected_names[i]) != TrimUpper(entry.Name)) {
      reads[i].Error = "That entry is no longer on this disk.";
      continue;
    }
    ReadEntryInto(image, entry, recurse, i, reads, visited);
  }
  return true;
}

}  // namespace kelvane
