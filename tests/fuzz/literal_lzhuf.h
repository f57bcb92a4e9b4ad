// A small, literal reading of the LZHUF body rules, written apart from
// lzhuf/ so that the fuzz targets have something independent to compare the
// decoder with. Nothing here is fast or clever: the offset tables are filled
// from their index ranges, the tree steps are written out one by one, and
// the bit reader counts every bit it hands out, so "this item used bits past
// the end of the body" is a plain comparison of two counters.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace literal_lzhuf {

struct Result {
  std::vector<std::uint8_t> bytes;  // what the decoder may hand to its sink
  bool truncated = false;           // stopped at an item that read past the end
  bool cut = false;                 // the last match was cut at the size
  std::int64_t usedBits = 0;        // bits of the body read
};

class Decoder {
 public:
  Decoder(const std::uint8_t* body, std::size_t length) : body_(body), length_(length) {
    // index range start, number of upper-bit values, indexes per value, prefix bits
    const int runs[6][4] = {{0x00, 1, 32, 3}, {0x20, 3, 16, 4}, {0x50, 8, 8, 5},
                            {0x90, 12, 4, 6}, {0xC0, 24, 2, 7}, {0xF0, 16, 1, 8}};
    int high = 0;
    for (const auto& run : runs) {
      int index = run[0];
      for (int v = 0; v < run[1]; ++v, ++high) {
        for (int k = 0; k < run[2]; ++k, ++index) {
          high_[index] = high;
          bits_[index] = run[3];
        }
      }
    }
  }

  Result Run(std::int32_t size) {
    Result result;
    StartTree();
    std::uint8_t window[4096];
    for (int i = 0; i < 4096; ++i) window[i] = ' ';
    int r = 4036;
    std::int64_t count = 0;
    while (count < size) {
      int c = child_[626];
      while (c < 627) c = child_[c + Bit()];
      const int s = c - 627;
      Bump(s);
      int length = 1, start = 0;
      if (s >= 256) {
        int i = Byte();
        const int h = high_[i];
        for (int n = bits_[i] - 2; n > 0; --n) i = ((i << 1) + Bit()) & 0xFFFF;
        const int offset = (h << 6) | (i & 0x3F);
        start = (r - offset - 1) & 0xFFF;
        length = s - 253;
      }
      if (used_ > 8 * static_cast<std::int64_t>(length_)) {
        result.truncated = true;
        break;
      }
      if (length > size - count) result.cut = true;
      for (int k = 0; k < length && count < size; ++k) {
        const std::uint8_t b = s < 256 ? static_cast<std::uint8_t>(s) : window[(start + k) & 0xFFF];
        result.bytes.push_back(b);
        window[r] = b;
        r = (r + 1) & 0xFFF;
        ++count;
      }
    }
    result.usedBits = used_;
    return result;
  }

 private:
  // Bit number `used_` of the body, first bit of each byte highest; zero
  // past the end.
  int Bit() {
    const std::int64_t byte = used_ / 8;
    const int bit =
        byte < static_cast<std::int64_t>(length_) ? (body_[byte] >> (7 - used_ % 8)) & 1 : 0;
    ++used_;
    return bit;
  }
  int Byte() {
    int v = 0;
    for (int k = 0; k < 8; ++k) v = (v << 1) | Bit();
    return v;
  }

  void StartTree() {
    for (int s = 0; s < 314; ++s) {
      freq_[s] = 1;
      child_[s] = s + 627;
      parent_[s + 627] = s;
    }
    int i = 0;
    for (int j = 314; j <= 626; ++j) {
      freq_[j] = freq_[i] + freq_[i + 1];
      child_[j] = i;
      parent_[i] = j;
      parent_[i + 1] = j;
      i += 2;
    }
    freq_[627] = 0xFFFF;
    parent_[626] = 0;
  }

  void Bump(int s) {
    if (freq_[626] == 0x8000) Rebuild();
    int c = parent_[s + 627];
    do {
      freq_[c] = (freq_[c] + 1) & 0xFFFF;
      const int k = freq_[c];
      if (k > freq_[c + 1]) {
        int l = c + 1;
        while (freq_[l + 1] < k) ++l;
        freq_[c] = freq_[l];
        freq_[l] = k;
        const int i = child_[c];
        parent_[i] = l;
        if (i < 627) parent_[i + 1] = l;
        const int j = child_[l];
        child_[l] = i;
        parent_[j] = c;
        if (j < 627) parent_[j + 1] = c;
        child_[c] = j;
        c = l;
      }
      c = parent_[c];
    } while (c != 0);
  }

  void Rebuild() {
    int j = 0;
    for (int i = 0; i < 627; ++i) {
      if (child_[i] >= 627) {
        freq_[j] = (freq_[i] + 1) / 2;
        child_[j] = child_[i];
        ++j;
      }
    }
    int i = 0;
    for (j = 314; j <= 626; ++j) {
      const int f = (freq_[i] + freq_[i + 1]) & 0xFFFF;
      int k = j - 1;
      while (f < freq_[k]) --k;
      ++k;
      for (int m = j; m > k; --m) {
        freq_[m] = freq_[m - 1];
        child_[m] = child_[m - 1];
      }
      freq_[k] = f;
      child_[k] = i;
      i += 2;
    }
    for (i = 0; i < 627; ++i) {
      const int k = child_[i];
      parent_[k] = i;
      if (k < 627) parent_[k + 1] = i;
    }
  }

  const std::uint8_t* body_;
  std::size_t length_;
  std::int64_t used_ = 0;  // bits handed out so far
  int high_[256], bits_[256];
  int freq_[628], child_[627], parent_[941];
};

}  // namespace literal_lzhuf
