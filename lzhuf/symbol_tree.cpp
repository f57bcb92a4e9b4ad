#include "symbol_tree.h"

#include <cstring>

void InitSymbolTree(SymbolTree& t) {
  for (unsigned s = 0; s < SymbolCount; ++s) {
    t.Freq[s] = 1;
    t.Child[s] = static_cast<std::uint16_t>(s + TreeSize);
    t.Parent[s + TreeSize] = static_cast<std::uint16_t>(s);
  }
  for (unsigned i = 0, j = SymbolCount; j <= RootNode; i += 2, ++j) {
    t.Freq[j] = static_cast<std::uint16_t>(t.Freq[i] + t.Freq[i + 1]);
    t.Child[j] = static_cast<std::uint16_t>(i);
    t.Parent[i] = t.Parent[i + 1] = static_cast<std::uint16_t>(j);
  }
  t.Freq[TreeSize] = 0xFFFF;
  t.Parent[RootNode] = 0;
}

void BumpSymbol(SymbolTree& t, unsigned symbol) {
  if (t.Freq[RootNode] == MaxFreq) RebuildSymbolTree(t);
  symbol_tree_detail::IgnoreExchange ignore;
  symbol_tree_detail::BumpFromNode(t, t.Parent[symbol + TreeSize], ignore);
}

void RebuildSymbolTree(SymbolTree& t) {
  std::uint16_t* const freq = t.Freq;
  std::uint16_t* const child = t.Child;
  std::uint16_t* const parent = t.Parent;

  // Gather the leaves at the front, in their present order, halving each
  // frequency with rounding up so that none drops to 0.
  unsigned j = 0;
  for (unsigned i = 0; i < TreeSize; ++i) {
    if (child[i] >= TreeSize) {
      freq[j] = static_cast<std::uint16_t>((freq[i] + 1) / 2);
      child[j] = child[i];
      ++j;
    }
  }

  // Pair them up again: each new internal node goes after every node whose
  // frequency is less than or equal to its own.
  for (unsigned i = 0, node = SymbolCount; node < TreeSize; i += 2, ++node) {
    const std::uint16_t f = static_cast<std::uint16_t>(freq[i] + freq[i + 1]);
    unsigned k = node - 1;
    while (f < freq[k]) --k;
    ++k;
    const std::size_t moved = node - k;
    std::memmove(freq + k + 1, freq + k, moved * sizeof *freq);
    std::memmove(child + k + 1, child + k, moved * sizeof *child);
    freq[k] = f;
    child[k] = static_cast<std::uint16_t>(i);
  }

  for (unsigned i = 0; i < TreeSize; ++i) {
    const unsigned k = child[i];
    parent[k] = static_cast<std::uint16_t>(i);
    if (k < TreeSize) parent[k + 1] = static_cast<std::uint16_t>(i);
  }
}
