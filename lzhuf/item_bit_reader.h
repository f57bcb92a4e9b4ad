// The bit reader of the unpack loop.
//
// It reads the same bit stream as BitReader and asks the source for the same
// bytes in the same order, but it asks for each byte only when a bit of it
// is needed, and holds up to 24 pending bits instead of 16, so that an item's
// bits can be taken several at a time (the offset code in one step).
//
// The one-byte-at-a-time refill of BitReader always leaves 8 to 15 bits
// pending after the last bit of an item: the fewest whole bytes that leave
// at least 8. EndItem() tops up to exactly that, so at every item boundary,
// the only moments at which the sink is called, the number of source
// requests, the end-of-input answers among them and the truncation check
// are what BitReader would give; within an item the requests merely come a
// little later. (The source is sequential, and nothing else happens between
// them.)
#pragma once

#include <cstdint>

#include "offset_code.h"

// Source: a callable `bool(std::uint8_t& byte)`, as for BitReader.
template <class Source>
class ItemBitReader {
 public:
  explicit ItemBitReader(Source& source) : source_(source) {}

  // The next bit of the stream.
  unsigned Bit() {
    if (count_ == 0) Fetch();
    const unsigned bit = bits_ >> 31;
    bits_ <<= 1;
    --count_;
    return bit;
  }

  // The next n bits (n <= 8) without taking them; at least 8 are pending
  // after EndItem().
  unsigned Peek(unsigned n) const { return bits_ >> (32 - n); }
  void Skip(unsigned n) {
    bits_ <<= n;
    count_ -= n;
  }

  // One match offset (0-4095): its prefix code and lower six bits, nine to
  // fourteen bits, taken at once.
  unsigned MatchOffset() {
    while (count_ < 8) Fetch();
    const unsigned lead = bits_ >> 24;
    const unsigned length = OffsetBitsTable[lead] + 6u;
    while (count_ < length) Fetch();
    const unsigned code = bits_ >> (32 - length);
    bits_ <<= length;
    count_ -= length;
    return (unsigned{OffsetHighTable[lead]} << 6) | (code & 0x3F);
  }

  // Back in step with the byte-wise refill: call after each item's last bit.
  void EndItem() {
    while (count_ < 8) Fetch();
  }

  // True once a bit read so far was one of the zero bits standing in for
  // input past its end (valid after EndItem()).
  bool PastEnd() const { return count_ < standInBits_; }

 private:
  void Fetch() {
    std::uint8_t byte = 0;
    if (!source_(byte)) {
      byte = 0;
      standInBits_ += 8;
    }
    bits_ |= std::uint32_t{byte} << (24 - count_);
    count_ += 8;
  }

  Source& source_;
  std::uint32_t bits_ = 0;  // pending bits, left-aligned: bit 31 comes next
  unsigned count_ = 0;      // pending bits, 0 to 21
  // Stand-in zero bits appended after the input ended; they sit at the tail
  // of the pending bits (see BitReader::PastEnd). Bounded: the unpacker stops
  // at the first item that reaches into them.
  unsigned standInBits_ = 0;
};
