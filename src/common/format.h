#pragma once

#include <string>

#if defined(__MINGW32__)
#define KELVANE_PRINTF_FORMAT(fmt, args) __attribute__((format(gnu_printf, fmt, args)))
#else
#define KELVANE_PRINTF_FORMAT(fmt, args) __attribute__((format(printf, fmt, args)))
#endif

namespace kelvane {

// printf-style formatting into a std::string. The messages of the library use %d, %s, %x, %.2X
// and %.3d; the compiler checks every call against its arguments.
std::string Format(const char* format, ...) KELVANE_PRINTF_FORMAT(1, 2);

}  // namespace kelvane
