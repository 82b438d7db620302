#include "write/names.h"

#include <gtest/gtest.h>

#include "support/messages.h"
#include "write/writer_base.h"

namespace kelvane {
namespace {

using testing::MessageOf;

Bytes B(const std::string& text) {
  return Bytes(text.begin(), text.end());
}

TEST(FileNames, ValidationAndEquality) {
  Bytes padded = B("HI");
  padded.resize(16, 0xA0);
  EXPECT_EQ(DkCbmValidateFileName(B("HI")), padded);
  EXPECT_EQ(DkCbmValidateFileName(B("ABCDEFGHIJKLMNOP")), B("ABCDEFGHIJKLMNOP"));
  EXPECT_EQ(MessageOf<EDkCbmConstraintViolation>([] { DkCbmValidateFileName(Bytes{}); }),
            "File name may not be empty.");
  EXPECT_EQ(
      MessageOf<EDkCbmConstraintViolation>([] { DkCbmValidateFileName(B("ABCDEFGHIJKLMNOPQ")); }),
      "File name is 17 bytes; the maximum is 16.");
  EXPECT_EQ(MessageOf<EDkCbmConstraintViolation>([] {
              DkCbmValidateFileName(Bytes{'A', 0xA0, 'B'});
            }),
            "File name contains reserved byte 0xA0 at position 1.");
  for (const std::uint8_t b : {0x3D, 0x2C, 0x3A, 0x2A, 0x3F, 0x00})
    EXPECT_THROW(DkCbmValidateFileName(Bytes{'A', b}), EDkCbmConstraintViolation) << int{b};
  EXPECT_NO_THROW(DkCbmValidateFileName(Bytes{'A', 0x0D, 'B'}));  // control codes are allowed

  EXPECT_TRUE(DkCbmNamesEqual(B("GAME"), B("GAME\xA0\xA0")));
  EXPECT_FALSE(DkCbmNamesEqual(B("GAME"), B("game")));
  EXPECT_FALSE(DkCbmNamesEqual(B("GAME"), B("GAME ")));
  EXPECT_TRUE(DkCbmNamesEqual(B("ABCDEFGHIJKLMNOPXYZ"), B("ABCDEFGHIJKLMNOP")));  // only 16 count
}

TEST(FileNames, HostNamesToBytes) {
  EXPECT_EQ(DkCbmHostNameToBytes("game 1.prg"), B("GAME 1.PRG"));
  EXPECT_EQ(DkCbmHostNameToBytes("a:b=c?d\\e^f`g{h~"), B("A_B_C_D_E_F_G_H_"));
  EXPECT_EQ(DkCbmHostNameToBytes("x\xC3\xA9"), B("X__"));  // every byte from 0x80 on
  EXPECT_EQ(DkCbmHostNameToBytes("a,b*c"), B("A,B*C"));    // refused later by the name rule
  EXPECT_EQ(DkCbmHostNameToBytes("[;<>@]_0123456789 !#$%&'()+-./"),
            B("[;<>@]_0123456789 !#$%&'()+-./"));
}

// The name a dropped host file gets: its stem when that fits, else twelve characters and the
// extension (or a number), sixteen at most; a UTF-8 character counts as one.
TEST(FileNames, UniqueNamesFromHostFiles) {
  const std::pair<const char*, const char*> cases[] = {
      {"C:\\games\\GAME.PRG", "GAME"},
      {"/home/u/README", "README      .001"},
      {"a,b=c.seq", "a_b_c"},
      {"notes.txt", "notes       .txt"},
      {"notes.text", "notes       .001"},
      {"a-rather-long-name.txt", "a-rather-lon.001"},
      {"twelve-chars.txt", "twelve-chars.txt"},
      {"x:/y/seventeen-chars-stem.prg", "seventeen-chars-"},
      {"GO \t.prg", "GO"},
      {"caf\xC3\xA9.txt", "caf_        .txt"},
      {"\xF0\x90\x80\x80\xF4\x8F\xBF\xBF.prg", "__"},
      {"\xE9t\xE9\xC3.seq", "\xE9t\xE9\xC3"},  // no UTF-8: a byte stays a byte
  };
  for (const auto& [host, cbm] : cases) EXPECT_EQ(DkCbmUniqueName(host), cbm) << host;
  std::string cyrillic;
  for (int i = 0; i < 17; ++i) cyrillic += "\xD0\x96";
  EXPECT_EQ(DkCbmUniqueName(cyrillic + ".prg"), std::string(16, '_'));
}

}  // namespace
}  // namespace kelvane
