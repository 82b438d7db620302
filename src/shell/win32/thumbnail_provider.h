#pragma once

// Explorer's thumbnails of disk images: the top of the listing fitted into the size asked for,
// always in the upper-case/graphics charset, the same picture as `kelvane thumbnail`.

#include <propsys.h>
#include <thumbcache.h>
#include <windows.h>

#include <atomic>
#include <string>

#include "common/bytes.h"
#include "shell/win32/module.h"

namespace kelvane::win {

#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wnon-virtual-dtor"

class TKvThumbnailProvider final : public IInitializeWithStream, public IThumbnailProvider {
 public:
  TKvThumbnailProvider() = default;

  STDMETHODIMP QueryInterface(REFIID iid, void** out) override;
  STDMETHODIMP_(ULONG) AddRef() override;
  STDMETHODIMP_(ULONG) Release() override;
  // Reads the stream (at most 16 MiB); E_FAIL when it cannot be read.
  STDMETHODIMP Initialize(IStream* stream, DWORD mode) override;
  // A top-down 32-bit DIB section; E_FAIL for data that is no readable image.
  STDMETHODIMP GetThumbnail(UINT size, HBITMAP* bitmap, WTS_ALPHATYPE* alpha) override;

 private:
  ~TKvThumbnailProvider() = default;
  LiveObject live_;
  std::atomic<ULONG> references_{1};
  bool initialised_ = false;
  Bytes data_;
  std::string detection_name_;
};

#pragma GCC diagnostic pop

}  // namespace kelvane::win
