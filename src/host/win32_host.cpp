// The host file layer on Windows: share modes prove that nobody else writes the image, and
// ReplaceFileW swaps the new image in with a backup.

#include <windows.h>

#include <algorithm>

#include "common/format.h"
#include "host/host_files.h"

namespace kelvane {

namespace {

class Handle {
 public:
  explicit Handle(HANDLE handle) : handle_(handle) {}
  ~Handle() {
    if (valid()) ::CloseHandle(handle_);
  }
  Handle(const Handle&) = delete;
  Handle& operator=(const Handle&) = delete;
  HANDLE get() const { return handle_; }
  bool valid() const { return handle_ != INVALID_HANDLE_VALUE; }
  bool Close() {
    const HANDLE handle = handle_;
    handle_ = INVALID_HANDLE_VALUE;
    return ::CloseHandle(handle) != 0;
  }

 private:
  HANDLE handle_;
};

// Reads the whole file behind an open handle; false for a size outside 1..max (0 allowed when
// `allow_empty`, max at most 4 GiB) or a short read.
bool ReadWhole(HANDLE file, std::uint64_t max_size, bool allow_empty, Bytes& bytes) {
  DWORD high = 0;
  const DWORD low = ::GetFileSize(file, &high);
  if (low == INVALID_FILE_SIZE && ::GetLastError() != NO_ERROR) return false;
  const std::uint64_t size = (static_cast<std::uint64_t>(high) << 32) | low;
  if (size > max_size || (size == 0 && !allow_empty)) return false;
  // One read of the whole file (at most 16 MiB); a short read counts as a failure.
  bytes.resize(static_cast<std::size_t>(size));
  if (bytes.empty()) return true;
  DWORD got = 0;
  return ::ReadFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &got, nullptr) &&
         got == bytes.size();
}

class Win32HostFiles final : public HostFiles {
 public:
  HostOpenStatus ReadForWrite(const std::string& path, std::uint64_t max_size,
                              Bytes& bytes) override {
    bytes.clear();
    Handle file(::CreateFileW(Wide(path).c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ,
                              nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file.valid()) {
      const DWORD error = ::GetLastError();
      if (error == ERROR_ACCESS_DENIED) return HostOpenStatus::kAccessDenied;
      if (error == ERROR_SHARING_VIOLATION || error == ERROR_LOCK_VIOLATION)
        return HostOpenStatus::kInUse;
      return HostOpenStatus::kFailed;
    }
    if (!ReadWhole(file.get(), max_size, false, bytes)) {
      bytes.clear();
      return HostOpenStatus::kFailed;
    }
    return HostOpenStatus::kOk;
  }

  bool ReadDenyWrite(const std::string& path, std::uint64_t max_size, Bytes& bytes) override {
    bytes.clear();
    Handle file(::CreateFileW(Wide(path).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                              OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file.valid() || !ReadWhole(file.get(), max_size, true, bytes)) {
      bytes.clear();
      return false;
    }
    return true;
  }

  void WriteDurably(const std::string& path, ByteView bytes) override {
    Handle file(::CreateFileW(Wide(path).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file.valid()) Fail();
    // Large pieces (16 for the largest image), each written completely: every call is a round
    // trip on a network share, while a single call of 16 MiB may be refused there for want of
    // kernel memory.
    constexpr std::size_t kPiece = 1024 * 1024;
    for (std::size_t done = 0; done < bytes.size();) {
      const DWORD piece = static_cast<DWORD>(std::min(kPiece, bytes.size() - done));
      DWORD put = 0;
      if (!::WriteFile(file.get(), bytes.data() + done, piece, &put, nullptr)) Fail();
      if (put != piece) {
        ::SetLastError(ERROR_WRITE_FAULT);
        Fail();
      }
      done += put;
    }
    if (!::FlushFileBuffers(file.get())) Fail();
    if (!file.Close()) Fail();
  }

  std::uint32_t Replace(const std::string& replaced, const std::string& replacement,
                        const std::string& backup) override {
    if (::ReplaceFileW(Wide(replaced).c_str(), Wide(replacement).c_str(), Wide(backup).c_str(),
                       REPLACEFILE_IGNORE_MERGE_ERRORS, nullptr, nullptr))
      return 0;
    return ::GetLastError();
  }

  std::uint32_t Move(const std::string& from, const std::string& to,
                     bool replace_existing) override {
    DWORD flags = MOVEFILE_WRITE_THROUGH;
    if (replace_existing) flags |= MOVEFILE_REPLACE_EXISTING;
    if (::MoveFileExW(Wide(from).c_str(), Wide(to).c_str(), flags)) return 0;
    return ::GetLastError();
  }

  bool Exists(const std::string& path) override {
    return ::GetFileAttributesW(Wide(path).c_str()) != INVALID_FILE_ATTRIBUTES;
  }

  bool Remove(const std::string& path) override { return ::DeleteFileW(Wide(path).c_str()) != 0; }

  bool IsDirectory(const std::string& path) override {
    const DWORD attributes = ::GetFileAttributesW(Wide(path).c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
  }

  bool MayPass(std::uint32_t code) override {
    return code == ERROR_SHARING_VIOLATION || code == ERROR_ACCESS_DENIED;
  }

  void Wait(unsigned milliseconds) override { ::Sleep(milliseconds); }

  std::string ErrorText(std::uint32_t code) override {
    wchar_t* text = nullptr;
    const DWORD length = ::FormatMessageW(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
        nullptr, code, 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
    std::wstring message =
        length != 0 && text != nullptr ? std::wstring(text, length) : std::wstring();
    if (text != nullptr) ::LocalFree(text);
    while (!message.empty() &&
           (message.back() == L'\r' || message.back() == L'\n' || message.back() == L' '))
      message.pop_back();
    if (message.empty()) return Format("System error %u.", static_cast<unsigned>(code));
    return Narrow(message);
  }

 private:
  std::wstring Wide(const std::string& text) const {
    if (text.empty()) return std::wstring();
    const int length =
        ::MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    std::wstring wide(static_cast<std::size_t>(length > 0 ? length : 0), L'\0');
    if (length > 0)
      ::MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), wide.data(),
                            length);
    return wide;
  }

  std::string Narrow(const std::wstring& text) const {
    const int length = ::WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()),
                                             nullptr, 0, nullptr, nullptr);
    std::string narrow(static_cast<std::size_t>(length > 0 ? length : 0), '\0');
    if (length > 0)
      ::WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), narrow.data(),
                            length, nullptr, nullptr);
    return narrow;
  }

  [[noreturn]] void Fail() { throw EHostError(ErrorText(::GetLastError())); }
};

}  // namespace

std::unique_ptr<HostFiles> MakeSystemHostFiles() {
  return std::make_unique<Win32HostFiles>();
}

}  // namespace kelvane
