// The decoder's buffered byte source and sink, inline so that the unpack loop
// that DecompressFile() instantiates calls them without a jump.
//
// The source refills InBuf with one read of up to 32768 bytes when it is used
// up; at the end of the file it delivers nothing and tries the file again on
// the next request. The sink collects bytes in OutBuf and writes a full block
// of exactly 32768 bytes when the byte after it arrives; the flush writes the
// rest (possibly 0 bytes).
#pragma once

#include <cstring>

#include "compress.h"
#include "compress_state.h"

namespace compress_detail {

[[noreturn]] void RaiseReadError();
// Writes the OutBufPos - 1 pending bytes in one write and checks the count.
void WritePending();

// Delivers one byte; false at the end of the input.
inline bool ReadOneByte(std::uint8_t& byte) {
  using namespace compress_state;
  if (InBufPos > InBufLen) {
    std::int32_t n = HostFiles.Read(InFile, InBuf, IoBufferSize);
    if (n < 0) RaiseReadError();
    InBufLen = n;
    if (n == 0) return false;
    InBufPos = 1;
  }
  byte = InBuf[InBufPos - 1];
  ++InBufPos;
  return true;
}

// Takes `count` bytes, 1 to IoBufferSize.
inline void WriteBytes(const std::uint8_t* bytes, std::uint16_t count) {
  using namespace compress_state;
  if (OutBufPos > IoBufferSize || OutBufPos + count > IoBufferSize + 1) {
    WritePending();
    OutBufPos = 1;
  }
  std::memcpy(OutBuf + (OutBufPos - 1), bytes, count);
  OutBufPos = static_cast<std::uint16_t>(OutBufPos + count);
}

inline void WriteOneByte(std::uint8_t byte) {
  using namespace compress_state;
  if (OutBufPos > IoBufferSize) {
    WritePending();
    OutBufPos = 1;
  }
  OutBuf[OutBufPos - 1] = byte;
  ++OutBufPos;
}

}  // namespace compress_detail
