// T64 tapes and Lynx archives: listed and read by content, from builder-made files of the variants
// in circulation and from a Lynx archive cbmconvert wrote; damage lists what can be read.
#include "formats/containers.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>

#include "registry/registry.h"
#include "support/container_builder.h"
#include "support/disk_builder.h"
#include "support/messages.h"

namespace kelvane::testing {
namespace {

Bytes WithLoadAddress(std::uint16_t start, const Bytes& data) {
  Bytes out = {static_cast<std::uint8_t>(start), static_cast<std::uint8_t>(start >> 8)};
  out.insert(out.end(), data.begin(), data.end());
  return out;
}

std::string LastLine(const TDkCbmImage& image) {
  const Bytes line = image.LastLineBytes();
  return std::string(line.begin(), line.end());
}

const std::vector<T64File> kTapeFiles = {
    {"FIRST", 0x82, 0x0801, PatternBytes(300, 1)},
    {"SECOND", 0x00, 0xC000, PatternBytes(1, 2)},    // 0x00 is read as PRG
    {"THIRD", 0x81, 0x1000, PatternBytes(252, 3)},   // with its address: one whole block
    {"FOURTH", 0x01, 0x2000, PatternBytes(253, 4)},  // 0x01 is read as PRG too; two blocks
};

struct TapeCase {
  const char* what;
  T64Options options;
  std::string last_line;
};

class T64Variants : public ::testing::TestWithParam<TapeCase> {};

TEST_P(T64Variants, ListsAndReadsEveryFile) {
  const Bytes tape = BuildT64(kTapeFiles, GetParam().options);
  EXPECT_EQ(DkDetectImageFormat("no-extension", tape, static_cast<long long>(tape.size())), cifT64);
  const auto image = DkOpenImage(tape, "tape.t64", false);
  EXPECT_EQ(image->FormatName(), "T64");
  EXPECT_EQ(image->DiskName(), "TEST TAPE");
  ASSERT_EQ(image->Entries().size(), kTapeFiles.size());
  const std::vector<TDkCbmFileType> types = {cftPRG, cftPRG, cftSEQ, cftPRG};
  const std::vector<int> blocks = {2, 1, 1, 2};
  for (std::size_t i = 0; i < kTapeFiles.size(); ++i) {
    const TDkCbmEntry& entry = image->Entries()[i];
    SCOPED_TRACE(kTapeFiles[i].name);
    EXPECT_EQ(entry.Name, kTapeFiles[i].name);
    EXPECT_EQ(entry.FileType, types[i]);
    EXPECT_EQ(entry.Blocks, blocks[i]);
    EXPECT_EQ(image->ReadFile(entry), WithLoadAddress(kTapeFiles[i].start, kTapeFiles[i].data));
  }
  EXPECT_EQ(LastLine(*image), GetParam().last_line);
}

INSTANTIATE_TEST_SUITE_P(
    Tapes, T64Variants,
    ::testing::Values(TapeCase{"plain", {}, "0 SLOTS FREE."},
                      TapeCase{
                          "every end address 0xC3C6", {.converter_end = true}, "0 SLOTS FREE."},
                      TapeCase{"used count 0", {.used = 0}, "0 SLOTS FREE."},
                      TapeCase{"a gap after each file", {.gap = 40}, "0 SLOTS FREE."},
                      TapeCase{"data not in slot order",
                               {.converter_end = true, .data_reversed = true},
                               "0 SLOTS FREE."},
                      TapeCase{"spare slots, another signature",
                               {.signature = "C64S tape image file", .slots = 30},
                               "26 SLOTS FREE."}),
    [](const auto& test_case) {
      std::string name = test_case.param.what;
      for (char& c : name) c = std::isalnum(static_cast<unsigned char>(c)) ? c : '_';
      return name;
    });

// Damage: what can be read is listed with a warning; opened strictly it is an error.
TEST(T64Damage, ReadablePartListedWithAWarning) {
  struct Case {
    const char* what;
    Bytes tape;
    std::size_t readable;
  };
  Bytes past_end = BuildT64(kTapeFiles);
  past_end[64 + 32 * 1 + 8 + 2] = 0x7F;  // the second file's data offset far past the end
  Bytes too_many_slots = BuildT64(kTapeFiles);
  too_many_slots[34] = 0xFF;  // 255 slots in a file with room for a few
  std::vector<Case> cases = {
      {"an offset past the end", past_end, 3},
      {"more files counted than the slots hold", BuildT64(kTapeFiles, {.used = 9}), 4},
      {"more slots than the file has room for", too_many_slots, 4},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_THROW(DkOpenImage(c.tape, "tape.t64", false), EDkT64Image);
    const auto image = DkOpenImage(c.tape, "tape.t64", true);
    ASSERT_NE(image->RecoveryWarnings(), nullptr);
    EXPECT_FALSE(image->RecoveryWarnings()->empty());
    EXPECT_GE(image->Entries().size(), c.readable);
    for (const TDkCbmEntry& entry : image->Entries()) EXPECT_NO_THROW(image->ReadFile(entry));
  }
  // A directory type byte on a tape is no folder to walk: a file, PRG.
  std::vector<T64File> odd_types = kTapeFiles;
  odd_types[0].file_type = 0x86;
  EXPECT_EQ(DkOpenImage(BuildT64(odd_types), "tape.t64", false)->Entries()[0].FileType, cftPRG);

  // Two slots over the same data: each reads up to where the other data begins, no further.
  Bytes shared = BuildT64(kTapeFiles, {.converter_end = true});
  std::copy_n(shared.begin() + 64 + 8, 4, shared.begin() + 64 + 32 + 8);
  const auto image = DkOpenImage(shared, "tape.t64", true);
  for (const TDkCbmEntry& entry : image->Entries()) EXPECT_NO_THROW(image->ReadFile(entry));
}

// The archive cbmconvert 2.1.5 wrote (tests/data/README.md): every file as it went in.
TEST(Lynx, PeerArchiveGivesBackItsInputs) {
  const Bytes archive = ReadTestFile("tests/data/cbmconvert.lnx");
  EXPECT_EQ(DkDetectImageFormat("archive", archive, static_cast<long long>(archive.size())),
            cifLynx);
  const auto image = DkOpenImage(archive, "cbmconvert.lnx", false);
  EXPECT_EQ(image->FormatName(), "Lynx");
  struct Expected {
    const char* name;
    const char* input;
    TDkCbmFileType type;
  };
  const std::vector<Expected> expected = {
      {"EMPTY", "empty.prg", cftPRG}, {"ONE", "one.usr", cftUSR},   {"SHORT", "short.prg", cftPRG},
      {"TINY", "tiny.prg", cftPRG},   {"EDGE", "edge.prg", cftPRG}, {"TWO", "two.prg", cftPRG},
      {"HELLO", "hello.prg", cftPRG}, {"DATA", "data.seq", cftSEQ}, {"BIG", "big.prg", cftPRG},
  };
  ASSERT_EQ(image->Entries().size(), expected.size());
  for (std::size_t i = 0; i < expected.size(); ++i) {
    const TDkCbmEntry& entry = image->Entries()[i];
    SCOPED_TRACE(expected[i].name);
    const Bytes input = ReadTestFile(std::string("tests/data/inputs/") + expected[i].input);
    EXPECT_EQ(entry.Name, expected[i].name);
    EXPECT_EQ(entry.FileType, expected[i].type);
    EXPECT_EQ(entry.Blocks, static_cast<int>((input.size() + 253) / 254));
    EXPECT_EQ(image->ReadFile(entry), input);
  }
  EXPECT_EQ(LastLine(*image), std::to_string((archive.size() + 253) / 254) + " BLOCKS IN ARCHIVE.");
}

TEST(Lynx, BuilderVariants) {
  const std::vector<LynxFile> files = {
      {"GAME", 'P', PatternBytes(600, 5)},
      {"RECORDS", 'R', PatternBytes(254, 6)},
      {"NOTES", 'S', PatternBytes(90, 7)},
  };
  // The BASIC line before the directory may be as short as a line can be: no text at all; the
  // directory starts right after the program, with or without a return first.
  for (const LynxOptions& options :
       {LynxOptions{}, LynxOptions{.stamp = "LYNX IX"}, LynxOptions{.omit_last_size = true},
        LynxOptions{.basic_text = ""}, LynxOptions{.bare_signature = true}}) {
    SCOPED_TRACE(options.stamp);
    const Bytes archive = BuildLynx(files, options);
    const auto image = DkOpenImage(archive, "archive.bin", false);
    ASSERT_EQ(image->Entries().size(), files.size());
    const std::vector<TDkCbmFileType> types = {cftPRG, cftREL, cftSEQ};
    for (std::size_t i = 0; i < files.size(); ++i) {
      EXPECT_EQ(image->Entries()[i].FileType, types[i]);
      EXPECT_EQ(image->ReadFile(image->Entries()[i]), files[i].data);
    }
  }
  // More entries promised than written, and a last file cut short: the rest, with warnings.
  for (const auto& [what, archive] : std::vector<std::pair<const char*, Bytes>>{
           {"five entries promised", BuildLynx(files, {.claimed_entries = 5})},
           {"cut short", [&] {
              Bytes cut = BuildLynx(files);
              cut.resize(cut.size() - 40);
              return cut;
            }()}}) {
    SCOPED_TRACE(what);
    EXPECT_THROW(DkOpenImage(archive, "archive.lnx", false), EDkLynxImage);
    const auto image = DkOpenImage(archive, "archive.lnx", true);
    ASSERT_NE(image->RecoveryWarnings(), nullptr);
    EXPECT_FALSE(image->RecoveryWarnings()->empty());
    ASSERT_EQ(image->Entries().size(), files.size());
    EXPECT_EQ(image->ReadFile(image->Entries()[0]), files[0].data);
  }
}

// The directory's size in blocks (on the "LYNX" line) must end inside the file and after the
// directory's own lines; otherwise the archive is damaged.
TEST(Lynx, TheDirectorySizeMustLieInsideTheFile) {
  const Bytes empty = BuildLynx({});
  ASSERT_EQ(empty.size(), 254u);  // one block, ending where the file ends
  EXPECT_TRUE(DkOpenImage(empty, "empty.lnx", false)->Entries().empty());
  const Bytes archive = BuildLynx({{"GAME", 'P', PatternBytes(600, 5)}});
  const std::string head = " 1  *LYNX";
  const auto at = std::search(archive.begin(), archive.end(), head.begin(), head.end());
  ASSERT_NE(at, archive.end());
  Bytes claimed = archive;
  claimed[static_cast<std::size_t>(at - archive.begin()) + 1] = '9';
  const std::string message = "The Lynx directory claims 9 blocks; the file has " +
                              std::to_string(archive.size()) + " bytes.";
  EXPECT_EQ(MessageOf<EDkLynxImage>([&] { DkOpenImage(claimed, "x.lnx", false); }), message);
  const auto image = DkOpenImage(claimed, "x.lnx", true);
  ASSERT_TRUE(image->RecoveryWarnings() && !image->RecoveryWarnings()->empty());
  EXPECT_EQ(image->RecoveryWarnings()->front(), message);
}

// Only content makes a T64 or a Lynx archive: other bytes under those names are refused with the
// text for an unrecognised image.
TEST(Containers, OtherBytesUnderTheirNamesAreRefused) {
  std::mt19937 random(7);
  Bytes noise(5000);
  for (auto& b : noise) b = static_cast<std::uint8_t>(random());
  const Bytes program = WithLoadAddress(0x0801, PatternBytes(700, 9));
  const std::string text = "This is a text file, not a tape.\n";
  for (const char* name : {"x.t64", "x.lnx"}) {
    for (const Bytes& bytes : {noise, program, Bytes(text.begin(), text.end())}) {
      const long long size = static_cast<long long>(bytes.size());
      EXPECT_EQ(DkDetectImageFormat(name, bytes, size), cifUnknown) << name;
      try {
        DkOpenImage(bytes, name, true);
        ADD_FAILURE() << name << " opened";
      } catch (const EDkCbmImageFormatError& error) {
        EXPECT_EQ(std::string(error.what()), DkSizeErrorText(name, size));
      }
    }
  }
}

}  // namespace
}  // namespace kelvane::testing
