#include "collect/archive.h"

#include <algorithm>
#include <cstring>
#include <memory>

#include "common/exception.h"
#include "common/format.h"
#include "common/text.h"

#if defined(KELVANE_HAVE_ARCHIVE)
#include <archive.h>
#include <archive_entry.h>
#endif

namespace kelvane {

namespace {

constexpr const char* kCompressionExtensions[] = {".gz", ".bz2", ".xz", ".zst"};
constexpr const char* kArchiveExtensions[] = {".zip", ".7z", ".tar", ".tgz", ".rar"};

bool StartsWith(ByteView bytes, std::size_t at, const char* signature, std::size_t length) {
  return RangeInside(bytes.size(), at, length) &&
         std::memcmp(bytes.data() + at, signature, length) == 0;
}

}  // namespace

bool DkLooksLikeArchive(ByteView b) {
  return StartsWith(b, 0, "PK\x03\x04", 4) || StartsWith(b, 0, "PK\x05\x06", 4) ||
         StartsWith(b, 0, "\x1f\x8b", 2) || StartsWith(b, 0, "BZh", 3) ||
         StartsWith(b, 0,
                    "\xfd"
                    "7zXZ\x00",
                    6) ||
         StartsWith(b, 0, "7z\xbc\xaf\x27\x1c", 6) || StartsWith(b, 0, "\x28\xb5\x2f\xfd", 4) ||
         StartsWith(b, 0, "Rar!\x1a\x07", 6) || StartsWith(b, 257, "ustar", 5);
}

bool DkHasArchiveExtension(const std::string& file_name) {
  const auto ends = [&](const char* extension) { return DkEndsWithNoCase(file_name, extension); };
  return std::any_of(std::begin(kCompressionExtensions), std::end(kCompressionExtensions), ends) ||
         std::any_of(std::begin(kArchiveExtensions), std::end(kArchiveExtensions), ends);
}

#if defined(KELVANE_HAVE_ARCHIVE)

namespace {

struct ArchiveFree {
  void operator()(archive* a) const { archive_read_free(a); }
};
using ArchivePtr = std::unique_ptr<archive, ArchiveFree>;

std::string StreamName(const std::string& name) {
  for (const char* extension : kCompressionExtensions) {
    const std::size_t length = std::strlen(extension);
    if (name.size() > length && DkEndsWithNoCase(name, extension))
      return name.substr(0, name.size() - length);
  }
  return name;
}

std::string ArchiveError(archive* a, const std::string& name, const char* what) {
  const char* detail = archive_error_string(a);
  return Format("%s: %s (%s).", name.c_str(), what, detail != nullptr ? detail : "no detail");
}

// Returns the number of regular members seen.
int Walk(archive* a, const std::string& name, std::size_t limit, const TDkArchiveVisitor& visit) {
  Bytes buffer;
  int members = 0;
  archive_entry* entry = nullptr;
  for (;;) {
    const int status = archive_read_next_header(a, &entry);
    if (status == ARCHIVE_EOF) return members;
    if (status < ARCHIVE_WARN) throw Exception(ArchiveError(a, name, "damaged archive"));
    if (archive_entry_filetype(entry) != AE_IFREG) continue;
    ++members;
    TDkArchiveMember member;
    member.WholeFile = archive_format(a) == ARCHIVE_FORMAT_RAW;
    const char* path = archive_entry_pathname_utf8(entry);
    if (path == nullptr) path = archive_entry_pathname(entry);
    member.Name = member.WholeFile ? StreamName(name) : std::string(path != nullptr ? path : "");
    const auto too_large = [&] {
      member.Error = Format("larger than any disk image (more than %zu bytes); skipped", limit);
    };
    buffer.clear();
    if (archive_entry_is_encrypted(entry)) {
      member.Error = "encrypted; skipped";
    } else if (archive_entry_size_is_set(entry) && archive_entry_size(entry) >= 0 &&
               static_cast<unsigned long long>(archive_entry_size(entry)) > limit) {
      too_large();
    } else {
      // Read in steps, never more than one step past the limit: a member whose header lies
      // about its size (or has none) is cut off there instead of being inflated in full.
      constexpr std::size_t kStep = 64 * 1024;
      for (;;) {
        const std::size_t have = buffer.size();
        buffer.resize(have + kStep);
        const la_ssize_t got = archive_read_data(a, buffer.data() + have, kStep);
        buffer.resize(have + static_cast<std::size_t>(std::max<la_ssize_t>(got, 0)));
        if (got == ARCHIVE_FATAL) throw Exception(ArchiveError(a, name, "damaged archive"));
        if (got < 0) {
          const char* detail = archive_error_string(a);
          member.Error = Format("cannot be read (%s); skipped", detail != nullptr ? detail : "?");
          break;
        }
        if (buffer.size() > limit) {
          too_large();
          break;
        }
        if (got == 0) break;
      }
    }
    if (!member.Error.empty()) buffer.clear();
    member.Bytes = buffer;
    if (!visit(member)) return members;
  }
}

void ReadWith(const std::string& name, std::size_t limit, const TDkArchiveVisitor& visit,
              const std::function<int(archive*)>& open) {
  for (const bool raw_only : {false, true}) {
    ArchivePtr a(archive_read_new());
    if (!a) throw Exception(Format("%s: cannot read archives (out of memory).", name.c_str()));
    archive_read_support_filter_all(a.get());
    // A compressed file that is no archive (disk.d64.gz) reads as one raw stream.
    archive_read_support_format_raw(a.get());
    if (!raw_only) archive_read_support_format_all(a.get());
    if (open(a.get()) != ARCHIVE_OK)
      throw Exception(ArchiveError(a.get(), name, "cannot open the archive"));
    // A compressed image whose first sector is zeros passes for an empty tar archive; a
    // compressed stream without members is read again as the one file it is.
    if (Walk(a.get(), name, limit, visit) > 0 || raw_only || archive_filter_count(a.get()) < 2)
      return;
  }
}

}  // namespace

void DkReadArchiveFile(const std::string& path, std::size_t limit, const TDkArchiveVisitor& visit) {
  ReadWith(path, limit, visit,
           [&](archive* a) { return archive_read_open_filename(a, path.c_str(), 64 * 1024); });
}

void DkReadArchiveBytes(ByteView bytes, const std::string& name, std::size_t limit,
                        const TDkArchiveVisitor& visit) {
  ReadWith(name, limit, visit,
           [&](archive* a) { return archive_read_open_memory(a, bytes.data(), bytes.size()); });
}

#else

namespace {

[[noreturn]] void Unsupported(const std::string& name) {
  throw Exception(
      Format("%s: is an archive, and this build of kelvane does not read archives; "
             "unpack the image first.",
             name.c_str()));
}

}  // namespace

void DkReadArchiveFile(const std::string& path, std::size_t, const TDkArchiveVisitor&) {
  Unsupported(path);
}

void DkReadArchiveBytes(ByteView, const std::string& name, std::size_t, const TDkArchiveVisitor&) {
  Unsupported(name);
}

#endif

}  // namespace kelvane
