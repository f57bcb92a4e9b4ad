// The baseline's file side: 32 KiB input and output buffers behind the two
// per-byte procedures, over the host's file routines (the same ones the
// product uses, so that only the decoding differs).
#include <cstring>
#include <vector>

#include "baseline_decoder.h"
#include "host_files.h"

namespace baseline {
namespace {

constexpr std::int32_t kBufferSize = 32768;

HostFile inFile = kNoFile;
HostFile outFile = kNoFile;
std::uint8_t inBuf[kBufferSize];
std::uint8_t outBuf[kBufferSize];
std::int32_t inLen = 0, inPos = 0, outPos = 0;
bool failed = false;

void ReadBytes(std::uint8_t* buf, std::uint16_t count, std::uint16_t& got) {
  got = 0;
  while (got < count) {
    if (inPos >= inLen) {
      inLen = HostFiles.Read(inFile, inBuf, kBufferSize);
      inPos = 0;
      if (inLen < 0) failed = true;
      if (inLen <= 0) return;
    }
    buf[got++] = inBuf[inPos++];
  }
}

void WriteBytes(const std::uint8_t* buf, std::uint16_t count, std::uint16_t& done) {
  if (count == 0) {
    if (HostFiles.Write(outFile, outBuf, outPos) != outPos) failed = true;
    outPos = 0;
    return;
  }
  for (std::uint16_t i = 0; i < count; ++i) {
    if (outPos == kBufferSize) {
      if (HostFiles.Write(outFile, outBuf, outPos) != outPos) failed = true;
      outPos = 0;
    }
    outBuf[outPos++] = buf[i];
  }
  done = count;
}

}  // namespace

bool DecompressFile(const std::string& in, const std::string& out) {
  inFile = HostFiles.OpenRead(in);
  if (inFile == kNoFile) return false;
  outFile = HostFiles.CreateTruncate(out);
  bool ok = outFile != kNoFile;
  std::uint8_t header[8];
  ok = ok && HostFiles.Read(inFile, header, 8) == 8 && std::memcmp(header, "!HZL", 4) == 0;
  if (ok) {
    const std::int32_t size =
        static_cast<std::int32_t>(std::uint32_t{header[4]} | std::uint32_t{header[5]} << 8 |
                                  std::uint32_t{header[6]} << 16 | std::uint32_t{header[7]} << 24);
    inLen = inPos = outPos = 0;
    failed = false;
    Unpack(size, ReadBytes, WriteBytes);
    std::uint16_t done = 0;
    WriteBytes(nullptr, 0, done);
    ok = !failed;
  }
  HostFiles.Close(inFile);
  if (outFile != kNoFile) {
    HostFiles.Flush(outFile);
    HostFiles.Close(outFile);
  }
  return ok;
}

}  // namespace baseline
