// The unpack loop, as a template over its byte source and sink.
//
// UnpackStream() hands it the two procedures of lzh.h; the decompressor
// instantiates it with its buffered file source and sink directly, so that
// the per-byte calls are inlined into the loop.
//
// Source: a callable `bool(std::uint8_t& byte)`, asked for one byte at a time
// (the requests are those of the byte-wise refill; see item_bit_reader.h).
// Sink: a callable `void(std::uint8_t byte)` taking the next output byte; a
// sink that also has `Span(bytes, count)` gets each block-copied match as one
// run (see SpanSink), all others one byte per call.
//
// What makes it faster than the plain loop, each keeping every output byte,
// the order in which the sink gets them and every source request as before:
// the first eight levels of each code come from a table of the tree's top
// (top_code_table.h); the update walks back up the path the decode came down
// (BumpDecodedSymbol); the offset code is taken in one step; and a match
// that neither wraps around the window nor reaches into its own output is
// copied as a block.
#pragma once

#include <cstdint>
#include <cstring>

#include "item_bit_reader.h"
#include "lzh.h"
#include "short_copy.h"
#include "symbol_tree.h"
#include "top_code_table.h"

inline constexpr unsigned WindowSize = 4096;
inline constexpr unsigned WindowMask = WindowSize - 1;
// The first window position written; the ones before it start as spaces.
inline constexpr unsigned FirstWindowPos = WindowSize - MaxMatch;

// The work state of one unpack, taken from the heap at its start and given
// back at its end. One unpack at a time.
struct LzhWorkTables {
  std::uint8_t* Window;  // the last 4096 bytes produced, as a ring
  SymbolTree Tree;
};

// Fills `tables` or raises ElzhException "Cannot get memory" (with nothing
// left allocated).
void AllocWorkTables(LzhWorkTables& tables);
// Releases everything; raises ElzhException "Error freeing memory" when the
// heap refuses a block (after offering it every block).
void FreeWorkTables(LzhWorkTables& tables);
// Releases everything and ignores failures: the way out after an error.
void FreeWorkTablesQuietly(LzhWorkTables& tables) noexcept;

[[noreturn]] void RaiseTruncatedBody();

// Holds the work tables for the length of one unpack.
class WorkTablesHold {
 public:
  WorkTablesHold() { AllocWorkTables(tables_); }
  ~WorkTablesHold() {
    if (!released_) FreeWorkTablesQuietly(tables_);
  }
  WorkTablesHold(const WorkTablesHold&) = delete;
  WorkTablesHold& operator=(const WorkTablesHold&) = delete;
  LzhWorkTables& Tables() { return tables_; }
  void Release() {
    released_ = true;
    FreeWorkTables(tables_);
  }

 private:
  LzhWorkTables tables_{};
  bool released_ = false;
};

// A sink that also takes several bytes at once: `sink.Span(bytes, count)`
// must amount to `count` single-byte calls. Other sinks get one call per byte.
template <class Sink>
concept SpanSink = requires(Sink& sink, const std::uint8_t* bytes, unsigned count) {
  sink.Span(bytes, count);
};

template <class Sink>
inline void EmitSpan(Sink& sink, const std::uint8_t* bytes, unsigned count) {
  if constexpr (SpanSink<Sink>) {
    sink.Span(bytes, count);
  } else {
    for (unsigned i = 0; i < count; ++i) sink(bytes[i]);
  }
}

template <class Source, class Sink>
void UnpackStreamWith(std::int32_t TextSize, Source& source, Sink& sink) {
  WorkTablesHold hold;
  // Local copies of the table pointers: the compiler may then keep them in
  // registers, although every byte stored through the window or the sink
  // could, as far as it knows, have changed the tables' holder.
  std::uint8_t* const window = hold.Tables().Window;
  SymbolTree tree = hold.Tables().Tree;
  const std::uint16_t* const child = tree.Child;

  InitSymbolTree(tree);
  // The whole window starts as spaces: a stream may open with a match that
  // copies them. (Positions from FirstWindowPos on are written before any
  // well-formed stream can read them.)
  std::memset(window, ' ', WindowSize);

  ItemBitReader<Source> bits(source);
  TopCodeTable top;
  top.Fill(child);
  auto exchanged = [&top, child](unsigned c, unsigned l) { top.Exchanged(c, l, child); };
  // The nodes the current symbol's code passed through, root first, for the
  // update that follows; a code is at most one bit per internal node long.
  std::uint16_t path[SymbolCount + TopBits];
  path[0] = RootNode;
  unsigned r = FirstWindowPos;
  std::int32_t count = 0;
  // The first symbol's bits: from here on, at least 8 bits are pending at
  // the start of every item. (The byte-wise refill asks for two bytes at the
  // first bit; this asks for one now and the second when it is needed.)
  if (count < TextSize) bits.EndItem();
  while (count < TextSize) {
    // The first TopBits bits of the code through the copy of the tree's
    // top...
    const unsigned prefix = bits.Peek(TopBits);
    unsigned depth = top.Bits(prefix);
    bits.Skip(depth);
    for (unsigned d = 1; d <= TopBits; ++d) {  // past `depth` unused
      path[d] = static_cast<std::uint16_t>(top.Node(prefix, d));
    }
    // ...and the rest, if any, bit by bit.
    unsigned next = child[path[depth]];
    while (next < TreeSize) {
      const unsigned node = next + bits.Bit();  // bit 0: first child, 1: second
      path[++depth] = static_cast<std::uint16_t>(node);
      next = child[node];
    }
    const unsigned symbol = next - TreeSize;
    if (!BumpDecodedSymbol<TopBits + 1>(tree, symbol, path, depth, exchanged)) top.Fill(child);

    if (symbol < 256) {
      bits.EndItem();
      // An item that needed bits beyond the input is damage, not data:
      // none of its bytes may reach the sink.
      if (bits.PastEnd()) RaiseTruncatedBody();
      const auto byte = static_cast<std::uint8_t>(symbol);
      sink(byte);
      window[r] = byte;
      r = (r + 1) & WindowMask;
      ++count;
      continue;
    }

    const unsigned offset = bits.MatchOffset();
    bits.EndItem();
    if (bits.PastEnd()) RaiseTruncatedBody();
    const unsigned start = (r - offset - 1) & WindowMask;
    unsigned length = symbol - 253;
    // A final match is cut at TextSize: the sink gets exactly that many bytes.
    if (static_cast<std::int32_t>(length) > TextSize - count) {
      length = static_cast<unsigned>(TextSize - count);
    }
    if (start + length <= WindowSize && r + length <= WindowSize && offset + 1 >= length) {
      // Neither end wraps and the match does not reach into its own output:
      // one block copy gives what the byte-wise copy gives.
      CopyShort(window + r, window + start, length);
      EmitSpan(sink, window + r, length);
    } else {
      // Byte by byte, reading each source byte after the one before it was
      // stored, so that a match overlapping its own output repeats it.
      for (unsigned k = 0; k < length; ++k) {
        window[(r + k) & WindowMask] = window[(start + k) & WindowMask];
      }
      const unsigned first = r + length <= WindowSize ? length : WindowSize - r;
      EmitSpan(sink, window + r, first);
      if (first < length) EmitSpan(sink, window, length - first);
    }
    r = (r + length) & WindowMask;
    count += static_cast<std::int32_t>(length);
  }
  hold.Release();
}
