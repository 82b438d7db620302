#pragma once

// A fresh folder under the system's temporary directory, removed with everything in it when the
// object goes away.

#include <filesystem>
#include <string>

#include "common/bytes.h"

namespace kelvane::testing {

class TempFolder {
 public:
  // Made under `base` when given, else under the system's temporary directory.
  explicit TempFolder(const std::string& tag, const std::filesystem::path& base = {});
  ~TempFolder();
  TempFolder(const TempFolder&) = delete;
  TempFolder& operator=(const TempFolder&) = delete;

  const std::filesystem::path& path() const { return path_; }
  // The path of `name` inside the folder, as the 8-bit text the library takes. Names and paths
  // are UTF-8.
  std::string Path(const std::string& name) const;
  std::string Write(const std::string& name, const kelvane::Bytes& bytes) const;
  kelvane::Bytes Read(const std::string& name) const;
  bool Has(const std::string& name) const;

 private:
  std::filesystem::path path_;
};

}  // namespace kelvane::testing
