// The unpack loop, as a template over its byte source and sink.
//
// UnpackStream() hands it the two procedures of lzh.h; the decompressor
// instantiates it with its buffered file source and sink directly, so that
// the per-byte calls are inlined into the loop.
//
// Sink: a callable `void(std::uint8_t byte)` taking the next output byte.
#pragma once

#include <cstdint>

#include "bit_reader.h"
#include "lzh.h"
#include "symbol_tree.h"

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

template <class Source, class Sink>
void UnpackStreamWith(std::int32_t TextSize, Source& source, Sink& sink) {
  WorkTablesHold hold;
  LzhWorkTables& t = hold.Tables();
  std::uint8_t* const window = t.Window;

  InitSymbolTree(t.Tree);
  // The whole window starts as spaces: a stream may open with a match that
  // copies them. (Positions from FirstWindowPos on are written before any
  // well-formed stream can read them.)
  for (unsigned i = 0; i < WindowSize; ++i) window[i] = ' ';

  BitReader<Source> bits(source);
  unsigned r = FirstWindowPos;
  std::int32_t count = 0;
  while (count < TextSize) {
    const unsigned symbol = DecodeSymbol(t.Tree, bits);
    if (symbol < 256) {
      // An item that needed bits beyond the input is damage, not data:
      // none of its bytes may reach the sink.
      if (bits.PastEnd()) RaiseTruncatedBody();
      const auto byte = static_cast<std::uint8_t>(symbol);
      sink(byte);
      window[r] = byte;
      r = (r + 1) & WindowMask;
      ++count;
    } else {
      const unsigned start = (r - bits.DecodeMatchOffset() - 1) & WindowMask;
      if (bits.PastEnd()) RaiseTruncatedBody();
      std::int32_t length = static_cast<std::int32_t>(symbol - 253);
      // A final match is cut at TextSize: the sink gets exactly that many bytes.
      if (length > TextSize - count) length = TextSize - count;
      // Byte by byte, reading each source byte after the one before it was
      // stored, so that a match overlapping its own output repeats it.
      for (std::int32_t k = 0; k < length; ++k) {
        const std::uint8_t byte = window[(start + static_cast<unsigned>(k)) & WindowMask];
        sink(byte);
        window[r] = byte;
        r = (r + 1) & WindowMask;
      }
      count += length;
    }
  }
  hold.Release();
}
