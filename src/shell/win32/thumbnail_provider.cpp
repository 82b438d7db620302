#include "shell/win32/thumbnail_provider.h"

#include <cstring>
#include <exception>

#include "registry/registry.h"
#include "render/thumbnail.h"
#include "shell/win32/dib.h"
#include "shell/win32/item_bytes.h"

namespace kelvane::win {

namespace {

// IThumbnailProvider's interface id (mingw-w64 declares it but has no library defining it).
constexpr IID kThumbnailProviderIid = {
    0xe357fccd, 0xa995, 0x4576, {0xb0, 0x1f, 0x23, 0x46, 0x30, 0x15, 0x4e, 0x96}};

}  // namespace

STDMETHODIMP TKvThumbnailProvider::QueryInterface(REFIID iid, void** out) {
  if (out == nullptr) return E_POINTER;
  *out = nullptr;
  if (iid == IID_IUnknown || iid == IID_IInitializeWithStream) {
    *out = static_cast<IInitializeWithStream*>(this);
  } else if (iid == kThumbnailProviderIid) {
    *out = static_cast<IThumbnailProvider*>(this);
  } else {
    return E_NOINTERFACE;
  }
  AddRef();
  return S_OK;
}

STDMETHODIMP_(ULONG) TKvThumbnailProvider::AddRef() {
  return ++references_;
}

STDMETHODIMP_(ULONG) TKvThumbnailProvider::Release() {
  const ULONG left = --references_;
  if (left == 0) delete this;
  return left;
}

STDMETHODIMP TKvThumbnailProvider::Initialize(IStream* stream, DWORD) {
  if (stream == nullptr) return E_INVALIDARG;
  if (initialised_) return HRESULT_FROM_WIN32(ERROR_ALREADY_INITIALIZED);
  try {
    Bytes data;
    std::string detection;
    bool too_large = false;
    if (!KvReadInitStream(stream, data, detection, too_large)) return E_FAIL;
    KvApplyGcrStep(data, detection);
    data_ = std::move(data);
    detection_name_ = std::move(detection);
    initialised_ = true;
    return S_OK;
  } catch (...) {
    return E_FAIL;
  }
}

STDMETHODIMP TKvThumbnailProvider::GetThumbnail(UINT size, HBITMAP* bitmap, WTS_ALPHATYPE* alpha) {
  if (bitmap == nullptr) return E_POINTER;
  *bitmap = nullptr;
  if (alpha != nullptr) *alpha = WTSAT_UNKNOWN;
  if (!initialised_ || size < 1 || size > 4096) return E_FAIL;
  try {
    // Always the machine's own charset at power-on: Windows keeps a thumbnail until the file's
    // date changes, so one drawn in the preview's setting would stay after a switch.
    TDkRenderImage picture;
    if (!DkRenderThumbnail(data_, detection_name_, static_cast<int>(size), csUpperGraphics,
                           picture)) {
      return E_FAIL;
    }
    const BITMAPINFO info = KvTopDownInfo(picture.Width, picture.Height);
    void* bits = nullptr;
    const HBITMAP made = ::CreateDIBSection(nullptr, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    if (made == nullptr || bits == nullptr) {
      if (made != nullptr) ::DeleteObject(made);
      return E_OUTOFMEMORY;
    }
    std::memcpy(bits, picture.Pixels.data(), picture.Pixels.size());
    ::GdiFlush();
    *bitmap = made;
    if (alpha != nullptr) *alpha = WTSAT_RGB;
    return S_OK;
  } catch (...) {
    return E_FAIL;
  }
}

}  // namespace kelvane::win
