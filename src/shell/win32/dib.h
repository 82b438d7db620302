#pragma once

// The bitmap header of a top-down 32-bit DIB (blue, green, red, alpha; rows from the top), the
// layout of every picture the preview, its host and the thumbnails hand to GDI.

#include <windows.h>

namespace kelvane::win {

inline BITMAPINFO KvTopDownInfo(int width, int height) {
  BITMAPINFO info{};
  info.bmiHeader.biSize = sizeof(info.bmiHeader);
  info.bmiHeader.biWidth = width;
  info.bmiHeader.biHeight = -height;
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = 32;
  info.bmiHeader.biCompression = BI_RGB;
  return info;
}

}  // namespace kelvane::win
