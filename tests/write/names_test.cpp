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

TEST(FileNames, ValidationInItsOrder) {
  EXPECT_EQ(DkCbmValidateFileName(B("ABCDEFGHIJKLMNOP")), B("ABCDEFGHIJKLMNOP"));
  Bytes padded = B("HI");
  padded.resize(16, 0xA0);
  EXPECT_EQ(DkCbmValidateFileName(B("HI")), padded);
  EXPECT_EQ(MessageOf<EDkCbmConstraintViolation>([] { DkCbmValidateFileName(Bytes{}); }),
            "File name may not be empty.");
  EXPECT_EQ(
      MessageOf<EDkCbmConstraintViolation>([] { DkCbmValidateFileName(B("ABCDEFGHIJKLMNOPQ")); }),
      "File name is 17 bytes; the maximum is 16.");
  EXPECT_EQ(MessageOf<EDkCbmConstraintViolation>([] {
              DkCbmValidateFileName(Bytes{'A', 0xA0, 'B'});
            }),
            "File name contains reserved byte 0xA0 at position 1.");
  EXPECT_EQ(MessageOf<EDkCbmConstraintViolation>([] { DkCbmValidateFileName(B("A*B,C")); }),
            "File name contains reserved byte 0x2A at position 1.");
  EXPECT_NO_THROW(DkCbmValidateFileName(Bytes{'A', 0x0D, 'B'}));  // control codes are allowed
  for (const std::uint8_t b : {0x3D, 0x2C, 0x3A, 0x2A, 0x3F, 0x00, 0xA0})
    EXPECT_TRUE(DkCbmIsReservedNameByte(b));
  EXPECT_FALSE(DkCbmIsReservedNameByte('A'));
}

TEST(FileNames, EqualityTreatsPaddingAsAbsent) {
  Bytes padded = B("GAME");
  padded.resize(16, 0xA0);
  EXPECT_TRUE(DkCbmNamesEqual(B("GAME"), padded));
  EXPECT_FALSE(DkCbmNamesEqual(B("GAME"), B("game")));
  EXPECT_FALSE(DkCbmNamesEqual(B("GAME"), B("GAME ")));
  EXPECT_TRUE(DkCbmNamesEqual(B("ABCDEFGHIJKLMNOPXYZ"), B("ABCDEFGHIJKLMNOP")));  // only 16 count
}

TEST(FileNames, TypeExtensions) {
  TDkCbmFileType type = cftDEL;
  EXPECT_TRUE(DkCbmFileTypeFromExtension(".PRG", type));
  EXPECT_EQ(type, cftPRG);
  EXPECT_TRUE(DkCbmFileTypeFromExtension(".Seq", type));
  EXPECT_EQ(type, cftSEQ);
  EXPECT_FALSE(DkCbmFileTypeFromExtension(".cbm", type));
  EXPECT_EQ(type, cftPRG);
  EXPECT_FALSE(DkCbmFileTypeFromExtension("", type));
  EXPECT_FALSE(DkCbmIsCbmExtension("prg"));
  EXPECT_EQ(DkCbmFileTypeExtension(cftDEL), ".del");  // the first type
  EXPECT_EQ(DkCbmFileTypeExtension(cftREL), ".rel");
  EXPECT_EQ(DkCbmFileTypeExtension(cftDIR), "");
}

TEST(FileNames, HostNamesToBytes) {
  EXPECT_EQ(DkCbmHostNameToBytes("game 1.prg"), B("GAME 1.PRG"));
  EXPECT_EQ(DkCbmHostNameToBytes("a:b=c?d\\e^f`g{h~"), B("A_B_C_D_E_F_G_H_"));
  EXPECT_EQ(DkCbmHostNameToBytes("x\xC3\xA9"), B("X__"));  // every byte from 0x80 on
  EXPECT_EQ(DkCbmHostNameToBytes("a,b*c"), B("A,B*C"));    // refused later by the name rule
  EXPECT_EQ(DkCbmHostNameToBytes("[;<>@]_"), B("[;<>@]_"));
  EXPECT_EQ(DkCbmHostNameToBytes("az@Z"), B("AZ@Z"));  // both ends of the letters
  EXPECT_EQ(DkCbmHostNameToBytes("0123456789 !#$%&'()+-./"), B("0123456789 !#$%&'()+-./"));
}

TEST(FileNames, UniqueNamesFromHostFiles) {
  EXPECT_EQ(DkCbmUniqueName("C:\\games\\GAME.PRG"), "GAME");
  EXPECT_EQ(DkCbmUniqueName("/home/u/README"), "README      .001");
  EXPECT_EQ(DkCbmUniqueName("a,b=c.seq"), "a_b_c");
  EXPECT_EQ(DkCbmUniqueName("notes.txt"), "notes       .txt");
  EXPECT_EQ(DkCbmUniqueName("notes.text"), "notes       .001");  // four letters are too many
  EXPECT_EQ(DkCbmUniqueName("a-rather-long-name.txt"), "a-rather-lon.001");
  EXPECT_EQ(DkCbmUniqueName("twelve-chars.txt"), "twelve-chars.txt");  // sixteen in all
  EXPECT_EQ(DkCbmUniqueName("thirteen-char.txt"), "thirteen-cha.001");
  EXPECT_EQ(DkCbmUniqueName(".prg"), ".prg        .001");
  EXPECT_EQ(DkCbmUniqueName("x:/y/seventeen-chars-stem.prg"), "seventeen-chars-");
  EXPECT_EQ(DkCbmUniqueName("  .prg"), "            .prg");  // an empty tail falls through
  // Blanks and control characters end no name; "!" (the first printable character) may.
  EXPECT_EQ(DkCbmUniqueName("GO \t.prg"), "GO");
  EXPECT_EQ(DkCbmUniqueName("GO!.prg"), "GO!");
  // A UTF-8 character of two, three or four bytes is one character; a byte that is no UTF-8
  // (a Latin-1 letter, a lead byte without its continuation) stays a byte.
  // The first and last character of each length: U+0080, U+07FF, U+0800, U+FFFF, U+10000 and
  // U+10FFFF.
  EXPECT_EQ(DkCbmUniqueName(
                "\xC2\x80\xDF\xBF\xE0\xA0\x80\xEF\xBF\xBF\xF0\x90\x80\x80\xF4\x8F\xBF\xBF.prg"),
            "______");
  EXPECT_EQ(DkCbmUniqueName("caf\xC3\xA9.txt"), "caf_        .txt");
  EXPECT_EQ(DkCbmUniqueName("\xCE\xA9"), "_           .001");  // a character that ends the name
  EXPECT_EQ(DkCbmUniqueName("\xE9t\xE9\xC3.seq"), "\xE9t\xE9\xC3");
  EXPECT_EQ(DkCbmUniqueName("\xE2\x82x.seq"), "\xE2\x82x");
  EXPECT_EQ(DkCbmUniqueName("\xC1\xA9\xF5\x80\x80\x80.seq"), "\xC1\xA9\xF5\x80\x80\x80");
  // Sixteen characters of the Cyrillic alphabet fill a name, where their 32 bytes would be cut.
  std::string cyrillic;
  for (int i = 0; i < 17; ++i) cyrillic += "\xD0\x96";
  EXPECT_EQ(DkCbmUniqueName(cyrillic + ".prg"), std::string(16, '_'));
}

}  // namespace
}  // namespace kelvane
