// Independent readers agree with what our writers write: cbmconvert extracts every file of our
// D64, D71 and D81 images byte for byte, and cc1541 lists our D64s with the same names, types and
// blocks free. Both tools come from Debian (packages cbmconvert and cc1541).
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <random>

#include "registry/registry.h"
#include "shell/drop_write.h"
#include "support/disk_builder.h"
#include "support/peer_listing.h"
#include "write/directory_writer.h"
#include "write/writer_select.h"

namespace kelvane {
namespace {

using namespace testing;

#if !defined(_WIN32)

bool HaveTool(const char* name) {
  return std::system((std::string("command -v ") + name + " >/dev/null 2>&1").c_str()) == 0;
}

std::string RunCommand(const std::string& command) {
  std::string output;
  FILE* pipe = popen(command.c_str(), "r");
  if (pipe == nullptr) return output;
  char buffer[4096];
  std::size_t got = 0;
  while ((got = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) output.append(buffer, got);
  pclose(pipe);
  return output;
}

struct Written {
  std::string name;
  TDkCbmFileType type;
  Bytes content;
};

// Random files written into a blank image by our writer; the image is saved in `folder`.
std::vector<Written> WriteImage(Bytes bytes, const std::string& file_name,
                                const std::filesystem::path& folder, std::uint32_t seed) {
  std::mt19937 rng(seed);
  std::vector<Written> written;
  for (int i = 0; i < 14; ++i) {
    const std::size_t sizes[] = {1, 254, 255, 508, 509, static_cast<std::size_t>(1 + rng() % 9000)};
    const TDkCbmFileType types[] = {cftPRG, cftSEQ, cftUSR};
    Written file{"FILE" + std::to_string(i), types[rng() % 3],
                 PatternBytes(sizes[rng() % 6], rng())};
    auto writer = DkOpenWriter(bytes, file_name);
    DkCbmAddFile(*writer, writer->DirTrack(), writer->FirstDirSector(),
                 Bytes(file.name.begin(), file.name.end()), file.type, file.content);
    written.push_back(std::move(file));
  }
  std::ofstream out(folder / file_name, std::ios::binary);
  out.write(reinterpret_cast<const char*>(bytes.data()),
            static_cast<std::streamsize>(bytes.size()));
  return written;
}

class PeerCheck : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(HaveTool("cbmconvert") && HaveTool("cc1541"))
        << "cbmconvert or cc1541 is missing (tools/deps.sh test installs them)";
    folder_ =
        std::filesystem::temp_directory_path() / ("kelvane-peer-" + std::to_string(::getpid()));
    std::filesystem::create_directories(folder_);
  }
  void TearDown() override {
    std::error_code ignored;
    std::filesystem::remove_all(folder_, ignored);
  }
  std::filesystem::path folder_;
};

TEST_F(PeerCheck, CbmconvertExtractsWhatWeWrote) {
  const std::pair<const char*, Bytes> images[] = {
      {"ours.d64", BlankD64()}, {"ours.d71", BlankD71()}, {"ours.d81", BlankD81()}};
  std::uint32_t seed = 1;
  for (const auto& [file_name, blank] : images) {
    const std::filesystem::path out = folder_ / (std::string(file_name) + ".out");
    std::filesystem::create_directories(out);
    const std::vector<Written> written = WriteImage(blank, file_name, out, seed++);
    RunCommand("cd '" + out.string() + "' && cbmconvert -N -d '" + file_name + "' 2>&1");
    for (const Written& file : written) {
      // cbmconvert names files by the PETSCII name (unshifted letters in lower case) and type.
      std::string host = file.name;
      for (char& c : host) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
      static const char* const kExtensions[] = {".del", ".seq", ".prg", ".usr"};
      const std::filesystem::path extracted = out / (host + kExtensions[file.type]);
      ASSERT_TRUE(std::filesystem::exists(extracted)) << file_name << ": " << extracted;
      EXPECT_EQ(ReadTestFile(extracted.string()), file.content) << file_name << ": " << file.name;
    }
  }
}

TEST_F(PeerCheck, Cc1541ListsOurD64s) {
  for (std::uint32_t seed = 10; seed < 13; ++seed) {
    const std::vector<Written> written = WriteImage(BlankD64(), "ours.d64", folder_, seed);
    const std::string path = (folder_ / "ours.d64").string();
    const auto ours = DkOpenImage(ReadTestFile(path), "ours.d64", false);
    // cc1541 rewrites an image it lists, so it gets a copy.
    std::filesystem::copy_file(path, folder_ / "copy.d64",
                               std::filesystem::copy_options::overwrite_existing);
    const PeerListing listing =
        ParseListing(RunCommand("cc1541 '" + (folder_ / "copy.d64").string() + "' 2>&1"));
    ASSERT_EQ(listing.entries.size(), written.size());
    EXPECT_EQ(listing.free_blocks, ours->FreeBlocks());
    for (std::size_t i = 0; i < written.size(); ++i) {
      EXPECT_EQ(Upper(listing.entries[i].name), written[i].name);
      EXPECT_EQ(Upper(listing.entries[i].type), DkCbmFileTypeName(written[i].type));
      EXPECT_EQ(listing.entries[i].blocks, ours->Entries()[i].Blocks);
      EXPECT_FALSE(listing.entries[i].splat);
    }
  }
}

// Files dropped onto images the peers made: cbmconvert then extracts the files that were there
// and the new ones, byte for byte.
TEST_F(PeerCheck, DropsOntoPeerImagesKeepTheirFiles) {
  const auto host = MakeSystemHostFiles();
  for (const char* name : {"cbmconvert.d64", "cbmconvert.d71", "cbmconvert.d81"}) {
    const std::filesystem::path out = folder_ / (std::string(name) + ".out");
    std::filesystem::create_directories(out);
    std::filesystem::copy_file(std::string("tests/data/") + name, out / name);
    std::vector<std::string> dropped;
    for (int i = 0; i < 3; ++i) {
      const std::filesystem::path file = folder_ / ("new" + std::to_string(i) + ".prg");
      std::ofstream(file, std::ios::binary | std::ios::trunc)
          .write(reinterpret_cast<const char*>(PatternBytes(700 * i + 1, i).data()),
                 static_cast<std::streamsize>(700 * i + 1));
      dropped.push_back(file.string());
    }
    const TKvDropResult result = KvWriteDroppedFiles((out / name).string(), dropped, *host);
    ASSERT_EQ(result.WrittenCount, 3) << KvDropSummary(result);
    RunCommand("cd '" + out.string() + "' && cbmconvert -N -d '" + name + "' 2>&1");
    for (int i = 0; i < 3; ++i) {
      EXPECT_EQ(ReadTestFile((out / ("new" + std::to_string(i) + ".prg")).string()),
                PatternBytes(700 * i + 1, i))
          << name;
    }
    EXPECT_EQ(ReadTestFile((out / "hello.prg").string()),
              ReadTestFile("tests/data/inputs/hello.prg"));
    EXPECT_EQ(ReadTestFile((out / "some data.seq").string()),
              ReadTestFile("tests/data/inputs/data.seq"));
    EXPECT_EQ(ReadTestFile((out / "big.prg").string()), ReadTestFile("tests/data/inputs/big.prg"));
  }
}

#endif

}  // namespace
}  // namespace kelvane
