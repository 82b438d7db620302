#pragma once

// The reference counting and QueryInterface of a COM object that implements one interface: it
// starts with one reference (taken over by its creator) and deletes itself on the last Release.

#include <unknwn.h>
#include <windows.h>

#include <atomic>

namespace kelvane::win {

#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wnon-virtual-dtor"
template <typename Interface>
class TKvComObject : public Interface {
 public:
  STDMETHODIMP QueryInterface(REFIID iid, void** out) override {
    if (out == nullptr) return E_POINTER;
    *out = nullptr;
    if (iid != IID_IUnknown && iid != __uuidof(Interface)) return E_NOINTERFACE;
    *out = static_cast<Interface*>(this);
    AddRef();
    return S_OK;
  }
  STDMETHODIMP_(ULONG) AddRef() override { return ++references_; }
  STDMETHODIMP_(ULONG) Release() override {
    const ULONG left = --references_;
    if (left == 0) delete this;
    return left;
  }

 protected:
  TKvComObject() = default;
  virtual ~TKvComObject() = default;

 private:
  std::atomic<ULONG> references_{1};
};
#pragma GCC diagnostic pop

}  // namespace kelvane::win
