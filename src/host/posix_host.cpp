// The host file layer on POSIX systems.
//
// Guarantees, and how they differ from Windows:
// - "In use": POSIX has no share modes, so another program's open file cannot be seen. A program
//   that announces its use with a lock (fcntl/OFD record locks or flock, shared or exclusive) is
//   seen, and so is another drop on the same image (each holds a flock while it works); a
//   program that simply keeps the file open is not.
// - The replace keeps the previous image reachable under its own name at every instant: the
//   backup is a hard link to it, and the new image takes the name with one atomic rename. On file
//   systems without hard links (FAT, exFAT) the replace is the atomic rename alone.
// - Every write and rename is followed by fsync of the file and of its folder.

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <memory>
#include <thread>

#include "common/format.h"
#include "host/host_files.h"

namespace kelvane {

namespace {

class Fd {
 public:
  explicit Fd(int fd) : fd_(fd) {}
  ~Fd() {
    if (fd_ >= 0) ::close(fd_);
  }
  Fd(const Fd&) = delete;
  Fd& operator=(const Fd&) = delete;
  int get() const { return fd_; }
  bool valid() const { return fd_ >= 0; }
  // Closes now and reports whether the close (which may report a delayed write error) worked.
  bool Close() {
    const int fd = fd_;
    fd_ = -1;
    return ::close(fd) == 0;
  }

 private:
  int fd_;
};

std::string FolderOf(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  if (slash == 0) return "/";
  return path.substr(0, slash);
}

// Makes a rename or a new name in the folder durable. Failures are ignored: some file systems
// cannot sync a folder, and the rename itself has already happened.
void SyncFolderOf(const std::string& path) {
  Fd folder(::open(FolderOf(path).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (folder.valid()) ::fsync(folder.get());
}

bool ReadExactly(int fd, Bytes& bytes, std::size_t size) {
  bytes.resize(size);
  std::size_t done = 0;
  while (done < size) {
    const ssize_t got = ::read(fd, bytes.data() + done, size - done);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) return false;
    done += static_cast<std::size_t>(got);
  }
  return true;
}

// Opens a regular file without blocking on a FIFO or device, then switches blocking back on.
int OpenRegular(const std::string& path, int flags, struct stat& info) {
  const int fd = ::open(path.c_str(), flags | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return -1;
  if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
    ::close(fd);
    errno = EINVAL;
    return -1;
  }
  ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK);
  return fd;
}

// True when another open file holds a record lock (fcntl or OFD) on the file.
bool SomeoneHoldsRecordLock(int fd) {
  struct flock probe {};
  probe.l_type = F_WRLCK;
  probe.l_whence = SEEK_SET;
#ifdef F_OFD_GETLK
  // Open-file-description locks conflict with every other open file, our own process included.
  constexpr int kGetLock = F_OFD_GETLK;
#else
  constexpr int kGetLock = F_GETLK;
#endif
  return ::fcntl(fd, kGetLock, &probe) == 0 && probe.l_type != F_UNLCK;
}

class PosixHostFiles final : public HostFiles {
 public:
  // The image read for writing stays locked (flock) until its replace is over, another image is
  // read for writing, or the layer goes away. Two writers of one image therefore never both
  // work from the same old image: the second sees the lock and reports the image in use.
  HostOpenStatus ReadForWrite(const std::string& path, std::uint64_t max_size,
                              Bytes& bytes) override {
    bytes.clear();
    locked_.reset();
    struct stat info {};
    auto fd = std::make_unique<Fd>(OpenRegular(path, O_RDWR, info));
    if (!fd->valid()) {
      if (errno == EACCES || errno == EPERM || errno == EROFS) return HostOpenStatus::kAccessDenied;
      if (errno == ETXTBSY) return HostOpenStatus::kInUse;
      return HostOpenStatus::kFailed;
    }
    if (SomeoneHoldsRecordLock(fd->get())) return HostOpenStatus::kInUse;
    // A file system without flock (some network mounts) is written without the lock.
    if (::flock(fd->get(), LOCK_EX | LOCK_NB) != 0 && errno == EWOULDBLOCK)
      return HostOpenStatus::kInUse;
    // Locked, but the name may meanwhile have been given to a new file by another writer.
    struct stat now {};
    if (::stat(path.c_str(), &now) != 0 || now.st_dev != info.st_dev || now.st_ino != info.st_ino)
      return HostOpenStatus::kInUse;
    if (info.st_size < 1 || static_cast<std::uint64_t>(info.st_size) > max_size)
      return HostOpenStatus::kFailed;
    if (!ReadExactly(fd->get(), bytes, static_cast<std::size_t>(info.st_size))) {
      bytes.clear();
      return HostOpenStatus::kFailed;
    }
    locked_ = std::move(fd);
    return HostOpenStatus::kOk;
  }

  bool ReadDenyWrite(const std::string& path, std::uint64_t max_size, Bytes& bytes) override {
    bytes.clear();
    struct stat info {};
    Fd fd(OpenRegular(path, O_RDONLY, info));
    if (!fd.valid()) return false;
    if (static_cast<std::uint64_t>(info.st_size) > max_size) return false;
    if (!ReadExactly(fd.get(), bytes, static_cast<std::size_t>(info.st_size))) {
      bytes.clear();
      return false;
    }
    return true;
  }

  void WriteDurably(const std::string& path, ByteView bytes) override {
    // Always a new file: whatever a crashed run left under the name (a read-only file, a link
    // planted there) is removed, never written through.
    if (::unlink(path.c_str()) != 0 && errno != ENOENT) Fail(path);
    Fd fd(::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666));
    if (!fd.valid()) Fail(path);
    std::size_t done = 0;
    while (done < bytes.size()) {
      const ssize_t put = ::write(fd.get(), bytes.data() + done, bytes.size() - done);
      if (put < 0 && errno == EINTR) continue;
      if (put <= 0) Fail(path);
      done += static_cast<std::size_t>(put);
    }
    if (::fsync(fd.get()) != 0 || !fd.Close()) Fail(path);
    SyncFolderOf(path);
  }

  std::uint32_t Replace(const std::string& replaced, const std::string& replacement,
                        const std::string& backup) override {
    struct stat info {};
    if (::stat(replaced.c_str(), &info) != 0) return static_cast<std::uint32_t>(errno);
    // The new file takes over the previous one's owner (where we may give it) and permission
    // bits.
    if (::chown(replacement.c_str(), info.st_uid, info.st_gid) != 0) {
      // Only the superuser may give a file away; an ordinary user's own image keeps its owner.
    }
    ::chmod(replacement.c_str(), info.st_mode & 07777);
    if (::unlink(backup.c_str()) != 0 && errno != ENOENT) return kHostUnableToRemoveReplaced;
    if (::link(replaced.c_str(), backup.c_str()) != 0) {
      // No hard links here: the caller falls back to the plain atomic rename.
      return static_cast<std::uint32_t>(errno);
    }
    // The previous file is still under its own name as well; the swap removes the backup link.
    if (::rename(replacement.c_str(), replaced.c_str()) != 0) return kHostUnableToMoveReplacement;
    SyncFolderOf(replaced);
    locked_.reset();
    return 0;
  }

  std::uint32_t Move(const std::string& from, const std::string& to,
                     bool replace_existing) override {
    struct stat target {};
    if (::lstat(to.c_str(), &target) == 0) {
      struct stat source {};
      if (::lstat(from.c_str(), &source) != 0) return static_cast<std::uint32_t>(errno);
      if (source.st_dev == target.st_dev && source.st_ino == target.st_ino) {
        // `from` is a second name of `to` (the backup link): moving it back means dropping it.
        if (::unlink(from.c_str()) != 0) return static_cast<std::uint32_t>(errno);
        SyncFolderOf(to);
        return 0;
      }
      if (!replace_existing) return EEXIST;
    }
    if (::rename(from.c_str(), to.c_str()) != 0) return static_cast<std::uint32_t>(errno);
    SyncFolderOf(to);
    locked_.reset();
    return 0;
  }

  bool Exists(const std::string& path) override {
    struct stat info {};
    return ::lstat(path.c_str(), &info) == 0;
  }

  bool Remove(const std::string& path) override { return ::unlink(path.c_str()) == 0; }

  bool IsDirectory(const std::string& path) override {
    struct stat info {};
    return ::stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
  }

  // Nothing on POSIX holds a file the way Windows' scanners do.
  bool MayPass(std::uint32_t /*code*/) override { return false; }

  void Wait(unsigned milliseconds) override {
    std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
  }

  std::string ErrorText(std::uint32_t code) override {
    if (code == kHostUnableToRemoveReplaced) return "The previous file could not be moved aside.";
    if (code == kHostUnableToMoveReplacement) return "The new file could not be moved into place.";
    return std::strerror(static_cast<int>(code));
  }

 private:
  std::unique_ptr<Fd> locked_;  // the image read for writing, while it is being replaced

  [[noreturn]] void Fail(const std::string& path) {
    const int code = errno;
    throw EHostError(Format("%s: %s", path.c_str(), std::strerror(code)));
  }
};

}  // namespace

std::unique_ptr<HostFiles> MakeSystemHostFiles() {
  return std::make_unique<PosixHostFiles>();
}

}  // namespace kelvane
