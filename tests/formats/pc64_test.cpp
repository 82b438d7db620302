#include "formats/pc64.h"

#include <gtest/gtest.h>

#include "support/disk_builder.h"

namespace kelvane {
namespace {

using testing::Pc64Bytes;
using testing::ReadTestFile;

TEST(Pc64, ExtensionTypeHeaderAndName) {
  TDkCbmFileType type = cftDIR;
  EXPECT_EQ(DkPcSidecarType("DATA.S17", type), "");
  EXPECT_EQ(type, cftSEQ);
  EXPECT_EQ(DkPcSidecarType("x.R01", type), "");
  EXPECT_EQ(type, cftREL);
  EXPECT_EQ(DkPcSidecarType("x.prg", type),
            "PC64 extension must match [PSUR][0-9][0-9]; got 'PRG'.");
  EXPECT_EQ(DkPcSidecarType("x.d00", type), "PC64 extension must start with P/S/U/R; got 'D'.");
  EXPECT_EQ(DkPcSidecarType("noext", type), "Path 'noext' has no PC64 extension.");

  TDkPcSidecar sidecar;
  EXPECT_EQ(DkPcSidecarParse("x.p00", Bytes(25), sidecar),
            "Truncated sidecar file: 25 bytes; header alone is 26.");
  Bytes wrong = Pc64Bytes({'A'}, {});
  wrong[7] = '!';
  EXPECT_EQ(DkPcSidecarParse("x.p00", wrong, sidecar),
            "Invalid PC64 signature - expected \"C64File\\0\".");
  // A header alone is a valid, empty file; host names keep $20-$5F, fold both letter ranges to
  // capitals and give "?" for the rest.
  ASSERT_EQ(
      DkPcSidecarParse(
          "x.p00", Pc64Bytes({0x5F, 0x20, 0x61, 0x7A, 0xC1, 0xDA, 0x7B, 0xDB, 0x1F, 0x21}, {}, 7),
          sidecar),
      "");
  EXPECT_TRUE(sidecar.Data.empty());
  EXPECT_EQ(sidecar.Name, "_ AZAZ\?\?\?!");
  EXPECT_EQ(sidecar.RecordLength, 7);
}

// Files cbmconvert wrote (tests/data/README.md): the name it stored, the type the extension
// gives, the payload byte for byte.
TEST(Pc64, PeerMadeFilesReadBack) {
  struct Case {
    const char* file;
    const char* name;
    TDkCbmFileType type;
    const char* input;
  };
  for (const Case& c : {Case{"cbmconvert.p00", "HELLO", cftPRG, "inputs/hello.prg"},
                        Case{"cbmconvert.s00", "SOME DATA", cftSEQ, "inputs/data.seq"},
                        Case{"cbmconvert.u00", "ONE", cftUSR, "inputs/one.usr"}}) {
    const std::string folder = "tests/data/";
    TDkPcSidecar sidecar;
    ASSERT_EQ(DkPcSidecarParse(c.file, ReadTestFile(folder + c.file), sidecar), "") << c.file;
    EXPECT_EQ(sidecar.Name, c.name);
    EXPECT_EQ(sidecar.FileType, c.type);
    EXPECT_EQ(sidecar.Data, ReadTestFile(folder + c.input)) << c.file;
  }
}

TEST(Pc64, ReadGivesNameUpToItsEndAndRefusesEmptyNames) {
  Bytes name;
  TDkCbmFileType type = cftDEL;
  Bytes data;
  EXPECT_TRUE(DkPcSidecarRead("dir/save.S03", Pc64Bytes({'S', 'A', 'V', 'E', 0xA0, 'X'}, {9, 8, 7}),
                              name, type, data));
  EXPECT_EQ(name, (Bytes{'S', 'A', 'V', 'E'}));
  EXPECT_EQ(type, cftSEQ);
  EXPECT_EQ(data, (Bytes{9, 8, 7}));
  EXPECT_FALSE(DkPcSidecarRead("a.p00", Pc64Bytes({0xA0, 'X'}, {1}), name, type, data));
}

}  // namespace
}  // namespace kelvane
