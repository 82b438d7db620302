#include "shell/drop_write.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <csignal>
#include <filesystem>

#include "registry/registry.h"
#include "shell/faulty_host.h"
#include "support/disk_builder.h"
#include "support/messages.h"
#include "support/temp_folder.h"
#include "write/directory_writer.h"
#include "write/names.h"
#include "write/writer_select.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <fcntl.h>
#include <sys/file.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace kelvane {
namespace {

using namespace testing;

Bytes Pc64File(const std::string& name, const Bytes& data) {
  return Pc64Bytes(Bytes(name.begin(), name.end()), data);
}

std::string Trimmed(std::string text) {
  while (!text.empty() && text.back() == ' ') text.pop_back();
  return DkAsciiUpper(text);
}

const TDkCbmEntry* FindEntry(const TDkCbmImage& image, const std::string& name) {
  for (const TDkCbmEntry& entry : image.Entries()) {
    if (Trimmed(entry.Name) == Trimmed(name)) return &entry;
  }
  return nullptr;
}

// The number of the replace among a one-file drop's host calls: read image, read file, write
// temp, read temp back, replace, move.
constexpr int kReplace = 5;

// A folder with an image and files to drop on it.
class DropTest : public ::testing::Test {
 protected:
  DropTest() : folder_("drop"), host_(MakeSystemHostFiles()) {}

  std::string File(const std::string& name, const Bytes& bytes) {
    sources_[folder_.Path(name)] = bytes;
    return folder_.Write(name, bytes);
  }
  TKvDropResult Drop(const std::string& image, const std::vector<std::string>& paths) {
    return KvWriteDroppedFiles(image, paths, *host_);
  }
  std::unique_ptr<TDkCbmImage> Open(const std::string& name) {
    return DkOpenImage(folder_.Read(name), name, false);
  }
  bool HasSideFiles(const std::string& image_name) {
    return folder_.Has(image_name + kKvTempSuffix) || folder_.Has(image_name + kKvBackupSuffix);
  }

  TempFolder folder_;
  std::unique_ptr<HostFiles> host_;
  std::map<std::string, Bytes> sources_;  // dropped path -> its bytes
};

TEST_F(DropTest, WritesEveryFileVerifiedAndLeavesNoSideFiles) {
  const std::string image = folder_.Write("disk.d64", BlankD64());
#ifndef _WIN32
  ::chmod(image.c_str(), 0640);
#endif
  const std::vector<std::string> paths = {
      File("hello.prg", PatternBytes(300, 1)), File("notes.seq", PatternBytes(600, 2)),
      File("game.p00", Pc64File("Real Name", PatternBytes(100, 3))), File("empty.usr", Bytes())};
  const TKvDropResult result = Drop(image, paths);

  EXPECT_EQ(result.Code, deNone);
  EXPECT_EQ(result.WrittenCount, 4);
  EXPECT_EQ(KvDropSummary(result), "");
  EXPECT_FALSE(HasSideFiles("disk.d64"));
#ifndef _WIN32
  struct stat info {};
  ASSERT_EQ(::stat(image.c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 0777, 0640u) << "the new image keeps the old one's permissions";
#endif
  const auto opened = Open("disk.d64");
  ASSERT_EQ(opened->Entries().size(), 4u);
  for (const TKvDropFile& file : result.Files) {
    EXPECT_TRUE(file.Written);
    const TDkCbmEntry* entry = FindEntry(*opened, file.CbmName);
    ASSERT_NE(entry, nullptr) << file.CbmName;
    EXPECT_EQ(entry->FileType, file.FileType);
  }
  EXPECT_EQ(result.Files[1].FileType, cftSEQ);
  EXPECT_EQ(result.Files[3].FileType, cftUSR);
  // A PC64 file goes in under its stored name with its payload only.
  const TDkCbmEntry* pc64 = FindEntry(*opened, "Real Name");
  ASSERT_NE(pc64, nullptr);
  EXPECT_EQ(opened->ReadFile(*pc64), PatternBytes(100, 3));
  EXPECT_EQ(opened->ReadFile(*FindEntry(*opened, result.Files[0].CbmName)), PatternBytes(300, 1));
}

TEST_F(DropTest, RefusedFilesAreSkippedAndTheOthersWritten) {
  const std::string image = folder_.Write("disk.d81", BlankD81());
  ASSERT_EQ(Drop(image, {File("old.prg", PatternBytes(10, 1))}).WrittenCount, 1);
  std::filesystem::create_directory(folder_.path() / "sub");
  std::filesystem::create_directory(folder_.path() / "other");
  const std::vector<std::string> paths = {
      folder_.Path("sub") + "/",                                  // a folder
      File("a.prg", PatternBytes(10, 2)),                         // written
      folder_.Write("other/a.prg", PatternBytes(20, 3)),          // same name as the one before
      File("old.prg", PatternBytes(30, 4)),                       // name already on the disk
      folder_.Path("missing.prg"),                                // cannot be read
      File("rel.r00", Pc64File("RECORDS", PatternBytes(50, 5))),  // the writer refuses REL
      File("b.prg", PatternBytes(40, 6)),                         // written after a refusal
  };
  const TKvDropResult result = Drop(image, paths);

  EXPECT_EQ(result.Code, deNone);
  EXPECT_EQ(result.WrittenCount, 2);
  const TKvDropError codes[] = {deFolder,     deNone,        deNameTaken, deNameTaken,
                                deUnreadable, deWriteFailed, deNone};
  for (std::size_t i = 0; i < paths.size(); ++i) EXPECT_EQ(result.Files[i].Code, codes[i]) << i;
  EXPECT_EQ(result.Files[5].Message,
            "REL files need side sectors the 1581 writer does not emit yet.");
  EXPECT_EQ(result.Files[2].Message, "A file of that name is already on the disk; skipped.");
  EXPECT_EQ(KvDropSummary(result),
            "a.prg, old.prg: A file of that name is already on the disk; skipped.  "
            "sub: Folders are not written into a disk image.  "
            "missing.prg: The file could not be read.  "
            "rel.r00: The image could not be written; it is unchanged.");

  const auto opened = Open("disk.d81");
  EXPECT_EQ(opened->Entries().size(), 3u);
  EXPECT_EQ(opened->ReadFile(*FindEntry(*opened, "a")), PatternBytes(10, 2));
  EXPECT_EQ(opened->ReadFile(*FindEntry(*opened, "b")), PatternBytes(40, 6));
  EXPECT_EQ(FindEntry(*opened, "RECORDS"), nullptr) << "a refused file leaves no trace";
  EXPECT_FALSE(HasSideFiles("disk.d81"));
}

// A batch as large as the blocks files may take is written whole; one block more writes nothing.
// (A DFI's first 48 sectors of track 1 are never given to files, free or not.)
TEST_F(DropTest, ABatchThatDoesNotFitWritesNothing) {
  struct Case {
    const char* name;
    Bytes blank;
    std::size_t usable;
  };
  for (const Case& c : {Case{"disk.d64", BlankD64(), 664}, Case{"disk.dfi", BlankDfi(2), 464}}) {
    for (const std::size_t extra : {1, 0}) {
      SCOPED_TRACE(std::string(c.name) + (extra != 0 ? " one block over" : " exactly"));
      const std::string image = folder_.Write(c.name, c.blank);
      const TKvDropResult result =
          Drop(image, {File("one.prg", PatternBytes(400 * 254, 1)),
                       File("two.prg", PatternBytes((c.usable - 400 + extra) * 254, 2))});
      EXPECT_EQ(result.WrittenCount, extra != 0 ? 0 : 2);
      EXPECT_FALSE(HasSideFiles(c.name));
      if (extra == 0) continue;
      EXPECT_EQ(result.Code, deNoSpace);
      EXPECT_EQ(KvDropSummary(result), "Not enough free blocks on the disk.");
      EXPECT_EQ(folder_.Read(c.name), c.blank);
    }
  }
}

// Files the writer refuses in the middle of a batch get its text; the others are written, and
// a refused one leaves nothing behind that later files could not use.
TEST_F(DropTest, FilesTheWriterRefusesGetItsTextAndTheRestIsWritten) {
  Bytes full = BlankD64();  // 143 of the 144 slots of a 1541 directory taken
  {
    auto writer = DkOpenWriter(full, "disk.d64");
    for (int i = 0; i < 143; ++i) {
      DkCbmAddFile(*writer, 18, 1, DkCbmHostNameToBytes("F" + std::to_string(i)), cftPRG,
                   PatternBytes(1, static_cast<std::uint32_t>(i)));
    }
  }
  // A directory chain that loops is corrupt, not full, even when the batch takes every block.
  Bytes looping = BlankD64();
  SectorEditor loop_editor(looping, D64Offset);
  for (int i = 0; i < 8; ++i) loop_editor.PutEntry(18, 1, i, {"F" + std::to_string(i), 0x82});
  loop_editor.Link(18, 1, 18, 1);
  // The BAM's counts promise room on every track, but only two sectors of track 1 are free in
  // its bitmaps: a two-block file takes one of them and then fails.
  Bytes promised = BlankD64();
  SectorEditor editor(promised, D64Offset);
  for (int t = 1; t <= 35; ++t) {
    for (int b = 1; b <= 3 && t != 18; ++b)
      editor.Sector(18, 0)[static_cast<std::size_t>(4 * t + b)] = 0;
  }
  editor.Sector(18, 0)[4 * 1 + 1] = 0x03;
  struct Case {
    const char* what;
    Bytes image;
    std::vector<std::size_t> sizes;
    std::vector<bool> written;
    const char* message;
  };
  for (const Case& c : {Case{"full directory",
                             full,
                             {5, 5, 5},
                             {true, false, false},
                             "Directory is full on this 1541 image."},
                        Case{"looping directory",
                             looping,
                             {400 * 254, 264 * 254},
                             {false, false},
                             "Directory chain is corrupt."},
                        Case{"counts without bits",
                             promised,
                             {254, 508, 100},
                             {true, false, true},
                             "No free sectors available."}}) {
    SCOPED_TRACE(c.what);
    const std::string image = folder_.Write("disk.d64", c.image);
    std::vector<std::string> paths;
    for (std::size_t i = 0; i < c.sizes.size(); ++i) {
      paths.push_back(File("x" + std::to_string(i) + ".prg", PatternBytes(c.sizes[i], i)));
    }
    const TKvDropResult result = Drop(image, paths);
    EXPECT_EQ(result.Code, deNone);
    const auto opened = Open("disk.d64");
    for (std::size_t i = 0; i < paths.size(); ++i) {
      EXPECT_EQ(result.Files[i].Written, c.written[i]) << i;
      const TDkCbmEntry* entry = FindEntry(*opened, "x" + std::to_string(i));
      if (c.written[i]) {
        ASSERT_NE(entry, nullptr) << i;
        EXPECT_EQ(opened->ReadFile(*entry), PatternBytes(c.sizes[i], i));
      } else {
        EXPECT_EQ(entry, nullptr) << i;
        EXPECT_EQ(result.Files[i].Message, c.message);
      }
    }
  }
  EXPECT_EQ(
      KvDropSummary(Drop(folder_.Write("disk.d64", full),
                         {File("y.prg", PatternBytes(5, 2)), File("z.prg", PatternBytes(5, 3))})),
      "z.prg: The image could not be written; it is unchanged.");
}

TEST_F(DropTest, ImagesThatCannotTakeFilesAreRefusedWithTheirTexts) {
  const std::string file = File("a.prg", PatternBytes(10, 1));
  Bytes old_d82 = BlankD82();  // an old layout stays read-only
  SectorEditor(old_d82, D80Offset).Sector(38, 0)[3] = 255;
  folder_.Write("old.d82", old_d82);
  folder_.Write("odd.d64", Bytes(1000, 0));                         // a size no format has
  folder_.Write("gcr.img", ReadTestFile("tests/data/cc1541.g64"));  // known by its signature
  folder_.Write("notes.txt", Bytes(5000, 'x'));
  std::filesystem::create_directory(folder_.path() / "dir.d64");
  struct Case {
    const char* image;
    TKvDropError code;
    std::string message;
  };
  const Case cases[] = {
      {"game.g64", deReadOnlyFormat, "This image format is read-only."},  // not even opened
      {"old.d82", deReadOnlyFormat,
       "This D82 has old header and BAM links an 8250 cannot follow. It stays read-only until it "
       "is converted."},
      {"odd.d64", deNotWritable, DkFormatSizeErrorText(cifD64, 1000)},
      {"none.d64", deNotWritable, "This is not a disk image that can be written."},
      {"gcr.img", deReadOnlyFormat, "This image format is read-only."},
      {"notes.txt", deNotWritable, "Unrecognized disk-image size: 5000 bytes."},
  // A folder under an image's name (Windows refuses to open a folder for writing).
#ifdef _WIN32
      {"dir.d64", deAccessDenied, "The image file is read-only or may not be written here."},
#else
      {"dir.d64", deNotWritable, "This is not a disk image that can be written."},
#endif
  };
  for (const Case& c : cases) {
    const TKvDropResult result = Drop(folder_.Path(c.image), {file});
    EXPECT_EQ(result.Code, c.code) << c.image;
    EXPECT_EQ(result.Message, c.message) << c.image;
    EXPECT_EQ(result.WrittenCount, 0) << c.image;
  }
  EXPECT_EQ(folder_.Read("old.d82"), old_d82);

  // No paths: nothing happens at all.
  const TKvDropResult nothing = Drop(folder_.Path("none.d64"), {});
  EXPECT_EQ(nothing.Code, deNone);
  EXPECT_TRUE(nothing.Files.empty());
}

// Both reads take a file up to the limit they are given and none larger; the image read takes
// no empty file either. An EINTR an earlier call left in errno changes nothing.
TEST_F(DropTest, TheHostsReadsTakeFilesUpToTheirLimit) {
  for (const std::size_t size : {0, 100, 101}) {
    const Bytes content = PatternBytes(size, 1);
    const std::string path = folder_.Write("f" + std::to_string(size), content);
    const bool fits = size <= 100;
    Bytes bytes;
    errno = EINTR;
    EXPECT_EQ(host_->ReadForWrite(path, 100, bytes),
              fits && size > 0 ? HostOpenStatus::kOk : HostOpenStatus::kFailed)
        << size;
    errno = EINTR;
    EXPECT_EQ(host_->ReadDenyWrite(path, 100, bytes), fits) << size;
    EXPECT_EQ(bytes, fits ? content : Bytes()) << size;
  }
}

TEST_F(DropTest, AnImageHeldOpenElsewhereIsNotTouched) {
  const Bytes blank = BlankD64();
  const std::string image = folder_.Write("disk.d64", blank);
  const std::string file = File("a.prg", PatternBytes(10, 1));
#ifdef _WIN32
  // Another program writing the image, letting others only read.
  const std::wstring wide(image.begin(), image.end());
  const HANDLE other = ::CreateFileW(wide.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                                     OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(other, INVALID_HANDLE_VALUE);
  const TKvDropResult result = Drop(image, {file});
  ::CloseHandle(other);
  EXPECT_EQ(result.Code, deImageInUse);
  EXPECT_EQ(KvDropSummary(result), "The image is open in another program.");
#else
  // Another program that announces its use with a whole-file lock or a record lock.
  for (const bool record_lock : {false, true}) {
    const int other = ::open(image.c_str(), O_RDWR);
    ASSERT_GE(other, 0);
    struct flock lock {};
    lock.l_type = F_WRLCK;
    lock.l_whence = SEEK_SET;
    ASSERT_EQ(record_lock ? ::fcntl(other, F_SETLK, &lock) : ::flock(other, LOCK_EX), 0);
    const TKvDropResult result = Drop(image, {file});
    ::close(other);
    EXPECT_EQ(result.Code, deImageInUse) << record_lock;
    EXPECT_EQ(KvDropSummary(result), "The image is open in another program.");
  }
#endif
  EXPECT_EQ(folder_.Read("disk.d64"), blank);
  EXPECT_EQ(Drop(image, {file}).WrittenCount, 1) << "free again once the other program let go";
}

#ifndef _WIN32
TEST_F(DropTest, DevicesPipesAndShortFilesAreNotRead) {
  const std::string image = folder_.Write("disk.d64", BlankD64());
  const std::string fifo = folder_.Path("pipe.prg");
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  // A sysfs file claims 4096 bytes and ends after a few: it is unreadable, not padded out.
  std::vector<std::string> paths = {"/dev/zero", fifo};
  std::error_code missing;
  const std::string sysfs = "/sys/kernel/uevent_seqnum";
  if (std::filesystem::file_size(sysfs, missing) == 4096) {
    paths.push_back(sysfs);
    // Its end is the end, even with an EINTR an earlier call left in errno.
    Bytes bytes;
    errno = EINTR;
    EXPECT_FALSE(host_->ReadDenyWrite(sysfs, kKvMaxFileSize, bytes));
  }
  const TKvDropResult result = Drop(image, paths);
  ASSERT_EQ(result.Files.size(), paths.size());
  for (const TKvDropFile& file : result.Files) EXPECT_EQ(file.Code, deUnreadable) << file.Path;
  EXPECT_EQ(result.WrittenCount, 0);
  EXPECT_EQ(folder_.Read("disk.d64"), BlankD64());
}

// Run with standard input closed, the tool's first file gets descriptor 0; it is closed like any
// other, not leaked.
TEST_F(DropTest, DescriptorZeroIsClosedLikeAnyOther) {
  const std::string file = folder_.Write("a.prg", PatternBytes(10, 1));
  const int saved = ::dup(0);
  ASSERT_GE(saved, 0);
  ::close(0);
  Bytes bytes;
  const bool read = host_->ReadDenyWrite(file, 100, bytes);
  const bool zero_left_open = ::fcntl(0, F_GETFD) != -1;
  ::dup2(saved, 0);
  ::close(saved);
  EXPECT_TRUE(read);
  EXPECT_EQ(bytes, PatternBytes(10, 1));
  EXPECT_FALSE(zero_left_open);
}

// Moving a second name of a file (the backup link a replace leaves) onto the file itself drops
// that name; a plain rename would leave both names in place.
TEST_F(DropTest, MovingASecondNameOntoItsFileDropsTheName) {
  const std::string image = folder_.Write("disk.d64", BlankD64());
  const std::string second = folder_.Path("disk.d64.link");
  ASSERT_EQ(::link(image.c_str(), second.c_str()), 0);
  EXPECT_EQ(host_->Move(second, image, false), 0u);
  EXPECT_FALSE(folder_.Has("disk.d64.link"));
  EXPECT_EQ(folder_.Read("disk.d64"), BlankD64());
}

TEST_F(DropTest, AWriteTheFileSystemRefusesIsReported) {
  // A file size limit makes the second write of the new image fail (EFBIG) after a short one.
  const std::string image = folder_.Write("disk.d64", BlankD64());
  ::signal(SIGXFSZ, SIG_IGN);
  rlimit old_limit{};
  ::getrlimit(RLIMIT_FSIZE, &old_limit);
  rlimit limit = old_limit;
  limit.rlim_cur = 100000;
  ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &limit), 0);
  const TKvDropResult result = Drop(image, {File("a.prg", PatternBytes(10, 1))});
  ::setrlimit(RLIMIT_FSIZE, &old_limit);
  EXPECT_EQ(result.Code, deWriteFailed);
  EXPECT_EQ(folder_.Read("disk.d64"), BlankD64());
  EXPECT_FALSE(HasSideFiles("disk.d64"));
}

TEST_F(DropTest, TwoDropsOnOneImageNeverWorkFromTheSameOldImage) {
  const std::string image = folder_.Write("disk.d64", BlankD64());
  const std::string file = File("a.prg", PatternBytes(10, 1));
  // A drop under way elsewhere has read the image for writing.
  const auto first = MakeSystemHostFiles();
  Bytes bytes;
  ASSERT_EQ(first->ReadForWrite(image, kKvMaxFileSize, bytes), HostOpenStatus::kOk);
  EXPECT_EQ(Drop(image, {file}).Code, deImageInUse);
  // Once it has put its new image in place, the next drop works from that one.
  const std::string replacement = File("new.d64", BlankD64());
  ASSERT_EQ(first->Replace(image, replacement, image + kKvBackupSuffix), 0u);
  EXPECT_EQ(Drop(image, {file}).WrittenCount, 1);
}

TEST_F(DropTest, WhatACrashedRunLeftBesideTheImageIsReplacedNotWrittenThrough) {
  const std::string image = folder_.Write("disk.d64", BlankD64());
  const Bytes victim = PatternBytes(100, 9);
  folder_.Write("victim", victim);
  std::filesystem::create_symlink(folder_.path() / "victim",
                                  folder_.path() / (std::string("disk.d64") + kKvTempSuffix));
  folder_.Write(std::string("disk.d64") + kKvBackupSuffix, PatternBytes(10, 1));
  EXPECT_EQ(Drop(image, {File("a.prg", PatternBytes(10, 1))}).WrittenCount, 1);
  EXPECT_EQ(folder_.Read("victim"), victim);
  EXPECT_FALSE(HasSideFiles("disk.d64"));
}
#endif

TEST_F(DropTest, SwapFailuresPutTheOldImageBackOrNameTheLeftover) {
  const Bytes blank = BlankD64();
  const std::string image = folder_.Path("disk.d64");
  const std::string file = File("a.prg", PatternBytes(10, 1));

  // A replace another program holds a file against is tried again a few times; every other
  // failure is final at once.
  struct Case {
    ReplaceFault fault;
    std::set<int> faults;
    bool written;
    std::string leftover;  // suffix of the copy the message names ("" when the image stays)
  };
  const Case cases[] = {
      {ReplaceFault::kRemoveReplaced, {kReplace}, false, ""},
      {ReplaceFault::kMoveReplacement, {kReplace}, false, ""},
      {ReplaceFault::kMoveReplacement2, {kReplace}, false, ""},
      {ReplaceFault::kOther, {kReplace, kReplace + 1}, false, ""},
      {ReplaceFault::kMoveReplacement2, {kReplace, kReplace + 1}, false, kKvBackupSuffix},
      {ReplaceFault::kHeld, {kEveryReplace}, false, ""},
      // Held twice, then let go: the third try swaps.
      {ReplaceFault::kHeld, {kReplace, kReplace + 1}, true, ""},
      // Not offered: the new image is moved over the old one instead.
      {ReplaceFault::kOther, {kReplace}, true, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(static_cast<int>(c.fault));
    SCOPED_TRACE(c.faults.size());
    std::filesystem::remove(folder_.path() / (std::string("disk.d64") + kKvBackupSuffix));
    folder_.Write("disk.d64", blank);
    FaultyHost faulty(*host_, c.faults, c.fault);
    const TKvDropResult result = KvWriteDroppedFiles(image, {file}, faulty);
    EXPECT_EQ(result.Files[0].Written, c.written);
    EXPECT_FALSE(folder_.Has(std::string("disk.d64") + kKvTempSuffix));
    if (c.written) {
      EXPECT_EQ(result.WrittenCount, 1);
      EXPECT_EQ(Open("disk.d64")->Entries().size(), 1u);
      EXPECT_FALSE(HasSideFiles("disk.d64"));
      continue;
    }
    EXPECT_EQ(result.Code, deWriteFailed);
    EXPECT_EQ(result.WrittenCount, 0);
    if (c.leftover.empty()) {
      EXPECT_EQ(folder_.Read("disk.d64"), blank);
      EXPECT_FALSE(folder_.Has(std::string("disk.d64") + kKvBackupSuffix));
      EXPECT_EQ(result.Files[0].Message, KvDropErrorText(deWriteFailed));
    } else {
      EXPECT_FALSE(folder_.Has("disk.d64"));
      EXPECT_EQ(folder_.Read(std::string("disk.d64") + c.leftover), blank);
      const std::string message =
          "The image could not be put back under its own name; the original is at " + image +
          c.leftover;
      EXPECT_EQ(result.Message, message);
      EXPECT_EQ(result.Files[0].Message, message);
      EXPECT_EQ(KvDropSummary(result), message);
    }
  }
}

#ifdef _WIN32
TEST_F(DropTest, ANewImageAScannerHoldsForAMomentIsSwappedInOnALaterTry) {
  // The real replace, while another handle (as a virus scanner's) holds the new image without
  // sharing for the first two tries.
  const std::string image = folder_.Write("disk.d64", BlankD64());
  class ScannedHost : public FaultyHost {
   public:
    explicit ScannedHost(HostFiles& real) : FaultyHost(real, {}, ReplaceFault::kOther) {}
    std::uint32_t Replace(const std::string& replaced, const std::string& replacement,
                          const std::string& backup) override {
      if (tries_ == 0) {
        const std::wstring wide(replacement.begin(), replacement.end());
        held_ = ::CreateFileW(wide.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
      }
      if (++tries_ == 3) ::CloseHandle(held_);
      const std::uint32_t code = FaultyHost::Replace(replaced, replacement, backup);
      codes.push_back(code);
      return code;
    }
    std::vector<std::uint32_t> codes;

   private:
    int tries_ = 0;
    HANDLE held_ = INVALID_HANDLE_VALUE;
  };
  ScannedHost scanned(*host_);
  const TKvDropResult result =
      KvWriteDroppedFiles(image, {File("a.prg", PatternBytes(10, 1))}, scanned);
  EXPECT_EQ(result.WrittenCount, 1);
  EXPECT_EQ(scanned.codes,
            (std::vector<std::uint32_t>{ERROR_SHARING_VIOLATION, ERROR_SHARING_VIOLATION, 0}));
  EXPECT_EQ(Open("disk.d64")->Entries().size(), 1u);
  EXPECT_FALSE(HasSideFiles("disk.d64"));
}
#endif

TEST_F(DropTest, AFileThatAppearsInTheImagesPlaceDuringTheSwapIsKept) {
  // The old image has gone to the backup name, the new one cannot follow, and meanwhile another
  // program has written a file under the image's name: that file stays, the old image waits at
  // the backup name the message gives.
  const Bytes blank = BlankD64();
  const std::string image = folder_.Write("disk.d64", blank);
  class IntrudingHost : public FaultyHost {
   public:
    IntrudingHost(HostFiles& real, TempFolder& folder)
        : FaultyHost(real, {kReplace}, ReplaceFault::kMoveReplacement2), folder_(folder) {}
    std::uint32_t Replace(const std::string& replaced, const std::string& replacement,
                          const std::string& backup) override {
      const std::uint32_t code = FaultyHost::Replace(replaced, replacement, backup);
      folder_.Write("disk.d64", Bytes{'o', 't', 'h', 'e', 'r'});
      return code;
    }
    TempFolder& folder_;
  };
  IntrudingHost intruding(*host_, folder_);
  const TKvDropResult result =
      KvWriteDroppedFiles(image, {File("a.prg", PatternBytes(10, 1))}, intruding);
  EXPECT_EQ(result.Code, deWriteFailed);
  EXPECT_EQ(folder_.Read("disk.d64"), (Bytes{'o', 't', 'h', 'e', 'r'}));
  EXPECT_EQ(folder_.Read(std::string("disk.d64") + kKvBackupSuffix), blank);
  EXPECT_NE(result.Message.find(image + kKvBackupSuffix), std::string::npos) << result.Message;
}

TEST_F(DropTest, ANewImageThatReadsBackWrongIsThrownAway) {
  const Bytes blank = BlankD64();
  const std::string image = folder_.Write("disk.d64", blank);

  // A host whose written file differs from what it was given, as a failing disk would.
  class FlippingHost : public FaultyHost {
   public:
    using FaultyHost::FaultyHost;
    void WriteDurably(const std::string& path, ByteView bytes) override {
      Bytes changed(bytes.begin(), bytes.end());
      changed[changed.size() / 2] ^= 0x40;
      FaultyHost::WriteDurably(path, changed);
    }
  };
  FlippingHost flipping(*host_, {}, ReplaceFault::kOther);
  const TKvDropResult result =
      KvWriteDroppedFiles(image, {File("a.prg", PatternBytes(10, 1))}, flipping);
  EXPECT_EQ(result.Code, deWriteFailed);
  EXPECT_EQ(result.Message, "the written image did not read back as written");
  // The file itself gets the plain text: nothing of it is left anywhere.
  EXPECT_EQ(result.Files[0].Message, "The image could not be written; it is unchanged.");
  EXPECT_EQ(folder_.Read("disk.d64"), blank);
  EXPECT_FALSE(HasSideFiles("disk.d64"));
}

TEST_F(DropTest, TheReadBackCheckComparesEveryWrittenEntry) {
  const std::string image = folder_.Write("disk.d64", BlankD64());
  ASSERT_EQ(Drop(image, {File("a.prg", PatternBytes(10, 1))}).WrittenCount, 1);
  const Bytes bytes = folder_.Read("disk.d64");
  const TDkCbmEntryArray entries = Open("disk.d64")->Entries();
  const auto verifies = [&](const TDkCbmEntryArray& expected, const std::vector<Bytes>& data) {
    return MessageOf([&] { KvVerifyTempImage(*host_, image, image, bytes, expected, data); }) ==
           "(no exception)";
  };
  EXPECT_TRUE(verifies(entries, {PatternBytes(10, 1)}));
  EXPECT_FALSE(verifies(entries, {PatternBytes(10, 2)}));
  EXPECT_FALSE(verifies(entries, {}));
  TDkCbmEntryArray changed = entries;
  changed[0].Name = "B";
  EXPECT_FALSE(verifies(changed, {PatternBytes(10, 1)}));
  changed = entries;
  changed[0].FileType = cftSEQ;
  EXPECT_FALSE(verifies(changed, {PatternBytes(10, 1)}));
}

// Every writable format, a batch of several files, and each host call in turn made to fail:
// afterwards the image is the old one byte for byte or a new one holding exactly the files
// reported written, and a side file stays only when the message names it.
struct FaultFormat {
  const char* file_name;
  Bytes (*blank)();
};

class DropFaults : public DropTest, public ::testing::WithParamInterface<FaultFormat> {};

TEST_P(DropFaults, EveryFailingCallLeavesTheOldImageOrAVerifiedNewOne) {
  const FaultFormat& format = GetParam();
  const std::string name = format.file_name;
  const Bytes original = format.blank();
  const std::string image = folder_.Path(name);
  const std::size_t original_entries = DkOpenImage(original, name, false)->Entries().size();
  std::filesystem::create_directory(folder_.path() / "folder");
  const std::vector<std::string> paths = {
      File("one.prg", PatternBytes(700, 1)), folder_.Path("folder"),
      File("two.seq", PatternBytes(3, 2)),
      File("three.p00", Pc64File("THREE", PatternBytes(900, 3)))};

  // Count the calls of an undisturbed drop first.
  folder_.Write(name, original);
  FaultyHost counting(*host_, {}, ReplaceFault::kOther);
  ASSERT_EQ(KvWriteDroppedFiles(image, paths, counting).WrittenCount, 3);
  const int total = counting.calls();
  ASSERT_GE(total, 6);

  const auto drop_with = [&](FaultyHost& faulty) {
    std::filesystem::remove(folder_.path() / (name + kKvTempSuffix));
    std::filesystem::remove(folder_.path() / (name + kKvBackupSuffix));
    folder_.Write(name, original);
    const TKvDropResult result = KvWriteDroppedFiles(image, paths, faulty);

    ASSERT_TRUE(folder_.Has(name)) << "the image is never missing";
    const Bytes now = folder_.Read(name);
    if (now == original) {
      EXPECT_EQ(result.WrittenCount, 0) << "nothing written is reported as written";
      for (const TKvDropFile& file : result.Files) EXPECT_FALSE(file.Written) << file.Path;
    } else {
      EXPECT_EQ(result.Code, deNone);
      const auto opened = DkOpenImage(now, name, false);
      EXPECT_EQ(opened->Entries().size(), original_entries + result.WrittenCount);
      for (const TKvDropFile& file : result.Files) {
        const TDkCbmEntry* entry = FindEntry(*opened, file.CbmName);
        if (!file.Written) {
          if (!file.CbmName.empty()) {
            EXPECT_EQ(entry, nullptr) << file.Path;
          }
          continue;
        }
        ASSERT_NE(entry, nullptr) << file.Path;
        const Bytes& source = sources_[file.Path];
        EXPECT_EQ(opened->ReadFile(*entry),
                  file.Path.ends_with(".p00") ? Bytes(source.begin() + 26, source.end()) : source);
      }
    }
    for (const char* suffix : {kKvTempSuffix, kKvBackupSuffix}) {
      const std::string side = image + suffix;
      if (!folder_.Has(name + suffix) || side == faulty.failed_removal()) continue;
      EXPECT_NE(result.Message.find(side), std::string::npos) << side << " left unnamed";
    }
  };
  for (int n = 1; n <= total; ++n) {
    for (ReplaceFault fault :
         {ReplaceFault::kOther, ReplaceFault::kRemoveReplaced, ReplaceFault::kMoveReplacement,
          ReplaceFault::kMoveReplacement2, ReplaceFault::kHeld}) {
      SCOPED_TRACE(name + " failing call " + std::to_string(n) + " replace fault " +
                   std::to_string(static_cast<int>(fault)));
      FaultyHost faulty(*host_, {n}, fault);
      drop_with(faulty);
      if (faulty.failed_call() != "Replace") break;  // the kinds matter to the replace only
    }
  }
  // Any call, those that cannot fail included, may raise what nobody planned for.
  for (int n = 1; n <= counting.all_calls(); ++n) {
    SCOPED_TRACE(name + " call " + std::to_string(n) + " raises");
    FaultyHost faulty(*host_, {}, ReplaceFault::kOther);
    faulty.ThrowAt(n);
    drop_with(faulty);
  }
}

INSTANTIATE_TEST_SUITE_P(Formats, DropFaults,
                         ::testing::Values(FaultFormat{"f.d64", [] { return BlankD64(); }},
                                           FaultFormat{"f.d71", [] { return BlankD71(); }},
                                           FaultFormat{"f.d81", [] { return BlankD81(); }},
                                           FaultFormat{"f.d80", [] { return BlankD80(); }},
                                           FaultFormat{"f.d82", [] { return BlankD82(); }},
                                           FaultFormat{"f.dnp", [] { return BlankDnp(4); }},
                                           FaultFormat{"f.dfi", [] { return BlankDfi(2); }}),
                         [](const ::testing::TestParamInfo<FaultFormat>& param) {
                           return std::string(param.param.file_name).substr(2);
                         });

}  // namespace
}  // namespace kelvane
