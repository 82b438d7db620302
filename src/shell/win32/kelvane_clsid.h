#pragma once

// The class identifiers under which the installer registers the preview handler,
// {c1ca61c5-f30b-4bde-9457-ff81a9e316d4}, and the thumbnail provider,
// {e17eed19-37b8-4991-b543-d557fc76c06d}, and the property handler,
// {92d182a1-ba99-437b-9686-6f51c26a95fe}.

#include <windows.h>

namespace kelvane {

inline constexpr CLSID kKvPreviewHandlerClsid = {
    0xc1ca61c5, 0xf30b, 0x4bde, {0x94, 0x57, 0xff, 0x81, 0xa9, 0xe3, 0x16, 0xd4}};

inline constexpr CLSID kKvThumbnailProviderClsid = {
    0xe17eed19, 0x37b8, 0x4991, {0xb5, 0x43, 0xd5, 0x57, 0xfc, 0x76, 0xc0, 0x6d}};

inline constexpr CLSID kKvPropertyHandlerClsid = {
    0x92d182a1, 0xba99, 0x437b, {0x96, 0x86, 0x6f, 0x51, 0xc2, 0x6a, 0x95, 0xfe}};

}  // namespace kelvane
