#include "win32/import_patch.h"

#include <shlobj.h>

#include <cstring>

namespace kelvane::testing {

void* PatchImport(HMODULE module, const char* dll, const char* function, void* replacement) {
  auto* const base = reinterpret_cast<BYTE*>(module);
  const auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(base);
  const auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS*>(base + dos->e_lfanew);
  const IMAGE_DATA_DIRECTORY& imports =
      nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
  if (imports.VirtualAddress == 0) return nullptr;
  for (auto* entry = reinterpret_cast<IMAGE_IMPORT_DESCRIPTOR*>(base + imports.VirtualAddress);
       entry->Name != 0; ++entry) {
    if (::lstrcmpiA(reinterpret_cast<const char*>(base + entry->Name), dll) != 0) continue;
    const DWORD names_at = entry->OriginalFirstThunk != 0 ? entry->OriginalFirstThunk
                                                          : entry->FirstThunk;
    auto* names = reinterpret_cast<IMAGE_THUNK_DATA*>(base + names_at);
    auto* slots = reinterpret_cast<IMAGE_THUNK_DATA*>(base + entry->FirstThunk);
    for (; names->u1.AddressOfData != 0; ++names, ++slots) {
      if (IMAGE_SNAP_BY_ORDINAL(names->u1.Ordinal)) continue;
      const auto* named = reinterpret_cast<const IMAGE_IMPORT_BY_NAME*>(base +
                                                                         names->u1.AddressOfData);
      if (std::strcmp(reinterpret_cast<const char*>(named->Name), function) != 0) continue;
      DWORD protection = 0;
      ::VirtualProtect(&slots->u1.Function, sizeof(slots->u1.Function), PAGE_READWRITE,
                       &protection);
      void* const previous = reinterpret_cast<void*>(slots->u1.Function);
      slots->u1.Function = reinterpret_cast<ULONG_PTR>(replacement);
      ::VirtualProtect(&slots->u1.Function, sizeof(slots->u1.Function), protection, &protection);
      return previous;
    }
  }
  return nullptr;
}

namespace {

using TokenInformationFn = BOOL(WINAPI*)(HANDLE, TOKEN_INFORMATION_CLASS, LPVOID, DWORD, PDWORD);
TokenInformationFn g_real_token_information = nullptr;
DWORD g_level = SECURITY_MANDATORY_MEDIUM_RID;

// A mandatory label as Windows gives it: the structure, then the SID it points to
// (S-1-16-level).
BOOL WINAPI TokenInformationAt(HANDLE token, TOKEN_INFORMATION_CLASS kind, LPVOID buffer,
                               DWORD length, PDWORD needed) {
  if (kind != TokenIntegrityLevel) {
    return g_real_token_information(token, kind, buffer, length, needed);
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

using ChangeNotifyFn = void(WINAPI*)(LONG, UINT, LPCVOID, LPCVOID);
ChangeNotifyFn g_real_change_notify = nullptr;
std::vector<ShellNotice> g_notices;

void WINAPI RecordChangeNotify(LONG event, UINT flags, LPCVOID first, LPCVOID second) {
  ShellNotice notice{event, flags, {}};
  if ((flags & SHCNF_TYPE) == SHCNF_PATHW && first != nullptr) {
    notice.path = static_cast<const wchar_t*>(first);
  }
  g_notices.push_back(std::move(notice));
  g_real_change_notify(event, flags, first, second);
}

}  // namespace

IntegrityAs::IntegrityAs(HMODULE module, DWORD level) : module_(module) {
  g_level = level;
  previous_ = PatchImport(module, "advapi32.dll", "GetTokenInformation",
                          reinterpret_cast<void*>(&TokenInformationAt));
  if (previous_ != nullptr) {
    g_real_token_information = reinterpret_cast<TokenInformationFn>(previous_);
  }
}

IntegrityAs::~IntegrityAs() {
  if (previous_ != nullptr) PatchImport(module_, "advapi32.dll", "GetTokenInformation", previous_);
}

ShellNotices::ShellNotices(HMODULE module) : module_(module) {
  g_notices.clear();
  previous_ = PatchImport(module, "shell32.dll", "SHChangeNotify",
                          reinterpret_cast<void*>(&RecordChangeNotify));
  if (previous_ != nullptr) g_real_change_notify = reinterpret_cast<ChangeNotifyFn>(previous_);
}

ShellNotices::~ShellNotices() {
  if (previous_ != nullptr) PatchImport(module_, "shell32.dll", "SHChangeNotify", previous_);
}

const std::vector<ShellNotice>& ShellNotices::Seen() const {
  return g_notices;
}

}  // namespace kelvane::testing
