#include "cli/cli.h"

#include <gtest/gtest.h>

#include <sstream>

#include "cli/commands.h"
#include "cli/run_cli.h"
#include "render/thumbnail.h"

namespace kelvane::cli {
namespace {

TEST(Cli, HelpGoesToStdoutAndSucceeds) {
  for (const char* flag : {"--help", "-h"}) {
    const Result r = RunWith({flag});
    EXPECT_EQ(r.status, kExitOk);
    EXPECT_NE(r.out.find("Usage: kelvane COMMAND"), std::string::npos);
    EXPECT_TRUE(r.err.empty());
  }
}

TEST(Cli, VersionNamesTheTool) {
  const Result r = RunWith({"--version"});
  EXPECT_EQ(r.status, kExitOk);
  EXPECT_EQ(r.out.rfind("kelvane ", 0), 0u);
  EXPECT_EQ(r.out.back(), '\n');
}

TEST(Cli, MissingOrUnknownCommandIsAUsageError) {
  const Result none = RunWith({});
  EXPECT_EQ(none.status, kExitUsage);
  EXPECT_TRUE(none.out.empty());
  EXPECT_NE(none.err.find("Usage:"), std::string::npos);

  const Result unknown = RunWith({"frobnicate", "x.d64"});
  EXPECT_EQ(unknown.status, kExitUsage);
  EXPECT_EQ(unknown.err, "kelvane: unknown command 'frobnicate' (see 'kelvane --help')\n");
}

}  // namespace
}  // namespace kelvane::cli

#include <filesystem>
#include <fstream>

#include "support/disk_builder.h"

namespace kelvane::cli {
namespace {

// A file in the temporary folder, removed again when the test ends.
class TempFile {
 public:
  TempFile(const std::string& name, const Bytes& bytes)
      : path_(std::filesystem::temp_directory_path() /
              ("kelvane-cli-test-" + std::to_string(counter_++) + "-" + name)) {
    std::ofstream out(path_, std::ios::binary);
    out.write(reinterpret_cast<const char*>(bytes.data()),
              static_cast<std::streamsize>(bytes.size()));
  }
  ~TempFile() {
    std::error_code ignored;
    std::filesystem::remove(path_, ignored);
  }
  std::string path() const { return path_.string(); }

 private:
  static inline int counter_ = 0;
  std::filesystem::path path_;
};

TEST(CliList, SampleImageListsLikeTheMachine) {
  const Result r = RunWith({"list", "samples/demo.d64"});
  EXPECT_EQ(r.status, kExitOk);
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(r.out,
            "0 \"KELVANE DEMO    \" KV 2A\n"
            "12    \"SPACE GAME\"        PRG\n"
            "3     \"HIGH SCORES\"       SEQ\n"
            "3     \"README\"            USR<\n"
            "0     \"----------------\"  DEL\n"
            "3     \"LOADER\"            PRG\n"
            "643 BLOCKS FREE.\n");
}

TEST(CliList, GraphicsReadAsQuestionMarksTheLineAsAMinusAndShiftedLettersAsCapitals) {
  const Result r = RunWith({"list", "tests/data/dirart.d64"});
  EXPECT_EQ(r.status, kExitOk);
  EXPECT_EQ(r.out,
            "0 \"DIRECTORY ART   \" DA 2A\n"
            "1     \"?--?CC?U--I O??P\"  PRG\n"
            "1     \"?--?--?B  ? ?  ?\"  PRG\n"
            "1     \"?--?--?J--K L???\"  PRG\n"
            "661 BLOCKS FREE.\n");
}

TEST(CliList, JsonCarriesEntriesNameBytesAndFormat) {
  const Result r = RunWith({"list", "--json", "samples/demo.d64"});
  EXPECT_EQ(r.status, kExitOk);
  for (const char* part :
       {"\"format\": \"D64\"", "\"variant\": \"Standard35\"", "\"disk_name\": \"KELVANE DEMO\"",
        "\"disk_id\": \"KV 2A\"", "\"free_blocks\": 643",
        "\"name\": \"README\", \"name_hex\": \"524541444d45a0a0a0a0a0a0a0a0a0a0\", \"type\": "
        "\"USR\"",
        "\"locked\": true", "\"warnings\": []"}) {
    EXPECT_NE(r.out.find(part), std::string::npos) << part;
  }
}

TEST(CliList, DamagedDirectoryListsWhatCanBeReadUnlessStrict) {
  Bytes bytes = testing::BlankD64();
  testing::SectorEditor editor(bytes, testing::D64Offset);
  editor.PutEntry(18, 1, 0, {"SURVIVOR", 0x82, 0, 0, 1});
  editor.Link(18, 1, 40, 1);
  const TempFile file("damaged.d64", bytes);

  const Result listed = RunWith({"list", file.path()});
  EXPECT_EQ(listed.status, kExitOk);
  EXPECT_NE(listed.out.find("\"SURVIVOR\""), std::string::npos);
  EXPECT_EQ(listed.err,
            "warning: Directory chain broke at T40/S1: Sector T40/S1 past end of image.. "
            "Recovered 1 entries so far; the rest is unreachable.\n");

  const Result strict = RunWith({"list", "--strict", file.path()});
  EXPECT_EQ(strict.status, kExitFailure);
  EXPECT_EQ(strict.out, "");
  EXPECT_EQ(strict.err, "kelvane list: Sector T40/S1 past end of image.\n");

  const Result info = RunWith({"info", file.path()});
  EXPECT_EQ(info.status, kExitOk);
  EXPECT_NE(info.out.find("Directory damage:\n  Directory chain broke at T40/S1"),
            std::string::npos);
}

TEST(CliInfo, ShowsFormatVariantTracksAndErrorInfo) {
  Bytes bytes = testing::BlankD64(40, true, ddvSpeedDOS40);
  bytes[bytes.size() - 1] = 5;
  const TempFile file("forty.d64", bytes);
  const Result r = RunWith({"info", file.path()});
  EXPECT_EQ(r.status, kExitOk);
  for (const char* part : {"Format:       D64\n", "DOS variant:  SpeedDOS40\n",
                           "Tracks:       40\n", "Error info:   yes (768 sectors, 1 flagged)\n",
                           "Free blocks:  749\n", "Disk name:    TEST DISK\n"}) {
    EXPECT_NE(r.out.find(part), std::string::npos) << part;
  }
}

TEST(CliErrors, BadInputIsReportedWithTheLibrarysMessage) {
  const TempFile unknown("junk.bin", Bytes(200000, 0));
  Result r = RunWith({"list", unknown.path()});
  EXPECT_EQ(r.status, kExitFailure);
  EXPECT_EQ(r.err, "kelvane list: Unrecognized disk-image size: 200000 bytes.\n");

  const TempFile g64("disk.g64", Bytes{'G', 'C', 'R', '-', '1', '5', '4', '1', 0});
  r = RunWith({"info", g64.path()});
  EXPECT_EQ(r.status, kExitFailure);
  EXPECT_EQ(r.err, "kelvane info: Truncated G64 image: 9 bytes, header alone is 12.\n");

  const TempFile tape("tape.tap",
                      Bytes{'C', '6', '4', '-', 'T', 'A', 'P', 'E', '-', 'R', 'A', 'W'});
  r = RunWith({"list", tape.path()});
  EXPECT_EQ(r.status, kExitFailure);
  EXPECT_EQ(r.err, "kelvane list: Image format Tap is not supported.\n");

  r = RunWith({"list", "tests/data/does-not-exist.d64"});
  EXPECT_EQ(r.status, kExitFailure);
  EXPECT_NE(r.err.find("cannot read the file"), std::string::npos);

  r = RunWith({"list", "tests/data"});
  EXPECT_EQ(r.status, kExitFailure);
  EXPECT_NE(r.err.find("is a folder"), std::string::npos);
}

TEST(CliErrors, WrongCommandLinesAreUsageErrors) {
  EXPECT_EQ(RunWith({"list"}).status, kExitUsage);
  EXPECT_EQ(RunWith({"list", "a.d64", "b.d64"}).status, kExitUsage);
  const Result r = RunWith({"info", "--json", "a.d64"});
  EXPECT_EQ(r.status, kExitUsage);
  EXPECT_EQ(r.err, "kelvane info: unknown option '--json' (see 'kelvane --help')\n");
}

}  // namespace
}  // namespace kelvane::cli

namespace kelvane::cli {
namespace {

TEST(CliList, NamesOutsideAsciiReachTheFileSystem) {
  const std::string name = "kelvane-\xC3\xBC\xE2\x82\xAC.d64";  // u-umlaut and euro sign, UTF-8
  const std::filesystem::path path = std::filesystem::temp_directory_path() / PathFromUtf8(name);
  {
    std::ofstream out(path, std::ios::binary);
    const Bytes bytes = testing::BlankD64();
    out.write(reinterpret_cast<const char*>(bytes.data()),
              static_cast<std::streamsize>(bytes.size()));
  }
  const std::u8string utf8 = path.u8string();
  const Result r = RunWith({"list", std::string(utf8.begin(), utf8.end())});
  std::filesystem::remove(path);
  EXPECT_EQ(r.status, kExitOk) << r.err;
  EXPECT_NE(r.out.find("664 BLOCKS FREE."), std::string::npos);
}

TEST(CliConvert, G64BecomesItsD64AndNeverOverwritesUnasked) {
  const TempFile target("converted.d64", Bytes{1, 2, 3});
  Result r = RunWith({"convert", "tests/data/cc1541.g64", target.path()});
  EXPECT_EQ(r.status, kExitFailure);
  EXPECT_NE(r.err.find("already exists (use --force to replace it)"), std::string::npos);
  EXPECT_EQ(testing::ReadTestFile(target.path()), (Bytes{1, 2, 3}));

  r = RunWith({"convert", "--force", "tests/data/cc1541.g64", target.path()});
  EXPECT_EQ(r.status, kExitOk);
  EXPECT_EQ(r.out, "Wrote " + target.path() + ": 35 tracks, 0 bad sectors.\n");
  EXPECT_EQ(testing::ReadTestFile(target.path()), testing::ReadTestFile("tests/data/cc1541.d64"));

  // A G64 with one track missing: 19 bad sectors, listed with --verbose.
  Bytes g64 = testing::ReadTestFile("tests/data/cc1541.g64");
  for (int i = 0; i < 4; ++i) g64[12 + 4 * 2 * 19 + static_cast<std::size_t>(i)] = 0;  // track 20
  const TempFile damaged("damaged.g64", g64);
  r = RunWith({"convert", "-f", "--verbose", damaged.path(), target.path()});
  EXPECT_EQ(r.status, kExitOk);
  EXPECT_NE(r.out.find(": 35 tracks, 19 bad sectors.\n  bad sector T20/S0\n"), std::string::npos);
  EXPECT_NE(r.out.find("  bad sector T20/S18\n"), std::string::npos);

  r = RunWith({"convert", "samples/demo.d64", target.path()});
  EXPECT_EQ(r.status, kExitFailure);
  EXPECT_NE(r.err.find("not a G64 or NIB file"), std::string::npos);
  EXPECT_EQ(RunWith({"convert", "only-one.g64"}).status, kExitUsage);
}

TEST(CliInfo, GcrImagesAndPc64Files) {
  Result r = RunWith({"info", "tests/data/cc1541.g64"});
  EXPECT_EQ(r.status, kExitOk);
  EXPECT_NE(r.out.find("Source:       G64, decoded to D64 (0 bad sectors)\n"), std::string::npos);
  EXPECT_NE(r.out.find("Entries:      9\n"), std::string::npos);

  Bytes sidecar = {'C', '6', '4', 'F', 'i', 'l', 'e', 0, 'G', 'A', 'M', 'E'};
  sidecar.resize(26, 0);
  sidecar.insert(sidecar.end(), 300, 0xEA);
  const TempFile p00("game.p00", sidecar);
  r = RunWith({"info", p00.path()});
  EXPECT_EQ(r.status, kExitOk);
  EXPECT_NE(r.out.find("Format:       PC64 file\nCBM name:     GAME\n"), std::string::npos);
  EXPECT_NE(r.out.find("Type:         PRG\nSize:         300 bytes (2 blocks)\n"),
            std::string::npos);

  const TempFile wrong_extension("game.x00", sidecar);
  r = RunWith({"info", wrong_extension.path()});
  EXPECT_EQ(r.status, kExitFailure);
  EXPECT_EQ(r.err, "kelvane info: PC64 extension must start with P/S/U/R; got 'X'.\n");
}

}  // namespace
}  // namespace kelvane::cli

namespace kelvane::cli {
namespace {

#if defined(KELVANE_HAVE_PNG)
bool IsPng(const Bytes& bytes) {
  static const Bytes kSignature = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
  return bytes.size() > 24 && std::equal(kSignature.begin(), kSignature.end(), bytes.begin());
}

int PngWidth(const Bytes& png) {
  return (png[16] << 24) | (png[17] << 16) | (png[18] << 8) | png[19];
}
int PngHeight(const Bytes& png) {
  return (png[20] << 24) | (png[21] << 16) | (png[22] << 8) | png[23];
}
#endif

TEST(CliRender, WritesTheListingAsPng) {
  const TempFile target("listing.png", {});
#if defined(KELVANE_HAVE_PNG)
  Result r = RunWith({"render", "samples/demo.d64", "-o", target.path()});
  EXPECT_EQ(r.status, kExitOk) << r.err;
  // 7 rows of 16-pixel cells; the widest row (an entry line, 30 bytes) plus one cell of margin.
  EXPECT_EQ(r.out, "Wrote " + target.path() + ": 496 x 112 pixels.\n");
  Bytes png = testing::ReadTestFile(target.path());
  ASSERT_TRUE(IsPng(png));
  EXPECT_EQ(PngWidth(png), 496);
  EXPECT_EQ(PngHeight(png), 112);

  r = RunWith({"render", "samples/demo.d64", "-o", target.path(), "--scale", "1", "--rows", "3",
               "--width", "600", "--charset", "lower"});
  EXPECT_EQ(r.status, kExitOk) << r.err;
  png = testing::ReadTestFile(target.path());
  EXPECT_EQ(PngWidth(png), 600);
  EXPECT_EQ(PngHeight(png), 24);

  // Thumbnails fit the box and keep the listing's shape.
  r = RunWith({"thumbnail", "-s", "64", "tests/data/cc1541-full.d64", target.path()});
  EXPECT_EQ(r.status, kExitOk) << r.err;
  png = testing::ReadTestFile(target.path());
  EXPECT_TRUE(IsPng(png));
  EXPECT_LE(PngWidth(png), 64);
  EXPECT_LE(PngHeight(png), 64);
  EXPECT_GE(std::max(PngWidth(png), PngHeight(png)), 63);
  // The same picture the Windows thumbnails show, in either charset.
  TDkRenderImage lower;
  ASSERT_TRUE(DkRenderThumbnail(testing::ReadTestFile("tests/data/cc1541-full.d64"), "f.d64", 64,
                                csLowerUpper, lower));
  r = RunWith(
      {"thumbnail", "-s", "64", "--charset", "lower", "tests/data/cc1541-full.d64", target.path()});
  EXPECT_EQ(r.status, kExitOk) << r.err;
  const Bytes lower_png = testing::ReadTestFile(target.path());
  EXPECT_EQ(PngWidth(lower_png), lower.Width);
  EXPECT_EQ(PngHeight(lower_png), lower.Height);
  EXPECT_NE(lower_png, png);

  const TempFile junk("junk.d64", Bytes(1000, 0));
  r = RunWith({"render", junk.path(), "-o", target.path()});
  EXPECT_EQ(r.status, kExitFailure);
  EXPECT_NE(r.err.find("Unrecognized D64 size: 1000 bytes."), std::string::npos);
#else
  const Result r = RunWith({"render", "samples/demo.d64", "-o", target.path()});
  EXPECT_EQ(r.status, kExitFailure);
  EXPECT_EQ(r.err,
            "kelvane render: This build of kelvane has no PNG support (libpng was not found).\n");
#endif
  EXPECT_EQ(RunWith({"render", "samples/demo.d64"}).status, kExitUsage);
  EXPECT_EQ(RunWith({"render", "samples/demo.d64", "-o", target.path(), "--scale", "0"}).status,
            kExitUsage);
  EXPECT_EQ(
      RunWith({"render", "samples/demo.d64", "-o", target.path(), "--charset", "greek"}).status,
      kExitUsage);
  EXPECT_EQ(RunWith({"thumbnail", "-s", "64", "samples/demo.d64"}).status, kExitUsage);
  EXPECT_EQ(
      RunWith({"thumbnail", "-s", "64", "--charset", "x", "samples/demo.d64", "o.png"}).status,
      kExitUsage);
}

}  // namespace
}  // namespace kelvane::cli
