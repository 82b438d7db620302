#pragma once

// Explorer's Details pane, tooltips and details columns, and Windows Search: the disk's name,
// id, a one-line summary and the names of every file on it, read once from the directory when
// the handler is given the file's stream. Read-only.

#include <propsys.h>
#include <windows.h>

#include <atomic>
#include <utility>
#include <vector>

#include "shell/win32/module.h"

namespace kelvane::win {

#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wnon-virtual-dtor"

class TKvPropertyHandler final : public IInitializeWithStream,
                                 public IPropertyStore,
                                 public IPropertyStoreCapabilities {
 public:
  TKvPropertyHandler() = default;

  STDMETHODIMP QueryInterface(REFIID iid, void** out) override;
  STDMETHODIMP_(ULONG) AddRef() override;
  STDMETHODIMP_(ULONG) Release() override;
  // Reads the stream (at most 16 MiB) and the directory; a stream that holds no image the
  // library reads fails with ERROR_BAD_FORMAT, a second call with ERROR_ALREADY_INITIALIZED.
  STDMETHODIMP Initialize(IStream* stream, DWORD mode) override;

  STDMETHODIMP GetCount(DWORD* count) override;
  STDMETHODIMP GetAt(DWORD index, PROPERTYKEY* key) override;
  // A key not given reads as VT_EMPTY.
  STDMETHODIMP GetValue(REFPROPERTYKEY key, PROPVARIANT* value) override;
  // STG_E_ACCESSDENIED: nothing is written through the handler.
  STDMETHODIMP SetValue(REFPROPERTYKEY key, REFPROPVARIANT value) override;
  STDMETHODIMP Commit() override;
  // S_FALSE for every key.
  STDMETHODIMP IsPropertyWritable(REFPROPERTYKEY key) override;

 private:
  ~TKvPropertyHandler();
  LiveObject live_;
  std::atomic<ULONG> references_{1};
  bool initialised_ = false;
  std::vector<std::pair<PROPERTYKEY, PROPVARIANT>> values_;
};

#pragma GCC diagnostic pop

}  // namespace kelvane::win
