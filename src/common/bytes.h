#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

namespace kelvane {

// Owned bytes and read-only views of them. Every parser reads through a view and checks offsets
// and lengths before it touches a byte.
using Bytes = std::vector<std::uint8_t>;
using ByteView = std::span<const std::uint8_t>;

// Little-endian 16-bit value at `offset`; the caller has checked that offset + 1 is inside `data`.
inline int Le16(ByteView data, std::size_t offset) {
  return data[offset] | (data[offset + 1] << 8);
}

// True when [offset, offset + length) lies inside a buffer of `size` bytes, without overflow.
inline bool RangeInside(std::size_t size, std::size_t offset, std::size_t length) {
  return offset <= size && length <= size - offset;
}

}  // namespace kelvane
