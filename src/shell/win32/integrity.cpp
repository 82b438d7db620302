#include "shell/win32/integrity.h"

#include <knownfolders.h>
#include <shlobj.h>

#include <array>

#include "shell/win32/data_object.h"
#include "shell/win32/entry_points.h"
#include "shell/win32/win_raii.h"

namespace kelvane::win {

DWORD KvProcessIntegrityLevel() {
  HANDLE raw = nullptr;
  if (!::OpenProcessToken(::GetCurrentProcess(), TOKEN_QUERY, &raw)) {
    return SECURITY_MANDATORY_MEDIUM_RID;
  }
  const UniqueFile token(raw);
  // A label and its SID (at most a few dozen bytes), aligned for the structure.
  alignas(TOKEN_MANDATORY_LABEL) std::array<BYTE, 256> buffer{};
  DWORD size = 0;
  if (!::GetTokenInformation(token.get(), TokenIntegrityLevel, buffer.data(),
                             static_cast<DWORD>(buffer.size()), &size)) {
    return SECURITY_MANDATORY_MEDIUM_RID;
  }
  const PSID sid = reinterpret_cast<const TOKEN_MANDATORY_LABEL*>(buffer.data())->Label.Sid;
  if (sid == nullptr || !::IsValidSid(sid)) return SECURITY_MANDATORY_MEDIUM_RID;
  const UCHAR count = *::GetSidSubAuthorityCount(sid);
  if (count == 0) return SECURITY_MANDATORY_MEDIUM_RID;
  return *::GetSidSubAuthority(sid, count - 1u);
}

bool KvRunsAtLowIntegrity() {
  const auto level = KvEntryPoints().IntegrityLevel;
  return level != nullptr && level() < SECURITY_MANDATORY_MEDIUM_RID;
}

const wchar_t* KvSettingsKey(bool low_integrity) {
  return low_integrity ? L"Software\\AppDataLow\\Software\\Kelvane" : L"Software\\Kelvane";
}

std::wstring KvTransferRoot(bool low_integrity) {
  if (!low_integrity) return KvTemporaryRoot();
  wchar_t* raw = nullptr;
  const HRESULT found = ::SHGetKnownFolderPath(FOLDERID_LocalAppDataLow, 0, nullptr, &raw);
  const TaskString path(raw);
  if (FAILED(found) || !path || path.get()[0] == L'\0') return {};
  std::wstring root = path.get();
  if (root.back() != L'\\') root += L'\\';
  return root + L"Kelvane\\";
}

}  // namespace kelvane::win
