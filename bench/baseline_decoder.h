// The yardstick of the decoder benchmark: a straightforward decoder of the
// kit's compressed format, written the plain way.
//
// Its byte source and sink are procedures called through pointers for every
// single byte, the unpack loop walks the tree bit by bit and copies matches
// byte by byte, and the files are read and written through 32 KiB buffers.
// It lives in the benchmark only; the product decoder is lzhuf/ with the
// buffered source and sink of decompress/.
#pragma once

#include <cstdint>
#include <string>

namespace baseline {

using ReadProc = void (*)(std::uint8_t* buf, std::uint16_t count, std::uint16_t& got);
using WriteProc = void (*)(const std::uint8_t* buf, std::uint16_t count, std::uint16_t& done);

// Decodes `textSize` bytes from `read` into `write`, one byte per call each.
void Unpack(std::int32_t textSize, ReadProc read, WriteProc write);

// Decodes the compressed file `in` ("!HZL", size, body) into `out`; false
// when a file cannot be opened, read or written or is no compressed file.
bool DecompressFile(const std::string& in, const std::string& out);

}  // namespace baseline
