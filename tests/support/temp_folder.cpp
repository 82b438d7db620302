#include "support/temp_folder.h"

#include <fstream>
#include <random>
#include <stdexcept>

namespace kelvane::testing {

namespace {

// Names are UTF-8, as everywhere in the library's 8-bit paths.
std::filesystem::path Utf8(const std::string& name) {
  return std::filesystem::path(std::u8string(name.begin(), name.end()));
}

}  // namespace

TempFolder::TempFolder(const std::string& tag, const std::filesystem::path& base) {
  std::random_device random;
  for (int attempt = 0; attempt < 100; ++attempt) {
    const std::filesystem::path candidate =
        (base.empty() ? std::filesystem::temp_directory_path() : base) /
        ("kelvane-" + tag + "-" + std::to_string(random()) + std::to_string(random()));
    if (std::filesystem::create_directory(candidate)) {
      path_ = candidate;
      return;
    }
  }
  throw std::runtime_error("no temporary folder could be made");
}

TempFolder::~TempFolder() {
  std::error_code ignored;
  std::filesystem::remove_all(path_, ignored);
}

std::string TempFolder::Path(const std::string& name) const {
  const std::u8string text = (path_ / Utf8(name)).u8string();
  return std::string(text.begin(), text.end());
}

std::string TempFolder::Write(const std::string& name, const kelvane::Bytes& bytes) const {
  std::ofstream out(path_ / Utf8(name), std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()),
            static_cast<std::streamsize>(bytes.size()));
  if (!out) throw std::runtime_error("cannot write " + Path(name));
  return Path(name);
}

kelvane::Bytes TempFolder::Read(const std::string& name) const {
  std::ifstream in(path_ / Utf8(name), std::ios::binary);
  if (!in) throw std::runtime_error("cannot read " + Path(name));
  return kelvane::Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

bool TempFolder::Has(const std::string& name) const {
  std::error_code ignored;
  return std::filesystem::exists(std::filesystem::symlink_status(path_ / Utf8(name), ignored));
}

}  // namespace kelvane::testing
