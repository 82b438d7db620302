#include "cli/cli.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <sstream>

#include "cli/commands.h"
#include "cli/run_cli.h"
#include "common/format.h"
#include "render/thumbnail.h"
#include "support/disk_builder.h"
#include "support/gcr_builder.h"
#include "support/temp_folder.h"

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
  const testing::TempFolder folder("cli");
  Bytes bytes = testing::BlankD64();
  testing::SectorEditor editor(bytes, testing::D64Offset);
  editor.PutEntry(18, 1, 0, {"SURVIVOR", 0x82, 0, 0, 1});
  editor.Link(18, 1, 40, 1);
  const std::string file = folder.Write("damaged.d64", bytes);

  const Result listed = RunWith({"list", file});
  EXPECT_EQ(listed.status, kExitOk);
  EXPECT_NE(listed.out.find("\"SURVIVOR\""), std::string::npos);
  EXPECT_EQ(listed.err,
            "warning: Directory chain broke at T40/S1: Sector T40/S1 past end of image.. "
            "Recovered 1 entries so far; the rest is unreachable.\n");

  const Result strict = RunWith({"list", "--strict", file});
  EXPECT_EQ(strict.status, kExitFailure);
  EXPECT_EQ(strict.out, "");
  EXPECT_EQ(strict.err, "kelvane list: Sector T40/S1 past end of image.\n");

  const Result info = RunWith({"info", file});
  EXPECT_EQ(info.status, kExitOk);
  EXPECT_NE(info.out.find("Directory damage:\n  Directory chain broke at T40/S1"),
            std::string::npos);
}

TEST(CliInfo, ShowsFormatVariantTracksAndErrorInfo) {
  const testing::TempFolder folder("cli");
  Bytes bytes = testing::BlankD64(40, true, ddvSpeedDOS40);
  bytes[bytes.size() - 1] = 5;
  const std::string file = folder.Write("forty.d64", bytes);
  const Result r = RunWith({"info", file});
  EXPECT_EQ(r.status, kExitOk);
  for (const char* part : {"Format:       D64\n", "DOS variant:  SpeedDOS40\n",
                           "Tracks:       40\n", "Error info:   yes (768 sectors, 1 flagged)\n",
                           "Free blocks:  749\n", "Disk name:    TEST DISK\n"}) {
    EXPECT_NE(r.out.find(part), std::string::npos) << part;
  }
  // The largest image read is 16 MiB: a DNP of 256 tracks.
  const Result largest = RunWith({"info", folder.Write("largest.dnp", testing::BlankDnp(256))});
  EXPECT_EQ(largest.status, kExitOk) << largest.err;
  EXPECT_NE(largest.out.find("Tracks:       256\n"), std::string::npos) << largest.out;
}

TEST(CliErrors, BadInputIsReportedWithTheLibrarysMessage) {
  const testing::TempFolder folder("cli");
  const auto Padded = [](Bytes bytes) {
    bytes.resize(16 * 1024 * 1024 + 1);
    return bytes;
  };
  const struct {
    const char* command;
    std::string path;
    std::string message;  // the whole message, or with `part` a piece of it
    bool part;
  } cases[] = {
      {"list", folder.Write("junk.bin", Bytes(200000, 0)),
       "Unrecognized disk-image size: 200000 bytes.", false},
      {"info", folder.Write("disk.g64", Bytes{'G', 'C', 'R', '-', '1', '5', '4', '1', 0}),
       "Truncated G64 image: 9 bytes, header alone is 12.", false},
      {"list",
       folder.Write("tape.tap", Bytes{'C', '6', '4', '-', 'T', 'A', 'P', 'E', '-', 'R', 'A', 'W'}),
       "Image format Tap is not supported.", false},
      // A readable G64 padded past 16 MiB: too large to read at all.
      {"list", folder.Write("large.g64", Padded(testing::ReadTestFile("tests/data/cc1541.g64"))),
       "16777217 bytes", true},
      {"list", "tests/data/does-not-exist.d64", "cannot read the file", true},
      {"list", "tests/data", "is a folder", true},
  };
  for (const auto& c : cases) {
    const Result r = RunWith({c.command, c.path});
    EXPECT_EQ(r.status, kExitFailure) << c.path;
    if (c.part) {
      EXPECT_NE(r.err.find(c.message), std::string::npos) << r.err;
    } else {
      EXPECT_EQ(r.err, std::string("kelvane ") + c.command + ": " + c.message + "\n");
    }
  }
}

TEST(CliErrors, WrongCommandLinesAreUsageErrors) {
  EXPECT_EQ(RunWith({"list"}).status, kExitUsage);
  EXPECT_EQ(RunWith({"list", "a.d64", "b.d64"}).status, kExitUsage);
  const Result r = RunWith({"info", "--json", "a.d64"});
  EXPECT_EQ(r.status, kExitUsage);
  EXPECT_EQ(r.err, "kelvane info: unknown option '--json' (see 'kelvane --help')\n");
}

TEST(CliList, NamesOutsideAsciiReachTheFileSystem) {
  const testing::TempFolder folder("cli");
  // u-umlaut and euro sign, UTF-8
  const std::string path = folder.Write("kelvane-\xC3\xBC\xE2\x82\xAC.d64", testing::BlankD64());
  const Result r = RunWith({"list", path});
  EXPECT_EQ(r.status, kExitOk) << r.err;
  EXPECT_NE(r.out.find("664 BLOCKS FREE."), std::string::npos);
}

TEST(CliConvert, G64BecomesItsD64AndNeverOverwritesUnasked) {
  const testing::TempFolder folder("cli");
  const std::string target = folder.Write("converted.d64", Bytes{1, 2, 3});
  Result r = RunWith({"convert", "tests/data/cc1541.g64", target});
  EXPECT_EQ(r.status, kExitFailure);
  EXPECT_NE(r.err.find("already exists (use --force to replace it)"), std::string::npos);
  EXPECT_EQ(testing::ReadTestFile(target), (Bytes{1, 2, 3}));

  r = RunWith({"convert", "--force", "tests/data/cc1541.g64", target});
  EXPECT_EQ(r.status, kExitOk);
  EXPECT_EQ(r.out, "Wrote " + target + ": 35 tracks, 0 bad sectors.\n");
  EXPECT_EQ(testing::ReadTestFile(target), testing::ReadTestFile("tests/data/cc1541.d64"));

  // A G64 with one track missing: 19 bad sectors, listed with --verbose.
  Bytes g64 = testing::ReadTestFile("tests/data/cc1541.g64");
  for (int i = 0; i < 4; ++i) g64[12 + 4 * 2 * 19 + static_cast<std::size_t>(i)] = 0;  // track 20
  const std::string damaged = folder.Write("damaged.g64", g64);
  r = RunWith({"convert", "-f", damaged, target});
  EXPECT_EQ(r.out, "Wrote " + target + ": 35 tracks, 19 bad sectors.\n");
  r = RunWith({"convert", "-f", "--verbose", damaged, target});
  EXPECT_EQ(r.status, kExitOk);
  EXPECT_NE(r.out.find(": 35 tracks, 19 bad sectors.\n  bad sector T20/S0\n"), std::string::npos);
  EXPECT_NE(r.out.find("  bad sector T20/S18\n"), std::string::npos);

  // A G71 becomes its D71, whatever its name says: list, info and render read it as that.
  const Bytes d71 = testing::ReadTestFile("tests/data/cc1541.d71");
  const std::string g71 = folder.Write("both-sides.gcr", testing::BuildG71(d71, {{40, 3}}));
  const std::string d71_target = folder.Path("both-sides.d71");
  r = RunWith({"convert", "--verbose", g71, d71_target});
  EXPECT_EQ(r.status, kExitOk) << r.err;
  EXPECT_EQ(r.out, "Wrote " + d71_target + ": 70 tracks, 1 bad sectors.\n  bad sector T40/S3\n");
  Bytes expected = d71;
  std::fill_n(expected.begin() + testing::D71Offset(40, 3), 256, 0);
  EXPECT_EQ(testing::ReadTestFile(d71_target), expected);
  EXPECT_EQ(RunWith({"list", g71}).out, RunWith({"list", d71_target}).out);
  EXPECT_NE(RunWith({"info", g71}).out.find("Source:       G71, decoded to D71 (1 bad sectors)"),
            std::string::npos);

  r = RunWith({"convert", "samples/demo.d64", target});
  EXPECT_EQ(r.status, kExitFailure);
  EXPECT_NE(r.err.find("not a G64, G71 or NIB file"), std::string::npos);
  EXPECT_EQ(RunWith({"convert", "only-one.g64"}).status, kExitUsage);
}

TEST(CliInfo, GcrImagesAndPc64Files) {
  const testing::TempFolder folder("cli");
  Result r = RunWith({"info", "tests/data/cc1541.g64"});
  EXPECT_EQ(r.status, kExitOk);
  EXPECT_NE(r.out.find("Source:       G64, decoded to D64 (0 bad sectors)\n"), std::string::npos);
  EXPECT_NE(r.out.find("Entries:      9\n"), std::string::npos);

  Bytes sidecar = {'C', '6', '4', 'F', 'i', 'l', 'e', 0, 'G', 'A', 'M', 'E'};
  sidecar.resize(26, 0);
  sidecar.insert(sidecar.end(), 508, 0xEA);
  const std::string p00 = folder.Write("game.p00", sidecar);
  r = RunWith({"info", p00});
  EXPECT_EQ(r.status, kExitOk);
  EXPECT_NE(r.out.find("Format:       PC64 file\nCBM name:     GAME\n"), std::string::npos);
  EXPECT_NE(r.out.find("Type:         PRG\nSize:         508 bytes (2 blocks)\n"),
            std::string::npos);

  const std::string wrong_extension = folder.Write("game.x00", sidecar);
  r = RunWith({"info", wrong_extension});
  EXPECT_EQ(r.status, kExitFailure);
  EXPECT_EQ(r.err, "kelvane info: PC64 extension must start with P/S/U/R; got 'X'.\n");
}

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
  const testing::TempFolder folder("cli");
  const std::string target = folder.Path("listing.png");
#if defined(KELVANE_HAVE_PNG)
  Result r = RunWith({"render", "samples/demo.d64", "-o", target});
  EXPECT_EQ(r.status, kExitOk) << r.err;
  // 7 rows of 16-pixel cells; the widest row (an entry line, 30 bytes) plus one cell of margin.
  EXPECT_EQ(r.out, "Wrote " + target + ": 496 x 112 pixels.\n");
  Bytes png = testing::ReadTestFile(target);
  ASSERT_TRUE(IsPng(png));
  EXPECT_EQ(PngWidth(png), 496);
  EXPECT_EQ(PngHeight(png), 112);

  r = RunWith({"render", "samples/demo.d64", "-o", target, "--scale", "1", "--rows", "3", "--width",
               "600", "--charset", "lower"});
  EXPECT_EQ(r.status, kExitOk) << r.err;
  png = testing::ReadTestFile(target);
  EXPECT_EQ(PngWidth(png), 600);
  EXPECT_EQ(PngHeight(png), 24);

  // Thumbnails fit the box and keep the listing's shape.
  const Bytes full = testing::ReadTestFile("tests/data/cc1541-full.d64");
  r = RunWith({"thumbnail", "-s", "64", "tests/data/cc1541-full.d64", target});
  EXPECT_EQ(r.status, kExitOk) << r.err;
  png = testing::ReadTestFile(target);
  EXPECT_TRUE(IsPng(png));
  EXPECT_LE(PngWidth(png), 64);
  EXPECT_LE(PngHeight(png), 64);
  EXPECT_GE(std::max(PngWidth(png), PngHeight(png)), 63);
  // The top rows, as many as the header line is wide in cells (26 and a margin), fitted in.
  TDkRenderImage top;
  ASSERT_TRUE(DkRenderDiskPreview(full, "f.d64", 0, 1, 27, top, csUpperGraphics));
  ASSERT_GT(top.Width, top.Height);
  EXPECT_EQ(PngHeight(png), top.Height * 64 / top.Width);
  // The lower/upper charset when asked (Windows' thumbnails are always the upper-case one).
  TDkRenderImage lower;
  ASSERT_TRUE(DkRenderThumbnail(full, "f.d64", 64, csLowerUpper, lower));
  r = RunWith(
      {"thumbnail", "-s", "64", "--charset", "lower", "tests/data/cc1541-full.d64", target});
  EXPECT_EQ(r.status, kExitOk) << r.err;
  const Bytes lower_png = testing::ReadTestFile(target);
  EXPECT_EQ(PngWidth(lower_png), lower.Width);
  EXPECT_EQ(PngHeight(lower_png), lower.Height);
  EXPECT_NE(lower_png, png);
  // Without -s the box is 128 pixels.
  TDkRenderImage standard;
  ASSERT_TRUE(DkRenderThumbnail(full, "f.d64", 128, csUpperGraphics, standard));
  r = RunWith({"thumbnail", "tests/data/cc1541-full.d64", target});
  EXPECT_EQ(r.status, kExitOk) << r.err;
  png = testing::ReadTestFile(target);
  EXPECT_EQ(PngWidth(png), standard.Width);
  EXPECT_EQ(PngHeight(png), standard.Height);

  const std::string junk = folder.Write("junk.d64", Bytes(1000, 0));
  r = RunWith({"render", junk, "-o", target});
  EXPECT_EQ(r.status, kExitFailure);
  EXPECT_NE(r.err.find("Unrecognized D64 size: 1000 bytes."), std::string::npos);
#else
  const Result r = RunWith({"render", "samples/demo.d64", "-o", target});
  EXPECT_EQ(r.status, kExitFailure);
  EXPECT_EQ(r.err,
            "kelvane render: This build of kelvane has no PNG support (libpng was not found).\n");
#endif
  EXPECT_EQ(RunWith({"render", "samples/demo.d64"}).status, kExitUsage);
  // Every number option at both ends of its range and one past each (what is taken renders, or
  // fails only for want of PNG support).
#if defined(KELVANE_HAVE_PNG)
  const int taken = kExitOk;
#else
  const int taken = kExitFailure;
#endif
  struct Limit {
    const char* command;
    const char* option;
    int low, high;
  };
  for (const Limit& limit :
       {Limit{"render", "--scale", 1, 16}, Limit{"render", "--rows", 0, 100000},
        Limit{"render", "--width", 0, 16384}, Limit{"thumbnail", "-s", 8, 2048}}) {
    for (const int value : {limit.low - 1, limit.low, limit.high, limit.high + 1}) {
      const std::string number = std::to_string(value);
      const bool render = std::string(limit.command) == "render";
      const std::vector<std::string> args =
          render ? std::vector<std::string>{"render", "samples/demo.d64", "-o",  target, "--rows",
                                            "1",      limit.option,       number}
                 : std::vector<std::string>{"thumbnail", limit.option, number, "samples/demo.d64",
                                            target};
      const Result result = RunWith(args);
      const bool inside = value >= limit.low && value <= limit.high;
      EXPECT_EQ(result.status, inside ? taken : kExitUsage) << limit.option << " " << value;
      if (!inside) {
        EXPECT_NE(result.err.find(Format("%s wants a whole number from %d to %d, got '%s'",
                                         limit.option, limit.low, limit.high, number.c_str())),
                  std::string::npos)
            << result.err;
      }
    }
  }
  EXPECT_EQ(RunWith({"render", "samples/demo.d64", "-o", target, "--charset", "greek"}).status,
            kExitUsage);
  EXPECT_EQ(RunWith({"thumbnail", "-s", "64", "samples/demo.d64"}).status, kExitUsage);
  EXPECT_EQ(
      RunWith({"thumbnail", "-s", "64", "--charset", "x", "samples/demo.d64", "o.png"}).status,
      kExitUsage);
}

}  // namespace
}  // namespace kelvane::cli
