#pragma once

// The message of the exception `call` throws, if it is of class E; otherwise a text saying what
// happened instead, so that EXPECT_EQ shows it.
#include <string>

#include "common/exception.h"

namespace kelvane::testing {

template <typename E = Exception, typename F>
std::string MessageOf(F&& call) {
  try {
    call();
  } catch (const Exception& error) {
    if (dynamic_cast<const E*>(&error) == nullptr)
      return "(other exception class) " + error.Message();
    return error.Message();
  }
  return "(no exception)";
}

}  // namespace kelvane::testing
