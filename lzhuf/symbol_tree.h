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

#include <cstdint>

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

// Reads one symbol from the root down, then counts it.
template <class Bits>
unsigned DecodeSymbol(SymbolTree& tree, Bits& bits) {
  unsigned c = tree.Child[RootNode];
  while (c < TreeSize) c = tree.Child[c + bits.ReadCodeBit()];
  unsigned symbol = c - TreeSize;
  BumpSymbol(tree, symbol);
  return symbol;
}
