#include "registry/registry.h"

#include <gtest/gtest.h>

#include "cbm/errors.h"
#include "support/disk_builder.h"
#include "support/messages.h"

namespace kelvane {
namespace {

using testing::MessageOf;

Bytes Text(const std::string& text, std::size_t size = 0) {
  Bytes bytes(text.begin(), text.end());
  if (bytes.size() < size) bytes.resize(size, 0);
  return bytes;
}

// Signatures first, then sizes, then extensions.
TEST(Detect, EachRuleInOrder) {
  const struct {
    const char* name;
    Bytes first;
    long long size;
    TDkCbmImageFormat expected;
  } cases[] = {
      {"a.d64", Text("GCR-1541"), 174848, cifG64},
      {"a.d81", Text("GCR-1571"), 819200, cifG64},
      {"a.d64", Text("xDREAMLOAD FILE ARCHIVE"), 174848, cifDfi},
      {"a.bin", Text("C64-TAPE-RAW"), 100, cifTap},
      {"a.d64", Text("C64S tape image file"), 174848, cifT64},
      // A T64 or Lynx archive is known by its content; a name alone makes none.
      {"a.t64", Text("C64 disk image"), 100, cifUnknown},
      {"a.lnx", {}, 100, cifUnknown},
      {"a.p00", Text("C64File", 26), 200, cifPcSidecar},
      // A PC64 header without its zero byte 7 is not one; detection goes on by size.
      {"a.p00", Text("C64File!"), 174848, cifD64},
      {"a.bin", Text("gcr-1541"), 100, cifUnknown},
      {"X.D81", {}, 174848, cifD64},
      {"x", {}, 351062, cifD71},
      {"x", {}, 1070662, cifD82},
      {"X.DNP", {}, 131072, cifDnp},
      {"X.IMG", {}, 131072, cifUnknown},
      {"X.D64", {}, 200000, cifD64},
      {"x.d41", {}, 1, cifD64},
      {"x.dfi", {}, 1, cifDfi},
      {"X.BIN", {}, 200000, cifUnknown},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(DkDetectImageFormat(c.name, c.first, c.size), c.expected) << c.name << " " << c.size;
  }
  EXPECT_TRUE(DkIsValidImageSize("x.bin", 4166 * 257));
  EXPECT_FALSE(DkIsValidImageSize("x.bin", 4166 * 257 + 1));
  EXPECT_FALSE(DkIsValidImageSize("x.dnp", 257 * 65536));
  EXPECT_TRUE(DkIsSupportedImage("x.nib", {}, 983296));
  EXPECT_FALSE(DkIsSupportedImage("x.bin", {}, 1000));
}

TEST(Open, UnsupportedAndUnknownFilesHaveTheirMessages) {
  EXPECT_EQ(MessageOf<EDkUnsupportedImageFormat>(
                [] { DkOpenImage(Text("C64-TAPE-RAW", 40), "x.tap", false); }),
            "Image format Tap is not supported.");
  EXPECT_EQ(MessageOf<EDkCbmImageFormatError>([] { DkOpenImage(Bytes(200000), "X.BIN", false); }),
            "Unrecognized disk-image size: 200000 bytes.");
  EXPECT_NO_THROW(DkOpenImage(testing::BlankD64(), "X.D81", false));
}

}  // namespace
}  // namespace kelvane
