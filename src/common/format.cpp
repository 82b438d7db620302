#include "common/format.h"

#include <cstdarg>
#include <cstdio>

namespace kelvane {

std::string Format(const char* format, ...) {
  char small[256];
  va_list args;
  va_start(args, format);
  va_list retry;
  va_copy(retry, args);
  const int length = std::vsnprintf(small, sizeof small, format, args);
  va_end(args);

  std::string result;
  if (length < 0) {
    va_end(retry);
    return result;
  }
  if (static_cast<std::size_t>(length) < sizeof small) {
    result.assign(small, static_cast<std::size_t>(length));
  } else {
    result.resize(static_cast<std::size_t>(length));
    std::vsnprintf(result.data(), result.size() + 1, format, retry);
  }
  va_end(retry);
  return result;
}

}  // namespace kelvane
