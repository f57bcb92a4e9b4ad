// lzh: the LZHUF stream decoder.
//
// An LZHUF body is one bit stream of items. Each item starts with a symbol of
// an adaptive Huffman code (symbol_tree.h): 0-255 is a literal byte, 256-313 a
// match of 3 to 60 bytes, followed by the match's offset into a 4096-byte
// sliding window in a fixed prefix code (bit_reader.h). The decoder is told
// how many bytes to produce; the stream carries no end mark of its own.
//
// The module never touches a file: bytes come from a source and go to a sink.
#pragma once

#include <cstdint>

#include "rtl/exception.h"

// Byte source: fill `Buf` with up to `Count` bytes and report in `Got` how
// many were delivered; fewer than asked means the input has ended.
using TReadBytesProc = void (*)(std::uint8_t* Buf, std::uint16_t Count, std::uint16_t& Got);
// Byte sink: take `Count` bytes from `Buf` and report in `Done` how many were
// taken; a count of 0 asks the sink to flush.
using TWriteBytesProc = void (*)(const std::uint8_t* Buf, std::uint16_t Count, std::uint16_t& Done);

QUARVEL_EXCEPTION_CLASS(ElzhException);

inline constexpr const char* kLzhNoMemory = "LZH : Cannot get memory for dictionary tables";
inline constexpr const char* kLzhFreeError = "LZH : Error freeing memory for dictionary tables";
inline constexpr const char* kLzhTruncated = "LZH : Unexpected end of compressed data";

// Decodes exactly `TextSize` bytes (none when it is 0 or less) from the body
// delivered by `ReadProc`, handing them one by one to `WriteProc`. Raises
// ElzhException when the work tables cannot be had or when the body ends
// before the bytes are complete; errors of the two procedures pass through.
void UnpackStream(std::int32_t TextSize, TReadBytesProc ReadProc, TWriteBytesProc WriteProc);
