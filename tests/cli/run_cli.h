#pragma once

// Runs the tool in-process with its output captured.

#include <sstream>
#include <string>
#include <vector>

#include "cli/cli.h"

namespace kelvane::cli {

struct Result {
  int status;
  std::string out;
  std::string err;
};

inline Result RunWith(const std::vector<std::string>& args) {
  std::ostringstream out;
  std::ostringstream err;
  const int status = Run(args, out, err);
  return {status, out.str(), err.str()};
}

}  // namespace kelvane::cli
