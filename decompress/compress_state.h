// Module-level state of compress, shared by the file decompressor and the
// buffered source and sink. Valid only during one DecompressFile() call.
#pragma once

#include <cstdint>

#include "host_files.h"

namespace compress_state {

inline HostFile InFile = kNoFile;
inline HostFile OutFile = kNoFile;
inline std::uint8_t* InBuf = nullptr;   // IoBufferSize bytes
inline std::uint8_t* OutBuf = nullptr;  // IoBufferSize bytes
inline std::int32_t InBufLen = 0;       // valid bytes in InBuf
inline std::uint16_t InBufPos = 1;      // 1-based position of the next byte to hand out
inline std::uint16_t OutBufPos = 1;     // 1-based position of the next free byte in OutBuf
inline std::int64_t OutWritten = 0;     // bytes written to the output file so far

}  // namespace compress_state
