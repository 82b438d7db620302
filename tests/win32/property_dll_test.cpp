// The property handler from the real DLL under Wine: its values against what the tool reports
// for the same images, the store's contract, and its use of memory over many calls.

#include <gtest/gtest.h>
#include <propsys.h>
#include <shlwapi.h>
#include <windows.h>

#include <cwchar>

#include "collect/properties.h"
#include "common/text.h"
#include "formats/gcr.h"
#include "registry/registry.h"
#include "shell/win32/kelvane_clsid.h"
#include "support/container_builder.h"
#include "support/disk_builder.h"
#include "win32/dll_fixture.h"

namespace kelvane::testing {
namespace {

using view::ComPtr;

constexpr IID kPropertyStoreIid = {
    0x886d8eeb, 0x8cf2, 0x4446, {0x8d, 0x02, 0xcd, 0xba, 0x1d, 0xbd, 0xcf, 0x99}};
constexpr GUID kSummary = {
    0xf29f85e0, 0x4ff9, 0x1068, {0xab, 0x91, 0x08, 0x00, 0x2b, 0x27, 0xb3, 0xd9}};
constexpr PROPERTYKEY kTitle{kSummary, 2}, kKeywords{kSummary, 5}, kComment{kSummary, 6};
constexpr PROPERTYKEY kContents{
    {0xb725f130, 0x47ef, 0x101a, {0xa5, 0xf1, 0x02, 0x60, 0x8c, 0x9e, 0xeb, 0xac}}, 19};
constexpr PROPERTYKEY kFileCount{
    {0x28636aa6, 0x953d, 0x11d2, {0xb5, 0xd6, 0x00, 0xc0, 0x4f, 0xd9, 0x18, 0xd0}}, 12};

// A handler given a stream of `bytes`, and how Initialize answered: a memory stream without a
// name, or with `name` the stream of a file of that name, as Explorer gives it.
ComPtr<IPropertyStore> StoreFor(const Bytes& bytes, HRESULT& initialised,
                                const std::string& name = "") {
  auto handler =
      NewDllObject<IInitializeWithStream>(kKvPropertyHandlerClsid, IID_IInitializeWithStream);
  ComPtr<IStream> stream = view::KvMemoryStream(bytes);
  const TempFolder folder("property");
  if (!name.empty()) {
    stream = nullptr;
    ::SHCreateStreamOnFileEx(WindowsPath(folder.Write(name, bytes)).c_str(), STGM_READ, 0, FALSE,
                             nullptr, stream.GetAddressOf());
  }
  initialised = handler->Initialize(stream.Get(), STGM_READ);
  ComPtr<IPropertyStore> store;
  handler->QueryInterface(kPropertyStoreIid, reinterpret_cast<void**>(store.GetAddressOf()));
  return store;
}

// A value as text: strings in UTF-8 (a vector's first one), numbers in decimal.
std::string Value(IPropertyStore* store, const PROPERTYKEY& key) {
  PROPVARIANT value;
  PropVariantInit(&value);
  EXPECT_EQ(store->GetValue(key, &value), S_OK);
  const wchar_t* wide = value.vt == VT_LPWSTR ? value.pwszVal : L"";
  if (value.vt == (VT_VECTOR | VT_LPWSTR) && value.calpwstr.cElems > 0)
    wide = value.calpwstr.pElems[0];
  std::string text(4 * std::wcslen(wide), '\0');
  text.resize(static_cast<std::size_t>(
      ::WideCharToMultiByte(CP_UTF8, 0, wide, static_cast<int>(std::wcslen(wide)), text.data(),
                            static_cast<int>(text.size()), nullptr, nullptr)));
  if (value.vt == VT_UI4) text = std::to_string(value.ulVal);
  ::PropVariantClear(&value);
  return text;
}

class PropertyDll : public DllTest {};

// Images of every readable format: the values are the library's for them.
TEST_F(PropertyDll, ValuesAreTheLibrarysForEveryFormat) {
  std::vector<std::pair<std::string, Bytes>> images;
  for (const char* name :
       {"cc1541.d64", "cc1541.d71", "cc1541.d81", "cbmconvert.d64", "cbmconvert.lnx", "cc1541.g64"})
    images.emplace_back(name, ReadTestFile(std::string("tests/data/") + name));
  images.insert(images.end(), {{".d80", BlankD80()},
                               {".d82", BlankD82()},
                               {".dfi", BlankDfi(2)},
                               {".dnp", DnpTreeImage()},
                               {".d81", D81PartitionImage()},
                               {".t64", BuildT64({{"TAPE FILE", 0x82, 0x801, {1}}})}});
  for (const auto& [name, bytes] : images) {
    HRESULT initialised = E_FAIL;
    const ComPtr<IPropertyStore> store = StoreFor(bytes, initialised, "image" + name);
    ASSERT_EQ(initialised, S_OK) << name;
    const bool gcr = DkEndsWithNoCase(name, ".g64");
    const auto image = DkOpenImage(gcr ? DkGcrImageToD64(bytes, ".g64").ImageBytes : bytes,
                                   gcr ? ".d64" : name, false);
    const TDkImageProperties expected = DkImageProperties(*image);
    EXPECT_EQ(Value(store.Get(), kTitle), expected.Title) << name;
    EXPECT_EQ(Value(store.Get(), kKeywords), expected.Keywords);
    EXPECT_EQ(Value(store.Get(), kComment), expected.Comment);
    EXPECT_EQ(Value(store.Get(), kContents), expected.Contents);
    EXPECT_EQ(Value(store.Get(), kFileCount), std::to_string(image->Entries().size()));
  }
}

TEST_F(PropertyDll, ReadOnlyStoreOfExactlyItsKeys) {
  HRESULT initialised = E_FAIL;
  const ComPtr<IPropertyStore> store = StoreFor(DnpTreeImage(), initialised, "tree.dnp");
  ASSERT_EQ(initialised, S_OK);
  DWORD count = 0;
  ASSERT_EQ(store->GetCount(&count), S_OK);
  ASSERT_EQ(count, 5u);
  const PROPERTYKEY keys[] = {kTitle, kKeywords, kComment, kContents, kFileCount};
  PROPERTYKEY key{};
  for (DWORD i = 0; i < 5; ++i) {
    EXPECT_EQ(store->GetAt(i, &key), S_OK);
    EXPECT_TRUE(key.fmtid == keys[i].fmtid && key.pid == keys[i].pid) << i;
  }
  EXPECT_TRUE(FAILED(store->GetAt(5, &key)));
  PROPVARIANT value;
  PropVariantInit(&value);
  EXPECT_EQ(store->SetValue(kTitle, value), STG_E_ACCESSDENIED);
  EXPECT_EQ(store->Commit(), STG_E_ACCESSDENIED);

  ComPtr<IInitializeWithStream> again;
  store->QueryInterface(IID_IInitializeWithStream, reinterpret_cast<void**>(again.GetAddressOf()));
  EXPECT_EQ(again->Initialize(view::KvMemoryStream(DnpTreeImage()).Get(), STGM_READ),
            HRESULT_FROM_WIN32(ERROR_ALREADY_INITIALIZED));
  // No image: refused; a damaged directory: what could be read.
  StoreFor(PatternBytes(100000, 3), initialised);
  EXPECT_EQ(initialised, HRESULT_FROM_WIN32(ERROR_BAD_FORMAT));
  Bytes damaged = D64WithEntries(20);
  SectorEditor(damaged, D64Offset).Link(18, 1, 99, 0);
  EXPECT_EQ(Value(StoreFor(damaged, initialised).Get(), kFileCount), "8");
}

TEST_F(PropertyDll, ManyStoresKeepGdiAndHeapFlat) {
  const Bytes disk = D64WithEntries(40);
  HRESULT initialised = E_FAIL;
  const auto cycle = [&] { EXPECT_EQ(Value(StoreFor(disk, initialised).Get(), kFileCount), "40"); };
  for (int k = 0; k < 20; ++k) cycle();
  const int gdi = GdiObjectsInUse();
  const std::size_t heap = HeapBytesInUse();
  for (int k = 0; k < 500; ++k) cycle();
  EXPECT_EQ(GdiObjectsInUse(), gdi);
  EXPECT_LT(HeapBytesInUse(), heap + 64 * 1024);
}

}  // namespace
}  // namespace kelvane::testing
