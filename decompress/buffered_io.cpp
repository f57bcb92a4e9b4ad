#include "buffered_io.h"

#include "lzh.h"

using namespace compress_state;

void (*DecompressProgress)(std::int64_t written) = nullptr;

namespace compress_detail {

void RaiseReadError() {
  Raise<ELzrw1Exception>("Lzrw1/LZH : READ ERROR ON " + InFileName + " !");
}

void WritePending() {
  const std::int32_t pending = OutBufPos - 1;
  CheckWriteCount(HostFiles.Write(OutFile, OutBuf, pending), pending);
  OutWritten += pending;
  if (DecompressProgress) DecompressProgress(OutWritten);
}

}  // namespace compress_detail

void CheckReadCount(std::int32_t moved, std::int32_t asked) {
  if (moved != asked) Raise<ELzrw1Exception>("Lzrw1 : ERROR READING FROM " + InFileName + " !");
}

void CheckWriteCount(std::int32_t moved, std::int32_t asked) {
  if (moved != asked) Raise<ELzrw1Exception>("Lzrw1 : ERROR WRITING TO " + OutFileName + " !");
}

void BufferedRead(std::uint8_t* Buf, std::uint16_t Count, std::uint16_t& Got) {
  std::uint16_t got = 0;
  while (got < Count && compress_detail::ReadOneByte(Buf[got])) ++got;
  Got = got;
}

void BufferedWrite(const std::uint8_t* Buf, std::uint16_t Count, std::uint16_t& Done) {
  if (Count == 0) {  // flush; Done is left as it is
    compress_detail::WritePending();
    OutBufPos = 1;
    return;
  }
  for (std::uint16_t done = 0; done < Count;) {
    const auto piece =
        static_cast<std::uint16_t>(Count - done < IoBufferSize ? Count - done : IoBufferSize);
    compress_detail::WriteBytes(Buf + done, piece);
    done = static_cast<std::uint16_t>(done + piece);
  }
  Done = Count;
}
