#include "common/format.h"

#include <gtest/gtest.h>

#include <string>

#include "cbm/errors.h"

namespace kelvane {
namespace {

TEST(Format, PlaceholdersUsedByTheMessages) {
  EXPECT_EQ(Format("T%d/S%d", 18, 0), "T18/S0");
  EXPECT_EQ(Format("$%.2X", 0xA), "$0A");
  EXPECT_EQ(Format("%x", 0xAB), "ab");
  EXPECT_EQ(Format("%.3d", 7), "007");
  EXPECT_EQ(Format("%s.", "D64"), "D64.");
}

TEST(Format, OutputLongerThanTheStackBufferIsComplete) {
  const std::string long_text(1000, 'x');
  const std::string result = Format("<%s>", long_text.c_str());
  EXPECT_EQ(result.size(), 1002u);
  EXPECT_EQ(result, "<" + long_text + ">");
}

TEST(Exceptions, HierarchyAndMessages) {
  const EDkD64FormatError d64("bad size");
  const EDkCbmImageFormatError& as_format = d64;
  const Exception& as_root = d64;
  EXPECT_EQ(as_format.Message(), "bad size");
  EXPECT_STREQ(as_root.what(), "bad size");

  const EDkAmbiguousD64Variant ambiguous({ddvDolphin40, ddvSpeedDOS40});
  EXPECT_EQ(ambiguous.Message(),
            "Multiple D64 DOS variants match this image: Dolphin40, SpeedDOS40.");
  ASSERT_EQ(ambiguous.Matches().size(), 2u);
  EXPECT_EQ(ambiguous.Matches()[0], ddvDolphin40);
  EXPECT_EQ(DkD64VariantName(static_cast<TDkD64DosVariant>(9)), "?");
}

}  // namespace
}  // namespace kelvane
