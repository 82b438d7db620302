#include "common/format.h"

#include <gtest/gtest.h>

#include <string>

namespace kelvane {
namespace {

// Messages longer than the formatter's stack buffer (a long path in one) come out whole.
TEST(Format, OutputLongerThanTheStackBufferIsComplete) {
  const std::string long_text(1000, 'x');
  EXPECT_EQ(Format("<%s> T%d/S%.2X", long_text.c_str(), 18, 0xA), "<" + long_text + "> T18/S0A");
}

}  // namespace
}  // namespace kelvane
