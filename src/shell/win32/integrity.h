#pragma once

// How far Windows trusts the process the preview runs in. Explorer's preview host runs handlers
// at low integrity unless their class key holds DisableLowILProcessIsolation = 1; a low-integrity
// process may not write the user's files, HKEY_CURRENT_USER outside Software\AppDataLow, or the
// temporary folder. The handler asks once and then keeps its setting and its drag-out files where
// it may write, and refuses drops it could not write.

#include <windows.h>

#include <string>

namespace kelvane::win {

// The integrity level of this process: the last sub-authority of its token's mandatory label
// (0x1000 low, 0x2000 medium, 0x3000 high); medium when the token cannot be read.
DWORD KvProcessIntegrityLevel();
// Whether the level the entry-point table reports is below medium.
bool KvRunsAtLowIntegrity();

// The per-user settings key under HKEY_CURRENT_USER.
const wchar_t* KvSettingsKey(bool low_integrity);
// The folder drag-out's transfer folders go under: "Kelvane\" in the temporary folder, or at low
// integrity in the LocalLow folder; empty when there is none.
std::wstring KvTransferRoot(bool low_integrity);

inline constexpr wchar_t kKvLowIntegrityRefusal[] =
    L"Files cannot be added while the preview runs with low integrity; installing Kelvane again "
    L"fixes it.";

}  // namespace kelvane::win
