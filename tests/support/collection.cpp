#include "support/collection.h"

#include <archive.h>
#include <archive_entry.h>

#include <algorithm>
#include <fstream>
#include <functional>
#include <stdexcept>

#include "common/format.h"
#include "registry/registry.h"
#include "support/container_builder.h"
#include "support/disk_builder.h"
#include "support/gcr_builder.h"

namespace kelvane::testing {

namespace {

// Only the 4 KiB pages that hold something are written; the rest stays a hole.
void WriteSparse(const std::string& path, const Bytes& bytes) {
  std::ofstream out(path, std::ios::binary);
  for (std::size_t at = 0; at < bytes.size(); at += 4096) {
    const auto begin = bytes.begin() + at, end = bytes.begin() + std::min(at + 4096, bytes.size());
    if (std::any_of(begin, end, [](std::uint8_t b) { return b != 0; }))
      out.seekp(static_cast<std::streamoff>(at))
          .write(reinterpret_cast<const char*>(&*begin), end - begin);
  }
  out.close();
  std::filesystem::resize_file(path, bytes.size());
}

// Every format holds hits: images 0-9, 30-39, 60-69 ...
bool Hit(int n) {
  return n / 10 % 3 == 0;
}

// A D64 and a G64 in every hundred, both with a hit.
bool Damaged(int n) {
  return n % 100 == 30 || n % 100 == 39;
}

// Image n in the n-th of ten formats: entry 0 "FILLER n", and in the images with a hit entry 1
// "GIANA n". `damaged` breaks a sector image's directory after its first sector.
Bytes MakeImage(int n, std::string& extension, bool damaged) {
  std::vector<std::string> names{Format("FILLER %d", n)};
  if (Hit(n)) names.push_back(Format("GIANA %d", n));
  std::vector<T64File> tape;
  std::vector<LynxFile> lynx;
  for (const std::string& name : names) {
    tape.push_back({name, 0x82, 0x0801, {1}});
    lynx.push_back({name, 'P', {1, 8, 0}});
  }
  const int kind = n % 10;
  extension = std::vector<std::string>{".d64", ".d71", ".d81", ".d80", ".d82",
                                       ".dnp", ".dfi", ".t64", ".lnx", ".g64"}[kind];
  const std::function<Bytes()> makers[] = {
      [] { return BlankD64(); },  [] { return BlankD71(); },      [] { return BlankD81(); },
      [] { return BlankD80(); },  [] { return BlankD82(); },      [] { return BlankDnp(2); },
      [] { return BlankDfi(2); }, [&] { return BuildT64(tape); }, [&] { return BuildLynx(lynx); },
      [] { return BlankD64(); }};
  Bytes bytes = makers[kind]();
  if (kind == 7 || kind == 8) return bytes;
  // The first directory sector, as the blank's own reader finds it.
  const auto blank = DkOpenImage(bytes, kind == 9 ? "blank.d64" : "blank" + extension, false);
  const int dir = blank->SectorOffset(blank->DirTrack(), blank->DirSector());
  SectorEditor disk(bytes, [dir](int, int) { return dir; });
  for (std::size_t i = 0; i < names.size(); ++i)
    disk.PutEntry(0, 0, static_cast<int>(i), {names[i], 0x82, 1, 0, 1});
  if (damaged) disk.Link(0, 0, 99, 0);
  return kind == 9 ? BuildG64(GcrTracksOf(bytes, 35)) : bytes;
}

}  // namespace

void WriteArchive(const std::string& path,
                  const std::vector<std::pair<std::string, Bytes>>& members, bool gzip) {
  archive* a = archive_write_new();
  if (gzip) archive_write_add_filter_gzip(a);
  (gzip ? archive_write_set_format_raw : archive_write_set_format_zip)(a);
  archive_write_open_filename(a, path.c_str());
  for (const auto& [name, bytes] : members) {
    archive_entry* entry = archive_entry_new();
    archive_entry_set_pathname(entry, name.c_str());
    archive_entry_set_size(entry, static_cast<la_int64_t>(bytes.size()));
    archive_entry_set_filetype(entry, AE_IFREG);
    archive_write_header(a, entry);
    archive_write_data(a, bytes.data(), bytes.size());
    archive_entry_free(entry);
  }
  if (archive_write_close(a) != ARCHIVE_OK) throw std::runtime_error("cannot write " + path);
  archive_write_free(a);
}

Collection MakeCollection(const std::string& root, int count) {
  Collection record;
  for (int n = 0; n < count; ++n) {
    const std::string folder = Format("%s/d%03d", root.c_str(), n / 100);
    std::filesystem::create_directories(folder);
    const std::string stem = Format("%s/i%05d", folder.c_str(), n);
    std::string extension;
    const Bytes image = MakeImage(n, extension, Damaged(n));
    std::vector<std::pair<std::string, int>> planted;  // where, and the image n it holds
    if (n % 89 == 5) {                                 // named as an image, holding none
      WriteSparse(stem + extension, Bytes{'n', 'o', 'n', 'e'});
      record.problems.insert(stem + extension);
      continue;
    } else if (n % 3 == 0) {  // zipped, every third zip with a second image
      std::vector<std::pair<std::string, Bytes>> members{{"disk" + extension, image}};
      if (n % 9 == 0) {  // stored after the first image, listed before it
        members.emplace_back("a-more", MakeImage(n + 5, extension, false));
        members.back().first += extension;
        planted.emplace_back(stem + ".zip/" + members.back().first, n + 5);
      }
      if (n % 211 == 21) members.emplace_back("zz-huge.d64", Bytes(17 << 20, 0));
      if (n % 211 == 21) record.problems.insert(stem + ".zip/zz-huge.d64");
      WriteArchive(stem + ".zip", members, false);
      planted.emplace_back(stem + ".zip/" + members[0].first, n);
    } else if (n % 4 == 1) {
      WriteArchive(stem + extension + ".gz", {{"disk" + extension, image}}, true);
      planted.emplace_back(stem + extension + ".gz", n);
    } else {
      WriteSparse(stem + extension, image);
      planted.emplace_back(stem + extension, n);
    }
    if (Damaged(n)) record.problems.insert(planted.back().first);
    for (const auto& [where, image_n] : planted)
      if (Hit(image_n)) record.hits.push_back(where + "\t1");
    if (n % 50 == 7) WriteSparse(stem + ".txt", Bytes{'h', 'i'});  // no image, no image name
    if (n % 500 == 250) {  // an archive cut in half: named, and searched no further
      WriteArchive(stem + "-cut.zip", {{"cut.d64", BlankD64()}}, false);
      std::filesystem::resize_file(stem + "-cut.zip",
                                   std::filesystem::file_size(stem + "-cut.zip") / 2);
      record.problems.insert(stem + "-cut.zip");
    }
  }
  return record;
}

}  // namespace kelvane::testing
