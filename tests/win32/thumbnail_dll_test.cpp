// Explorer's thumbnails from the real DLL under Wine: the thumbnail provider's pixels against
// the library's thumbnail, its result codes, streams that give none, and GDI use over many calls.

#include <gtest/gtest.h>
#include <propsys.h>
#include <thumbcache.h>
#include <windows.h>

#include <vector>

#include "formats/gcr.h"
#include "render/thumbnail.h"
#include "shell/win32/kelvane_clsid.h"
#include "support/disk_builder.h"
#include "win32/dll_fixture.h"

namespace kelvane::testing {
namespace {

using view::ComPtr;

constexpr IID kThumbnailProviderIid = {
    0xe357fccd, 0xa995, 0x4576, {0xb0, 0x1f, 0x23, 0x46, 0x30, 0x15, 0x4e, 0x96}};

// A provider initialised with a memory stream of `bytes` (whose Stat has no name, as Explorer's
// thumbnail streams may not); `initialised` tells how Initialize answered.
ComPtr<IInitializeWithStream> ProviderFor(const Bytes& bytes, HRESULT* initialised = nullptr) {
  auto provider =
      NewDllObject<IInitializeWithStream>(kKvThumbnailProviderClsid, IID_IInitializeWithStream);
  const HRESULT result = provider->Initialize(view::KvMemoryStream(bytes).Get(), STGM_READ);
  if (initialised != nullptr) *initialised = result;
  return provider;
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
    if (::GetObjectW(bitmap, sizeof(section), &section) == sizeof(section) &&
        section.dsBm.bmBitsPixel == 32) {
      // The bits in memory order: equal to the top-down picture only if the section is top-down.
      out.image.Width = section.dsBm.bmWidth;
      out.image.Height = section.dsBm.bmHeight;
      const auto* bits = static_cast<const std::uint8_t*>(section.dsBm.bmBits);
      out.image.Pixels.assign(
          bits, bits + static_cast<std::size_t>(out.image.Width) * out.image.Height * 4);
    }
    ::DeleteObject(bitmap);
  }
  return out;
}

class ThumbnailDll : public DllTest {};

// Always in the upper-case/graphics charset, whatever the preview's setting: Windows keeps a
// thumbnail until the file changes. A G64 is shown through its D64.
TEST_F(ThumbnailDll, PixelsAreTheLibrarysThumbnailAtEverySize) {
  const Bytes disk = D64WithEntries(30);
  const Bytes g64 = ReadTestFile("tests/data/cc1541.g64");
  SetCharsetSetting(1);
  struct Case {
    const Bytes& file;
    Bytes shown;
    UINT size;
  };
  for (const Case& c : {Case{disk, disk, 32}, Case{disk, disk, 256}, Case{disk, disk, 1024},
                        Case{g64, DkGcrImageToD64(g64, ".g64").ImageBytes, 96}}) {
    const Thumbnail got = ThumbnailOf(ProviderFor(c.file).Get(), c.size);
    ASSERT_EQ(got.result, S_OK) << c.size;
    EXPECT_EQ(got.alpha, WTSAT_RGB);
    TDkRenderImage expected;
    ASSERT_TRUE(
        DkRenderThumbnail(c.shown, ".d64", static_cast<int>(c.size), csUpperGraphics, expected));
    EXPECT_EQ(got.image.Width, expected.Width) << c.size;
    EXPECT_EQ(got.image.Height, expected.Height) << c.size;
    EXPECT_EQ(DifferingPixels(got.image.Pixels, expected.Pixels, expected.Width), 0) << c.size;
  }
}

TEST_F(ThumbnailDll, ResultCodesAndStreamsThatGiveNoThumbnail) {
  auto provider =
      NewDllObject<IInitializeWithStream>(kKvThumbnailProviderClsid, IID_IInitializeWithStream);
  EXPECT_EQ(provider->Initialize(nullptr, STGM_READ), E_INVALIDARG);
  EXPECT_EQ(ThumbnailOf(provider.Get(), 96).result, E_FAIL);  // not initialised
  ASSERT_EQ(provider->Initialize(view::KvMemoryStream(D64WithEntries(3)).Get(), STGM_READ), S_OK);
  EXPECT_EQ(provider->Initialize(view::KvMemoryStream(D64WithEntries(3)).Get(), STGM_READ),
            HRESULT_FROM_WIN32(ERROR_ALREADY_INITIALIZED));

  // A stream over 16 MiB is not read; an empty one or one of noise gives no thumbnail.
  HRESULT initialised = S_OK;
  EXPECT_EQ(ThumbnailOf(ProviderFor(Bytes(16 * 1024 * 1024 + 1, 0), &initialised).Get(), 96).result,
            E_FAIL);
  EXPECT_TRUE(FAILED(initialised));
  EXPECT_EQ(ThumbnailOf(ProviderFor(Bytes()).Get(), 96).result, E_FAIL);
  EXPECT_EQ(ThumbnailOf(ProviderFor(PatternBytes(100000, 7)).Get(), 96).result, E_FAIL);
}

TEST_F(ThumbnailDll, ManyThumbnailsKeepTheGdiObjectCountFlat) {
  const Bytes disk = D64WithEntries(20);
  const auto cycle = [&] {
    EXPECT_EQ(ThumbnailOf(ProviderFor(disk).Get(), 64).result, S_OK);
    EXPECT_EQ(ThumbnailOf(ProviderFor(Bytes(5000, 1)).Get(), 64).result, E_FAIL);
  };
  for (int k = 0; k < 10; ++k) cycle();
  const int before = GdiObjectsInUse();
  for (int k = 0; k < 500; ++k) cycle();
  EXPECT_EQ(GdiObjectsInUse(), before);
}

}  // namespace
}  // namespace kelvane::testing
