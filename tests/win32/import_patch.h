#pragma once

// Stand-ins for what Wine does not do as Windows does, put under the real DLL: the test replaces
// an entry of the DLL's import address table, so the DLL's own code runs unchanged and calls the
// stand-in where it would call Windows.
// - Wine runs every process at high integrity, while Explorer's preview host runs handlers at
//   low integrity unless their class asks otherwise: `IntegrityAs` makes the DLL's
//   GetTokenInformation report a chosen integrity level.
// - Wine delivered no SHChangeNotify to a window of the same process registered with
//   SHChangeNotifyRegister: `ShellNotices` records the DLL's SHChangeNotify calls instead (and
//   passes them on).

#include <windows.h>

#include <string>
#include <vector>

namespace kelvane::testing {

// Replaces the import `function` of `dll` in `module`'s import table; returns what was there
// (null when the module does not import it).
void* PatchImport(HMODULE module, const char* dll, const char* function, void* replacement);

// While it lives, the DLL's processes integrity level reads as `level` (0x1000 low, 0x2000
// medium). The DLL reads it when a handler is made.
class IntegrityAs {
 public:
  IntegrityAs(HMODULE module, DWORD level);
  ~IntegrityAs();
  IntegrityAs(const IntegrityAs&) = delete;
  IntegrityAs& operator=(const IntegrityAs&) = delete;
  bool Ok() const { return previous_ != nullptr; }

 private:
  HMODULE module_;
  void* previous_;
};

struct ShellNotice {
  LONG event = 0;
  UINT flags = 0;
  std::wstring path;
};

// While it lives, records every SHChangeNotify the DLL makes.
class ShellNotices {
 public:
  explicit ShellNotices(HMODULE module);
  ~ShellNotices();
  ShellNotices(const ShellNotices&) = delete;
  ShellNotices& operator=(const ShellNotices&) = delete;
  bool Ok() const { return previous_ != nullptr; }
  const std::vector<ShellNotice>& Seen() const;

 private:
  HMODULE module_;
  void* previous_;
};

}  // namespace kelvane::testing
