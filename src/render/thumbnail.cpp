#include "render/thumbnail.h"

#include <algorithm>
#include <array>

namespace kelvane {

TDkRenderImage DkResampleImage(const TDkRenderImage& image, int width, int height) {
  TDkRenderImage out;
  if (width < 1 || height < 1 || image.Width < 1 || image.Height < 1) return out;
  out.Width = width;
  out.Height = height;
  out.Pixels.resize(static_cast<std::size_t>(width) * static_cast<std::size_t>(height) * 4);
  for (int y = 0; y < height; ++y) {
    const int y0 = static_cast<int>(static_cast<long long>(y) * image.Height / height);
    const int y1 =
        std::max(y0 + 1, static_cast<int>(static_cast<long long>(y + 1) * image.Height / height));
    for (int x = 0; x < width; ++x) {
      const int x0 = static_cast<int>(static_cast<long long>(x) * image.Width / width);
      const int x1 =
          std::max(x0 + 1, static_cast<int>(static_cast<long long>(x + 1) * image.Width / width));
      std::array<unsigned, 3> sum{};
      for (int sy = y0; sy < y1; ++sy) {
        for (int sx = x0; sx < x1; ++sx) {
          const std::uint8_t* p =
              image.Pixels.data() + (static_cast<std::size_t>(sy) * image.Width + sx) * 4;
          for (int c = 0; c < 3; ++c) sum[c] += p[c];
        }
      }
      const unsigned count = static_cast<unsigned>((y1 - y0) * (x1 - x0));
      std::uint8_t* q = out.Pixels.data() + (static_cast<std::size_t>(y) * width + x) * 4;
      for (int c = 0; c < 3; ++c) q[c] = static_cast<std::uint8_t>((sum[c] + count / 2) / count);
      q[3] = 255;
    }
  }
  return out;
}

bool DkRenderThumbnail(ByteView data, const std::string& file_name, int size, TDkCharset charset,
                       TDkRenderImage& thumbnail) {
  thumbnail = TDkRenderImage{};
  if (size < 1) return false;
  // The top of the listing, about as many rows as make it square at scale 1.
  TDkRenderImage probe;
  if (!DkRenderDiskPreview(data, file_name, 0, 1, 1, probe, charset)) return false;
  const int rows = std::max(2, probe.Width / 8);
  TDkRenderImage full;
  if (!DkRenderDiskPreview(data, file_name, 0, 1, rows, full, charset)) return false;
  // Fit into the box, keeping the aspect.
  const double factor =
      std::min(static_cast<double>(size) / full.Width, static_cast<double>(size) / full.Height);
  const int width = std::max(1, static_cast<int>(full.Width * factor));
  const int height = std::max(1, static_cast<int>(full.Height * factor));
  thumbnail = DkResampleImage(full, width, height);
  return thumbnail.Width > 0;
}

}  // namespace kelvane
