// The LZHUF packer: the inverse of the lzh module's decoder.
//
// It parses the input into literals and matches over the same 4096-byte
// window the decoder keeps (whose first 4036 positions start as spaces, so
// those count as history too; the 60 after them, which a decoder may fill
// with anything, are never referred to), finds matches with hash chains, and
// codes each item with the decoder's own adaptive symbol tree
// (symbol_tree.h), updated by the same BumpSymbol after every symbol, and the
// fixed offset code. The default parse prices items by the tree's present
// code lengths and picks the cheapest sequence; greedy and lazy parses are
// there for comparison.
//
// The input is streamed: memory stays about 1.5 MiB whatever its size.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <stdexcept>

enum class PackParse {
  Greedy,   // take the longest match at each position
  Lazy,     // defer a match when the next position starts a longer one
  Optimal,  // the cheapest items by the adaptive code's present lengths
};

// A chain limit no chain reaches (no chain holds more positions than the
// window): with it, Greedy takes the longest match in the whole window.
inline constexpr int kUnlimitedChain = 1 << 30;

struct PackOptions {
  PackParse parse = PackParse::Optimal;
  int maxChain = 128;  // candidates examined per position at most
};

// Reads up to `count` bytes into `buffer`; returns the count, 0 at the end.
using PackReader = std::function<std::size_t(std::uint8_t* buffer, std::size_t count)>;
// Takes `count` bytes of the packed body.
using PackWriter = std::function<void(const std::uint8_t* bytes, std::size_t count)>;
// Told the number of input bytes consumed so far, now and then.
using PackProgress = std::function<void(std::int64_t consumed)>;

// The format's size field is signed 32-bit.
inline constexpr std::int64_t kMaxPackInput = 0x7FFFFFFF;

class PackError : public std::runtime_error {
  using std::runtime_error::runtime_error;
};

// Packs everything `read` delivers into an LZHUF body and returns the number
// of input bytes. Raises PackError when the input grows past kMaxPackInput.
std::int64_t PackLzhBody(const PackReader& read, const PackWriter& write,
                         const PackOptions& options = {}, const PackProgress& progress = {});
