#include <cstring>

#include "buffered_io.h"
#include "compress.h"
#include "rtl/heap.h"
#include "unpack_stream.h"

std::string InFileName;
std::string OutFileName;

using namespace compress_state;

namespace {

// Releases the two buffers and closes the two files on every way out:
// the input first, then the output, flushed to disk (outcomes ignored).
class DecompressionResources {
 public:
  DecompressionResources() {
    InBuf = static_cast<std::uint8_t*>(Heap.GetMem(IoBufferSize));
    OutBuf = InBuf ? static_cast<std::uint8_t*>(Heap.GetMem(IoBufferSize)) : nullptr;
    if (!OutBuf) {
      ReleaseBuffers();
      Raise<ELzrw1Exception>("Lzrw1 : no memory for I/O Buffers !!");
    }
    InFile = OutFile = kNoFile;
  }
  ~DecompressionResources() {
    if (InFile != kNoFile) HostFiles.Close(InFile);
    if (OutFile != kNoFile) {
      HostFiles.Flush(OutFile);
      HostFiles.Close(OutFile);
    }
    InFile = OutFile = kNoFile;
    ReleaseBuffers();
  }
  DecompressionResources(const DecompressionResources&) = delete;
  DecompressionResources& operator=(const DecompressionResources&) = delete;

 private:
  static void ReleaseBuffers() {
    Heap.FreeMem(InBuf);
    Heap.FreeMem(OutBuf);
    InBuf = OutBuf = nullptr;
  }
};

// Reads a 32-bit little-endian field directly from the input file.
std::uint32_t ReadHeaderField() {
  std::uint8_t bytes[4] = {};
  CheckReadCount(HostFiles.Read(InFile, bytes, 4), 4);
  return std::uint32_t{bytes[0]} | std::uint32_t{bytes[1]} << 8 | std::uint32_t{bytes[2]} << 16 |
         std::uint32_t{bytes[3]} << 24;
}

[[noreturn]] void RaiseNotCompressed() {
  Raise<ELzrw1Exception>("Lzrw1 : " + InFileName + " : NOT A COMPRESSED FILE !");
}

void UnpackLzhBody() {
  const std::uint32_t field = ReadHeaderField();
  // A size with the top bit set cannot be the size of any file written in
  // this format.
  if (field > 0x7FFFFFFFu) RaiseNotCompressed();
  const auto size = static_cast<std::int32_t>(field);

  InBufPos = 1;
  InBufLen = 0;
  OutBufPos = 1;
  OutWritten = 0;
  auto source = [](std::uint8_t& byte) { return compress_detail::ReadOneByte(byte); };
  compress_detail::BufferedSink sink;
  UnpackStreamWith(size, source, sink);
  std::uint16_t done = 0;
  BufferedWrite(nullptr, 0, done);
}

}  // namespace

int DecompressFile() {
  DecompressionResources resources;

  InFile = HostFiles.OpenRead(InFileName);
  if (InFile == kNoFile) {
    Raise<ELzrw1Exception>("Lzrw1 : Inputfile " + InFileName + " not found !");
  }
  OutFile = HostFiles.CreateTruncate(OutFileName);
  if (OutFile == kNoFile) {
    Raise<ELzrw1Exception>("Lzrw1 : Outputfile " + OutFileName + " can not be opened !");
  }

  try {
    if (ReadHeaderField() != LzhSignature) RaiseNotCompressed();
    UnpackLzhBody();
  } catch (...) {
    // No partial output stays behind: close without flushing, then delete.
    HostFiles.Close(OutFile);
    OutFile = kNoFile;
    HostFiles.Delete(OutFileName);
    throw;
  }
  return 1;
}

int TryDecompressFile() {
  try {
    return DecompressFile();
  } catch (...) {
    return -1;
  }
}
