#include "shell/preview_paint.h"

#include <algorithm>

namespace kelvane {

namespace {

void PutColor(std::uint8_t* pixel, std::uint32_t color) {
  pixel[0] = static_cast<std::uint8_t>(color >> 16);  // blue
  pixel[1] = static_cast<std::uint8_t>(color >> 8);   // green
  pixel[2] = static_cast<std::uint8_t>(color);        // red
  pixel[3] = 255;
}

// The corner centre along one axis for coordinate v of a box `size` long, or -1 for none.
int CornerCentre(int v, int size, int r) {
  if (v < r) return r;
  if (v >= size - r) return size - r;
  return -1;
}

}  // namespace

int KvEffectiveDpi(int dpi) {
  return dpi > 0 ? dpi : 96;
}

int KvScaled(int value, int dpi) {
  return (value * KvEffectiveDpi(dpi) + 48) / 96;
}

int KvScaleFromDpi(int dpi) {
  return std::max(1, KvScaled(16, dpi) / 8);
}

int KvBannerHeight(bool has_banner, int dpi) {
  return has_banner ? KvScaled(22, dpi) : 0;
}

int KvRowsNeeded(int scroll, int client_height, int row_height) {
  if (row_height < 1) return 1;
  const long long span = static_cast<long long>(scroll) + client_height + row_height - 1;
  return static_cast<int>(std::max<long long>(1, span / row_height));
}

int KvLargestScroll(int image_height, int view_height) {
  return std::max(0, image_height - view_height);
}

TKvRect KvButtonRect(int pane_width, int row_height, int dpi) {
  const int right = pane_width - KvScaled(8, dpi);
  const int left = right - (row_height + 2 * KvScaled(6, dpi));
  return TKvRect{std::max(0, left), 0, std::max(0, right), row_height};
}

int KvButtonStroke(int dpi) {
  return std::max(1, KvScaled(1, dpi));
}

int KvButtonRadius(int dpi) {
  return KvScaled(3, dpi);
}

bool KvButtonDrawable(const TKvRect& rect, int stroke, int icon_size) {
  return 2 * stroke < rect.Width() && 2 * stroke < rect.Height() && icon_size > 0 &&
         icon_size <= rect.Width();
}

bool KvInsideRoundedRect(int x, int y, int w, int h, int r) {
  const int column = CornerCentre(x, w, r);
  const int row = CornerCentre(y, h, r);
  if (column < 0 || row < 0) return true;
  const long long dx = 2LL * x + 1 - 2LL * column;
  const long long dy = 2LL * y + 1 - 2LL * row;
  return dx * dx + dy * dy <= 4LL * r * r;
}

int KvBlend(int a, int b, int k) {
  return (a * k + b * (255 - k)) / 255;
}

bool KvTintSelectedRows(const TDkRenderImage& image, int scroll, int visible_height,
                        const TKvSelection& selection, int row_height, bool focused,
                        Bytes& scratch) {
  if (row_height < 1 || visible_height < 1 || image.Width < 1 || scroll < 0 ||
      static_cast<long long>(scroll) + visible_height > image.Height) {
    return false;
  }
  const std::size_t stride = static_cast<std::size_t>(image.Width) * 4;
  const std::uint32_t fill = focused ? kKvSelectionFocused : kKvSelectionUnfocused;
  bool copied = false;
  const int first_row = scroll / row_height;
  const int last_row = (scroll + visible_height - 1) / row_height;
  for (int r = std::max(1, first_row); r <= last_row; ++r) {
    if (!IsSelected(selection, r - 1)) continue;
    if (!copied) {
      const auto begin = image.Pixels.begin() + static_cast<std::ptrdiff_t>(scroll * stride);
      scratch.assign(begin, begin + static_cast<std::ptrdiff_t>(visible_height * stride));
      copied = true;
    }
    const int top = std::max(0, r * row_height - scroll);
    const int bottom = std::min(visible_height, r * row_height - scroll + row_height);
    for (std::size_t i = top * stride; i < bottom * stride; i += 4) {
      std::uint8_t* pixel = &scratch[i];
      const bool page = pixel[0] == 0x2A && pixel[1] == 0x2A && pixel[2] == 0x2A;
      PutColor(pixel, page ? fill : kKvSelectedText);
    }
  }
  return copied;
}

Bytes KvComposeButton(const TKvPixels& picture, const TKvRect& rect, const TKvButtonLook& look,
                      const TKvIconMask& mask) {
  const int w = std::max(0, rect.Width());
  const int h = std::max(0, rect.Height());
  const int t = look.Stroke;
  const int inner_radius = std::max(0, look.Radius - t);
  const int n = mask.Size;
  const bool mask_ok = n > 0 && mask.Coverage.size() == static_cast<std::size_t>(n) * n;
  const int icon_x = (w - n) / 2;
  const int icon_y = (h - n) / 2;
  Bytes out(static_cast<std::size_t>(w) * h * 4);
  for (int y = 0; y < h; ++y) {
    for (int x = 0; x < w; ++x) {
      std::uint8_t* pixel = &out[(static_cast<std::size_t>(y) * w + x) * 4];
      const int px = rect.Left + x;
      const int py = rect.Top + y;
      if (px >= 0 && py >= 0 && px < picture.Width && py < picture.Height &&
          (static_cast<std::size_t>(py) * picture.Width + px) * 4 + 4 <= picture.Bytes.size()) {
        const std::size_t at = (static_cast<std::size_t>(py) * picture.Width + px) * 4;
        std::copy_n(picture.Bytes.begin() + static_cast<std::ptrdiff_t>(at), 4, pixel);
      } else {
        PutColor(pixel, look.Background);
      }
      if (KvInsideRoundedRect(x, y, w, h, look.Radius)) {
        const bool ring = x < t || y < t || x >= w - t || y >= h - t ||
                          !KvInsideRoundedRect(x - t, y - t, w - 2 * t, h - 2 * t, inner_radius);
        const int value = ring ? kKvButtonBorder : KvBlend(255, kKvButtonFace, look.Tint);
        std::fill_n(pixel, 3, static_cast<std::uint8_t>(value));
      }
      const int ix = x - icon_x;
      const int iy = y - icon_y;
      const int coverage = mask_ok && ix >= 0 && ix < n && iy >= 0 && iy < n
                               ? mask.Coverage[static_cast<std::size_t>(iy) * n + ix]
                               : 0;
      for (int c = 0; c < 3; ++c) {
        pixel[c] = static_cast<std::uint8_t>(KvBlend(kKvButtonIcon, pixel[c], coverage));
      }
      pixel[3] = 255;
    }
  }
  return out;
}

}  // namespace kelvane
