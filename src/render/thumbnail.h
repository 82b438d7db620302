#pragma once

// The thumbnail of a disk image: the top of its listing at scale 1, about square, fitted into a
// size x size box by area averaging. File managers on Linux and Explorer on Windows show the
// same picture.

#include <string>

#include "render/listing_render.h"

namespace kelvane {

// Area-average resampling into `width` x `height` (both at least 1).
TDkRenderImage DkResampleImage(const TDkRenderImage& image, int width, int height);

// False (and an empty image) when the listing cannot be rendered or `size` is below 1.
bool DkRenderThumbnail(ByteView data, const std::string& file_name, int size, TDkCharset charset,
                       TDkRenderImage& thumbnail);

}  // namespace kelvane
