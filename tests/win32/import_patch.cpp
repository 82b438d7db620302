#include "win32/import_patch.h"

#include <shlobj.h>

#include <cstring>

namespace kelvane::testing {

namespace {

// Swaps the import's slot in the import address table; returns what was there (null when the
// module does not import it).
void* SwapImport(HMODULE module, const char* dll, const char* function, void* replacement) {
  auto* const base = reinterpret_cast<BYTE*>(module);
  const auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS*>(
      base + reinterpret_cast<const IMAGE_DOS_HEADER*>(base)->e_lfanew);
  const DWORD imports =
      nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT].VirtualAddress;
  if (imports == 0) return nullptr;
  for (auto* entry = reinterpret_cast<IMAGE_IMPORT_DESCRIPTOR*>(base + imports); entry->Name != 0;
       ++entry) {
    if (::lstrcmpiA(reinterpret_cast<const char*>(base + entry->Name), dll) != 0) continue;
    auto* names = reinterpret_cast<IMAGE_THUNK_DATA*>(
        base + (entry->OriginalFirstThunk != 0 ? entry->OriginalFirstThunk : entry->FirstThunk));
    auto* slot = reinterpret_cast<IMAGE_THUNK_DATA*>(base + entry->FirstThunk);
    for (; names->u1.AddressOfData != 0; ++names, ++slot) {
      if (IMAGE_SNAP_BY_ORDINAL(names->u1.Ordinal)) continue;
      const auto* named =
          reinterpret_cast<const IMAGE_IMPORT_BY_NAME*>(base + names->u1.AddressOfData);
      if (std::strcmp(reinterpret_cast<const char*>(named->Name), function) != 0) continue;
      DWORD protection = 0;
      ::VirtualProtect(&slot->u1.Function, sizeof(slot->u1.Function), PAGE_READWRITE, &protection);
      void* const previous = reinterpret_cast<void*>(slot->u1.Function);
      slot->u1.Function = reinterpret_cast<ULONG_PTR>(replacement);
      ::VirtualProtect(&slot->u1.Function, sizeof(slot->u1.Function), protection, &protection);
      return previous;
    }
  }
  return nullptr;
}

using TokenInformationFn = BOOL(WINAPI*)(HANDLE, TOKEN_INFORMATION_CLASS, LPVOID, DWORD, PDWORD);
DWORD g_level = SECURITY_MANDATORY_MEDIUM_RID;

// A mandatory label as Windows gives it: the structure, then the SID it points to (S-1-16-level).
BOOL WINAPI TokenInformationAt(HANDLE token, TOKEN_INFORMATION_CLASS kind, LPVOID buffer,
                               DWORD length, PDWORD needed) {
  if (kind != TokenIntegrityLevel) {
    return ::GetTokenInformation(token, kind, buffer, length, needed);
  }
  struct Label {
    TOKEN_MANDATORY_LABEL label;
    SID sid;  // one sub-authority, which SID holds in place
  };
  if (needed != nullptr) *needed = sizeof(Label);
  if (buffer == nullptr || length < sizeof(Label)) {
    ::SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return FALSE;
  }
  auto* out = static_cast<Label*>(buffer);
  out->sid.Revision = SID_REVISION;
  out->sid.SubAuthorityCount = 1;
  out->sid.IdentifierAuthority = SECURITY_MANDATORY_LABEL_AUTHORITY;
  out->sid.SubAuthority[0] = g_level;
  out->label.Label.Sid = &out->sid;
  out->label.Label.Attributes = SE_GROUP_INTEGRITY;
  return TRUE;
}

std::vector<ShellNotice>* g_notices = nullptr;

void WINAPI RecordChangeNotify(LONG event, UINT flags, LPCVOID first, LPCVOID second) {
  ShellNotice notice{event, flags, {}};
  if ((flags & SHCNF_TYPE) == SHCNF_PATHW && first != nullptr) {
    notice.path = static_cast<const wchar_t*>(first);
  }
  g_notices->push_back(std::move(notice));
  // Through shell32 itself: this module's own import may be the one replaced.
  using ChangeNotifyFn = void(WINAPI*)(LONG, UINT, LPCVOID, LPCVOID);
  const auto shell_notify = reinterpret_cast<ChangeNotifyFn>(reinterpret_cast<void*>(
      ::GetProcAddress(::GetModuleHandleW(L"shell32.dll"), "SHChangeNotify")));
  if (shell_notify != nullptr) shell_notify(event, flags, first, second);
}

const int* g_window_dpi = nullptr;

UINT WINAPI DpiForWindowAt(HWND) {
  return static_cast<UINT>(*g_window_dpi);
}

FARPROC WINAPI ProcAddressWithDpi(HMODULE module, LPCSTR name) {
  if (HIWORD(reinterpret_cast<ULONG_PTR>(name)) != 0 && std::strcmp(name, "GetDpiForWindow") == 0) {
    return *g_window_dpi < 0 ? nullptr
                             : reinterpret_cast<FARPROC>(reinterpret_cast<void*>(&DpiForWindowAt));
  }
  return ::GetProcAddress(module, name);
}

}  // namespace

ScopedImport::ScopedImport(HMODULE module, const char* dll, const char* function, void* replacement)
    : module_(module),
      dll_(dll),
      function_(function),
      previous_(SwapImport(module, dll, function, replacement)) {}

ScopedImport::~ScopedImport() {
  if (previous_ != nullptr) SwapImport(module_, dll_, function_, previous_);
}

ScopedImport IntegrityAs(HMODULE module, DWORD level) {
  g_level = level;
  return ScopedImport(module, "advapi32.dll", "GetTokenInformation",
                      reinterpret_cast<void*>(&TokenInformationAt));
}

ScopedImport RecordShellNotices(HMODULE module, std::vector<ShellNotice>& seen) {
  g_notices = &seen;
  return ScopedImport(module, "shell32.dll", "SHChangeNotify",
                      reinterpret_cast<void*>(&RecordChangeNotify));
}

ScopedImport WindowDpiAs(HMODULE module, const int& dpi) {
  g_window_dpi = &dpi;
  return ScopedImport(module, "kernel32.dll", "GetProcAddress",
                      reinterpret_cast<void*>(&ProcAddressWithDpi));
}

}  // namespace kelvane::testing
