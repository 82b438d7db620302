#include <filesystem>
#include <fstream>
#include <system_error>

#include "cbm/errors.h"
#include "cli/commands.h"
#include "common/format.h"
#include "registry/registry.h"

namespace kelvane::cli {

namespace {

// No image format is larger than 16 MiB (a 256-track DNP).
constexpr long long kMaxImageFileSize = 16LL * 1024 * 1024;

}  // namespace

std::filesystem::path PathFromUtf8(const std::string& path) {
  const std::u8string text(path.begin(), path.end());
  return std::filesystem::path(text);
}

std::string BaseName(const std::string& path) {
  const std::size_t slash = path.find_last_of("/\\");
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

Bytes ReadImageFile(const std::string& path) {
  const std::filesystem::path file = PathFromUtf8(path);
  std::error_code error;
  if (std::filesystem::is_directory(file, error)) {
    throw Exception(Format("%s: is a folder, not an image file.", path.c_str()));
  }
  const auto size = std::filesystem::file_size(file, error);
  if (error) {
    throw Exception(
        Format("%s: cannot read the file (%s).", path.c_str(), error.message().c_str()));
  }
  if (static_cast<long long>(size) > kMaxImageFileSize) {
    throw EDkCbmImageFormatError(DkSizeErrorText(BaseName(path), static_cast<long long>(size)));
  }
  std::ifstream in(file, std::ios::binary);
  Bytes bytes(static_cast<std::size_t>(size));
  if (!in ||
      !in.read(reinterpret_cast<char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()))) {
    throw Exception(Format("%s: cannot read the file.", path.c_str()));
  }
  return bytes;
}

}  // namespace kelvane::cli
