#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <system_error>

#include "cbm/errors.h"
#include "cli/commands.h"
#include "collect/archive.h"
#include "common/format.h"
#include "registry/registry.h"

namespace kelvane::cli {

namespace {

// Every archive kind shows its signature in the first 512 bytes.
constexpr std::size_t kSignatureBytes = 512;

Bytes ReadHead(const std::filesystem::path& file, std::size_t count) {
  std::ifstream in(file, std::ios::binary);
  Bytes head(count);
  in.read(reinterpret_cast<char*>(head.data()), static_cast<std::streamsize>(count));
  head.resize(static_cast<std::size_t>(std::max<std::streamsize>(in.gcount(), 0)));
  return head;
}

bool IsRegularFile(const std::string& path) {
  std::error_code error;
  return std::filesystem::is_regular_file(PathFromUtf8(path), error);
}

bool IsArchiveFile(const std::string& path) {
  return IsRegularFile(path) && DkLooksLikeArchive(ReadHead(PathFromUtf8(path), kSignatureBytes));
}

std::string JoinNames(const std::vector<std::string>& names) {
  std::string text;
  for (const std::string& name : names) text += (text.empty() ? "" : ", ") + name;
  return text;
}

// The archive's only image, or the member named `member`.
ImageFile ReadFromArchive(const std::string& archive, const std::string& member) {
  std::vector<std::string> images;
  std::vector<std::string> skipped;
  std::optional<ImageFile> chosen;
  DkReadArchiveFile(archive, kMaxImageFileSize, [&](const TDkArchiveMember& m) {
    if (!member.empty() && m.Name == member) {
      if (!m.Error.empty())
        throw Exception(Format("%s/%s: %s.", archive.c_str(), m.Name.c_str(), m.Error.c_str()));
      chosen = ImageFile{Bytes(m.Bytes.begin(), m.Bytes.end()), BaseName(m.Name)};
      return false;
    }
    if (!m.Error.empty()) {
      skipped.push_back(m.Name + ": " + m.Error);
    } else if (IsImageFile(BaseName(m.Name), m.Bytes)) {
      images.push_back(m.Name);
      if (member.empty() && !chosen)
        chosen = ImageFile{Bytes(m.Bytes.begin(), m.Bytes.end()), BaseName(m.Name)};
    }
    return true;
  });
  if (!member.empty() && !chosen) {
    throw Exception(Format("%s: the archive has no member '%s'; its images: %s.", archive.c_str(),
                           member.c_str(), images.empty() ? "none" : JoinNames(images).c_str()));
  }
  if (images.empty() && !chosen) {
    throw Exception(Format("%s: the archive holds no disk image%s%s.", archive.c_str(),
                           skipped.empty() ? "" : "; ", JoinNames(skipped).c_str()));
  }
  if (member.empty() && images.size() > 1) {
    throw Exception(Format("%s: the archive holds %zu disk images; name one as %s/MEMBER: %s.",
                           archive.c_str(), images.size(), archive.c_str(),
                           JoinNames(images).c_str()));
  }
  return std::move(*chosen);
}

// "dir/games.zip/disks/a.d64": the archive file and the member's path inside it.
bool SplitMemberPath(const std::string& path, std::string& archive, std::string& member) {
  for (std::size_t cut = path.find_last_of('/'); cut != std::string::npos && cut > 0;
       cut = path.find_last_of('/', cut - 1)) {
    if (IsRegularFile(path.substr(0, cut))) {
      archive = path.substr(0, cut);
      member = path.substr(cut + 1);
      return IsArchiveFile(archive) && !member.empty();
    }
  }
  return false;
}

}  // namespace

int ParseInt(const std::string& text, const char* option, int low, int high) {
  char* end = nullptr;
  const long value = std::strtol(text.c_str(), &end, 10);
  if (text.empty() || end == nullptr || *end != '\0' || value < low || value > high) {
    throw UsageError{
        Format("%s wants a whole number from %d to %d, got '%s'", option, low, high, text.c_str())};
  }
  return static_cast<int>(value);
}

TDkCharset ParseCharset(const std::string& text) {
  if (text == "upper") return csUpperGraphics;
  if (text == "lower") return csLowerUpper;
  throw UsageError{Format("--charset is 'upper' or 'lower', got '%s'", text.c_str())};
}

std::filesystem::path PathFromUtf8(const std::string& path) {
  const std::u8string text(path.begin(), path.end());
  return std::filesystem::path(text);
}

std::string BaseName(const std::string& path) {
  const std::size_t slash = path.find_last_of("/\\");
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

bool IsImageFile(const std::string& name, ByteView bytes) {
  const long long size = static_cast<long long>(bytes.size());
  return DkIsListableFormat(DkDetectImageFormat(name, bytes, size)) || IsGcrFile(name, bytes);
}

std::string ArchiveOf(const std::string& path) {
  if (IsArchiveFile(path)) return path;
  std::string archive;
  std::string member;
  return SplitMemberPath(path, archive, member) ? archive : std::string();
}

ImageFile ReadImageFile(const std::string& path) {
  const std::filesystem::path file = PathFromUtf8(path);
  std::error_code error;
  if (std::filesystem::is_directory(file, error)) {
    throw Exception(Format("%s: is a folder, not an image file.", path.c_str()));
  }
  std::string archive;
  std::string member;
  if (!std::filesystem::exists(file, error) && SplitMemberPath(path, archive, member))
    return ReadFromArchive(archive, member);
  const auto size = std::filesystem::file_size(file, error);
  if (error) {
    throw Exception(
        Format("%s: cannot read the file (%s).", path.c_str(), error.message().c_str()));
  }
  if (IsArchiveFile(path)) return ReadFromArchive(path, "");
  if (static_cast<long long>(size) > kMaxImageFileSize) {
    throw EDkCbmImageFormatError(DkSizeErrorText(BaseName(path), static_cast<long long>(size)));
  }
  std::ifstream in(file, std::ios::binary);
  Bytes bytes(static_cast<std::size_t>(size));
  if (!in ||
      !in.read(reinterpret_cast<char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()))) {
    throw Exception(Format("%s: cannot read the file.", path.c_str()));
  }
  return {std::move(bytes), BaseName(path)};
}

}  // namespace kelvane::cli
