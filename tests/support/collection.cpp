#include "support/collection.h"

#include <archive.h>
#include <archive_entry.h>
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <stdexcept>
#include <utility>

#include "common/format.h"
#include "registry/registry.h"
#include "support/container_builder.h"
#include "support/disk_builder.h"
#include "support/gcr_builder.h"

namespace kelvane::testing {

namespace {

using Members = std::vector<std::pair<std::string, Bytes>>;

void WriteSparse(const std::string& path, const Bytes& bytes) {
  const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  bool ok = fd >= 0 && ftruncate(fd, static_cast<off_t>(bytes.size())) == 0;
  for (std::size_t at = 0; ok && at < bytes.size(); at += 4096) {
    const std::size_t length = std::min<std::size_t>(4096, bytes.size() - at);
    if (std::any_of(bytes.begin() + at, bytes.begin() + at + length, [](auto b) { return b; }))
      ok = pwrite(fd, bytes.data() + at, length, static_cast<off_t>(at)) == static_cast<ssize_t>(length);
  }
  if (fd < 0 || close(fd) != 0 || !ok) throw std::runtime_error("cannot write " + path);
}

}  // namespace

void WriteArchive(const std::string& path, const Members& members, bool gzip) {
  archive* a = archive_write_new();
  if (gzip) {
    archive_write_add_filter_gzip(a);
    archive_write_set_format_raw(a);
  } else {
    archive_write_set_format_zip(a);
  }
  archive_write_open_filename(a, path.c_str());
  for (const auto& [name, bytes] : members) {
    archive_entry* entry = archive_entry_new();
    archive_entry_set_pathname(entry, name.c_str());
    archive_entry_set_size(entry, static_cast<la_int64_t>(bytes.size()));
    archive_entry_set_filetype(entry, AE_IFREG);
    archive_entry_set_perm(entry, 0644);
    archive_write_header(a, entry);
    archive_write_data(a, bytes.data(), bytes.size());
    archive_entry_free(entry);
  }
  if (archive_write_close(a) != ARCHIVE_OK) throw std::runtime_error("cannot write " + path);
  archive_write_free(a);
}

namespace {

// Image n of the collection, in the n-th format of ten: entry 0 is "FILLER n"; every fifth image
// holds "GIANA n" as entry 1. `damaged` breaks a D64's directory after its first sector.
Bytes MakeImage(int n, std::string& extension, bool damaged) {
  const bool hit = n % 5 == 0;
  const std::string filler = Format("FILLER %d", n);
  const std::string giana = Format("GIANA %d", n);
  Bytes bytes;
  switch (n % 10) {
    case 7: {
      std::vector<T64File> files{{filler, 0x82, 0x0801, {1}}};
      if (hit) files.push_back({giana, 0x82, 0x0801, {2}});
      extension = ".t64";
      return BuildT64(files);
    }
    case 8: {
      std::vector<LynxFile> files{{filler, 'P', {1, 8, 0}}};
      if (hit) files.push_back({giana, 'P', {1, 8, 0}});
      extension = ".lnx";
      return BuildLynx(files);
    }
    case 0: case 9: bytes = BlankD64(); extension = n % 10 ? ".g64" : ".d64"; break;
    case 1: bytes = BlankD71(); extension = ".d71"; break;
    case 2: bytes = BlankD81(); extension = ".d81"; break;
    case 3: bytes = BlankD80(); extension = ".d80"; break;
    case 4: bytes = BlankD82(); extension = ".d82"; break;
    case 5: bytes = BlankDnp(2); extension = ".dnp"; break;
    default: bytes = BlankDfi(2); extension = ".dfi"; break;
  }
  // The first directory sector, as the blank's own reader finds it.
  const auto blank = DkOpenImage(bytes, n % 10 == 9 ? "blank.d64" : "blank" + extension, false);
  const int dir = blank->SectorOffset(blank->DirTrack(), blank->DirSector());
  SectorEditor disk(bytes, [dir](int, int) { return dir; });
  disk.PutEntry(0, 0, 0, {filler, 0x82, 1, 0, 1});
  if (hit) disk.PutEntry(0, 0, 1, {giana, 0x82, 1, 0, 1});
  if (damaged) disk.Link(0, 0, 99, 0);
  return n % 10 == 9 ? BuildG64(GcrTracksOf(bytes, 35)) : bytes;
}

}  // namespace

Collection MakeCollection(const std::string& root, int count) {
  Collection record;
  const auto planted = [&](const std::string& where, int n, int index) {
    if (n % 5 == 0) record.hits.push_back(Format("%s\t%d", where.c_str(), index));
  };
  for (int n = 0; n < count; ++n) {
    const std::string folder = Format("%s/d%03d", root.c_str(), n / 100);
    if (n % 100 == 0) std::filesystem::create_directories(folder);
    const std::string stem = Format("%s/i%05d", folder.c_str(), n);
    std::string extension;
    const bool damaged = n % 100 == 40;
    const Bytes image = MakeImage(n, extension, damaged);
    std::string where;
    ++record.images;
    if (n % 89 == 5) {  // named as an image, holding none
      WriteSparse(stem + extension, Bytes{'n', 'o', 't', ' ', 'a', 'n', ' ', 'i', 'm', 'a', 'g', 'e'});
      where = stem + extension;
      record.problems.insert(where);
      --record.images;
    } else if (n % 3 == 0) {
      Members members{{"disk" + extension, image}};
      if (n % 9 == 0) {
        std::string second;
        members.emplace_back("more" + second, MakeImage(n + 5, second, false));
        members.back().first += second;
        ++record.images;
      }
      if (n % 211 == 21) members.emplace_back("zz-huge.d64", Bytes(17 << 20, 0));
      WriteArchive(stem + ".zip", members, false);
      where = stem + ".zip/" + members[0].first;
      planted(where, n, 1);
      if (n % 9 == 0) planted(stem + ".zip/" + members[1].first, n + 5, 1);
      if (n % 211 == 21) record.problems.insert(stem + ".zip/zz-huge.d64");
    } else if (n % 4 == 1) {
      WriteArchive(stem + extension + ".gz", {{"disk" + extension, image}}, true);
      where = stem + extension + ".gz";
      planted(where, n, 1);
    } else {
      WriteSparse(stem + extension, image);
      where = stem + extension;
      planted(where, n, 1);
    }
    if (damaged) record.problems.insert(where);
    if (n % 50 == 7) WriteSparse(stem + ".txt", Bytes{'h', 'i'});  // no image, no image name
    if (n % 500 == 250) {  // an archive cut in half: named, and searched no further
      WriteArchive(stem + "-cut.zip", {{"cut.d64", BlankD64()}}, false);
      std::filesystem::resize_file(stem + "-cut.zip", std::filesystem::file_size(stem + "-cut.zip") / 2);
      record.problems.insert(stem + "-cut.zip");
    }
  }
  return record;
}

}  // namespace kelvane::testing
