#include "collect/find.h"

#include <algorithm>
#include <set>
#include <tuple>
#include <utility>

#include "common/exception.h"
#include "common/format.h"
#include "formats/cmd.h"
#include "write/names.h"

namespace kelvane {

namespace {

constexpr std::uint8_t kAnyOne = '?';
constexpr std::uint8_t kRest = '*';
constexpr std::uint8_t kNameEnd = 0xA0;
// Partitions inside partitions go no deeper than this; a directory that links back into an
// outer one is caught by the visited set first.
constexpr int kMaxDepth = 8;

struct Search {
  const TDkFindQuery& query;
  TDkStringList& warnings;
  std::vector<TDkFindHit> hits;
  std::set<std::tuple<const TDkCbmImage*, int, int>> visited;

  bool Wanted(const TDkCbmEntry& entry) const {
    const bool type_ok = query.Types.empty() || std::find(query.Types.begin(), query.Types.end(),
                                                          entry.FileType) != query.Types.end();
    return type_ok && query.Pattern.Matches(entry.NameBytes);
  }

  // A sub-directory, or a 1581 partition formatted as one (its header says DOS 'D'); other
  // partitions are plain reserved space.
  static bool FolderFirstSector(const TDkCbmImage& image, const TDkCbmEntry& entry, int& track,
                                int& sector) {
    if (image.MaxTrack() == 0 || (entry.FileType != cftDIR && entry.FileType != cftCBM))
      return false;
    const Bytes header = image.ReadSector(entry.FirstTrack, entry.FirstSector);
    if (entry.FileType == cftCBM && header[2] != 'D') return false;
    track = header[0];
    sector = header[1];
    return true;
  }

  // The folders below an entry: a CMD partition other than the default one (whose files are
  // the top directory already) is an image of its own; a sub-directory or formatted 1581
  // partition a chain in the same image.
  void Descend(const TDkCbmImage& image, const TDkCbmEntry& entry, std::vector<int>& path,
               const std::string& name, int top_partition) {
    if (entry.Partition != 0) {
      const TDkCbmImage* partition = image.PartitionImage(entry);
      if (partition == nullptr || entry.Partition == top_partition) return;
      Walk(*partition, partition->Entries(), path, name + "/", 0);
      return;
    }
    int track = 0;
    int sector = 0;
    if (!FolderFirstSector(image, entry, track, sector)) return;
    if (path.size() > kMaxDepth || !visited.insert({&image, track, sector}).second) {
      warnings.push_back(Format("%s: this directory loops back into itself.", name.c_str()));
      return;
    }
    TDkParseStatus status = psComplete;
    TDkStringList inner;
    const TDkCbmEntryArray children =
        DkCbmParseDirectory(track, sector, image.SectorReader(), &inner, status);
    for (const std::string& warning : inner) warnings.push_back(name + ": " + warning);
    Walk(image, children, path, name + "/", 0);
  }

  void Walk(const TDkCbmImage& image, const TDkCbmEntryArray& entries, std::vector<int>& path,
            const std::string& where, int top_partition) {
    for (std::size_t i = 0; i < entries.size(); ++i) {
      const TDkCbmEntry& entry = entries[i];
      path.push_back(static_cast<int>(i));
      if (Wanted(entry)) hits.push_back({path, entry});
      const std::string name = where + DkCbmNameToString(entry.NameBytes);
      try {
        Descend(image, entry, path, name, top_partition);
      } catch (const Exception& error) {
        warnings.push_back(name + ": " + error.Message());
      }
      path.pop_back();
    }
  }
};

}  // namespace

TDkNamePattern::TDkNamePattern(const std::string& text) {
  for (const char c : text) {
    if (c == '?' || c == '*') {
      bytes_.push_back(static_cast<std::uint8_t>(c));
    } else {
      bytes_.push_back(DkCbmHostNameToBytes(std::string(1, c)).front());
    }
  }
}

bool TDkNamePattern::Matches(ByteView name) const {
  std::size_t length = 0;
  while (length < name.size() && length < kDkCbmNameLength && name[length] != kNameEnd) ++length;
  for (std::size_t i = 0; i < bytes_.size(); ++i) {
    if (bytes_[i] == kRest) return true;
    if (i >= length || (bytes_[i] != kAnyOne && bytes_[i] != name[i])) return false;
  }
  return bytes_.size() == length;
}

std::vector<TDkFindHit> DkFindEntries(const TDkCbmImage& image, const TDkFindQuery& query,
                                      TDkStringList& warnings) {
  Search search{query, warnings, {}, {}};
  search.visited.insert({&image, image.DirTrack(), image.DirSector()});
  std::vector<int> path;
  int top_partition = 0;
  if (const auto* cmd = dynamic_cast<const TDkCmdImage*>(&image))
    top_partition = cmd->DefaultPartition();
  search.Walk(image, image.Entries(), path, "", top_partition);
  return std::move(search.hits);
}

}  // namespace kelvane
