#include "fuzz_checks.h"

#include <algorithm>
#include <vector>

#include "compress.h"
#include "compress_state.h"
#include "lzh.h"
#include "lzh_packer.h"
#include "memory_files.h"
#include "reference_lzhuf.h"
#include "unpack_stream.h"

namespace fuzz_checks {
namespace {

// The decoder's window and the three arrays of its tree.
constexpr std::size_t kTableBytes = 4096 + 2 * (628 + 627 + 941);

std::int32_t Int32At(const std::uint8_t* p) {
  return static_cast<std::int32_t>(std::uint32_t{p[0]} | std::uint32_t{p[1]} << 8 |
                                   std::uint32_t{p[2]} << 16 | std::uint32_t{p[3]} << 24);
}

// What one decoder run produced.
struct Outcome {
  std::vector<std::uint8_t> bytes;
  bool overflow = false;  // the sink was handed a byte beyond the size
  bool raised = false;
  std::string message;
  std::string className;
};

// Compares a run of the product's decoder with the reference decoder.
std::string Compare(const char* who, const Outcome& got, const reference::Decoded& want) {
  const std::string name = who;
  if (got.overflow) return name + ": the sink got more bytes than the size";
  if (want.truncated) {
    if (!got.raised || got.message != kLzhTruncated || got.className != "ElzhException") {
      return name + ": the body ends early but the decoder reported " +
             (got.raised ? "'" + got.message + "'" : "success");
    }
  } else if (got.raised) {
    return name + ": unexpected error '" + got.message + "'";
  }
  if (got.bytes != want.bytes) {
    return name + ": " + std::to_string(got.bytes.size()) + " bytes differ from the " +
           std::to_string(want.bytes.size()) + " of the reference decoder";
  }
  return {};
}

// The function-pointer source and sink of UnpackStream() need their state
// outside the call.
struct ProcState {
  const std::uint8_t* body;
  std::size_t length;
  std::size_t position;
  std::int64_t limit;
  Outcome* outcome;
};
ProcState g_proc;

void MemoryRead(std::uint8_t* buf, std::uint16_t count, std::uint16_t& got) {
  got = 0;
  while (got < count && g_proc.position < g_proc.length)
    buf[got++] = g_proc.body[g_proc.position++];
}

void MemoryWrite(const std::uint8_t* buf, std::uint16_t count, std::uint16_t& done) {
  for (std::uint16_t k = 0; k < count; ++k) {
    if (static_cast<std::int64_t>(g_proc.outcome->bytes.size()) >= g_proc.limit) {
      g_proc.outcome->overflow = true;
    }
    g_proc.outcome->bytes.push_back(buf[k]);
  }
  done = count;
}

template <class Run>
void Capture(Outcome& outcome, Run run) {
  try {
    run();
  } catch (const Exception& e) {
    outcome.raised = true;
    outcome.message = e.Message();
    outcome.className = e.ClassName();
  }
}

}  // namespace

std::string UnpackStreamProperties(const std::uint8_t* data, std::size_t size) {
  if (size < 4) return {};
  const std::int32_t textSize = Int32At(data);
  const std::uint8_t* body = data + 4;
  const std::size_t length = size - 4;
  const std::int64_t limit = std::max<std::int32_t>(textSize, 0);
  const reference::Decoded want = reference::Decode({body, body + length}, textSize);

  Outcome direct;
  std::size_t position = 0;
  auto source = [&](std::uint8_t& byte) {
    if (position == length) return false;
    byte = body[position++];
    return true;
  };
  auto sink = [&](std::uint8_t byte) {
    if (static_cast<std::int64_t>(direct.bytes.size()) >= limit) direct.overflow = true;
    direct.bytes.push_back(byte);
  };
  Capture(direct, [&] { UnpackStreamWith(textSize, source, sink); });
  if (std::string failure = Compare("UnpackStreamWith", direct, want); !failure.empty()) {
    return failure;
  }

  Outcome viaProcs;
  g_proc = {body, length, 0, limit, &viaProcs};
  Capture(viaProcs, [&] { UnpackStream(textSize, MemoryRead, MemoryWrite); });
  return Compare("UnpackStream", viaProcs, want);
}

std::string DecompressFileProperties(const std::uint8_t* data, std::size_t size) {
  using memory_files::Files;
  const std::string in = "C:\\Temp\\Inst-Setup_Quarvel\\Setup.ex_";
  const std::string out = "C:\\Temp\\Inst-Setup_Quarvel\\Setup.exe";
  memory_files::Install install;
  Files() = memory_files::State{};
  Files().files[in].assign(data, data + size);
  Files().files[out] = {'o', 'l', 'd'};
  InFileName = in;
  OutFileName = out;

  // What the file should give.
  std::string wantMessage, wantClass = "ELzrw1Exception";
  reference::Decoded decoded;
  const std::int32_t declared = size >= 8 ? Int32At(data + 4) : 0;
  if (size < 4) {
    wantMessage = "Lzrw1 : ERROR READING FROM " + in + " !";
  } else if (Int32At(data) != static_cast<std::int32_t>(LzhSignature)) {
    wantMessage = "Lzrw1 : " + in + " : NOT A COMPRESSED FILE !";
  } else if (size < 8) {
    wantMessage = "Lzrw1 : ERROR READING FROM " + in + " !";
  } else if (declared < 0) {
    wantMessage = "Lzrw1 : " + in + " : NOT A COMPRESSED FILE !";
  } else {
    decoded = reference::Decode({data + 8, data + size}, declared);
    if (decoded.truncated) {
      wantMessage = kLzhTruncated;
      wantClass = "ElzhException";
    }
  }

  Outcome got;
  int result = 0;
  Capture(got, [&] { result = DecompressFile(); });

  if (!Files().open.empty()) return "a file stays open";
  if (!Files().liveBlocks.empty() || Files().badFrees != 0) return "heap blocks stay allocated";
  // The two I/O buffers and the decoder's four tables, whatever the file.
  if (Files().allocations > 6 || Files().allocatedBytes > 2 * IoBufferSize + kTableBytes) {
    return "more heap than the buffers and tables";
  }
  if (compress_state::InBuf || compress_state::OutBuf || compress_state::InFile != kNoFile ||
      compress_state::OutFile != kNoFile) {
    return "the module state was not reset";
  }
  if (Files().files.count(in) != 1) return "the input file is gone";
  const bool outputThere = Files().files.count(out) == 1;

  if (!wantMessage.empty()) {
    if (!got.raised) return "success where '" + wantMessage + "' was due";
    if (got.message != wantMessage || got.className != wantClass) {
      return "message '" + got.message + "' (" + got.className + ") instead of '" + wantMessage +
             "'";
    }
    if (outputThere) return "the output stays after an error";
    for (std::int32_t n : Files().writeSizes) {
      if (n != IoBufferSize) return "a write of " + std::to_string(n) + " bytes before an error";
    }
    return {};
  }
  if (got.raised) return "unexpected error '" + got.message + "'";
  if (result != 1) return "DecompressFile returned " + std::to_string(result);
  if (!outputThere) return "no output after success";
  if (Files().files[out] != decoded.bytes) return "the output differs from the reference decoder";
  const std::vector<std::int32_t>& writes = Files().writeSizes;
  if (writes.empty()) return "no flush";
  for (std::size_t k = 0; k + 1 < writes.size(); ++k) {
    if (writes[k] != IoBufferSize) return "a block of " + std::to_string(writes[k]) + " bytes";
  }
  if (writes.back() > IoBufferSize || (writes.back() == 0 && declared != 0)) {
    return "a flush of " + std::to_string(writes.back()) + " bytes";
  }
  return {};
}

std::string PackRoundTripProperties(const std::uint8_t* data, std::size_t size) {
  if (size < 1) return {};
  const std::uint8_t option = data[0];
  const std::uint8_t* input = data + 1;
  const std::size_t length = size - 1;

  PackOptions options;
  options.parse = (option & 1) ? PackParse::Greedy : PackParse::Lazy;
  static constexpr int kChains[4] = {1024, 1, 2, 16};
  options.maxChain = kChains[(option >> 1) & 3];
  static constexpr std::size_t kChunks[4] = {SIZE_MAX, 1, 7, 4096};
  const std::size_t chunk = kChunks[(option >> 3) & 3];

  std::size_t position = 0;
  std::vector<std::uint8_t> body;
  const std::int64_t packed = PackLzhBody(
      [&](std::uint8_t* buffer, std::size_t count) {
        const std::size_t n = std::min({count, chunk, length - position});
        std::copy(input + position, input + position + n, buffer);
        position += n;
        return n;
      },
      [&](const std::uint8_t* bytes, std::size_t count) {
        body.insert(body.end(), bytes, bytes + count);
      },
      options);
  if (packed != static_cast<std::int64_t>(length)) return "the packer counted another size";
  const auto textSize = static_cast<std::int32_t>(length);
  const std::vector<std::uint8_t> original(input, input + length);

  Outcome direct;
  std::size_t read = 0;
  auto source = [&](std::uint8_t& byte) {
    if (read == body.size()) return false;
    byte = body[read++];
    return true;
  };
  auto sink = [&](std::uint8_t byte) { direct.bytes.push_back(byte); };
  // One byte more than was packed: the decoder must give back the input and
  // then run out of body. Should it give one more byte, either the last match
  // runs past the end, or the padding bits happen to code one more literal;
  // the reference tells the two apart below.
  Capture(direct, [&] { UnpackStreamWith(textSize + 1, source, sink); });
  const bool oneMore = !direct.raised && direct.bytes.size() == length + 1;
  if (direct.raised && direct.message != kLzhTruncated) {
    return "the decoder failed: " + direct.message;
  }
  if (oneMore) direct.bytes.pop_back();
  if (direct.bytes != original) return "the decoder gives back other bytes";

  reference::Decoder whole(body);
  const reference::Decoded literal = whole.Run(textSize);
  if (literal.truncated || literal.bytes != original) return "the reference decoder disagrees";
  if (literal.readUnwritten) return "a match reads window positions never written";
  const auto bits = static_cast<std::int64_t>(body.size()) * 8;
  if (whole.BitsUsed() > bits || whole.BitsUsed() <= bits - 8) {
    return "the body is " + std::to_string(body.size()) + " bytes for " +
           std::to_string(whole.BitsUsed()) + " bits of items";
  }
  // A last match that runs past the end has its next byte without reading
  // another bit.
  if (oneMore) {
    reference::Decoder onceMore(body);
    const reference::Decoded more = onceMore.Run(textSize + 1);
    if (!more.truncated && onceMore.BitsUsed() == whole.BitsUsed()) {
      return "the last match runs past the end of the input";
    }
  }
  return {};
}

}  // namespace fuzz_checks
