// T64 tapes and Lynx archives against cbmconvert 2.1.5 (Debian package `cbmconvert`), run here:
// `kelvane extract` gives the bytes cbmconvert's own extraction gives (-N -t, -N -l), and
// `kelvane list` the types and block counts of the disk cbmconvert writes the same files to. On
// the two tape variants cbmconvert reads otherwise (see Peer) the files it gives are compared
// with ours as far as they agree; the builder's own files are the judge there
// (tests/formats/containers_test.cpp).
// (VICE's c1541 is no Debian package, so its `tape` command could not be run beside them.)
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <map>

#include "cli/run_cli.h"
#include "common/text.h"
#include "registry/registry.h"
#include "support/container_builder.h"
#include "support/disk_builder.h"
#include "support/temp_folder.h"

namespace kelvane::cli {
namespace {

#if !defined(_WIN32)  // the peer runs on Linux

using namespace testing;

// Every file in `folder`, by its upper-case name.
std::map<std::string, Bytes> FilesIn(const std::string& folder) {
  std::map<std::string, Bytes> files;
  for (const auto& item : std::filesystem::directory_iterator(folder)) {
    files[DkAsciiUpper(item.path().filename().string())] = ReadTestFile(item.path().string());
  }
  return files;
}

bool RunPeer(const std::string& folder, const std::string& arguments) {
  const std::string command =
      "cd '" + folder + "' && cbmconvert -v0 " + arguments + " >/dev/null 2>&1";
  return std::system(command.c_str()) == 0;
}

// (name, type, blocks) of each entry, as `kelvane list --json` gives them.
std::vector<std::string> Listed(const std::string& image) {
  const Result r = RunWith({"list", "--json", image});
  EXPECT_EQ(r.status, 0) << r.err;
  std::vector<std::string> out;
  for (std::size_t at = r.out.find("\"name\": "); at != std::string::npos;
       at = r.out.find("\"name\": ", at + 1)) {
    const std::size_t type = r.out.find("\"type\": ", at);
    const std::size_t blocks = r.out.find("\"blocks\": ", at);
    out.push_back(r.out.substr(at + 8, r.out.find(',', at) - at - 8) + " " +
                  r.out.substr(type + 8, 5) + " " +
                  r.out.substr(blocks + 10, r.out.find(',', blocks) - blocks - 10));
  }
  return out;
}

// Where cbmconvert reads a tape otherwise than the format's description: it takes end - start
// bytes even when that runs over the next files (the 0xC3C6 end address), and it trusts a used
// count of 0 as one file.
enum class Peer { kSame, kReadsPastTheNextFile, kStopsAtTheUsedCount };

struct PeerCase {
  const char* what;
  const char* name;
  const char* peer_option;
  Bytes bytes;
  Peer peer = Peer::kSame;
};

std::vector<PeerCase> Cases() {
  const std::vector<T64File> files = {
      {"FIRST", 0x82, 0x0801, PatternBytes(300, 1)},
      {"SECOND", 0x82, 0xC000, PatternBytes(1, 2)},
      {"THIRD", 0x82, 0x1000, PatternBytes(252, 3)},
      {"FOURTH", 0x82, 0x2000, PatternBytes(2000, 4)},
  };
  return {
      {"a T64", "tape.t64", "-t", BuildT64(files)},
      {"a T64 whose end addresses are all 0xC3C6", "tape.t64", "-t",
       BuildT64(files, {.converter_end = true}), Peer::kReadsPastTheNextFile},
      {"a T64 with a used count of 0", "tape.t64", "-t", BuildT64(files, {.used = 0}),
       Peer::kStopsAtTheUsedCount},
      {"a T64 whose data is not in slot order", "tape.t64", "-t",
       BuildT64(files, {.data_reversed = true})},
      {"cbmconvert's own Lynx archive", "archive.lnx", "-l",
       ReadTestFile("tests/data/cbmconvert.lnx")},
  };
}

TEST(PeerContainers, ExtractionAndListingAgreeWithCbmconvert) {
  ASSERT_EQ(std::system("command -v cbmconvert >/dev/null"), 0)
      << "cbmconvert is missing (tools/deps.sh test installs it)";
  for (const PeerCase& c : Cases()) {
    SCOPED_TRACE(c.what);
    TempFolder folder("peer-container");
    const std::string image = folder.Write(c.name, c.bytes);
    const std::string ours = folder.Path("ours");
    const std::string theirs = folder.Path("theirs");
    std::filesystem::create_directories(theirs);
    const Result r = RunWith({"extract", image, "-d", ours});
    ASSERT_EQ(r.status, 0) << r.err;
    ASSERT_TRUE(RunPeer(theirs, std::string("-N ") + c.peer_option + " '" + image + "'"));
    const std::map<std::string, Bytes> our_files = FilesIn(ours);
    const std::map<std::string, Bytes> peer_files = FilesIn(theirs);
    EXPECT_FALSE(peer_files.empty());
    if (c.peer != Peer::kSame) {
      // Every file cbmconvert gives is ours, or with the next files' bytes after it.
      EXPECT_EQ(peer_files.size() < our_files.size(), c.peer == Peer::kStopsAtTheUsedCount);
      for (const auto& [name, bytes] : peer_files) {
        ASSERT_TRUE(our_files.count(name)) << name;
        const Bytes& mine = our_files.at(name);
        ASSERT_GE(bytes.size(), mine.size()) << name;
        EXPECT_TRUE(std::equal(mine.begin(), mine.end(), bytes.begin())) << name;
      }
      continue;
    }
    EXPECT_EQ(our_files, peer_files);

    const std::string disk = folder.Path("peer.d64");
    ASSERT_TRUE(RunPeer(folder.Path(""),
                        std::string(c.peer_option) + " -D4 '" + disk + "' '" + image + "'"));
    EXPECT_EQ(Listed(image), Listed(disk));
  }
}

#endif

}  // namespace
}  // namespace kelvane::cli
