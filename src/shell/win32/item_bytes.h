#pragma once

// Reading the bytes of the previewed item, from its file or from its stream, at most 16 MiB,
// and the GCR step that turns a G64 or NIB into the D64 it holds (a G71 into its D71).

#include <objidl.h>
#include <shobjidl.h>
#include <windows.h>

#include <string>

#include "common/bytes.h"

namespace kelvane::win {

inline constexpr std::uint64_t kKvMaxItemSize = 16 * 1024 * 1024;

struct TKvItemBytes {
  Bytes Data;                 // after the GCR step
  std::string DetectionName;  // the name's extension with its dot, in the system code page
  std::wstring Path;          // the file's path; empty for a stream-only item
};

// The extension of the last path component, dot included ("" for none), in the system code page.
std::string KvExtensionOf(const std::wstring& name);

// A ".g64", ".g71" or ".nib", or bytes with a G64 signature, become the D64 (D71) they hold,
// and the detection name ".d64" (".d71"). Throws what the decoder throws.
void KvApplyGcrStep(Bytes& data, std::string& detection_name);

// Reads `stream` from its start in pieces until it ends; false when a read fails or it holds
// more than 16 MiB. The buffer starts at 64 KiB and doubles when full.
bool KvReadWholeStream(IStream* stream, Bytes& bytes);

// The stream an IInitializeWithStream handler is given: its bytes and its name's extension (""
// for a stream without a name: Explorer's may have none, and the content alone then tells the
// format). False when the stream says it holds more than 16 MiB (`too_large` set) or a read fails.
bool KvReadInitStream(IStream* stream, Bytes& data, std::string& detection_name, bool& too_large);

// S_OK with `out` filled, or E_FAIL with `out` untouched.
HRESULT KvReadFileItem(const std::wstring& path, TKvItemBytes& out);
HRESULT KvReadStreamItem(IShellItem* item, TKvItemBytes& out);

}  // namespace kelvane::win
