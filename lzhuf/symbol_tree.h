// The adaptive Huffman code of literals and match lengths.
//
// Encoder and decoder start from the same tree and update it the same way
// after every symbol, so the tree is never sent. Every tie-break of the update
// and of the periodic rebuild decides the meaning of later bits; the packer in
// tools/ uses these very functions so that both sides can never drift apart.
//
// Layout: nodes 0-626 in non-decreasing order of frequency, root last. The
// two children of an internal node sit at an even index and the odd one after
// it, so a child's index tells which bit leads to it (even: 0, odd: 1).
#pragma once

#include <cstddef>
#include <cstdint>

#ifdef __SSE2__
#include <emmintrin.h>
#endif

inline constexpr unsigned MaxMatch = 60;                                  // longest match
inline constexpr unsigned MatchThreshold = 2;                             // shortest is 3
inline constexpr unsigned SymbolCount = 256 - MatchThreshold + MaxMatch;  // 314
inline constexpr unsigned TreeSize = 2 * SymbolCount - 1;                 // 627 nodes
inline constexpr unsigned RootNode = TreeSize - 1;                        // 626
inline constexpr unsigned MaxFreq = 0x8000;  // root frequency that triggers a rebuild

// The three arrays of one tree. The storage is the caller's: the decoder takes
// it from the heap for the length of one unpack.
struct SymbolTree {
  std::uint16_t* Freq;    // TreeSize + 1 entries; the last is a 0xFFFF sentinel
  std::uint16_t* Child;   // TreeSize entries: first child, or symbol + TreeSize for a leaf
  std::uint16_t* Parent;  // TreeSize + SymbolCount entries: parent of each node, then
                          // for each symbol s at s + TreeSize the node holding its leaf
};

void InitSymbolTree(SymbolTree& tree);
// Counts one more occurrence of `symbol` and restores the order.
void BumpSymbol(SymbolTree& tree, unsigned symbol);
// Halves all leaf frequencies and rebuilds the internal nodes.
void RebuildSymbolTree(SymbolTree& tree);

namespace symbol_tree_detail {

// The last node of the run of frequencies below `k` that follows node c,
// where k = Freq[c] has just outgrown Freq[c + 1]; the 0xFFFF sentinel ends
// every run. Runs of one node are the most common case and need a single
// comparison; long runs (hundreds of leaves share a small count after a
// rebuild) are scanned eight entries at a time, which spares the one
// mispredicted loop exit per entry that a long scalar scan would risk less
// than the eight loads and compares it saves.
inline unsigned RunEnd(const std::uint16_t* freq, unsigned c, std::uint16_t k) {
  unsigned l = c + 1;
  if (freq[l + 1] >= k) return l;
#ifdef __SSE2__
  // SSE2 compares signed 16-bit lanes; flipping the top bit of both sides
  // turns that into the unsigned comparison of the counts.
  const __m128i flip = _mm_set1_epi16(static_cast<short>(0x8000));
  const __m128i limit = _mm_xor_si128(_mm_set1_epi16(static_cast<short>(k)), flip);
  // Entries l + 1 .. l + 8 must lie within the TreeSize + 1 entries.
  while (l + 8 <= TreeSize) {
    const __m128i chunk = _mm_loadu_si128(reinterpret_cast<const __m128i*>(freq + l + 1));
    const auto below = static_cast<unsigned>(
        _mm_movemask_epi8(_mm_cmplt_epi16(_mm_xor_si128(chunk, flip), limit)));
    if (below != 0xFFFF) return l + static_cast<unsigned>(__builtin_ctz(~below)) / 2;
    l += 8;
  }
#endif
  while (freq[l + 1] < k) ++l;
  return l;
}

// Exchanges the subtrees at nodes c and l (c < l): Freq[l] takes the new
// count k, and the children of both nodes get their new parent.
inline void ExchangeNodes(const SymbolTree& t, unsigned c, unsigned l, std::uint16_t k) {
  std::uint16_t* const freq = t.Freq;
  std::uint16_t* const child = t.Child;
  std::uint16_t* const parent = t.Parent;
  freq[c] = freq[l];
  freq[l] = k;
  const unsigned i = child[c];
  parent[i] = static_cast<std::uint16_t>(l);
  if (i < TreeSize) parent[i + 1] = static_cast<std::uint16_t>(l);
  const unsigned j = child[l];
  child[l] = static_cast<std::uint16_t>(i);
  parent[j] = static_cast<std::uint16_t>(c);
  if (j < TreeSize) parent[j + 1] = static_cast<std::uint16_t>(c);
  child[c] = static_cast<std::uint16_t>(j);
}

// Counts one more occurrence at node c and at each node above it up to the
// root, moving every node that outgrows its right neighbour to the end of
// its run first; `exchanged(c, l)` hears of every such exchange.
template <class OnExchange>
inline void BumpFromNode(const SymbolTree& t, std::size_t c, OnExchange& exchanged) {
  std::uint16_t* const freq = t.Freq;
  const std::uint16_t* const parent = t.Parent;
  do {
    // Through a pointer, so that the node and its neighbour share one
    // address computation.
    std::uint16_t* const f = freq + c;
    const auto k = static_cast<std::uint16_t>(*f + 1);
    *f = k;
    if (k > f[1]) {
      const unsigned l = RunEnd(freq, static_cast<unsigned>(c), k);
      ExchangeNodes(t, static_cast<unsigned>(c), l, k);
      exchanged(static_cast<unsigned>(c), l);
      c = l;
    }
    c = parent[c];
  } while (c != 0);  // the root's parent is 0
}

struct IgnoreExchange {
  void operator()(unsigned, unsigned) const {}
};

}  // namespace symbol_tree_detail

// BumpSymbol() for a symbol just decoded, given the nodes its code passed
// through: path[0] is the root, path[depth] the leaf's node. Up to the first
// exchange, the nodes to count are exactly those of the path, read from it
// instead of through Parent, so that the walk up does not wait for one load
// per level; from the first exchange on, the walk goes on through Parent as
// in BumpSymbol(). The result is the same as BumpSymbol(tree, symbol).
//
// `exchanged(c, l)` hears of every exchange. Returns false when the tree was
// rebuilt first (then nothing else is told). path[0 .. TopLevels - 1] must
// hold node indices even past `depth` (they are left as they are).
template <unsigned TopLevels, class OnExchange>
inline bool BumpDecodedSymbol(SymbolTree& t, unsigned symbol, const std::uint16_t* path,
                              unsigned depth, OnExchange& exchanged) {
  using namespace symbol_tree_detail;
  if (t.Freq[RootNode] == MaxFreq) {  // the rebuild reshapes the tree: no path
    RebuildSymbolTree(t);
    IgnoreExchange ignore;
    BumpFromNode(t, t.Parent[symbol + TreeSize], ignore);
    return false;
  }
  std::uint16_t* const freq = t.Freq;
  // Deeper levels than the top ones, if any, one by one...
  for (const std::uint16_t* node = path + depth; node >= path + TopLevels; --node) {
    std::uint16_t* const f = freq + *node;
    const auto k = static_cast<std::uint16_t>(*f + 1);
    *f = k;
    if (k > f[1]) {
      const unsigned l = RunEnd(freq, *node, k);
      ExchangeNodes(t, *node, l, k);
      exchanged(*node, l);
      BumpFromNode(t, t.Parent[l], exchanged);
      return true;
    }
  }
  // ...then always TopLevels steps for the top, those below the code's end
  // counting nothing: the loop's end is then the same for every symbol and
  // never mispredicted.
  for (unsigned level = TopLevels; level-- > 0;) {
    const unsigned node = path[level];
    const unsigned counts = level <= depth ? 1 : 0;
    std::uint16_t* const f = freq + node;
    const auto k = static_cast<std::uint16_t>(*f + counts);
    *f = k;
    if (counts != 0 && k > f[1]) {  // never at the root: the sentinel is above any count
      const unsigned l = RunEnd(freq, node, k);
      ExchangeNodes(t, node, l, k);
      exchanged(node, l);
      BumpFromNode(t, t.Parent[l], exchanged);
      return true;
    }
  }
  return true;
}

// Reads one symbol from the root down, then counts it.
template <class Bits>
unsigned DecodeSymbol(SymbolTree& tree, Bits& bits) {
  unsigned c = tree.Child[RootNode];
  while (c < TreeSize) c = tree.Child[c + bits.ReadCodeBit()];
  unsigned symbol = c - TreeSize;
  BumpSymbol(tree, symbol);
  return symbol;
}
