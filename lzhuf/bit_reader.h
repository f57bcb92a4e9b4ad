// The bit reader of an LZHUF body.
//
// Bits are taken from each byte most significant first, bytes in the order
// the source delivers them. Once the source has nothing more to give, the
// reader goes on supplying zero bits; it never fails by itself. It keeps
// count of those stand-in bits, so that the unpacker can tell whether an item
// it decoded reached past the real end of the input.
#pragma once

#include <cstdint>

#include "offset_code.h"

// Source: a callable `bool(std::uint8_t& byte)` that stores the next input
// byte and answers true, or answers false at the end of the input.
template <class Source>
class BitReader {
 public:
  explicit BitReader(Source& source) : ReadProc(source) {}

  // The next bit of the stream.
  unsigned ReadCodeBit() {
    Refill();
    unsigned bit = BitBuf >> 15;
    BitBuf = static_cast<std::uint16_t>(BitBuf << 1);
    BitCount = static_cast<std::uint8_t>(BitCount - 1);
    return bit;
  }

  // The next eight bits of the stream, the first one most significant.
  unsigned ReadCodeByte() {
    Refill();
    unsigned byte = BitBuf >> 8;
    BitBuf = static_cast<std::uint16_t>(BitBuf << 8);
    BitCount = static_cast<std::uint8_t>(BitCount - 8);
    return byte;
  }

  // One match offset (0-4095): the prefix of its upper six bits, which the
  // first byte read always contains, then the rest of its lower six bits.
  unsigned DecodeMatchOffset() {
    unsigned i = ReadCodeByte();
    unsigned high = OffsetHighTable[i];
    unsigned n = OffsetBitsTable[i] - 2u;
    while (n-- > 0) i = ((i << 1) + ReadCodeBit()) & 0xFFFF;
    return (high << 6) | (i & 0x3F);
  }

  // True once a bit read so far was one of the zero bits standing in for
  // input past its end. The refill's read-ahead alone never makes it true.
  bool PastEnd() const { return BitCount < StandInBits; }

  std::uint16_t BitBuf = 0;   // pending bits, left-aligned: bit 15 comes next
  std::uint8_t BitCount = 0;  // valid bits in BitBuf, 0 to 16

 private:
  // Tops BitBuf up to at least nine bits, one source byte at a time; from
  // empty that asks the source for two bytes.
  void Refill() {
    while (BitCount <= 8) {
      std::uint8_t byte = 0;
      if (!ReadProc(byte)) {
        byte = 0;
        StandInBits += 8;
      }
      BitBuf = static_cast<std::uint16_t>(BitBuf | (byte << (8 - BitCount)));
      BitCount = static_cast<std::uint8_t>(BitCount + 8);
    }
  }

  Source& ReadProc;
  // Stand-in zero bits appended after the input ended. They sit at the tail of
  // BitBuf, so a bit was read past the end exactly when fewer valid bits are
  // left than stand-ins were appended. Bounded: the unpacker stops at the
  // first item that reaches into them.
  int StandInBits = 0;
};
