// bounded_work: how much a damaged or hostile compressed file can make the
// decoder do, and how much memory the decoder and the packer take.
//
// Not a test: a report, run by hand (build/native/bin/bounded_work).
//
// 1. Output before the truncation error. With the largest declared size a
//    body can only run until its bits are used up, so the output it causes is
//    bounded by its length. Each item costs at least one bit of symbol code;
//    a match gives at most 60 bytes and needs at least 9 more bits of offset,
//    so no body can get more than 60 bytes per 10 bits, 48 bytes per byte
//    read. The program measures the ratio on the bodies built to approach it
//    (a packed run of one byte, zero bits), on random bodies, and on bodies
//    found by a small random search that keeps the mutations which raise it.
// 2. Memory. The decoder's heap use (its four tables) and the packer's (all
//    allocations, counted through operator new) for inputs from empty to
//    64 MiB: both must stay the same whatever the input.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <new>
#include <random>
#include <vector>

#include "lzh.h"
#include "lzh_packer.h"
#include "rtl/heap.h"
#include "test_support.h"
#include "unpack_stream.h"

namespace {

// Every operator new of the program, counted.
std::size_t g_liveBytes = 0, g_peakBytes = 0;

}  // namespace

void* operator new(std::size_t size) {
  auto* block = static_cast<std::size_t*>(std::malloc(size + 16));
  if (!block) throw std::bad_alloc();
  *block = size;
  g_liveBytes += size;
  g_peakBytes = std::max(g_peakBytes, g_liveBytes);
  return reinterpret_cast<char*>(block) + 16;
}
void operator delete(void* p) noexcept {
  if (!p) return;
  auto* block = reinterpret_cast<std::size_t*>(static_cast<char*>(p) - 16);
  g_liveBytes -= *block;
  std::free(block);
}
void operator delete(void* p, std::size_t) noexcept {
  operator delete(p);
}
void* operator new[](std::size_t size) {
  return operator new(size);
}
void operator delete[](void* p) noexcept {
  operator delete(p);
}
void operator delete[](void* p, std::size_t) noexcept {
  operator delete(p);
}

namespace {

// The decoder's heap: bytes and blocks taken during one unpack.
std::size_t g_heapBytes = 0, g_heapPeak = 0, g_heapLive = 0;
HeapOps g_countingHeap = {
    [](std::size_t size) -> void* {
      g_heapBytes += size;
      g_heapLive += size;
      g_heapPeak = std::max(g_heapPeak, g_heapLive);
      auto* block = static_cast<std::size_t*>(std::malloc(size + 16));
      *block = size;
      return block + 2;
    },
    [](void* p) {
      if (!p) return true;
      auto* block = static_cast<std::size_t*>(p) - 2;
      g_heapLive -= *block;
      std::free(block);
      return true;
    },
};

struct Ratio {
  std::int64_t read = 0;     // body bytes delivered by the source
  std::int64_t written = 0;  // bytes handed to the sink before the decoder stopped
  bool truncated = false;
  double Value() const {
    return read > 0 ? static_cast<double>(written) / static_cast<double>(read) : 0;
  }
};

Ratio Measure(const Bytes& body) {
  Ratio r;
  std::size_t pos = 0;
  auto source = [&](std::uint8_t& byte) {
    if (pos == body.size()) return false;
    byte = body[pos++];
    ++r.read;
    return true;
  };
  auto sink = [&](std::uint8_t) { ++r.written; };
  try {
    UnpackStreamWith(0x7FFFFFFF, source, sink);
  } catch (const ElzhException&) {
    r.truncated = true;
  }
  return r;
}

void Report(const char* what, const Ratio& r) {
  std::printf("  %-44s %9lld in %11lld out  %6.2f : 1%s\n", what, static_cast<long long>(r.read),
              static_cast<long long>(r.written), r.Value(), r.truncated ? "" : "  (no error!)");
}

void OutputBeforeTruncation() {
  std::printf("Output written before the truncation error (declared size 2147483647):\n");
  double worst = 0;
  auto note = [&](const char* what, const Ratio& r) {
    Report(what, r);
    worst = std::max(worst, r.Value());
  };
  const Bytes run = PackBody(Bytes(4000000, 'a'));
  for (std::size_t n : {std::size_t{16}, std::size_t{1024}, run.size() / 2}) {
    char what[64];
    std::snprintf(what, sizeof what, "packed run of one byte, first %zu bytes", n);
    note(what, Measure(Bytes(run.begin(), run.begin() + static_cast<std::ptrdiff_t>(n))));
  }
  for (std::size_t n : {std::size_t{16}, std::size_t{1024}, std::size_t{1} << 20}) {
    char what[64];
    std::snprintf(what, sizeof what, "%zu zero bytes", n);
    note(what, Measure(Bytes(n, 0)));
  }
  std::mt19937 random(1);
  Ratio bestRandom;
  for (int i = 0; i < 2000; ++i) {
    Bytes body(256);
    for (auto& b : body) b = static_cast<std::uint8_t>(random());
    const Ratio r = Measure(body);
    if (r.Value() > bestRandom.Value()) bestRandom = r;
  }
  note("best of 2000 random 256-byte bodies", bestRandom);

  // Random search: flip bits of a 512-byte body, keep what raises the ratio.
  Bytes body(512, 0);
  Ratio best = Measure(body);
  for (int i = 0; i < 20000; ++i) {
    Bytes trial = body;
    const int flips = 1 + static_cast<int>(random() % 4);
    for (int k = 0; k < flips; ++k)
      trial[random() % trial.size()] ^= static_cast<std::uint8_t>(1u << (random() % 8));
    const Ratio r = Measure(trial);
    if (r.Value() >= best.Value()) {
      body = trial;
      best = r;
    }
  }
  note("random search, 20000 steps on 512 bytes", best);
  std::printf("  worst ratio measured: %.2f : 1 (bound: 48 : 1 plus the two bytes read ahead)\n\n",
              worst);
}

void DecoderMemory() {
  std::printf("Decoder heap per unpack (the four tables), whatever the body:\n");
  const HeapOps saved = Heap;
  Heap = g_countingHeap;
  std::mt19937 random(2);
  struct Body {
    const char* what;
    Bytes bytes;
    std::int32_t size;
  };
  Bytes noise(1 << 20);
  for (auto& b : noise) b = static_cast<std::uint8_t>(random());
  const Body bodies[] = {
      {"empty body, size 0", {}, 0},
      {"1 MiB random body, size 1 MiB", noise, 1 << 20},
      {"packed 4 MB run, size 4 MB", PackBody(Bytes(4000000, 'a')), 4000000},
      {"1 MiB zero body, huge size", Bytes(1 << 20, 0), 0x7FFFFFFF},
  };
  for (const Body& b : bodies) {
    g_heapBytes = g_heapPeak = 0;
    const std::size_t newBefore = g_peakBytes;
    g_peakBytes = g_liveBytes;
    std::size_t pos = 0;
    std::int64_t out = 0;
    auto source = [&](std::uint8_t& byte) {
      if (pos == b.bytes.size()) return false;
      byte = b.bytes[pos++];
      return true;
    };
    auto sink = [&](std::uint8_t) { ++out; };
    try {
      UnpackStreamWith(b.size, source, sink);
    } catch (const ElzhException&) {
    }
    std::printf("  %-36s %10lld out: %zu heap bytes taken, %zu at most at once, %zu by new\n",
                b.what, static_cast<long long>(out), g_heapBytes, g_heapPeak,
                g_peakBytes - g_liveBytes);
    g_peakBytes = std::max(g_peakBytes, newBefore);
  }
  Heap = saved;
  std::printf("\n");
}

void PackerMemory() {
  std::printf("Packer memory at most at once (all allocations), streaming the input:\n");
  for (std::int64_t size : {std::int64_t{0}, std::int64_t{1} << 10, std::int64_t{1} << 20,
                            std::int64_t{16} << 20, std::int64_t{64} << 20}) {
    std::mt19937 random(3);
    std::int64_t fed = 0, packed = 0;
    g_peakBytes = g_liveBytes;
    const std::size_t base = g_liveBytes;
    PackLzhBody(
        [&](std::uint8_t* buffer, std::size_t count) {
          const auto n = static_cast<std::size_t>(
              std::min<std::int64_t>(static_cast<std::int64_t>(count), size - fed));
          // Text-like data with repeats, so that the match finder works.
          for (std::size_t k = 0; k < n; ++k) {
            buffer[k] = static_cast<std::uint8_t>(
                random() % 7 == 0 ? random() : 'a' + (fed + static_cast<std::int64_t>(k)) % 23);
          }
          fed += static_cast<std::int64_t>(n);
          return n;
        },
        [&](const std::uint8_t*, std::size_t n) { packed += static_cast<std::int64_t>(n); });
    std::printf("  input %9lld bytes -> body %9lld bytes: %zu bytes at most at once\n",
                static_cast<long long>(size), static_cast<long long>(packed), g_peakBytes - base);
  }
}

}  // namespace

int main() {
  OutputBeforeTruncation();
  DecoderMemory();
  PackerMemory();
  return 0;
}
