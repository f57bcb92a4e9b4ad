// A cache of the top of the symbol tree, for decoding.
//
// Walking the tree costs one dependent load per bit of a code. The nodes near
// the root, though, hardly ever change place: they count so much more than
// their neighbours that an exchange up there is rare (a few per hundred
// symbols in typical data, for the top seven levels). So the table keeps the
// top TopBits levels as a complete binary tree in an array, where the node
// reached by any bit prefix has a fixed slot. All nodes along the next
// TopBits bits are then independent loads instead of a chain, and one more
// lookup tells where a code shorter than that ends.
//
// The table relies on the children of the nodes at depth 0 to TopBits - 1.
// Any exchange of the update that involves a node at or above the lowest of
// them, and any rebuild, makes it stale; it is filled again before the next
// symbol (about 255 slots, cheap next to the lookups it saves).
#pragma once

#include <cstdint>

#include "symbol_tree.h"

inline constexpr unsigned TopBits = 6;

class TopCodeTable {
 public:
  bool Stale() const { return stale_; }

  // Called with the result of BumpDecodedSymbol().
  void NoteExchange(unsigned highest) {
    if (highest >= lowest_) stale_ = true;
  }

  // Bits the code starting with the TopBits bits `prefix` takes within the
  // top levels: TopBits, or fewer when it ends at a leaf there.
  unsigned Bits(unsigned prefix) const { return stop_[kFirstLast + prefix]; }

  // The node reached after d bits of `prefix` (1 <= d <= TopBits).
  unsigned Node(unsigned prefix, unsigned d) const {
    return slots_[(1u << d) | (prefix >> (TopBits - d))];
  }

  void Fill(const std::uint16_t* child) {
    slots_[1] = RootNode;
    stop_[1] = TopBits;
    lowest_ = RootNode;
    for (unsigned d = 0, h = 1; d < TopBits; ++d) {
      for (; h < (2u << d); ++h) {
        const unsigned node = slots_[h];
        const unsigned first = child[node];
        unsigned stop = stop_[h];
        if (stop == TopBits) {  // not ended above: `node` is at depth d
          if (node < lowest_) lowest_ = node;
          if (first >= TreeSize) stop = d;  // a leaf: the code ends here
        }
        if (stop == TopBits) {
          slots_[2 * h] = static_cast<std::uint16_t>(first);
          slots_[2 * h + 1] = static_cast<std::uint16_t>(first + 1);
        } else {  // below a leaf: repeat it, never used as a node
          slots_[2 * h] = slots_[2 * h + 1] = static_cast<std::uint16_t>(node);
        }
        stop_[2 * h] = stop_[2 * h + 1] = static_cast<std::uint8_t>(stop);
      }
    }
    stale_ = false;
  }

 private:
  static constexpr unsigned kFirstLast = 1u << TopBits;  // first slot at depth TopBits
  // Slot h holds the node at depth log2(h) reached by the bits of h after
  // its leading 1; slot 1 is the root.
  std::uint16_t slots_[2u << TopBits];
  std::uint8_t stop_[2u << TopBits];  // depth of the leaf ending the code, or TopBits
  unsigned lowest_ = 0;               // the lowest node the table relies on
  bool stale_ = true;
};
