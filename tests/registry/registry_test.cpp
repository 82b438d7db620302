#include "registry/registry.h"

#include <gtest/gtest.h>

#include "cbm/errors.h"
#include "support/disk_builder.h"

namespace kelvane {
namespace {

Bytes Text(const std::string& text, std::size_t size = 0) {
  Bytes bytes(text.begin(), text.end());
  if (bytes.size() < size) bytes.resize(size, 0);
  return bytes;
}

TEST(Detect, EachRuleInOrder) {
  const Bytes dfi = Text(std::string("x") + "DREAMLOAD FILE ARCHIVE");
  const struct {
    const char* name;
    Bytes first;
    long long size;
    TDkCbmImageFormat expected;
  } cases[] = {
      // Signatures win over sizes and extensions.
      {"a.d64", Text("GCR-1541"), 174848, cifG64},
      {"a.d81", Text("GCR-1571"), 819200, cifG64},
      {"a.d64", dfi, 174848, cifDfi},
      {"a.bin", Text("C64-TAPE-RAW"), 100, cifTap},
      {"a.bin", Text("C16-TAPE-RAW"), 100, cifTap},
      {"a.bin", Text("C64S tape file"), 100, cifT64},
      {"a.bin", Text("C64 tape image"), 100, cifT64},
      {"a.d64", Text("C64S tape image file"), 174848, cifT64},
      // A T64 names a tape in its signature; a name alone makes none.
      {"a.t64", Text("C64 disk image"), 100, cifUnknown},
      {"a.t64", Text("c64 tape image"), 100, cifUnknown},
      {"a.t64", {}, 100, cifUnknown},
      {"a.lnx", {}, 100, cifUnknown},
      {"a.p00", Text("C64File", 26), 200, cifPcSidecar},
      // A PC64 header without its zero byte 7 is not a sidecar; detection goes on by size.
      {"a.p00", Text("C64File!"), 174848, cifD64},
      // Begins-with tests fail on short first bytes and are case-sensitive.
      {"a.bin", Text("GCR-154"), 100, cifUnknown},
      {"a.bin", Text("gcr-1541"), 100, cifUnknown},
      // Sizes before extensions.
      {"X.D81", {}, 174848, cifD64},
      {"x", {}, 206114, cifD64},
      {"x", {}, 351062, cifD71},
      {"x", {}, 822400, cifD81},
      {"x", {}, 535331, cifD80},
      {"x", {}, 1070662, cifD82},
      {"X.DNP", {}, 131072, cifDnp},
      {"X.IMG", {}, 131072, cifUnknown},
      {"x.dnp", {}, 16777216 + 65536, cifDnp},  // by extension; the reader reports the size
      // Extensions last.
      {"X.D64", {}, 200000, cifD64},
      {"x.d41", {}, 1, cifD64},
      {"x.d71", {}, 1, cifD71},
      {"x.D80", {}, 1, cifD80},
      {"x.d82", {}, 1, cifD82},
      {"x.dfi", {}, 1, cifDfi},
      {"X.BIN", {}, 200000, cifUnknown},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(DkDetectImageFormat(c.name, c.first, c.size), c.expected) << c.name << " " << c.size;
  }
}

TEST(Detect, NamesAndExtensionLists) {
  EXPECT_EQ(DkImageFormatName(cifUnknown), "disk");
  EXPECT_EQ(DkImageFormatName(cifDnp), "DNP");
  EXPECT_EQ(DkImageFormatName(cifPcSidecar), "PcSidecar");
  EXPECT_TRUE(DkIsWritableFormat(cifD64));
  EXPECT_TRUE(DkIsWritableFormat(cifDfi));
  EXPECT_FALSE(DkIsWritableFormat(cifG64));
  EXPECT_FALSE(DkIsWritableFormat(cifUnknown));

  EXPECT_TRUE(DkHasWritableExtension("GAME.D64"));
  EXPECT_TRUE(DkHasWritableExtension("game.d64"));
  EXPECT_FALSE(DkHasWritableExtension("game.d41"));
  EXPECT_FALSE(DkHasKnownExtension("game.d41"));
  EXPECT_TRUE(DkHasKnownExtension("game.NIB"));
  EXPECT_TRUE(DkHasReadOnlyExtension("game.g64"));
  EXPECT_TRUE(DkHasReadOnlyExtension("GAME.T64"));
  EXPECT_TRUE(DkHasReadOnlyExtension("game.lnx"));
  EXPECT_TRUE(DkHasGcrExtension("game.G71"));
  EXPECT_FALSE(DkHasGcrExtension("game.t64"));
  EXPECT_TRUE(DkIsListableFormat(cifLynx));
  EXPECT_TRUE(DkIsListableFormat(cifT64));
  EXPECT_FALSE(DkIsListableFormat(cifG64));
  EXPECT_EQ(DkImageFormatName(cifLynx), "Lynx");
  EXPECT_FALSE(DkHasReadOnlyExtension("game.dnp"));
  EXPECT_FALSE(DkHasWritableExtension("d64"));
}

TEST(Detect, SizeValidityAndSupport) {
  // Every size each format has (sectors x 256, and x 257 with the error-info block), and one
  // byte more; the sector images are known by size whatever their name, DNP and DFI by name.
  const std::pair<const char*, long long> sizes[] = {
      {"x.bin", 683 * 256},  {"x.bin", 683 * 257},  {"x.bin", 768 * 256},  {"x.bin", 768 * 257},
      {"x.bin", 802 * 256},  {"x.bin", 802 * 257},  {"x.bin", 1366 * 256}, {"x.bin", 1366 * 257},
      {"x.bin", 3200 * 256}, {"x.bin", 3200 * 257}, {"x.bin", 2083 * 256}, {"x.bin", 2083 * 257},
      {"x.bin", 4166 * 256}, {"x.bin", 4166 * 257}, {"x.dnp", 65536},      {"x.dnp", 256 * 65536},
      {"x.dfi", 3 * 65536},  {"x.dfi", 256 * 65536}};
  for (const auto& [name, size] : sizes) {
    EXPECT_TRUE(DkIsValidImageSize(name, size)) << name << " " << size;
    EXPECT_FALSE(DkIsValidImageSize(name, size + 1)) << name << " " << size + 1;
  }
  EXPECT_FALSE(DkIsValidImageSize("x.dnp", 257 * 65536));
  EXPECT_FALSE(DkIsValidImageSize("x.dfi", 0));
  EXPECT_FALSE(DkIsValidImageSize("x.g64", 1000));
  EXPECT_TRUE(DkIsSupportedImage("x.g64", Text("GCR-1541"), 1000));
  EXPECT_TRUE(DkIsSupportedImage("x.t64", Text("C64S tape file"), 1000));
  EXPECT_TRUE(DkIsSupportedImage("x.nib", {}, 983296));
  EXPECT_FALSE(DkIsSupportedImage("x.nib", {}, 983297));
  EXPECT_FALSE(DkIsSupportedImage("x.bin", {}, 1000));
}

TEST(Open, UnsupportedAndUnknownFilesHaveTheirMessages) {
  const auto message = [](Bytes bytes, const std::string& name) -> std::string {
    try {
      DkOpenImage(std::move(bytes), name, false);
    } catch (const EDkUnsupportedImageFormat& error) {
      return "unsupported: " + error.Message();
    } catch (const EDkCbmImageFormatError& error) {
      return "format: " + error.Message();
    }
    return "opened";
  };
  Bytes g64 = Text("GCR-1541", 174848);
  EXPECT_EQ(message(g64, "x.d64"), "unsupported: Image format G64 is not supported.");
  EXPECT_EQ(message(Text("C64-TAPE-RAW", 40), "x.tap"),
            "unsupported: Image format Tap is not supported.");
  EXPECT_EQ(message(Text("C64File", 40), "x.p00"),
            "unsupported: Image format PcSidecar is not supported.");
  EXPECT_EQ(message(Bytes(200000), "X.BIN"), "format: Unrecognized disk-image size: 200000 bytes.");
  EXPECT_EQ(
      message(Bytes(200000), "X.D64").rfind("format: Unrecognized D64 size: 200000 bytes.", 0), 0u);
  EXPECT_EQ(message(testing::BlankD64(), "X.D81"), "opened");
  EXPECT_EQ(message(Bytes(), "empty.d81"),
            "format: Unrecognized D81 size: 0 bytes. Expected 819200 or 822400 bytes - the "
            "second includes a trailing error-info block.");
}

}  // namespace
}  // namespace kelvane
