// Copies of up to 64 bytes, the size of a match, without a call.
//
// Every byte of the source is loaded before the first byte of the
// destination is stored, so the two ranges may overlap: the result is that
// of memmove. The moves are fixed-size memcpy()s into locals, which the
// compiler turns into plain loads and stores (16-byte ones with SSE2); two
// moves that overlap in the middle cover any length between their sizes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

namespace short_copy_detail {

template <std::size_t N>
struct Chunk {
  unsigned char bytes[N];
};

template <std::size_t N>
inline Chunk<N> Load(const std::uint8_t* p) {
  Chunk<N> c;
  std::memcpy(&c, p, N);
  return c;
}

template <std::size_t N>
inline void Store(std::uint8_t* p, const Chunk<N>& c) {
  std::memcpy(p, &c, N);
}

// Lengths from N to 2N.
template <std::size_t N>
inline void CopyPair(std::uint8_t* dst, const std::uint8_t* src, std::size_t length) {
  const Chunk<N> head = Load<N>(src), tail = Load<N>(src + length - N);
  Store(dst, head);
  Store(dst + length - N, tail);
}

}  // namespace short_copy_detail

// Copies `length` bytes, 1 to 64.
inline void CopyShort(std::uint8_t* dst, const std::uint8_t* src, std::size_t length) {
  using namespace short_copy_detail;
  if (length >= 32) return CopyPair<32>(dst, src, length);
  if (length >= 16) return CopyPair<16>(dst, src, length);
  if (length >= 8) return CopyPair<8>(dst, src, length);
  if (length >= 4) return CopyPair<4>(dst, src, length);
  if (length >= 2) return CopyPair<2>(dst, src, length);
  *dst = *src;
}
