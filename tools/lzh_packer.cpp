#include "lzh_packer.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <vector>

#include "offset_code.h"
#include "symbol_tree.h"

namespace {

constexpr int kWindow = 4096;
constexpr int kSpaceHistory = 4096 - static_cast<int>(MaxMatch);  // 4036 leading spaces
constexpr int kMinMatch = static_cast<int>(MatchThreshold) + 1;
constexpr int kMaxMatch = static_cast<int>(MaxMatch);
constexpr int kHashBits = 15;
// Bytes ahead of the current position that must be in the buffer: a match
// at the next position (lazy parsing) plus its comparison.
constexpr std::int64_t kLookahead = 2 * kMaxMatch + 2;
constexpr std::size_t kBufferSize = std::size_t{1} << 20;
constexpr std::int64_t kProgressStep = std::int64_t{1} << 20;

// MSB-first bit writer into a 64 KiB block handed to the PackWriter.
class BitWriter {
 public:
  explicit BitWriter(const PackWriter& write) : write_(write) { out_.reserve(kBlock); }

  // Appends the low `length` bits of `code` (length <= 32), first bit highest.
  void Put(std::uint32_t code, int length) {
    acc_ = (acc_ << length) | (code & ((std::uint64_t{1} << length) - 1));
    pending_ += length;
    while (pending_ >= 8) {
      pending_ -= 8;
      out_.push_back(static_cast<std::uint8_t>(acc_ >> pending_));
      if (out_.size() == kBlock) Drain();
    }
    acc_ &= (std::uint64_t{1} << pending_) - 1;
  }

  // Pads the last byte with zero bits and hands over what is left.
  void Finish() {
    if (pending_ > 0) Put(0, 8 - pending_);
    Drain();
  }

 private:
  static constexpr std::size_t kBlock = 65536;
  void Drain() {
    if (!out_.empty()) write_(out_.data(), out_.size());
    out_.clear();
  }
  const PackWriter& write_;
  std::vector<std::uint8_t> out_;
  std::uint64_t acc_ = 0;
  int pending_ = 0;
};

// The prefix code of each value of an offset's upper six bits, read off the
// decoder's tables: the code is the leading bits of the first index mapping
// to that value.
struct OffsetPrefix {
  std::uint8_t bits[64];
  std::uint8_t length[64];
};
constexpr OffsetPrefix MakeOffsetPrefixes() {
  OffsetPrefix p{};
  for (int i = 255; i >= 0; --i) {
    const int high = OffsetHighTable[i], length = OffsetBitsTable[i];
    p.length[high] = static_cast<std::uint8_t>(length);
    p.bits[high] = static_cast<std::uint8_t>(i >> (8 - length));
  }
  return p;
}
constexpr OffsetPrefix kOffsetPrefix = MakeOffsetPrefixes();

// The coder: the symbol tree, mirrored from the decoder, and the bit writer.
class ItemCoder {
 public:
  explicit ItemCoder(const PackWriter& write) : bits_(write) {
    tree_ = {freq_, child_, parent_};
    InitSymbolTree(tree_);
  }

  void Literal(std::uint8_t byte) { Symbol(byte); }

  // A match of `length` bytes starting `distance` (1-4096) bytes back.
  void Match(int length, int distance) {
    Symbol(static_cast<unsigned>(length) + 253);
    const auto offset = static_cast<unsigned>(distance - 1);
    const unsigned high = offset >> 6;
    bits_.Put(static_cast<std::uint32_t>(kOffsetPrefix.bits[high]) << 6 | (offset & 0x3F),
              kOffsetPrefix.length[high] + 6);
  }

  void Finish() { bits_.Finish(); }

 private:
  // The code of a symbol is the path from the root to its leaf; walking up,
  // each node's index says which child it is (odd: the second, bit 1).
  void Symbol(unsigned symbol) {
    std::uint64_t code = 0;
    int length = 0;
    for (unsigned node = parent_[symbol + TreeSize]; node != RootNode; node = parent_[node]) {
      code |= std::uint64_t{node & 1u} << length;
      ++length;
    }
    while (length > 32) {
      length -= 32;
      bits_.Put(static_cast<std::uint32_t>(code >> length), 32);
    }
    bits_.Put(static_cast<std::uint32_t>(code), length);
    BumpSymbol(tree_, symbol);
  }

  std::uint16_t freq_[TreeSize + 1];
  std::uint16_t child_[TreeSize];
  std::uint16_t parent_[TreeSize + SymbolCount];
  SymbolTree tree_;
  BitWriter bits_;
};

struct Match {
  int length = 0;
  int distance = 0;
};

// The input as a sliding buffer over absolute positions. Position 0 is the
// first input byte; positions -4036..-1 are the spaces the decoder's window
// starts with. Hash chains link earlier positions with the same three bytes.
class MatchFinder {
 public:
  MatchFinder(const PackReader& read, int maxChain)
      : read_(read),
        maxChain_(maxChain),
        buffer_(kBufferSize),
        head_(std::size_t{1} << kHashBits, kNone),
        prev_(kWindow, kNone) {
    std::memset(buffer_.data(), ' ', kSpaceHistory);
    base_ = -kSpaceHistory;
    end_ = 0;
    next_insert_ = -kSpaceHistory;
  }

  // Makes sure bytes up to p + kLookahead are buffered (or the input has
  // ended); returns false when p is at the end of the input.
  bool Prepare(std::int64_t p) {
    if (!ended_ && end_ < p + kLookahead) Fill(p);
    return p < end_;
  }

  std::int64_t End() const { return end_; }  // bytes read so far
  bool Ended() const { return ended_; }
  std::uint8_t At(std::int64_t p) const { return buffer_[Index(p)]; }

  // The longest match for position p (all positions before it are entered
  // into the chains first). Never longer than the input left.
  Match Find(std::int64_t p) {
    InsertBefore(p);
    Match best;
    const int maxLength = static_cast<int>(std::min<std::int64_t>(kMaxMatch, end_ - p));
    if (maxLength < kMinMatch) return best;
    const std::uint8_t* here = &buffer_[Index(p)];
    const std::int64_t oldest = std::max<std::int64_t>(p - kWindow, -kSpaceHistory);
    std::int64_t candidate = head_[Hash(here)];
    for (int chain = maxChain_; candidate >= oldest && chain > 0; --chain) {
      const std::uint8_t* there = &buffer_[Index(candidate)];
      if (there[best.length] == here[best.length]) {
        int length = 0;
        while (length < maxLength && there[length] == here[length]) ++length;
        if (length > best.length) {
          best = {length, static_cast<int>(p - candidate)};
          if (length == maxLength) break;
        }
      }
      const std::int64_t older = prev_[Slot(candidate)];
      if (older >= candidate) break;
      candidate = older;
    }
    if (best.length < kMinMatch) best = {};
    return best;
  }

 private:
  static constexpr std::int64_t kNone = INT64_MIN;

  std::size_t Index(std::int64_t p) const { return static_cast<std::size_t>(p - base_); }
  static std::size_t Slot(std::int64_t p) { return static_cast<std::size_t>(p & (kWindow - 1)); }
  static std::size_t Hash(const std::uint8_t* b) {
    const std::uint32_t v = std::uint32_t{b[0]} << 16 | std::uint32_t{b[1]} << 8 | b[2];
    return (v * 2654435761u) >> (32 - kHashBits);
  }

  // Enters every position before p whose three bytes are all known.
  void InsertBefore(std::int64_t p) {
    for (; next_insert_ < p && next_insert_ + 2 < end_; ++next_insert_) {
      const std::size_t h = Hash(&buffer_[Index(next_insert_)]);
      prev_[Slot(next_insert_)] = head_[h];
      head_[h] = next_insert_;
    }
  }

  void Fill(std::int64_t p) {
    // Keep the window behind the position before p (a lazy look at p may
    // come after p + 1 was prepared) and anything not yet entered into the
    // chains; drop the rest.
    const std::int64_t keep = std::min({p - 1 - kWindow, next_insert_, end_});
    if (keep > base_) {
      const std::size_t drop = Index(keep);
      std::memmove(buffer_.data(), buffer_.data() + drop, static_cast<std::size_t>(end_ - keep));
      base_ = keep;
    }
    while (!ended_ && Index(end_) < buffer_.size()) {
      const std::size_t room = buffer_.size() - Index(end_);
      const std::size_t got = read_(&buffer_[Index(end_)], room);
      if (got == 0) {
        ended_ = true;
        break;
      }
      end_ += static_cast<std::int64_t>(got);
      if (end_ > kMaxPackInput) {
        throw PackError("input is larger than 2147483647 bytes, the most this format can hold");
      }
    }
  }

  const PackReader& read_;
  const int maxChain_;
  std::vector<std::uint8_t> buffer_;
  std::int64_t base_;  // position of buffer_[0]
  std::int64_t end_;   // position after the last byte read
  bool ended_ = false;
  std::vector<std::int64_t> head_;  // newest position per hash of three bytes
  std::vector<std::int64_t> prev_;  // per window slot: the next older position of its chain
  std::int64_t next_insert_;        // first position not yet entered
};

}  // namespace

std::int64_t PackLzhBody(const PackReader& read, const PackWriter& write,
                         const PackOptions& options, const PackProgress& progress) {
  auto finder = std::make_unique<MatchFinder>(read, std::max(1, options.maxChain));
  auto coder = std::make_unique<ItemCoder>(write);
  const bool lazy = options.parse == PackParse::Lazy;

  std::int64_t p = 0;
  std::int64_t nextReport = kProgressStep;
  Match match;
  bool haveMatch = false;  // `match` already holds the search result for p
  while (finder->Prepare(p)) {
    if (!haveMatch) match = finder->Find(p);
    haveMatch = false;
    if (match.length == 0) {
      coder->Literal(finder->At(p));
      ++p;
    } else {
      if (lazy && match.length < kMaxMatch && finder->Prepare(p + 1)) {
        const Match next = finder->Find(p + 1);
        if (next.length > match.length) {
          coder->Literal(finder->At(p));
          ++p;
          match = next;
          haveMatch = true;
          continue;
        }
      }
      coder->Match(match.length, match.distance);
      p += match.length;
    }
    if (progress && p >= nextReport) {
      progress(p);
      nextReport = p + kProgressStep;
    }
  }
  coder->Finish();
  if (progress) progress(p);
  return p;
}
