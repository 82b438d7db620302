#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <utility>
#include <vector>

namespace kelvane {

// Owned bytes and read-only views of them. Every parser reads through a view and checks offsets
// and lengths before it touches a byte.
using Bytes = std::vector<std::uint8_t>;
using ByteView = std::span<const std::uint8_t>;
// Bytes changed in place: a whole image, or one partition of it.
using WritableBytes = std::span<std::uint8_t>;

// An image's bytes, owned or borrowed. A reader given borrowed bytes (a mapped file, a buffer an
// archive member was read into) never copies them, so opening an image touches only the sectors
// it reads; the caller keeps borrowed bytes alive for as long as the image lives.
class TDkImageBytes {
 public:
  TDkImageBytes(Bytes bytes) : owned_(std::move(bytes)), view_(owned_) {}  // NOLINT: implicit
  static TDkImageBytes Borrow(ByteView view) { return TDkImageBytes(view); }

  TDkImageBytes(TDkImageBytes&& other) noexcept { *this = std::move(other); }
  TDkImageBytes& operator=(TDkImageBytes&& other) noexcept {
    const bool borrowed = other.view_.data() != other.owned_.data();
    owned_ = std::move(other.owned_);
    view_ = borrowed ? other.view_ : ByteView(owned_);
    return *this;
  }

  ByteView View() const { return view_; }

 private:
  explicit TDkImageBytes(ByteView view) : view_(view) {}
  Bytes owned_;
  ByteView view_;
};

// Little-endian 16-bit value at `offset`; the caller has checked that offset + 1 is inside `data`.
inline int Le16(ByteView data, std::size_t offset) {
  return data[offset] | (data[offset + 1] << 8);
}

// True when [offset, offset + length) lies inside a buffer of `size` bytes, without overflow.
inline bool RangeInside(std::size_t size, std::size_t offset, std::size_t length) {
  return offset <= size && length <= size - offset;
}

}  // namespace kelvane
