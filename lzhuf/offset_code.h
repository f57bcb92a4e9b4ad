// The fixed prefix code of match offsets.
//
// An offset (0-4095) is sent as a 3- to 8-bit prefix code for its upper six
// bits followed by its lower six bits verbatim. Both tables are indexed by the
// next eight bits of the stream: OffsetHighTable gives the upper six bits of
// the offset whose code starts with those bits, OffsetBitsTable the length of
// that prefix. Shorter prefixes go to the smaller (nearer) offsets: the 32
// indexes 0x00-0x1F share the 3-bit prefix 000 of upper bits 0, and so on up
// to the 16 values 48-63, which take all eight bits.
#pragma once

#include <array>
#include <cstdint>

namespace lzh_detail {

// {prefix length, number of upper-bit values with that length}, in code order.
struct OffsetCodeRun {
  int bits;
  int values;
};
inline constexpr OffsetCodeRun kOffsetCodeRuns[] = {{3, 1},  {4, 3},  {5, 8},
                                                    {6, 12}, {7, 24}, {8, 16}};

constexpr std::array<std::uint8_t, 256> MakeOffsetTable(bool wantBits) {
  std::array<std::uint8_t, 256> table{};
  int index = 0, high = 0;
  for (const OffsetCodeRun& run : kOffsetCodeRuns) {
    for (int v = 0; v < run.values; ++v, ++high) {
      for (int k = 0; k < (1 << (8 - run.bits)); ++k, ++index) {
        table[index] = static_cast<std::uint8_t>(wantBits ? run.bits : high);
      }
    }
  }
  return table;
}

}  // namespace lzh_detail

inline constexpr std::array<std::uint8_t, 256> OffsetHighTable = lzh_detail::MakeOffsetTable(false);
inline constexpr std::array<std::uint8_t, 256> OffsetBitsTable = lzh_detail::MakeOffsetTable(true);

static_assert(OffsetHighTable[0x1F] == 0 && OffsetHighTable[0x20] == 1 &&
              OffsetHighTable[0x4F] == 3);
static_assert(OffsetHighTable[0x50] == 4 && OffsetHighTable[0x90] == 12 &&
              OffsetHighTable[0xC0] == 24);
static_assert(OffsetHighTable[0xF0] == 48 && OffsetHighTable[0xFF] == 63);
static_assert(OffsetBitsTable[0x00] == 3 && OffsetBitsTable[0x8F] == 5 &&
              OffsetBitsTable[0xFF] == 8);
