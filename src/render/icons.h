#pragma once

// The charset button's two icons: SVG path data on a 640 x 640 design grid (y grows downwards),
// flattened into straight edges and filled into an anti-aliased coverage mask of any size with
// 4 x 4 supersampling and the even-odd rule.

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "common/bytes.h"
#include "render/charset.h"

namespace kelvane {

// One straight, non-horizontal piece of an outline, in design units.
struct TEdge {
  double x0;
  double y0;
  double x1;
  double y1;
};

// Reads SVG path data (M L H V C S Q T Z, absolute and relative, implicit repeats) into edges.
// Curves are flattened: cubic Beziers into 16 steps, quadratic ones into 12.
class TPathReader {
 public:
  // Reads the whole text; false for anything it does not understand (the edges are then not to
  // be used). On success every subpath is closed.
  bool Parse(std::string_view text);
  const std::vector<TEdge>& Edges() const { return edges_; }

 private:
  bool SkipSeparators();
  bool ReadNumber(double& value);
  bool ReadNumbers(double* values, int count);
  void LineTo(double x, double y);

  std::string_view text_;
  std::size_t position_ = 0;
  std::vector<TEdge> edges_;
  double start_x_ = 0;
  double start_y_ = 0;
  double x_ = 0;
  double y_ = 0;
};

struct TKvIconMask {
  int Size = 0;
  Bytes Coverage;  // Size x Size bytes, row by row from the top; 0 empty, 255 covered
};

// Fills the outline of `path` into a `size` x `size` mask; false (and an empty mask) for a size
// below 1 or path data that does not parse.
bool RasteriseIcon(std::string_view path, int size, TKvIconMask& mask);

// The icon of a charset: an arrow up away from a bar for the upper-case/graphics set, an arrow
// down onto the bar for the lower/upper-case set.
std::string_view IconPath(TDkCharset charset);

}  // namespace kelvane
