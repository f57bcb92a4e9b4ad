// compress: the kit's compressed file format and its file decompressor.
//
// A compressed file is the signature "!HZL", the uncompressed size as a signed
// 32-bit little-endian number, then an LZHUF body (lzh.h) up to the end of the
// file. There is no trailer and no check value.
//
// DecompressFile() turns the file named by InFileName into OutFileName,
// reading and writing through two 32 KiB buffers. The module keeps its state
// at module level: one decompression at a time.
#pragma once

#include <cstdint>
#include <string>

#include "rtl/exception.h"

QUARVEL_EXCEPTION_CLASS(ELzrw1Exception);

inline constexpr std::uint32_t LzhSignature = 0x4C5A4821;  // "!HZL" read little-endian
inline constexpr std::uint16_t IoBufferSize = 32768;

// Full paths of the two files; set before each call.
extern std::string InFileName;
extern std::string OutFileName;

// Decompresses InFileName into OutFileName and returns 1, or raises
// (ELzrw1Exception or ElzhException). After an error raised once the output
// was created, the output file is deleted.
int DecompressFile();
// DecompressFile() with every error turned into the result -1.
int TryDecompressFile();

// The decoder's byte source and sink over the open files (TReadBytesProc and
// TWriteBytesProc); only valid during DecompressFile().
void BufferedRead(std::uint8_t* Buf, std::uint16_t Count, std::uint16_t& Got);
void BufferedWrite(const std::uint8_t* Buf, std::uint16_t Count, std::uint16_t& Done);

// When set, told the number of bytes written to the output so far after each
// block of it is written (every 32 KiB): for progress displays.
extern void (*DecompressProgress)(std::int64_t written);

// Raise the "ERROR READING FROM" / "ERROR WRITING TO" error when a read or
// write moved another count than asked.
void CheckReadCount(std::int32_t moved, std::int32_t asked);
void CheckWriteCount(std::int32_t moved, std::int32_t asked);
