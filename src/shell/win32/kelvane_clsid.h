#pragma once

// The class identifier under which the installer registers the preview handler.
// {c1ca61c5-f30b-4bde-9457-ff81a9e316d4}

#include <windows.h>

namespace kelvane {

inline constexpr CLSID kKvPreviewHandlerClsid = {
    0xc1ca61c5, 0xf30b, 0x4bde, {0x94, 0x57, 0xff, 0x81, 0xa9, 0xe3, 0x16, 0xd4}};

}  // namespace kelvane
