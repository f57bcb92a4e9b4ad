// The straightforward unpack loop (see baseline_decoder.h): module-level
// state, one source call per input byte and one sink call per output byte,
// both through the pointers the caller hands in.
#include <cstring>

#include "baseline_decoder.h"

namespace baseline {
namespace {

constexpr unsigned kWindow = 4096;
constexpr unsigned kMaxMatch = 60;
constexpr unsigned kThreshold = 2;
constexpr unsigned kSymbols = 256 - kThreshold + kMaxMatch;  // 314
constexpr unsigned kNodes = kSymbols * 2 - 1;                // 627
constexpr unsigned kRoot = kNodes - 1;
constexpr unsigned kMaxFreq = 0x8000;

std::uint8_t Window[kWindow];
std::uint16_t Freq[kNodes + 1];
std::uint16_t Child[kNodes];
std::uint16_t Parent[kNodes + kSymbols];
std::uint16_t BitBuf;
std::uint8_t BitCount;
ReadProc Source;

std::uint8_t HighBits[256];
std::uint8_t PrefixBits[256];

void MakeTables() {
  // Upper six bits of the offset and prefix length, per leading byte.
  const int runs[][2] = {{3, 1}, {4, 3}, {5, 8}, {6, 12}, {7, 24}, {8, 16}};
  int index = 0, high = 0;
  for (const auto& run : runs) {
    for (int v = 0; v < run[1]; ++v, ++high) {
      for (int k = 0; k < (1 << (8 - run[0])); ++k, ++index) {
        HighBits[index] = static_cast<std::uint8_t>(high);
        PrefixBits[index] = static_cast<std::uint8_t>(run[0]);
      }
    }
  }
}

void Refill() {
  while (BitCount <= 8) {
    std::uint8_t b = 0;
    std::uint16_t got = 0;
    Source(&b, 1, got);
    if (got != 1) b = 0;
    BitBuf = static_cast<std::uint16_t>(BitBuf | (b << (8 - BitCount)));
    BitCount = static_cast<std::uint8_t>(BitCount + 8);
  }
}

unsigned ReadBit() {
  Refill();
  unsigned i = BitBuf;
  BitBuf = static_cast<std::uint16_t>(BitBuf << 1);
  BitCount = static_cast<std::uint8_t>(BitCount - 1);
  return (i & 0x8000) ? 1 : 0;
}

unsigned ReadByte() {
  Refill();
  unsigned i = BitBuf;
  BitBuf = static_cast<std::uint16_t>(BitBuf << 8);
  BitCount = static_cast<std::uint8_t>(BitCount - 8);
  return i >> 8;
}

void InitTree() {
  for (unsigned i = 0; i < kSymbols; i++) {
    Freq[i] = 1;
    Child[i] = static_cast<std::uint16_t>(i + kNodes);
    Parent[i + kNodes] = static_cast<std::uint16_t>(i);
  }
  unsigned i = 0;
  for (unsigned j = kSymbols; j <= kRoot; j++) {
    Freq[j] = static_cast<std::uint16_t>(Freq[i] + Freq[i + 1]);
    Child[j] = static_cast<std::uint16_t>(i);
    Parent[i] = Parent[i + 1] = static_cast<std::uint16_t>(j);
    i += 2;
  }
  Freq[kNodes] = 0xffff;
  Parent[kRoot] = 0;
}

void RebuildTree() {
  unsigned j = 0;
  for (unsigned i = 0; i < kNodes; i++) {
    if (Child[i] >= kNodes) {
      Freq[j] = static_cast<std::uint16_t>((Freq[i] + 1) / 2);
      Child[j] = Child[i];
      j++;
    }
  }
  unsigned i = 0;
  for (j = kSymbols; j < kNodes; i += 2, j++) {
    unsigned k = i + 1;
    unsigned f = Freq[j] = static_cast<std::uint16_t>(Freq[i] + Freq[k]);
    for (k = j - 1; f < Freq[k]; k--) {
    }
    k++;
    for (unsigned m = j; m > k; --m) {
      Freq[m] = Freq[m - 1];
      Child[m] = Child[m - 1];
    }
    Freq[k] = static_cast<std::uint16_t>(f);
    Child[k] = static_cast<std::uint16_t>(i);
  }
  for (i = 0; i < kNodes; i++) {
    unsigned k = Child[i];
    Parent[k] = static_cast<std::uint16_t>(i);
    if (k < kNodes) Parent[k + 1] = static_cast<std::uint16_t>(i);
  }
}

void Bump(unsigned c) {
  if (Freq[kRoot] == kMaxFreq) RebuildTree();
  c = Parent[c + kNodes];
  do {
    unsigned k = ++Freq[c];
    unsigned l = c + 1;
    if (k > Freq[l]) {
      while (k > Freq[++l]) {
      }
      l--;
      Freq[c] = Freq[l];
      Freq[l] = static_cast<std::uint16_t>(k);
      unsigned i = Child[c];
      Parent[i] = static_cast<std::uint16_t>(l);
      if (i < kNodes) Parent[i + 1] = static_cast<std::uint16_t>(l);
      unsigned j = Child[l];
      Child[l] = static_cast<std::uint16_t>(i);
      Parent[j] = static_cast<std::uint16_t>(c);
      if (j < kNodes) Parent[j + 1] = static_cast<std::uint16_t>(c);
      Child[c] = static_cast<std::uint16_t>(j);
      c = l;
    }
  } while ((c = Parent[c]) != 0);
}

unsigned DecodeSymbol() {
  unsigned c = Child[kRoot];
  while (c < kNodes) c = Child[c + ReadBit()];
  c -= kNodes;
  Bump(c);
  return c;
}

unsigned DecodeOffset() {
  unsigned i = ReadByte();
  unsigned c = static_cast<unsigned>(HighBits[i]) << 6;
  unsigned j = PrefixBits[i] - 2u;
  while (j--) i = ((i << 1) + ReadBit()) & 0xFFFF;
  return c | (i & 0x3f);
}

}  // namespace

void Unpack(std::int32_t textSize, ReadProc read, WriteProc write) {
  MakeTables();
  Source = read;
  BitBuf = 0;
  BitCount = 0;
  InitTree();
  std::memset(Window, ' ', kWindow);
  unsigned r = kWindow - kMaxMatch;
  std::uint16_t done = 0;
  for (std::int32_t count = 0; count < textSize;) {
    unsigned c = DecodeSymbol();
    if (c < 256) {
      std::uint8_t b = static_cast<std::uint8_t>(c);
      write(&b, 1, done);
      Window[r++] = b;
      r &= (kWindow - 1);
      count++;
    } else {
      unsigned i = (r - DecodeOffset() - 1) & (kWindow - 1);
      unsigned j = c - 255 + kThreshold;
      for (unsigned k = 0; k < j && count < textSize; k++) {
        std::uint8_t b = Window[(i + k) & (kWindow - 1)];
        write(&b, 1, done);
        Window[r++] = b;
        r &= (kWindow - 1);
        count++;
      }
    }
  }
}

}  // namespace baseline
