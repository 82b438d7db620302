#pragma once

#include <iosfwd>
#include <string>
#include <vector>

namespace kelvane::cli {

// Exit statuses of the kelvane tool.
inline constexpr int kExitOk = 0;
inline constexpr int kExitFailure = 1;  // the library refused the input, or a file failed
inline constexpr int kExitUsage = 2;    // the command line itself is wrong

// Runs the tool on `args` (without the program name), writing to `out` and `err`.
int Run(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);

}  // namespace kelvane::cli
