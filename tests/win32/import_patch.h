#pragma once

// Stand-ins for what Wine does not do as Windows does, put under the real DLL: an entry of the
// DLL's import address table is replaced, so the DLL's own code runs unchanged and calls the
// stand-in where it would call Windows.
// - Wine runs every process at high integrity, while Explorer's preview host runs handlers at
//   low integrity unless their class asks otherwise: `IntegrityAs` makes the DLL's
//   GetTokenInformation report a chosen level (the DLL reads it when a handler is made).
// - Wine gives every window the one screen's DPI, where Windows gives a window its monitor's:
//   `WindowDpiAs` answers the DLL's GetDpiForWindow (which it looks up at run time).
// - Wine delivered no SHChangeNotify to a window of the same process registered with
//   SHChangeNotifyRegister: `RecordShellNotices` records the DLL's calls (and passes them on).

#include <windows.h>

#include <string>
#include <vector>

namespace kelvane::testing {

// Replaces the import `function` of `dll` in `module` while it lives.
class ScopedImport {
 public:
  ScopedImport(HMODULE module, const char* dll, const char* function, void* replacement);
  ~ScopedImport();
  ScopedImport(const ScopedImport&) = delete;
  ScopedImport& operator=(const ScopedImport&) = delete;
  // False when the module does not import the function.
  bool Ok() const { return previous_ != nullptr; }

 private:
  HMODULE module_;
  const char* dll_;
  const char* function_;
  void* previous_;
};

// The process's integrity level, as the DLL reads it, is `level` (0x1000 low, 0x2000 medium).
ScopedImport IntegrityAs(HMODULE module, DWORD level);

// While it lives, GetDpiForWindow answers `dpi` (read at each call) for every window; a `dpi`
// below 0 makes it missing, as on Windows before 10 version 1607.
ScopedImport WindowDpiAs(HMODULE module, const int& dpi);

struct ShellNotice {
  LONG event = 0;
  UINT flags = 0;
  std::wstring path;
};
// Records every SHChangeNotify the DLL makes into `seen`.
ScopedImport RecordShellNotices(HMODULE module, std::vector<ShellNotice>& seen);

}  // namespace kelvane::testing
