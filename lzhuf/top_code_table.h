// A copy of the top of the symbol tree, for decoding.
//
// Walking the tree costs one dependent load per bit of a code. This table
// keeps the top TopBits levels of the tree as a complete binary tree in an
// array, where the node reached by any bit prefix has a fixed slot: all the
// nodes along the next TopBits bits are then loads that do not wait for each
// other, and one more tells where a code shorter than that ends.
//
// The copy is kept up to date as the tree changes: an exchange of the update
// gives nodes new children, so the slots below a node that sits in the table
// are filled again (rare, as the nodes near the root count so much more than
// their neighbours that they seldom change place, and cheap, as such nodes
// mostly sit low in the table with few slots below them); a rebuild fills
// the whole table again.
#pragma once

#include <bit>
#include <cstdint>

#include "symbol_tree.h"

inline constexpr unsigned TopBits = 8;

class TopCodeTable {
 public:
  // Bits the code starting with the TopBits bits `prefix` takes within the
  // top levels: TopBits, or fewer when it ends at a leaf there.
  unsigned Bits(unsigned prefix) const { return stop_[kBottom + prefix]; }

  // The node reached after d bits of `prefix` (1 <= d <= TopBits); past the
  // end of a shorter code, that code's leaf again.
  unsigned Node(unsigned prefix, unsigned d) const {
    return slots_[(1u << d) | (prefix >> (TopBits - d))];
  }

  void Fill(const std::uint16_t* child) {
    slots_[1] = RootNode;
    stop_[1] = TopBits;
    slotOf_[RootNode] = 1;
    FillBelow(1, 0, child);
  }

  // Nodes c and l have exchanged their subtrees (and so their children).
  void Exchanged(unsigned c, unsigned l, const std::uint16_t* child) {
    Refresh(c, child);
    Refresh(l, child);
  }

 private:
  static constexpr unsigned kBottom = 1u << TopBits;  // the first slot at depth TopBits

  // If `node` has a slot above the bottom level, fills everything below it.
  void Refresh(unsigned node, const std::uint16_t* child) {
    const unsigned h = slotOf_[node];
    if (h == 0 || slots_[h] != node) return;  // not in the table (or no more)
    const unsigned depth = static_cast<unsigned>(std::bit_width(h)) - 1;
    if (stop_[h] < depth) return;  // a copy of a leaf above, not the node's own slot
    stop_[h] = static_cast<std::uint8_t>(child[node] >= TreeSize ? depth : TopBits);
    FillBelow(h, depth, child);
  }

  // Fills the slots below slot h (at `depth`), level by level.
  void FillBelow(unsigned h, unsigned depth, const std::uint16_t* child) {
    for (unsigned first = h, last = h; depth < TopBits; ++depth) {
      for (unsigned g = first; g <= last; ++g) Expand(g, depth, child);
      first = 2 * first;
      last = 2 * last + 1;
    }
  }

  // Sets the two slots below slot g, at depth d + 1.
  void Expand(unsigned g, unsigned d, const std::uint16_t* child) {
    const unsigned node = slots_[g];
    if (stop_[g] != TopBits) {  // g is a leaf or below one: repeat it
      slots_[2 * g] = slots_[2 * g + 1] = static_cast<std::uint16_t>(node);
      stop_[2 * g] = stop_[2 * g + 1] = stop_[g];
      return;
    }
    const unsigned first = child[node];
    for (unsigned bit = 0; bit < 2; ++bit) {
      const unsigned slot = 2 * g + bit;
      const unsigned next = first + bit;
      slots_[slot] = static_cast<std::uint16_t>(next);
      stop_[slot] = static_cast<std::uint8_t>(child[next] >= TreeSize ? d + 1 : TopBits);
      // Nodes at the bottom level are looked up by index, their children
      // are not in the table: they need no slot of their own.
      if (d + 1 < TopBits) slotOf_[next] = static_cast<std::uint16_t>(slot);
    }
  }

  // Slot h holds the node at depth log2(h) reached by the bits of h after
  // its leading 1; slot 1 is the root.
  std::uint16_t slots_[2 * kBottom];
  // Per slot: the depth of the leaf that ends the code there, or TopBits.
  std::uint8_t stop_[2 * kBottom];
  // Per node: its slot, if it sits above the bottom level (stale entries are
  // told apart by checking the slot).
  std::uint16_t slotOf_[TreeSize] = {};
};
