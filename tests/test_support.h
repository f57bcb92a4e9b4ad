// Shared helpers of the tests: in-memory byte sources and sinks, sample data,
// and the packer driven from memory.
#pragma once

#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "lzh_packer.h"

using Bytes = std::vector<std::uint8_t>;

// A byte source over a vector that counts the requests made of it.
struct MemorySource {
  const Bytes& bytes;
  std::size_t pos = 0;
  int calls = 0;
  bool operator()(std::uint8_t& byte) {
    ++calls;
    if (pos >= bytes.size()) return false;
    byte = bytes[pos++];
    return true;
  }
};

struct MemorySink {
  Bytes bytes;
  void operator()(std::uint8_t byte) { bytes.push_back(byte); }
};

inline Bytes PackBody(const Bytes& input, PackOptions options = {}) {
  Bytes body;
  std::size_t pos = 0;
  PackLzhBody(
      [&](std::uint8_t* buffer, std::size_t count) {
        const std::size_t n = std::min(count, input.size() - pos);
        std::copy_n(input.begin() + static_cast<std::ptrdiff_t>(pos), n, buffer);
        pos += n;
        return n;
      },
      [&](const std::uint8_t* b, std::size_t n) { body.insert(body.end(), b, b + n); }, options);
  return body;
}

// A whole compressed file: "!HZL", the size, the body.
inline Bytes CompressedFile(std::uint32_t size, const Bytes& body) {
  Bytes file(8 + body.size());
  const std::uint8_t header[8] = {'!',
                                  'H',
                                  'Z',
                                  'L',
                                  static_cast<std::uint8_t>(size),
                                  static_cast<std::uint8_t>(size >> 8),
                                  static_cast<std::uint8_t>(size >> 16),
                                  static_cast<std::uint8_t>(size >> 24)};
  std::copy_n(header, 8, file.begin());
  std::copy(body.begin(), body.end(), file.begin() + 8);
  return file;
}

inline Bytes RandomBytes(std::size_t n, std::uint32_t seed) {
  std::mt19937 rng(seed);
  Bytes b(n);
  for (auto& x : b) x = static_cast<std::uint8_t>(rng());
  return b;
}

// English-like text from a small vocabulary: many matches of all lengths.
inline Bytes SampleText(std::size_t n, std::uint32_t seed = 1) {
  static const char* const kWords[] = {
      "the ",    "installer ", "reads ",  "its ",   "kit ",     "from ",   "folder, ", "and ",
      "writes ", "each ",      "file.\n", "Setup ", "Quarvel ", "window ", "match ",   "literal "};
  std::mt19937 rng(seed);
  Bytes b;
  while (b.size() < n) {
    const std::string w = kWords[rng() % 16];
    b.insert(b.end(), w.begin(), w.end());
  }
  b.resize(n);
  return b;
}

// Records of little-endian fields with slowly changing values, as in tables
// of program files and databases.
inline Bytes SampleRecords(std::size_t n) {
  Bytes b;
  for (std::uint32_t i = 0; b.size() < n; ++i) {
    const std::uint32_t fields[4] = {i, i * 7 + 0x1000, 0x00400000 + i * 16, i % 3};
    for (std::uint32_t f : fields)
      for (int k = 0; k < 4; ++k) b.push_back(static_cast<std::uint8_t>(f >> (8 * k)));
  }
  b.resize(n);
  return b;
}
