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
#include "short_copy.h"

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

// Takes `count` bytes exactly as `count` calls of WriteOneByte() would: a
// full buffer is written only when the byte after it arrives, so the file
// still sees blocks of exactly IoBufferSize bytes at the same moments.
inline void WriteByteRun(const std::uint8_t* bytes, unsigned count) {
  using namespace compress_state;
  while (count > 0) {
    if (OutBufPos > IoBufferSize) {
      WritePending();
      OutBufPos = 1;
    }
    const unsigned room = IoBufferSize + 1u - OutBufPos;
    const unsigned piece = count < room ? count : room;
    std::uint8_t* const to = OutBuf + (OutBufPos - 1);
    if (piece <= 64) {
      CopyShort(to, bytes, piece);  // a match: no call
    } else {
      std::memcpy(to, bytes, piece);
    }
    OutBufPos = static_cast<std::uint16_t>(OutBufPos + piece);
    bytes += piece;
    count -= piece;
  }
}

// The sink of the unpack loop: single bytes for literals, runs for matches.
struct BufferedSink {
  void operator()(std::uint8_t byte) const { WriteOneByte(byte); }
  void Span(const std::uint8_t* bytes, unsigned count) const { WriteByteRun(bytes, count); }
};

}  // namespace compress_detail
