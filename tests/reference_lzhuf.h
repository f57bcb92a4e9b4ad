// A second, deliberately plain reading of the LZHUF body rules, for tests
// only. It shares no code with lzhuf/: the tables come from their ranges
// written out one by one, the tree works on fixed arrays, and every step is
// written the long way. Tests decode with both and compare.
#pragma once

#include <cstdint>
#include <cstring>
#include <vector>

namespace reference {

struct Decoded {
  std::vector<std::uint8_t> bytes;  // what reached the sink
  bool truncated = false;           // an item used bits past the end of the body
  int sourceCalls = 0;              // one-byte requests made of the source
  // A match read one of the window positions 4036-4095 before it was first
  // written; what such a body decodes to is not fixed by the format.
  bool readUnwritten = false;
};

class Decoder {
 public:
  explicit Decoder(const std::vector<std::uint8_t>& body) : body_(body) { MakeTables(); }

  // Decodes `size` bytes. Stops at the first item that used bits past the
  // end of the body, before handing out its bytes; cuts a final match at
  // `size`.
  Decoded Run(std::int32_t size) {
    Decoded d;
    StartTree();
    bool written[4096];
    for (int i = 0; i < 4096; ++i) {
      window_[i] = 0x20;
      written[i] = i < 4036;
    }
    int r = 4036;
    std::int32_t count = 0;
    while (count < size) {
      int c = son_[626];
      while (c < 627) c = son_[c + Bit()];
      int s = c - 627;
      Update(s);
      if (s < 256) {
        if (used_ > 8 * static_cast<long long>(body_.size())) {
          d.truncated = true;
          break;
        }
        d.bytes.push_back(static_cast<std::uint8_t>(s));
        window_[r] = static_cast<std::uint8_t>(s);
        written[r] = true;
        r = (r + 1) % 4096;
        count = count + 1;
      } else {
        int offset = Offset();
        if (used_ > 8 * static_cast<long long>(body_.size())) {
          d.truncated = true;
          break;
        }
        int start = ((r - offset - 1) % 4096 + 4096) % 4096;
        int len = s - 253;
        for (int k = 0; k < len && count < size; ++k) {
          std::uint8_t b = window_[(start + k) % 4096];
          if (!written[(start + k) % 4096]) d.readUnwritten = true;
          d.bytes.push_back(b);
          window_[r] = b;
          written[r] = true;
          r = (r + 1) % 4096;
          count = count + 1;
        }
      }
    }
    d.sourceCalls = calls_;
    return d;
  }

  // The bit-level readers, exposed for tests of the offset code.
  int Bit() {
    Fill();
    int bit = (bitbuf_ & 0x8000) ? 1 : 0;
    bitbuf_ = static_cast<std::uint16_t>(bitbuf_ * 2);
    bitcount_ -= 1;
    used_ += 1;
    return bit;
  }
  int Byte() {
    Fill();
    int byte = bitbuf_ / 256;
    bitbuf_ = static_cast<std::uint16_t>(bitbuf_ * 256);
    bitcount_ -= 8;
    used_ += 8;
    return byte;
  }
  int Offset() {
    int i = Byte();
    int high = high_[i];
    int more = bits_[i] - 2;
    for (int n = 0; n < more; ++n) i = ((i * 2) + Bit()) & 0xFFFF;
    return high * 64 + (i % 64);
  }
  long long BitsUsed() const { return used_; }

 private:
  void MakeTables() {
    int i = 0;
    for (int n = 0; n < 32; ++n, ++i) high_[i] = 0, bits_[i] = 3;
    for (int v = 1; v <= 3; ++v)
      for (int n = 0; n < 16; ++n, ++i) high_[i] = v, bits_[i] = 4;
    for (int v = 4; v <= 11; ++v)
      for (int n = 0; n < 8; ++n, ++i) high_[i] = v, bits_[i] = 5;
    for (int v = 12; v <= 23; ++v)
      for (int n = 0; n < 4; ++n, ++i) high_[i] = v, bits_[i] = 6;
    for (int v = 24; v <= 47; ++v)
      for (int n = 0; n < 2; ++n, ++i) high_[i] = v, bits_[i] = 7;
    for (int v = 48; v <= 63; ++v, ++i) high_[i] = v, bits_[i] = 8;
  }

  void Fill() {
    while (bitcount_ <= 8) {
      int value = 0;
      ++calls_;
      if (pos_ < body_.size()) value = body_[pos_++];
      bitbuf_ = static_cast<std::uint16_t>(bitbuf_ | (value << (8 - bitcount_)));
      bitcount_ += 8;
    }
  }

  void StartTree() {
    for (int s = 0; s < 314; ++s) {
      freq_[s] = 1;
      son_[s] = s + 627;
      prnt_[s + 627] = s;
    }
    int i = 0;
    for (int j = 314; j <= 626; ++j) {
      freq_[j] = freq_[i] + freq_[i + 1];
      son_[j] = i;
      prnt_[i] = j;
      prnt_[i + 1] = j;
      i += 2;
    }
    freq_[627] = 0xFFFF;
    prnt_[626] = 0;
  }

  void Rebuild() {
    int j = 0;
    for (int i = 0; i < 627; ++i) {
      if (son_[i] >= 627) {
        freq_[j] = (freq_[i] + 1) / 2;
        son_[j] = son_[i];
        j++;
      }
    }
    int i = 0;
    for (j = 314; j < 627; ++j) {
      int f = freq_[i] + freq_[i + 1];
      int k = j - 1;
      while (f < freq_[k]) k--;
      k++;
      for (int m = j; m > k; --m) {
        freq_[m] = freq_[m - 1];
        son_[m] = son_[m - 1];
      }
      freq_[k] = f;
      son_[k] = i;
      i += 2;
    }
    for (i = 0; i < 627; ++i) {
      int k = son_[i];
      if (k >= 627) {
        prnt_[k] = i;
      } else {
        prnt_[k] = i;
        prnt_[k + 1] = i;
      }
    }
  }

  void Update(int s) {
    if (freq_[626] == 0x8000) Rebuild();
    int c = prnt_[s + 627];
    for (;;) {
      freq_[c] = freq_[c] + 1;
      int k = freq_[c];
      if (k > freq_[c + 1]) {
        int l = c + 1;
        while (freq_[l + 1] < k) l = l + 1;
        freq_[c] = freq_[l];
        freq_[l] = k;
        int i = son_[c];
        prnt_[i] = l;
        if (i < 627) prnt_[i + 1] = l;
        int j = son_[l];
        son_[l] = i;
        prnt_[j] = c;
        if (j < 627) prnt_[j + 1] = c;
        son_[c] = j;
        c = l;
      }
      c = prnt_[c];
      if (c == 0) break;
    }
  }

  const std::vector<std::uint8_t>& body_;
  std::size_t pos_ = 0;
  std::uint16_t bitbuf_ = 0;
  int bitcount_ = 0;
  long long used_ = 0;
  int calls_ = 0;
  int high_[256] = {}, bits_[256] = {};
  int freq_[628] = {}, son_[627] = {}, prnt_[941] = {};
  std::uint8_t window_[4096] = {};
};

inline Decoded Decode(const std::vector<std::uint8_t>& body, std::int32_t size) {
  return Decoder(body).Run(size);
}

}  // namespace reference
