// kelvane render and kelvane thumbnail: the listing bitmap as a PNG file.
#include <algorithm>
#include <ostream>

#include "cli/commands.h"
#include "common/format.h"
#include "registry/registry.h"
#include "render/listing_render.h"
#include "render/thumbnail.h"

#if defined(KELVANE_HAVE_PNG)
#include <png.h>
#endif

namespace kelvane::cli {

namespace {

TDkRenderImage Render(const ImageFile& input, int width, int scale, int rows,
                      TDkCharset charset) {
  TDkRenderImage image;
  if (!DkRenderDiskPreview(input.bytes, input.name, width, scale, rows, image, charset)) {
    // Say why in the library's words: opening again raises the reader's own message.
    DkOpenImage(input.bytes, input.name, true);
    throw Exception("The listing could not be rendered.");
  }
  return image;
}

Bytes EncodePng(const TDkRenderImage& image) {
#if defined(KELVANE_HAVE_PNG)
  // The simplified libpng interface, from memory to memory: no setjmp across C++ frames.
  png_image png{};
  png.version = PNG_IMAGE_VERSION;
  png.width = static_cast<png_uint_32>(image.Width);
  png.height = static_cast<png_uint_32>(image.Height);
  png.format = PNG_FORMAT_BGRA;
  png_alloc_size_t size = 0;
  if (!png_image_write_to_memory(&png, nullptr, &size, 0, image.Pixels.data(), 0, nullptr)) {
    throw Exception(Format("PNG encoding failed: %s", png.message));
  }
  Bytes out(size);
  if (!png_image_write_to_memory(&png, out.data(), &size, 0, image.Pixels.data(), 0, nullptr)) {
    throw Exception(Format("PNG encoding failed: %s", png.message));
  }
  out.resize(size);
  return out;
#else
  (void)image;
  throw Exception("This build of kelvane has no PNG support (libpng was not found).");
#endif
}

}  // namespace

int RunRender(CommandArgs args, std::ostream& out, std::ostream& err) {
  std::string input;
  std::string output;
  TDkCharset charset = csUpperGraphics;
  int scale = 2;
  int rows = 0;
  int width = 0;
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    const bool has_value = i + 1 < args.size();
    if ((arg == "-o" || arg == "--charset" || arg == "--scale" || arg == "--rows" ||
         arg == "--width") &&
        !has_value) {
      throw UsageError{Format("render: %s needs a value", arg.c_str())};
    }
    if (arg == "-o")
      output = args[++i];
    else if (arg == "--charset")
      charset = ParseCharset(args[++i]);
    else if (arg == "--scale")
      scale = ParseInt(args[++i], "--scale", 1, 16);
    else if (arg == "--rows")
      rows = ParseInt(args[++i], "--rows", 0, 100000);
    else if (arg == "--width")
      width = ParseInt(args[++i], "--width", 0, 16384);
    else if (!arg.empty() && arg[0] == '-')
      throw UsageError{Format("render: unknown option '%s'", arg.c_str())};
    else if (input.empty())
      input = arg;
    else
      throw UsageError{Format("render: one image at a time ('%s' is extra)", arg.c_str())};
  }
  if (input.empty() || output.empty()) throw UsageError{"render: give an image and -o OUT.png"};
  const TDkRenderImage image = Render(DecodedImage(ReadImageFile(input)), width, scale, rows, charset);
  WriteFileWhole(output, EncodePng(image));
  out << "Wrote " << output << ": " << image.Width << " x " << image.Height << " pixels.\n";
  (void)err;
  return 0;
}

int RunThumbnail(CommandArgs args, std::ostream& out, std::ostream& err) {
  std::vector<std::string> paths;
  int size = 128;
  TDkCharset charset = csUpperGraphics;
  for (std::size_t i = 0; i < args.size(); ++i) {
    if (args[i] == "-s" || args[i] == "--size") {
      if (i + 1 >= args.size()) throw UsageError{"thumbnail: -s needs a size"};
      size = ParseInt(args[++i], "-s", 8, 2048);
    } else if (args[i] == "--charset") {
      if (i + 1 >= args.size()) throw UsageError{"thumbnail: --charset needs upper or lower"};
      charset = ParseCharset(args[++i]);
    } else if (!args[i].empty() && args[i][0] == '-') {
      throw UsageError{Format("thumbnail: unknown option '%s'", args[i].c_str())};
    } else {
      paths.push_back(args[i]);
    }
  }
  if (paths.size() != 2) throw UsageError{"thumbnail: give -s SIZE, the image and OUT.png"};
  const ImageFile input = DecodedImage(ReadImageFile(paths[0]));
  TDkRenderImage thumbnail;
  if (!DkRenderThumbnail(input.bytes, input.name, size, charset, thumbnail)) {
    Render(input, 0, 1, 1, charset);  // raises the reader's own message
  }
  WriteFileWhole(paths[1], EncodePng(thumbnail));
  (void)out;
  (void)err;
  return 0;
}

}  // namespace kelvane::cli
