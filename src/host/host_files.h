#pragma once

// The host file operations the drop write runs on. One implementation per platform (POSIX and
// Win32); tests wrap them to make any single call fail. Paths are UTF-8 strings on every system
// (Windows' UTF-16 names pass through UTF-8 whole, whatever the system's code page).

#include <cstdint>
#include <memory>
#include <string>

#include "common/bytes.h"
#include "common/exception.h"

namespace kelvane {

// How opening an image for writing ended.
enum class HostOpenStatus {
  kOk,
  kAccessDenied,  // read-only file, or no right to write it
  kInUse,         // another program holds it open for writing (or has it locked)
  kFailed,        // missing, not a regular file, empty, too large, or a read error
};

// The replace outcomes the image swap tells apart (Windows' own numbers from winerror.h; the
// POSIX layer reports the same states under the same numbers), each for a replace that was given
// a backup name:
// the previous file could not be moved aside: both files are under their own names;
inline constexpr std::uint32_t kHostUnableToRemoveReplaced = 1175;
// the replacement could not be renamed: both files are under their own names (on POSIX a second
// name of the previous file may be left at the backup name);
inline constexpr std::uint32_t kHostUnableToMoveReplacement = 1176;
// the previous file is at the backup name and the replacement could not take its place.
inline constexpr std::uint32_t kHostUnableToMoveReplacement2 = 1177;

// An operating-system failure, with the system's message.
class EHostError : public Exception {
 public:
  using Exception::Exception;
};

class HostFiles {
 public:
  virtual ~HostFiles() = default;

  // Opens the file for reading and writing while letting others only read it, which proves that
  // nobody else has it open for writing, reads it whole and closes it again. The size must lie in
  // 1..max_size.
  virtual HostOpenStatus ReadForWrite(const std::string& path, std::uint64_t max_size,
                                      Bytes& bytes) = 0;
  // Reads a whole regular file while letting others read but not write it; false for any failure
  // or a file larger than max_size.
  virtual bool ReadDenyWrite(const std::string& path, std::uint64_t max_size, Bytes& bytes) = 0;
  // Creates or truncates the file, writes all bytes, flushes them to the disk and closes it.
  // Raises EHostError with the system's message.
  virtual void WriteDurably(const std::string& path, ByteView bytes) = 0;
  // Puts `replacement` under the name `replaced`, keeping the previous file at `backup`.
  // 0 on success, else an error code (see the two constants above for the states they mean).
  virtual std::uint32_t Replace(const std::string& replaced, const std::string& replacement,
                                const std::string& backup) = 0;
  // Renames, written through to the disk; 0 or an error code.
  virtual std::uint32_t Move(const std::string& from, const std::string& to,
                             bool replace_existing) = 0;
  virtual bool Exists(const std::string& path) = 0;
  virtual bool Remove(const std::string& path) = 0;
  virtual bool IsDirectory(const std::string& path) = 0;
  // The system's text for an error code returned above.
  virtual std::string ErrorText(std::uint32_t code) = 0;
  // Whether a replace refused with this code may work a moment later: on Windows a virus scanner
  // or the search indexer opens every new file for a moment (a sharing violation, or access
  // denied while the file is marked for deletion). Never on POSIX.
  virtual bool MayPass(std::uint32_t code) = 0;
  // Waits before the next try.
  virtual void Wait(unsigned milliseconds) = 0;
};

std::unique_ptr<HostFiles> MakeSystemHostFiles();

}  // namespace kelvane
