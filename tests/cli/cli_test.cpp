#include "cli/cli.h"

#include <gtest/gtest.h>

#include <cctype>
#include <fstream>
#include <sstream>

#include "cli/commands.h"
#include "cli/run_cli.h"
#include "render/thumbnail.h"
#include "support/disk_builder.h"
#include "support/gcr_builder.h"
#include "support/temp_folder.h"

namespace kelvane::cli {
namespace {

bool Has(const std::string& text, const std::string& part) {
  return text.find(part) != std::string::npos;
}

TEST(Cli, CommandLinesAndExitCodes) {
  const Result help = RunWith({"--help"});
  EXPECT_EQ(help.status, kExitOk);
  EXPECT_TRUE(Has(help.out, "Usage: kelvane COMMAND"));
  EXPECT_EQ(RunWith({"--version"}).out.rfind("kelvane ", 0), 0u);

  const Result none = RunWith({});
  EXPECT_EQ(none.status, kExitUsage);
  EXPECT_TRUE(Has(none.err, "Usage:"));
  EXPECT_EQ(RunWith({"frobnicate", "x.d64"}).err,
            "kelvane: unknown command 'frobnicate' (see 'kelvane --help')\n");
  EXPECT_EQ(RunWith({"info", "--json", "a.d64"}).err,
            "kelvane info: unknown option '--json' (see 'kelvane --help')\n");
  for (const std::vector<std::string>& args : std::vector<std::vector<std::string>>{
           {"list"},
           {"list", "a.d64", "b.d64"},
           {"convert", "only-one.g64"},
           {"render", "samples/demo.d64"},
           {"render", "samples/demo.d64", "-o"},
           {"render", "samples/demo.d64", "-o", "x.png", "--scale", "0"},
           {"thumbnail", "-s", "64", "samples/demo.d64"},
           {"extract", "x.d64", "-d"},
           {"add", "x.d64"}}) {
    EXPECT_EQ(RunWith(args).status, kExitUsage) << args[0] << " " << args.size();
  }
}

TEST(CliList, ListsLikeTheMachineWithGraphicsAsQuestionMarks) {
  Result r = RunWith({"list", "samples/demo.d64"});
  EXPECT_EQ(r.status, kExitOk);
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(r.out,
            "0 \"KELVANE DEMO    \" KV 2A\n"
            "12   \"SPACE GAME\"       PRG\n"
            "3    \"HIGH SCORES\"      SEQ\n"
            "3    \"README\"           USR<\n"
            "0    \"----------------\" DEL\n"
            "3    \"LOADER\"           PRG\n"
            "643 BLOCKS FREE.\n");
  // The line graphics as a minus, other graphics as "?", shifted letters as capitals.
  r = RunWith({"list", "tests/data/dirart.d64"});
  EXPECT_EQ(r.out,
            "0 \"DIRECTORY ART   \" DA 2A\n"
            "1    \"?--?CC?U--I O??P\" PRG\n"
            "1    \"?--?--?B  ? ?  ?\" PRG\n"
            "1    \"?--?--?J--K L???\" PRG\n"
            "661 BLOCKS FREE.\n");

  // In the characters that look like the glyphs, in either charset; the name's $A0 padding is a
  // shifted space, U+00A0.
  const std::string pad = "\u00A0";
  EXPECT_EQ(RunWith({"list", "tests/data/dirart.d64", "--unicode"}).out,
            "0 \"DIRECTORY ART" + pad + pad + pad +
                "\" DA 2A\n"
                "1    \"┌──┬──┐╭──╮ 🭽🮂🮂🭾\" PRG\n"
                "1    \"├──┼──┤│  │ ▏  ▕\" PRG\n"
                "1    \"└──┴──┘╰──╯ 🭼▂▂🭿\" PRG\n"
                "661 BLOCKS FREE.\n");
  std::string padded;
  for (int i = 0; i < 7; ++i) padded += pad;
  EXPECT_EQ(RunWith({"list", "tests/data/cc1541.d64", "--unicode", "--charset", "lower"}).out,
            "0 \"PEER DISK" + padded +
                "\" PD 2A\n"
                "4    \"HELLO\"            prg\n"
                "20   \"ODD NAME!\"        seq\n"
                "1    \"LOCKED\"           prg<\n"
                "1    \"X\"                usr\n"
                "1    \"SPLAT\"           *prg\n"
                "2    \"lower name\"       prg\n"
                "1    \"SHIFT\"left$right$str$str$valN      prg\n"
                "1    \"DEL FILE\"         del\n"
                "158  \"BIG\"              prg\n"
                "475 blocks free.\n");

  r = RunWith({"list", "--json", "samples/demo.d64"});
  EXPECT_EQ(r.status, kExitOk);
  for (const char* part :
       {"\"format\": \"D64\"", "\"variant\": \"Standard35\"", "\"disk_name\": \"KELVANE DEMO\"",
        "\"disk_id\": \"KV 2A\"", "\"free_blocks\": 643",
        "\"name\": \"README\", \"name_hex\": \"524541444d45a0a0a0a0a0a0a0a0a0a0\", \"type\": "
        "\"USR\"",
        "\"locked\": true", "\"warnings\": []"}) {
    EXPECT_TRUE(Has(r.out, part)) << part;
  }
}

// Every line as cc1541 lists the peer-made images, column for column: letter case aside, and
// with any sign that is no letter, digit, blank, quote, "*", "<" or "!" standing for any other
// (cc1541 shows graphics as "." and "@", kelvane as "?" and "-"). Two exceptions: a name with
// text hidden behind its padding, where LIST expands BASIC tokens (shifted letters are tokens
// outside quotes) and cc1541 prints the bytes; and a D71's free blocks, which cc1541 counts
// otherwise than a 1571 (tests/data/README.md).
TEST(CliList, TheColumnsOfEveryLineAreCc1541s) {
  const auto normal = [](std::string line) {
    while (!line.empty() && line.back() == ' ') line.pop_back();
    for (char& c : line) {
      c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
      const bool sign = std::string(" \"*<!").find(c) != std::string::npos;
      if (!std::isalnum(static_cast<unsigned char>(c)) && !sign) c = '#';
    }
    return line;
  };
  for (const std::string image :
       {"cc1541.d64", "cc1541.d71", "cc1541.d81", "cc1541-full.d64", "dirart.d64", "cbmconvert.d64",
        "cbmconvert.d71", "cbmconvert.d81"}) {
    std::istringstream ours(RunWith({"list", "tests/data/" + image}).out);
    std::ifstream theirs("tests/data/" + image + ".cc1541.txt");
    std::string line, expected;
    while (std::getline(theirs, expected) && expected.rfind("0 \"", 0) != 0) {
    }
    int lines = 0;
    for (bool last = false; !last && !expected.empty(); std::getline(theirs, expected)) {
      ASSERT_TRUE(std::getline(ours, line)) << image << ": no line for " << expected;
      ++lines;
      last = expected.find("blocks free.") != std::string::npos;
      if (expected.find("HIDDEN") != std::string::npos || (last && image.ends_with(".d71"))) {
        continue;
      }
      EXPECT_EQ(normal(line), normal(expected)) << image;
    }
    EXPECT_FALSE(std::getline(ours, line)) << image << ": more lines than cc1541's";
    EXPECT_GT(lines, 2) << image;
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
  EXPECT_TRUE(Has(listed.out, "\"SURVIVOR\""));
  EXPECT_EQ(listed.err,
            "warning: Directory chain broke at T40/S1: Sector T40/S1 past end of image.. "
            "Recovered 1 entries so far; the rest is unreachable.\n");

  const Result strict = RunWith({"list", "--strict", file});
  EXPECT_EQ(strict.status, kExitFailure);
  EXPECT_EQ(strict.out, "");
  EXPECT_EQ(strict.err, "kelvane list: Sector T40/S1 past end of image.\n");
  EXPECT_TRUE(Has(RunWith({"info", file}).out, "Directory damage:\n  Directory chain broke"));
}

TEST(CliErrors, WhatCannotBeReadIsReportedAndFails) {
  const testing::TempFolder folder("cli");
  const struct {
    std::string path;
    std::string message;
  } cases[] = {
      {folder.Write("junk.bin", Bytes(200000, 0)),
       "kelvane list: Unrecognized disk-image size: 200000 bytes.\n"},
      {"tests/data/does-not-exist.d64", "cannot read the file"},
      {folder.Write("large.d64", Bytes(16 * 1024 * 1024 + 1, 0)), "16777217 bytes"},
      {"tests/data", "is a folder"},
  };
  for (const auto& c : cases) {
    const Result r = RunWith({"list", c.path});
    EXPECT_EQ(r.status, kExitFailure) << c.path;
    EXPECT_TRUE(Has(r.err, c.message)) << r.err;
  }
}

TEST(CliInfo, FormatVariantErrorInfoGcrSourcesAndPc64Files) {
  const testing::TempFolder folder("cli");
  Bytes bytes = testing::BlankD64(40, true, ddvSpeedDOS40);
  bytes[bytes.size() - 1] = 5;
  Result r = RunWith({"info", folder.Write("forty.d64", bytes)});
  EXPECT_EQ(r.status, kExitOk);
  for (const char* part : {"Format:       D64\n", "DOS variant:  SpeedDOS40\n",
                           "Tracks:       40\n", "Error info:   yes (768 sectors, 1 flagged)\n",
                           "Free blocks:  749\n", "Disk name:    TEST DISK\n"}) {
    EXPECT_TRUE(Has(r.out, part)) << part;
  }
  r = RunWith({"info", "tests/data/cc1541.g64"});
  EXPECT_TRUE(Has(r.out, "Source:       G64, decoded to D64 (0 bad sectors)\n")) << r.out;

  Bytes sidecar = testing::Pc64Bytes(Bytes{'G', 'A', 'M', 'E'}, Bytes(508, 0xEA));
  r = RunWith({"info", folder.Write("game.p00", sidecar)});
  EXPECT_EQ(r.status, kExitOk);
  EXPECT_TRUE(Has(r.out, "Format:       PC64 file\nCBM name:     GAME\n"));
  EXPECT_TRUE(Has(r.out, "Type:         PRG\nSize:         508 bytes (2 blocks)\n"));
  r = RunWith({"info", folder.Write("game.x00", sidecar)});
  EXPECT_EQ(r.status, kExitFailure);
  EXPECT_EQ(r.err, "kelvane info: PC64 extension must start with P/S/U/R; got 'X'.\n");
}

TEST(CliConvert, GcrImagesBecomeTheirSectorImagesAndNothingIsOverwrittenUnasked) {
  const testing::TempFolder folder("cli");
  const std::string target = folder.Write("converted.d64", Bytes{1, 2, 3});
  Result r = RunWith({"convert", "tests/data/cc1541.g64", target});
  EXPECT_EQ(r.status, kExitFailure);
  EXPECT_TRUE(Has(r.err, "already exists (use --force to replace it)"));
  EXPECT_EQ(testing::ReadTestFile(target), (Bytes{1, 2, 3}));
  r = RunWith({"convert", "--force", "tests/data/cc1541.g64", target});
  EXPECT_EQ(r.status, kExitOk);
  EXPECT_EQ(r.out, "Wrote " + target + ": 35 tracks, 0 bad sectors.\n");
  EXPECT_EQ(testing::ReadTestFile(target), testing::ReadTestFile("tests/data/cc1541.d64"));

  // A G71 becomes its D71, whatever its name says; --verbose names the sectors it lacks.
  const Bytes d71 = testing::ReadTestFile("tests/data/cc1541.d71");
  const std::string g71 = folder.Write("both-sides.gcr", testing::BuildG71(d71, {{40, 3}}));
  const std::string d71_target = folder.Path("both-sides.d71");
  r = RunWith({"convert", "--verbose", g71, d71_target});
  EXPECT_EQ(r.status, kExitOk) << r.err;
  EXPECT_EQ(r.out, "Wrote " + d71_target + ": 70 tracks, 1 bad sectors.\n  bad sector T40/S3\n");
  EXPECT_EQ(RunWith({"list", g71}).out, RunWith({"list", d71_target}).out);

  r = RunWith({"convert", "samples/demo.d64", target});
  EXPECT_EQ(r.status, kExitFailure);
  EXPECT_TRUE(Has(r.err, "not a G64, G71 or NIB file"));
}

#if defined(KELVANE_HAVE_PNG)
// Width and height from a PNG's header; 0 x 0 for anything else.
std::pair<int, int> PngSize(const Bytes& png) {
  static const Bytes kSignature = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
  if (png.size() < 24 || !std::equal(kSignature.begin(), kSignature.end(), png.begin())) return {};
  return {png[16] << 24 | png[17] << 16 | png[18] << 8 | png[19],
          png[20] << 24 | png[21] << 16 | png[22] << 8 | png[23]};
}

TEST(CliRender, TheListingAndThumbnailsAsPng) {
  const testing::TempFolder folder("cli");
  const std::string target = folder.Path("listing.png");
  Result r = RunWith({"render", "samples/demo.d64", "-o", target});
  EXPECT_EQ(r.status, kExitOk) << r.err;
  // 7 rows of 16-pixel cells; the widest row (an entry line, 28 cells) and one cell of margin.
  EXPECT_EQ(r.out, "Wrote " + target + ": 464 x 112 pixels.\n");
  EXPECT_EQ(PngSize(testing::ReadTestFile(target)), std::make_pair(464, 112));
  r = RunWith({"render", "samples/demo.d64", "-o", target, "--scale", "1", "--rows", "3", "--width",
               "600", "--charset", "lower"});
  EXPECT_EQ(r.status, kExitOk) << r.err;
  EXPECT_EQ(PngSize(testing::ReadTestFile(target)), std::make_pair(600, 24));

  // Thumbnails are the library's, in a 128-pixel box unless -s names another, in the charset
  // asked for.
  const Bytes full = testing::ReadTestFile("tests/data/cc1541-full.d64");
  for (const auto& [size, charset] : {std::pair{64, csLowerUpper}, {128, csUpperGraphics}}) {
    std::vector<std::string> args = {"thumbnail", "tests/data/cc1541-full.d64", target};
    if (size != 128) args.insert(args.begin() + 1, {"-s", "64", "--charset", "lower"});
    r = RunWith(args);
    EXPECT_EQ(r.status, kExitOk) << r.err;
    TDkRenderImage expected;
    ASSERT_TRUE(DkRenderThumbnail(full, "f.d64", size, charset, expected));
    EXPECT_EQ(PngSize(testing::ReadTestFile(target)),
              std::make_pair(expected.Width, expected.Height));
  }

  r = RunWith({"render", folder.Write("junk.d64", Bytes(1000, 0)), "-o", target});
  EXPECT_EQ(r.status, kExitFailure);
  EXPECT_TRUE(Has(r.err, "Unrecognized D64 size: 1000 bytes."));
  r = RunWith({"thumbnail", "-s", "2049", "samples/demo.d64", target});
  EXPECT_EQ(r.status, kExitUsage);
  EXPECT_TRUE(Has(r.err, "-s wants a whole number from 8 to 2048, got '2049'")) << r.err;
}
#else
TEST(CliRender, WithoutPngSupportSaysSo) {
  const Result r = RunWith({"render", "samples/demo.d64", "-o", "x.png"});
  EXPECT_EQ(r.status, kExitFailure);
  EXPECT_EQ(r.err,
            "kelvane render: This build of kelvane has no PNG support (libpng was not found).\n");
}
#endif

}  // namespace
}  // namespace kelvane::cli
