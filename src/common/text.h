#pragma once

#include <string>

namespace kelvane {

inline char DkAsciiUpper(char c) {
  return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c;
}

inline std::string DkAsciiUpper(std::string text) {
  for (char& c : text) c = DkAsciiUpper(c);
  return text;
}

// True when `name` ends with `suffix`, ignoring ASCII case.
inline bool DkEndsWithNoCase(const std::string& name, const std::string& suffix) {
  if (suffix.size() > name.size()) return false;
  const std::size_t start = name.size() - suffix.size();
  for (std::size_t i = 0; i < suffix.size(); ++i) {
    if (DkAsciiUpper(name[start + i]) != DkAsciiUpper(suffix[i])) return false;
  }
  return true;
}

}  // namespace kelvane
