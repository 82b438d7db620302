#pragma once

// A host file layer that passes every call to a real one, except the calls whose number (counted
// from 1 over the operations that can fail) is in its fault list: those fail the way the system
// would fail them, leaving the state the system would leave.

#include <set>
#include <stdexcept>

#include "host/host_files.h"

namespace kelvane::testing {

// How a failing replace fails, with the state Windows leaves for each (a backup name given).
enum class ReplaceFault {
  kOther,             // not offered here (ERROR_NOT_SUPPORTED), before anything moved
  kRemoveReplaced,    // 1175: the previous file could not be moved aside; nothing moved
  kMoveReplacement,   // 1176: the new file could not be renamed; nothing moved
  kMoveReplacement2,  // 1177: the previous file is already at the backup name
  kHeld,              // a sharing violation: a scanner has one of the files open for a moment
};

// The code of an injected sharing violation (ERROR_SHARING_VIOLATION), one that may pass.
inline constexpr std::uint32_t kHeldCode = 32;
// In a fault list: every Replace fails, however often it is tried.
inline constexpr int kEveryReplace = -1;

class FaultyHost : public HostFiles {
 public:
  FaultyHost(HostFiles& real, std::set<int> faults, ReplaceFault replace_fault)
      : real_(real), faults_(std::move(faults)), replace_fault_(replace_fault) {}

  int calls() const { return calls_; }
  // Every call made, those that cannot fail included; the call numbered `n` of them throws, as a
  // layer that runs out of memory or meets an error nobody planned for would.
  int all_calls() const { return all_calls_; }
  void ThrowAt(int n) { throw_at_ = n; }
  // Which operation failed ("" when none did), and for a removal (or a raising Exists or
  // Remove), its path.
  const std::string& failed_call() const { return failed_call_; }
  const std::string& failed_removal() const { return failed_removal_; }

  HostOpenStatus ReadForWrite(const std::string& path, std::uint64_t max_size,
                              Bytes& bytes) override {
    Unplanned();
    if (Fails("ReadForWrite")) return HostOpenStatus::kFailed;
    return real_.ReadForWrite(path, max_size, bytes);
  }
  bool ReadDenyWrite(const std::string& path, std::uint64_t max_size, Bytes& bytes) override {
    Unplanned();
    if (Fails("ReadDenyWrite")) return false;
    return real_.ReadDenyWrite(path, max_size, bytes);
  }
  void WriteDurably(const std::string& path, ByteView bytes) override {
    Unplanned();
    if (Fails("WriteDurably")) {
      // The disk filled up half-way: a partial file stays behind.
      real_.WriteDurably(path, bytes.first(bytes.size() / 2));
      throw EHostError("There is not enough space on the disk.");
    }
    real_.WriteDurably(path, bytes);
  }
  std::uint32_t Replace(const std::string& replaced, const std::string& replacement,
                        const std::string& backup) override {
    Unplanned();
    if (!Fails("Replace")) return real_.Replace(replaced, replacement, backup);
    switch (replace_fault_) {
      case ReplaceFault::kOther:
        return 50;
      case ReplaceFault::kRemoveReplaced:
        return kHostUnableToRemoveReplaced;
      case ReplaceFault::kMoveReplacement:
        return kHostUnableToMoveReplacement;
      case ReplaceFault::kMoveReplacement2:
        if (real_.Move(replaced, backup, true) != 0) return 50;
        return kHostUnableToMoveReplacement2;
      case ReplaceFault::kHeld:
        return kHeldCode;
    }
    return 50;
  }
  std::uint32_t Move(const std::string& from, const std::string& to,
                     bool replace_existing) override {
    Unplanned();
    if (Fails("Move")) return 5;
    return real_.Move(from, to, replace_existing);
  }
  bool Exists(const std::string& path) override {
    Unplanned(path);
    return real_.Exists(path);
  }
  bool Remove(const std::string& path) override {
    Unplanned(path);
    if (Fails("Remove")) {
      failed_removal_ = path;
      return false;
    }
    return real_.Remove(path);
  }
  bool IsDirectory(const std::string& path) override {
    Unplanned();
    return real_.IsDirectory(path);
  }
  std::string ErrorText(std::uint32_t code) override { return real_.ErrorText(code); }
  bool MayPass(std::uint32_t code) override { return code == kHeldCode || real_.MayPass(code); }
  void Wait(unsigned) override {}  // no sleeping in tests

 private:
  void Unplanned(const std::string& path = {}) {
    if (++all_calls_ != throw_at_) return;
    failed_removal_ = path;  // a file whose removal may not have happened
    throw std::runtime_error("unplanned failure");
  }
  bool Fails(const char* call) {
    const bool every = faults_.count(kEveryReplace) != 0 && std::string(call) == "Replace";
    if (faults_.count(++calls_) == 0 && !every) return false;
    failed_call_ = call;
    return true;
  }

  HostFiles& real_;
  std::set<int> faults_;
  ReplaceFault replace_fault_;
  int calls_ = 0;
  int all_calls_ = 0;
  int throw_at_ = 0;
  std::string failed_call_;
  std::string failed_removal_;
};

}  // namespace kelvane::testing
