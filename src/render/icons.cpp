#include "render/icons.h"

#include <algorithm>
#include <charconv>
#include <cmath>

#include "render/charset.h"

namespace kelvane {

namespace {

constexpr double kGrid = 640.0;
constexpr int kSamples = 4;  // per pixel, in each direction

bool IsSeparator(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == ',';
}

bool StartsNumber(char c) {
  return (c >= '0' && c <= '9') || c == '+' || c == '-' || c == '.';
}

bool IsDigit(char c) {
  return c >= '0' && c <= '9';
}

// The outlines are hollow arrows (outer and inner contour, filled even-odd) over a bar with
// rounded ends at y 544-576.
constexpr std::string_view kBar =
    "M144 544 H496 Q512 544 512 560 Q512 576 496 576 H144 Q128 576 128 560 Q128 544 144 544 Z";
constexpr std::string_view kArrowUp =
    "M320 64 L480 288 H384 V512 H256 V288 H160 Z "
    "M320 108 L434 264 H360 V488 H280 V264 H206 Z ";
constexpr std::string_view kArrowDown =
    "M256 64 H384 V288 H480 L320 512 L160 288 H256 Z "
    "M280 88 H360 V312 H434 L320 468 L206 312 H280 Z ";

const std::string& UpIcon() {
  static const std::string path = std::string(kArrowUp) + std::string(kBar);
  return path;
}

const std::string& DownIcon() {
  static const std::string path = std::string(kArrowDown) + std::string(kBar);
  return path;
}

}  // namespace

std::string_view IconPath(TDkCharset charset) {
  return charset == csLowerUpper ? DownIcon() : UpIcon();
}

bool TPathReader::SkipSeparators() {
  while (position_ < text_.size() && IsSeparator(text_[position_])) ++position_;
  return position_ < text_.size();
}

// Number: optional sign, digits with at most one point, optional exponent. A second point ends
// the number, so "1.5.5" is 1.5 followed by .5.
bool TPathReader::ReadNumber(double& value) {
  if (!SkipSeparators()) return false;
  const std::size_t begin = position_;
  std::size_t at = position_;
  if (text_[at] == '+' || text_[at] == '-') ++at;
  bool point = false;
  while (at < text_.size() && (IsDigit(text_[at]) || (text_[at] == '.' && !point))) {
    point = point || text_[at] == '.';
    ++at;
  }
  if (at < text_.size() && (text_[at] == 'e' || text_[at] == 'E')) {
    ++at;
    if (at < text_.size() && (text_[at] == '+' || text_[at] == '-')) ++at;
    while (at < text_.size() && IsDigit(text_[at])) ++at;
  }
  position_ = at;
  // from_chars takes no leading '+'.
  std::size_t first = begin;
  if (text_[first] == '+') ++first;
  if (first < at && text_[first] == '+') return false;
  const char* end = text_.data() + at;
  const auto [parsed_end, error] = std::from_chars(text_.data() + first, end, value);
  return error == std::errc() && parsed_end == end && std::isfinite(value);
}

bool TPathReader::ReadNumbers(double* values, int count) {
  for (int i = 0; i < count; ++i) {
    if (!ReadNumber(values[i])) return false;
  }
  return true;
}

void TPathReader::LineTo(double x, double y) {
  if (y != y_) edges_.push_back({x_, y_, x, y});
  x_ = x;
  y_ = y;
}

bool TPathReader::Parse(std::string_view text) {
  text_ = text;
  position_ = 0;
  edges_.clear();
  start_x_ = start_y_ = x_ = y_ = 0;
  char previous = 0;     // the previous command, 0 before the first
  double control_x = 0;  // the previous curve's last control point
  double control_y = 0;

  while (SkipSeparators()) {
    char command = text_[position_];
    if (StartsNumber(command)) {
      // A number where a command is expected repeats the previous one; M repeats as L.
      if (previous == 0 || previous == 'Z' || previous == 'z') return false;
      command = previous == 'M' ? 'L' : previous == 'm' ? 'l' : previous;
    } else {
      ++position_;
    }
    const bool relative = command >= 'a' && command <= 'z';
    const double base_x = relative ? x_ : 0;
    const double base_y = relative ? y_ : 0;
    double v[6];
    switch (command) {
      case 'M':
      case 'm':
        if (!ReadNumbers(v, 2)) return false;
        LineTo(start_x_, start_y_);  // closes the previous subpath
        x_ = start_x_ = base_x + v[0];
        y_ = start_y_ = base_y + v[1];
        break;
      case 'L':
      case 'l':
        if (!ReadNumbers(v, 2)) return false;
        LineTo(base_x + v[0], base_y + v[1]);
        break;
      case 'H':
      case 'h':
        if (!ReadNumbers(v, 1)) return false;
        LineTo(base_x + v[0], y_);
        break;
      case 'V':
      case 'v':
        if (!ReadNumbers(v, 1)) return false;
        LineTo(x_, base_y + v[0]);
        break;
      case 'C':
      case 'c':
      case 'S':
      case 's': {
        const bool smooth = command == 'S' || command == 's';
        if (!ReadNumbers(v, smooth ? 4 : 6)) return false;
        const double x0 = x_, y0 = y_;
        double x1, y1;
        const double* rest = v;
        if (smooth) {
          const bool after_cubic =
              previous == 'C' || previous == 'c' || previous == 'S' || previous == 's';
          x1 = after_cubic ? 2 * x0 - control_x : x0;
          y1 = after_cubic ? 2 * y0 - control_y : y0;
        } else {
          x1 = base_x + v[0];
          y1 = base_y + v[1];
          rest = v + 2;
        }
        const double x2 = base_x + rest[0], y2 = base_y + rest[1];
        const double x3 = base_x + rest[2], y3 = base_y + rest[3];
        for (int i = 1; i <= 16; ++i) {
          const double t = i * 0.0625, u = 1 - t;
          LineTo(u * u * u * x0 + 3 * u * u * t * x1 + 3 * u * t * t * x2 + t * t * t * x3,
                 u * u * u * y0 + 3 * u * u * t * y1 + 3 * u * t * t * y2 + t * t * t * y3);
        }
        control_x = x2;
        control_y = y2;
        break;
      }
      case 'Q':
      case 'q':
      case 'T':
      case 't': {
        const bool smooth = command == 'T' || command == 't';
        if (!ReadNumbers(v, smooth ? 2 : 4)) return false;
        const double x0 = x_, y0 = y_;
        double x1, y1;
        const double* rest = v;
        if (smooth) {
          const bool after_quadratic =
              previous == 'Q' || previous == 'q' || previous == 'T' || previous == 't';
          x1 = after_quadratic ? 2 * x0 - control_x : x0;
          y1 = after_quadratic ? 2 * y0 - control_y : y0;
        } else {
          x1 = base_x + v[0];
          y1 = base_y + v[1];
          rest = v + 2;
        }
        const double x2 = base_x + rest[0], y2 = base_y + rest[1];
        for (int i = 1; i <= 12; ++i) {
          const double t = i / 12.0, u = 1 - t;
          LineTo(u * u * x0 + 2 * u * t * x1 + t * t * x2,
                 u * u * y0 + 2 * u * t * y1 + t * t * y2);
        }
        control_x = x1;
        control_y = y1;
        break;
      }
      case 'Z':
      case 'z':
        LineTo(start_x_, start_y_);
        break;
      default:
        return false;  // A (arcs) and everything else
    }
    previous = command;
  }
  LineTo(start_x_, start_y_);
  return true;
}

bool RasteriseIcon(std::string_view path, int size, TKvIconMask& mask) {
  mask = TKvIconMask{};
  if (size < 1 || size > 4096) return false;
  TPathReader reader;
  if (!reader.Parse(path)) return false;

  const int samples = kSamples * size;
  const double f = static_cast<double>(static_cast<float>(samples) / static_cast<float>(kGrid));
  std::vector<int> count(static_cast<std::size_t>(size) * static_cast<std::size_t>(size), 0);
  std::vector<double> crossings;
  for (int s = 0; s < samples; ++s) {
    const double yc = (s + 0.5) / f;
    crossings.clear();
    for (const TEdge& e : reader.Edges()) {
      if ((e.y0 <= yc && yc < e.y1) || (e.y1 <= yc && yc < e.y0)) {
        const double x = ((e.x1 - e.x0) * (yc - e.y0) / (e.y1 - e.y0) + e.x0) * f;
        // Insertion sort: the lists are short.
        crossings.insert(std::upper_bound(crossings.begin(), crossings.end(), x), x);
      }
    }
    int* row =
        count.data() + static_cast<std::size_t>(s / kSamples) * static_cast<std::size_t>(size);
    for (std::size_t i = 0; i + 1 < crossings.size(); i += 2) {
      const double from = std::max(0.0, std::ceil(crossings[i] - 0.5));
      const double to =
          std::min(static_cast<double>(samples - 1), std::ceil(crossings[i + 1] - 0.5) - 1);
      if (!(from <= to)) continue;  // also keeps far-off or overflowed crossings out of the casts
      // Add the samples first..last to their pixels: whole pixels take all four at once.
      const int first = static_cast<int>(from);
      const int last = static_cast<int>(to);
      const int first_pixel = first / kSamples;
      const int last_pixel = last / kSamples;
      if (first_pixel == last_pixel) {
        row[first_pixel] += last - first + 1;
        continue;
      }
      row[first_pixel] += kSamples - first % kSamples;
      for (int p = first_pixel + 1; p < last_pixel; ++p) row[p] += kSamples;
      row[last_pixel] += last % kSamples + 1;
    }
  }
  mask.Size = size;
  mask.Coverage.resize(count.size());
  for (std::size_t i = 0; i < count.size(); ++i) {
    mask.Coverage[i] = static_cast<std::uint8_t>(std::min(255, (count[i] * 255 + 8) / 16));
  }
  return true;
}

}  // namespace kelvane
