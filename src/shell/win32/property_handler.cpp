#include "shell/win32/property_handler.h"

#include <propvarutil.h>

#include <string>

#include "collect/properties.h"
#include "common/exception.h"
#include "registry/registry.h"
#include "shell/win32/item_bytes.h"

namespace kelvane::win {

namespace {

// The keys given (System.Title, System.Keywords, System.Comment, System.Search.Contents,
// System.FileCount) and the interfaces mingw-w64 declares without a library defining them.
constexpr PROPERTYKEY kTitle = {
    {0xf29f85e0, 0x4ff9, 0x1068, {0xab, 0x91, 0x08, 0x00, 0x2b, 0x27, 0xb3, 0xd9}}, 2};
constexpr PROPERTYKEY kKeywords = {
    {0xf29f85e0, 0x4ff9, 0x1068, {0xab, 0x91, 0x08, 0x00, 0x2b, 0x27, 0xb3, 0xd9}}, 5};
constexpr PROPERTYKEY kComment = {
    {0xf29f85e0, 0x4ff9, 0x1068, {0xab, 0x91, 0x08, 0x00, 0x2b, 0x27, 0xb3, 0xd9}}, 6};
constexpr PROPERTYKEY kSearchContents = {
    {0xb725f130, 0x47ef, 0x101a, {0xa5, 0xf1, 0x02, 0x60, 0x8c, 0x9e, 0xeb, 0xac}}, 19};
constexpr PROPERTYKEY kFileCount = {
    {0x28636aa6, 0x953d, 0x11d2, {0xb5, 0xd6, 0x00, 0xc0, 0x4f, 0xd9, 0x18, 0xd0}}, 12};
constexpr IID kPropertyStoreIid = {
    0x886d8eeb, 0x8cf2, 0x4446, {0x8d, 0x02, 0xcd, 0xba, 0x1d, 0xbd, 0xcf, 0x99}};
constexpr IID kPropertyStoreCapabilitiesIid = {
    0xc8e2d566, 0x186e, 0x4d49, {0xbf, 0x41, 0x69, 0x09, 0xea, 0xd5, 0x6a, 0xcc}};

bool SameKey(const PROPERTYKEY& a, const PROPERTYKEY& b) {
  return a.fmtid == b.fmtid && a.pid == b.pid;
}

// UTF-8 as a task-allocated wide string (the caller's PROPVARIANT owns it).
LPWSTR TaskText(const std::string& text) {
  const int length =
      ::MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
  auto* wide = static_cast<LPWSTR>(::CoTaskMemAlloc((static_cast<std::size_t>(length) + 1) * 2));
  if (wide == nullptr) throw std::bad_alloc();
  ::MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), wide, length);
  wide[length] = L'\0';
  return wide;
}

PROPVARIANT Text(const std::string& text) {
  PROPVARIANT value;
  PropVariantInit(&value);
  value.vt = VT_LPWSTR;
  value.pwszVal = TaskText(text);
  return value;
}

}  // namespace

TKvPropertyHandler::~TKvPropertyHandler() {
  for (auto& [key, value] : values_) ::PropVariantClear(&value);
}

STDMETHODIMP TKvPropertyHandler::QueryInterface(REFIID iid, void** out) {
  if (out == nullptr) return E_POINTER;
  *out = nullptr;
  if (iid == IID_IUnknown || iid == IID_IInitializeWithStream) {
    *out = static_cast<IInitializeWithStream*>(this);
  } else if (iid == kPropertyStoreIid) {
    *out = static_cast<IPropertyStore*>(this);
  } else if (iid == kPropertyStoreCapabilitiesIid) {
    *out = static_cast<IPropertyStoreCapabilities*>(this);
  } else {
    return E_NOINTERFACE;
  }
  AddRef();
  return S_OK;
}

STDMETHODIMP_(ULONG) TKvPropertyHandler::AddRef() {
  return ++references_;
}

STDMETHODIMP_(ULONG) TKvPropertyHandler::Release() {
  const ULONG left = --references_;
  if (left == 0) delete this;
  return left;
}

STDMETHODIMP TKvPropertyHandler::Initialize(IStream* stream, DWORD) {
  if (stream == nullptr) return E_INVALIDARG;
  if (initialised_) return HRESULT_FROM_WIN32(ERROR_ALREADY_INITIALIZED);
  try {
    Bytes data;
    std::string detection;
    bool too_large = false;
    if (!KvReadInitStream(stream, data, detection, too_large))
      return too_large ? HRESULT_FROM_WIN32(ERROR_BAD_FORMAT) : E_FAIL;
    TDkImageProperties found;
    try {
      KvApplyGcrStep(data, detection);
      // A damaged directory gives what could be read.
      found = DkImageProperties(*DkOpenImage(TDkImageBytes::Borrow(data), detection, true));
    } catch (const Exception&) {
      return HRESULT_FROM_WIN32(ERROR_BAD_FORMAT);
    }
    PROPVARIANT keywords;
    PropVariantInit(&keywords);
    keywords.vt = VT_VECTOR | VT_LPWSTR;
    keywords.calpwstr.pElems = static_cast<LPWSTR*>(::CoTaskMemAlloc(sizeof(LPWSTR)));
    if (keywords.calpwstr.pElems == nullptr) return E_OUTOFMEMORY;
    keywords.calpwstr.pElems[0] = TaskText(found.Keywords);
    keywords.calpwstr.cElems = 1;
    PROPVARIANT count;
    PropVariantInit(&count);
    count.vt = VT_UI4;
    count.ulVal = found.FileCount;
    values_ = {{kTitle, Text(found.Title)},
               {kKeywords, keywords},
               {kComment, Text(found.Comment)},
               {kSearchContents, Text(found.Contents)},
               {kFileCount, count}};
    initialised_ = true;
    return S_OK;
  } catch (...) {
    return E_FAIL;
  }
}

STDMETHODIMP TKvPropertyHandler::GetCount(DWORD* count) {
  if (count == nullptr) return E_POINTER;
  *count = static_cast<DWORD>(values_.size());
  return S_OK;
}

STDMETHODIMP TKvPropertyHandler::GetAt(DWORD index, PROPERTYKEY* key) {
  if (key == nullptr) return E_POINTER;
  if (index >= values_.size()) return E_INVALIDARG;
  *key = values_[index].first;
  return S_OK;
}

STDMETHODIMP TKvPropertyHandler::GetValue(REFPROPERTYKEY key, PROPVARIANT* value) {
  if (value == nullptr) return E_POINTER;
  PropVariantInit(value);
  for (const auto& [given, stored] : values_) {
    if (SameKey(given, key)) return ::PropVariantCopy(value, &stored);
  }
  return S_OK;
}

STDMETHODIMP TKvPropertyHandler::SetValue(REFPROPERTYKEY, REFPROPVARIANT) {
  return STG_E_ACCESSDENIED;
}

STDMETHODIMP TKvPropertyHandler::Commit() {
  return STG_E_ACCESSDENIED;
}

STDMETHODIMP TKvPropertyHandler::IsPropertyWritable(REFPROPERTYKEY) {
  return S_FALSE;
}

}  // namespace kelvane::win
