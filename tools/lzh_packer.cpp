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

  // The present code length of every symbol: the depth of its leaf.
  void SymbolLengths(std::uint8_t* lengths) const {
    for (unsigned symbol = 0; symbol < SymbolCount; ++symbol) {
      unsigned length = 0;
      for (unsigned node = parent_[symbol + TreeSize]; node != RootNode; node = parent_[node]) {
        ++length;
      }
      lengths[symbol] = static_cast<std::uint8_t>(std::min(length, 255u));
    }
  }

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

struct Match {  // plain, so that arrays of them cost nothing to set up
  int length;
  int distance;
};

// The input as a sliding buffer over absolute positions. Position 0 is the
// first input byte; positions -4036..-1 are the spaces the decoder's window
// starts with. Hash chains link earlier positions with the same three bytes.
class MatchFinder {
 public:
  MatchFinder(const PackReader& read, int maxChain)
      : read_(read),
        maxChain_(maxChain),
        buffer_(kBufferSize + 8),
        head_(std::size_t{1} << kHashBits, 0),
        prev_(kWindow, 0) {
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
    Match found[kMaxMatch];
    const int n = FindAll(p, found);
    return n > 0 ? found[n - 1] : Match{0, 0};
  }

  // Every match for position p that is longer than all nearer ones, nearest
  // (shortest) first: for each length up to the longest, the nearest match
  // of at least that length is the first entry that long. Returns the count.
  int FindAll(std::int64_t p, Match* found) {
    InsertBefore(p);
    int count = 0;
    int bestLength = kMinMatch - 1;
    const int maxLength = static_cast<int>(std::min<std::int64_t>(kMaxMatch, end_ - p));
    if (maxLength < kMinMatch) return 0;
    const std::uint8_t* here = &buffer_[Index(p)];
    // The walk works on tags throughout: no 64-bit arithmetic per step.
    const std::uint32_t oldest = Tag(std::max<std::int64_t>(p - kWindow, -kSpaceHistory));
    const std::uint32_t baseTag = Tag(base_);
    const std::uint8_t* const buffer = buffer_.data();
    const auto distanceBase = static_cast<std::uint32_t>(Tag(p));
    std::uint32_t candidate = head_[Hash(here)];
    for (int chain = maxChain_; candidate >= oldest && chain > 0; --chain) {
      const std::uint8_t* there = buffer + (candidate - baseTag);
      if (there[bestLength] == here[bestLength]) {
        const int length = CommonLength(here, there, maxLength);
        if (length > bestLength) {
          bestLength = length;
          found[count++] = {length, static_cast<int>(distanceBase - candidate)};
          if (length == maxLength) break;
        }
      }
      const std::uint32_t older = prev_[candidate & (kWindow - 1)];
      if (older >= candidate) break;  // the slot was reused: the chain ends
      candidate = older;
    }
    return count;
  }

 private:
  // Positions in the chains are stored as 32-bit tags, p + 4037, so that 0
  // can mean "none" (it is older than any position there is): half the
  // memory of 64-bit positions, so the chains stay in the faster caches.
  // Tags 4096 apart share a chain slot, as their positions do.
  static std::uint32_t Tag(std::int64_t p) {
    return static_cast<std::uint32_t>(p + kSpaceHistory + 1);
  }

  std::size_t Index(std::int64_t p) const { return static_cast<std::size_t>(p - base_); }

  // How many bytes, up to `limit`, a and b have in common; eight at a time
  // (the buffer has room for reading past its end).
  static int CommonLength(const std::uint8_t* a, const std::uint8_t* b, int limit) {
    int length = 0;
    while (length < limit) {
      std::uint64_t x, y;
      std::memcpy(&x, a + length, 8);
      std::memcpy(&y, b + length, 8);
      if (x != y) {
        // Little-endian: the first differing byte is the lowest set one.
        length += __builtin_ctzll(x ^ y) / 8;
        break;
      }
      length += 8;
    }
    return std::min(length, limit);
  }
  static std::size_t Hash(const std::uint8_t* b) {
    const std::uint32_t v = std::uint32_t{b[0]} << 16 | std::uint32_t{b[1]} << 8 | b[2];
    return (v * 2654435761u) >> (32 - kHashBits);
  }

  // Enters every position before p whose three bytes are all known.
  void InsertBefore(std::int64_t p) {
    for (; next_insert_ < p && next_insert_ + 2 < end_; ++next_insert_) {
      const std::size_t h = Hash(&buffer_[Index(next_insert_)]);
      const std::uint32_t tag = Tag(next_insert_);
      prev_[tag & (kWindow - 1)] = head_[h];
      head_[h] = tag;
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
    while (!ended_ && Index(end_) < kBufferSize) {
      const std::size_t room = kBufferSize - Index(end_);
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
  std::vector<std::uint32_t> head_;  // newest position per hash of three bytes
  std::vector<std::uint32_t> prev_;  // per window slot: the next older position of its chain
  std::int64_t next_insert_;         // first position not yet entered
};

// Parsing by price. For every position the finder lists its matches (for
// each length the nearest distance, the cheapest to code); a shortest-path
// search over a span of positions then picks the items, pricing a literal or
// a match length by its present code length in the adaptive tree and an
// offset by its fixed code. The items are coded up to near the end of the
// span only: the last stretch is decided again with the next span, so that
// the span's end never cuts a match short. Prices are taken at the start of
// each span; the tree drifts little while one span is coded.
class OptimalParser {
 public:
  OptimalParser(MatchFinder& finder, ItemCoder& coder) : finder_(finder), coder_(coder) {}

  // Codes items from position p on and returns the position after the last
  // one; p itself at the end of the input.
  std::int64_t Span(std::int64_t p) {
    for (; filled_ < kSpan && finder_.Prepare(p + filled_); ++filled_) Search(p + filled_, filled_);
    const int n = filled_;
    if (n == 0) return p;
    const bool ended = n < kSpan;  // the span reaches the end of the input

    std::uint8_t lengths[SymbolCount];
    coder_.SymbolLengths(lengths);
    cost_[0] = 0;
    for (int i = 1; i <= n; ++i) cost_[i] = kUnreached;
    for (int i = 0; i < n; ++i) {
      const std::uint32_t here = cost_[i];
      const std::uint32_t literal = here + lengths[literal_[i]];
      if (literal < cost_[i + 1]) {
        cost_[i + 1] = literal;
        step_[i + 1] = 1;
      }
      int shorter = kMinMatch - 1;
      for (int m = 0; m < counts_[i]; ++m) {
        const Found& match = matches_[i][m];
        const std::uint32_t offset = here + OffsetCodeLength(match.distance);
        const int longest = std::min<int>(match.length, n - i);
        const std::uint32_t distanceBits = std::uint32_t{match.distance} << 8;
        for (int length = shorter + 1; length <= longest; ++length) {
          // Ties go to the longer item (fewer symbols). Selects rather than
          // branches: which length wins is as good as random.
          const std::uint32_t price = offset + lengths[length + 253];
          const bool better = price <= cost_[i + length];
          cost_[i + length] = better ? price : cost_[i + length];
          step_[i + length] =
              better ? distanceBits | static_cast<std::uint32_t>(length) : step_[i + length];
        }
        shorter = match.length;
      }
    }

    // Walk back from the end, then code the items in order up to the last
    // stretch (all of them at the end of the input).
    int items = 0;
    for (int i = n; i > 0; i -= StepLength(step_[i])) chosen_[items++] = step_[i];
    const int limit = ended ? n : n - kRedecide;
    int done = 0;
    while (items > 0 && done < limit) {
      const std::uint32_t item = chosen_[--items];
      if (StepLength(item) == 1) {
        coder_.Literal(literal_[done]);
      } else {
        coder_.Match(StepLength(item), static_cast<int>(item >> 8));
      }
      done += StepLength(item);
    }

    // Keep what was found for the positions not coded yet.
    filled_ = n - done;
    std::memmove(literal_, literal_ + done, static_cast<std::size_t>(filled_));
    std::memmove(counts_, counts_ + done, static_cast<std::size_t>(filled_));
    std::memmove(matches_, matches_ + done, static_cast<std::size_t>(filled_) * sizeof matches_[0]);
    return p + done;
  }

 private:
  static constexpr int kSpan = 4096;
  // The stretch at the end of a span that the next span decides again;
  // longer than any match, so no coded item reaches the span's end.
  static constexpr int kRedecide = 256;
  // A match this long spares the search at the positions it covers (their
  // matches follow from it): something better rarely starts inside it, and
  // runs would otherwise cost a full search per byte.
  static constexpr int kNiceLength = 18;
  // Matches kept per position: the longest ones (rarely are there more).
  static constexpr int kKept = 16;
  static constexpr std::uint32_t kUnreached = 0xFFFFFFFF;

  struct Found {
    std::uint8_t length;
    std::uint16_t distance;
  };
  // The item that reaches a position: its length (1: a literal) in the low
  // eight bits, a match's distance above them.
  static int StepLength(std::uint32_t step) { return static_cast<int>(step & 0xFF); }

  static std::uint32_t OffsetCodeLength(int distance) {
    return kOffsetPrefix.length[(distance - 1) >> 6] + 6u;
  }

  // Lists the matches of position p in entry i.
  void Search(std::int64_t p, int i) {
    literal_[i] = finder_.At(p);
    if (skip_ > 0 && i > 0) {
      // Inside a long match: no search. Every match of the position before
      // goes on here, one byte shorter, which is what the parse needs to
      // end the long match anywhere.
      --skip_;
      int kept = 0;
      for (int m = 0; m < counts_[i - 1]; ++m) {
        const Found& before = matches_[i - 1][m];
        if (before.length > kMinMatch) {
          matches_[i][kept++] = {static_cast<std::uint8_t>(before.length - 1), before.distance};
        }
      }
      counts_[i] = static_cast<std::uint8_t>(kept);
      return;
    }
    skip_ = 0;
    Match found[kMaxMatch];
    const int count = finder_.FindAll(p, found);
    const int first = std::max(0, count - kKept);
    for (int m = first; m < count; ++m) {
      matches_[i][m - first] = {static_cast<std::uint8_t>(found[m].length),
                                static_cast<std::uint16_t>(found[m].distance)};
    }
    counts_[i] = static_cast<std::uint8_t>(count - first);
    if (count > 0 && found[count - 1].length >= kNiceLength) {
      skip_ = found[count - 1].length - kMinMatch;
    }
  }

  MatchFinder& finder_;
  ItemCoder& coder_;
  int filled_ = 0;  // entries holding positions from the span's start on
  int skip_ = 0;
  std::uint8_t literal_[kSpan];
  std::uint8_t counts_[kSpan];
  Found matches_[kSpan][kKept];
  std::uint32_t cost_[kSpan + 1];
  std::uint32_t step_[kSpan + 1];
  std::uint32_t chosen_[kSpan];
};

}  // namespace

std::int64_t PackLzhBody(const PackReader& read, const PackWriter& write,
                         const PackOptions& options, const PackProgress& progress) {
  auto finder = std::make_unique<MatchFinder>(read, std::max(1, options.maxChain));
  auto coder = std::make_unique<ItemCoder>(write);
  const bool lazy = options.parse == PackParse::Lazy;

  std::int64_t p = 0;
  std::int64_t nextReport = kProgressStep;
  if (options.parse == PackParse::Optimal) {
    auto parser = std::make_unique<OptimalParser>(*finder, *coder);
    for (std::int64_t next; (next = parser->Span(p)) != p; p = next) {
      if (progress && next >= nextReport) {
        progress(next);
        nextReport = next + kProgressStep;
      }
    }
    coder->Finish();
    if (progress) progress(p);
    return p;
  }

  Match match{0, 0};
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
