// Explorer's thumbnails from the real DLL under Wine: the thumbnail provider's pixels against
// the library's thumbnail, its result codes, bad streams, and GDI use over many calls.

#include <gtest/gtest.h>
#include <propsys.h>
#include <shlwapi.h>
#include <thumbcache.h>
#include <windows.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <filesystem>
#include <random>
#include <vector>

#include "formats/gcr.h"
#include "render/thumbnail.h"
#include "shell/win32/com_object.h"
#include "shell/win32/kelvane_clsid.h"
#include "support/disk_builder.h"
#include "win32/preview_expect.h"

namespace kelvane::testing {
namespace {

using view::ComPtr;

constexpr IID kThumbnailProviderIid = {
    0xe357fccd, 0xa995, 0x4576, {0xb0, 0x1f, 0x23, 0x46, 0x30, 0x15, 0x4e, 0x96}};

ComPtr<IInitializeWithStream> NewProvider() {
  using GetClassObjectFn = HRESULT(STDAPICALLTYPE*)(REFCLSID, REFIID, void**);
  const auto get = reinterpret_cast<GetClassObjectFn>(
      reinterpret_cast<void*>(::GetProcAddress(SharedHost().Module(), "DllGetClassObject")));
  ComPtr<IClassFactory> factory;
  EXPECT_EQ(get(kKvThumbnailProviderClsid, IID_IClassFactory,
                reinterpret_cast<void**>(factory.GetAddressOf())),
            S_OK);
  ComPtr<IInitializeWithStream> provider;
  if (factory) {
    EXPECT_EQ(factory->CreateInstance(nullptr, IID_IInitializeWithStream,
                                      reinterpret_cast<void**>(provider.GetAddressOf())),
              S_OK);
  }
  return provider;
}

// A stream over `bytes` that reports `name` from Stat (none when empty) and fails every Read
// after `good_reads` successful ones (never when negative).
class TestStream final : public win::TKvComObject<IStream> {
 public:
  TestStream(Bytes bytes, std::wstring name, int good_reads = -1)
      : bytes_(std::move(bytes)), name_(std::move(name)), good_reads_(good_reads) {}
  STDMETHODIMP QueryInterface(REFIID iid, void** out) override {
    if (iid == IID_ISequentialStream) {
      *out = static_cast<ISequentialStream*>(this);
      AddRef();
      return S_OK;
    }
    return TKvComObject::QueryInterface(iid, out);
  }
  STDMETHODIMP Read(void* to, ULONG count, ULONG* read) override {
    if (good_reads_ == 0) return E_FAIL;
    if (good_reads_ > 0) --good_reads_;
    const std::size_t n =
        std::min<std::size_t>(count, std::min<std::size_t>(bytes_.size() - at_, 1000));
    std::memcpy(to, bytes_.data() + at_, n);
    at_ += n;
    if (read != nullptr) *read = static_cast<ULONG>(n);
    return S_OK;
  }
  STDMETHODIMP Write(const void*, ULONG, ULONG*) override { return E_NOTIMPL; }
  STDMETHODIMP Seek(LARGE_INTEGER move, DWORD origin, ULARGE_INTEGER* position) override {
    if (origin == STREAM_SEEK_SET) at_ = std::min<std::size_t>(move.QuadPart, bytes_.size());
    if (position != nullptr) position->QuadPart = at_;
    return S_OK;
  }
  STDMETHODIMP SetSize(ULARGE_INTEGER) override { return E_NOTIMPL; }
  STDMETHODIMP CopyTo(IStream*, ULARGE_INTEGER, ULARGE_INTEGER*, ULARGE_INTEGER*) override {
    return E_NOTIMPL;
  }
  STDMETHODIMP Commit(DWORD) override { return E_NOTIMPL; }
  STDMETHODIMP Revert() override { return E_NOTIMPL; }
  STDMETHODIMP LockRegion(ULARGE_INTEGER, ULARGE_INTEGER, DWORD) override { return E_NOTIMPL; }
  STDMETHODIMP UnlockRegion(ULARGE_INTEGER, ULARGE_INTEGER, DWORD) override { return E_NOTIMPL; }
  STDMETHODIMP Stat(STATSTG* stat, DWORD) override {
    *stat = STATSTG{};
    stat->type = STGTY_STREAM;
    stat->cbSize.QuadPart = bytes_.size();
    if (!name_.empty()) {
      const std::size_t size = (name_.size() + 1) * sizeof(wchar_t);
      stat->pwcsName = static_cast<wchar_t*>(::CoTaskMemAlloc(size));
      std::memcpy(stat->pwcsName, name_.c_str(), size);
    }
    return S_OK;
  }
  STDMETHODIMP Clone(IStream**) override { return E_NOTIMPL; }

 private:
  ~TestStream() override = default;
  Bytes bytes_;
  std::wstring name_;
  int good_reads_;
  std::size_t at_ = 0;
};

ComPtr<IStream> StreamOf(Bytes bytes, std::wstring name = L"", int good_reads = -1) {
  return view::Adopt<IStream>(new TestStream(std::move(bytes), std::move(name), good_reads));
}

// GetThumbnail's result and, on success, the bitmap's pixels (deleted again).
struct Thumbnail {
  HRESULT result = E_FAIL;
  WTS_ALPHATYPE alpha = WTSAT_UNKNOWN;
  TDkRenderImage image;
};

Thumbnail ThumbnailOf(IInitializeWithStream* provider, UINT size) {
  ComPtr<IThumbnailProvider> thumbnails;
  Thumbnail out;
  if (FAILED(provider->QueryInterface(kThumbnailProviderIid,
                                      reinterpret_cast<void**>(thumbnails.GetAddressOf())))) {
    return out;
  }
  HBITMAP bitmap = nullptr;
  out.result = thumbnails->GetThumbnail(size, &bitmap, &out.alpha);
  if (bitmap != nullptr) {
    DIBSECTION section{};
    if (::GetObjectW(bitmap, sizeof(section), &section) == sizeof(section)) {
      out.image.Width = section.dsBm.bmWidth;
      // The bits in memory order: equal to the top-down picture only if the section is top-down.
      out.image.Height = section.dsBm.bmHeight;
      EXPECT_EQ(section.dsBm.bmBitsPixel, 32);
      const auto* bits = static_cast<const std::uint8_t*>(section.dsBm.bmBits);
      out.image.Pixels.assign(
          bits, bits + static_cast<std::size_t>(out.image.Width) * out.image.Height * 4);
    }
    ::DeleteObject(bitmap);
  }
  return out;
}

class ThumbnailDll : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(SharedHost().Ok());
    DeleteCharsetSetting();
  }
  void TearDown() override { DeleteCharsetSetting(); }
};

// Always in the upper-case/graphics charset, whatever the preview's setting: Windows keeps a
// thumbnail until the file changes.
TEST_F(ThumbnailDll, PixelsAreTheLibrarysThumbnailAtEverySize) {
  const Bytes disk = D64WithEntries(30);
  for (const DWORD setting : {0u, 1u}) {
    SetCharsetSetting(setting);
    for (const UINT size : {32u, 96u, 256u, 1024u}) {
      const auto provider = NewProvider();
      ASSERT_EQ(provider->Initialize(StreamOf(disk, L"games.d64").Get(), STGM_READ), S_OK);
      const Thumbnail got = ThumbnailOf(provider.Get(), size);
      ASSERT_EQ(got.result, S_OK) << size;
      EXPECT_EQ(got.alpha, WTSAT_RGB);
      TDkRenderImage expected;
      ASSERT_TRUE(
          DkRenderThumbnail(disk, ".d64", static_cast<int>(size), csUpperGraphics, expected));
      EXPECT_EQ(got.image.Width, expected.Width) << size;
      EXPECT_EQ(got.image.Height, expected.Height) << size;
      EXPECT_EQ(DifferingPixels(got.image.Pixels, expected.Pixels, expected.Width), 0) << size;
      EXPECT_TRUE(expected.Width == static_cast<int>(size) ||
                  expected.Height == static_cast<int>(size));
    }
  }
  // A G64 in a stream without a name is known by its signature and shown through its D64.
  const Bytes g64 = ReadTestFile("tests/data/cc1541.g64");
  const auto provider = NewProvider();
  ASSERT_EQ(provider->Initialize(StreamOf(g64).Get(), STGM_READ), S_OK);
  const Thumbnail got = ThumbnailOf(provider.Get(), 96);
  ASSERT_EQ(got.result, S_OK);
  TDkRenderImage expected;
  ASSERT_TRUE(DkRenderThumbnail(DkGcrImageToD64(g64, ".g64").ImageBytes, ".d64", 96,
                                csUpperGraphics, expected));
  EXPECT_EQ(DifferingPixels(got.image.Pixels, expected.Pixels, expected.Width), 0);
}

TEST_F(ThumbnailDll, ResultCodesAndStreamsThatGiveNoThumbnail) {
  const auto provider = NewProvider();
  EXPECT_EQ(provider->Initialize(nullptr, STGM_READ), E_INVALIDARG);
  EXPECT_EQ(ThumbnailOf(provider.Get(), 96).result, E_FAIL);  // not initialised
  ASSERT_EQ(provider->Initialize(StreamOf(D64WithEntries(3), L"a.d64").Get(), STGM_READ), S_OK);
  EXPECT_EQ(provider->Initialize(StreamOf(D64WithEntries(3), L"a.d64").Get(), STGM_READ),
            static_cast<HRESULT>(0x800704DF));
  EXPECT_EQ(ThumbnailOf(provider.Get(), 0).result, E_FAIL);

  std::mt19937 random(7);
  Bytes noise(100000);  // a size no image format has
  for (auto& byte : noise) byte = static_cast<std::uint8_t>(random());
  struct Case {
    const char* what;
    ComPtr<IStream> stream;
    bool initialises;
  };
  const std::vector<Case> cases = {
      {"over 16 MiB", StreamOf(Bytes(16 * 1024 * 1024 + 1, 0), L"big.d64"), false},
      {"over 16 MiB without a size", view::KvMemoryStream(Bytes(16 * 1024 * 1024 + 1, 0)), false},
      {"a read failing half-way", StreamOf(D64WithEntries(3), L"a.d64", 50), false},
      {"empty", StreamOf(Bytes(), L"e.d64"), true},
      {"random bytes", StreamOf(noise, L"r.d64"), true},
      {"random bytes without a name", StreamOf(noise), true},
  };
  for (const Case& c : cases) {
    const auto fresh = NewProvider();
    const HRESULT init = fresh->Initialize(c.stream.Get(), STGM_READ);
    EXPECT_EQ(SUCCEEDED(init), c.initialises) << c.what;
    EXPECT_EQ(ThumbnailOf(fresh.Get(), 96).result, E_FAIL) << c.what;
  }
}

TEST_F(ThumbnailDll, ManyThumbnailsKeepTheGdiObjectCountFlat) {
  const Bytes disk = D64WithEntries(20);
  const auto cycle = [&] {
    const auto provider = NewProvider();
    provider->Initialize(StreamOf(disk, L"x.d64").Get(), STGM_READ);
    EXPECT_EQ(ThumbnailOf(provider.Get(), 64).result, S_OK);
    const auto broken = NewProvider();
    broken->Initialize(StreamOf(Bytes(5000, 1), L"y.d64").Get(), STGM_READ);
    EXPECT_EQ(ThumbnailOf(broken.Get(), 64).result, E_FAIL);
  };
  for (int k = 0; k < 10; ++k) cycle();
  const int before = GdiObjectsInUse();
  for (int k = 0; k < 500; ++k) cycle();
  EXPECT_EQ(GdiObjectsInUse(), before);
}

TEST_F(ThumbnailDll, EveryTestImageAndSavedFuzzInputThumbnailsWithoutACrash) {
  int made = 0;
  const auto thumbnail = [&](const Bytes& bytes, const std::wstring& name) {
    const auto provider = NewProvider();
    if (SUCCEEDED(provider->Initialize(StreamOf(bytes, name).Get(), STGM_READ))) {
      const Thumbnail got = ThumbnailOf(provider.Get(), 128);
      EXPECT_TRUE(got.result == S_OK || got.result == E_FAIL);
      if (got.result == S_OK) {
        EXPECT_GT(got.image.Width, 0);
      }
    }
    ++made;
  };
  for (const auto& file : std::filesystem::recursive_directory_iterator("tests/data")) {
    if (file.is_regular_file()) {
      thumbnail(ReadTestFile(file.path().string()), file.path().filename().wstring());
    }
  }
  for (const auto& folder : std::filesystem::directory_iterator("fuzz/corpus")) {
    for (const auto& file : std::filesystem::directory_iterator(folder.path())) {
      thumbnail(ReadTestFile(file.path().string()), L"");
    }
  }
  EXPECT_GT(made, 1000);
}

}  // namespace
}  // namespace kelvane::testing
