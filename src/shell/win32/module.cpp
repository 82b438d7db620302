// The COM server: the module counters and the class factory.

#include "shell/win32/module.h"

#include <unknwn.h>
#include <windows.h>

#include <atomic>
#include <new>

#include "shell/win32/com_object.h"
#include "shell/win32/kelvane_clsid.h"
#include "shell/win32/preview_handler.h"
#include "shell/win32/property_handler.h"
#include "shell/win32/thumbnail_provider.h"

namespace kelvane::win {

namespace {

std::atomic<long> g_live_objects{0};
std::atomic<long> g_server_locks{0};
HINSTANCE g_instance = nullptr;
HBRUSH g_page_brush = nullptr;

// A new object of class T as interface `iid`; the object starts with one reference, which
// nobody taking it frees again.
template <class T>
HRESULT Create(REFIID iid, void** out) {
  auto* object = new (std::nothrow) T();
  if (object == nullptr) return E_OUTOFMEMORY;
  const HRESULT result = object->QueryInterface(iid, out);
  object->Release();
  return result;
}

// Makes preview handlers, thumbnail providers or property handlers.
class TKvClassFactory final : public TKvComObject<IClassFactory> {
 public:
  explicit TKvClassFactory(const CLSID& clsid) : clsid_(clsid) {}

  STDMETHODIMP CreateInstance(IUnknown* outer, REFIID iid, void** out) override {
    if (out == nullptr) return E_POINTER;
    *out = nullptr;
    if (outer != nullptr) return CLASS_E_NOAGGREGATION;
    try {
      if (clsid_ == kKvThumbnailProviderClsid) return Create<TKvThumbnailProvider>(iid, out);
      if (clsid_ == kKvPropertyHandlerClsid) return Create<TKvPropertyHandler>(iid, out);
      return Create<TKvPreviewHandler>(iid, out);
    } catch (...) {
      return E_FAIL;
    }
  }

  STDMETHODIMP LockServer(BOOL lock) override {
    ChangeServerLocks(lock != FALSE);
    return S_OK;
  }

 private:
  ~TKvClassFactory() override = default;
  LiveObject live_;
  CLSID clsid_;
};

}  // namespace

void AddLiveObject() {
  ++g_live_objects;
}
void RemoveLiveObject() {
  --g_live_objects;
}
void ChangeServerLocks(bool lock) {
  if (lock) {
    ++g_server_locks;
  } else {
    --g_server_locks;
  }
}
bool ModuleInUse() {
  return g_live_objects.load() != 0 || g_server_locks.load() != 0;
}

HINSTANCE ModuleInstance() {
  return g_instance;
}
void SetModuleInstance(HINSTANCE instance) {
  g_instance = instance;
}

HBRUSH PageBrush() {
  if (g_page_brush == nullptr) g_page_brush = ::CreateSolidBrush(RGB(42, 42, 42));
  return g_page_brush != nullptr ? g_page_brush
                                 : static_cast<HBRUSH>(::GetStockObject(BLACK_BRUSH));
}

void ModuleShutdown() {
  TKvPreviewHandler::UnregisterPreviewClass();
  if (g_page_brush != nullptr) {
    ::DeleteObject(g_page_brush);
    g_page_brush = nullptr;
  }
}

HRESULT KvGetClassObject(REFCLSID clsid, REFIID iid, void** out) {
  if (out == nullptr) return E_POINTER;
  *out = nullptr;
  if (clsid != kKvPreviewHandlerClsid && clsid != kKvThumbnailProviderClsid &&
      clsid != kKvPropertyHandlerClsid)
    return CLASS_E_CLASSNOTAVAILABLE;
  try {
    auto* factory = new (std::nothrow) TKvClassFactory(clsid);
    if (factory == nullptr) return E_OUTOFMEMORY;
    const HRESULT result = factory->QueryInterface(iid, out);
    factory->Release();
    return result;
  } catch (...) {
    return E_FAIL;
  }
}

}  // namespace kelvane::win
