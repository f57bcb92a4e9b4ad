// The fast paths of the decoder against the plain rules they stand in for:
// the item bit reader and the span sink (the order of source requests and
// sink bytes), the path-driven tree update and the table of the tree's top,
// the short copies, and the block writes of the buffered span sink.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <random>
#include <string>

#include "bit_reader.h"
#include "compress.h"
#include "host_files.h"
#include "short_copy.h"
#include "symbol_tree.h"
#include "temp_dir.h"
#include "test_support.h"
#include "top_code_table.h"
#include "unpack_stream.h"

namespace {

// ------------------------------------------------- requests and sink bytes

// Everything the outside can see of an unpack, in order: each source request
// (with the byte delivered, or -1 at the end of the input), each byte handed
// to the sink, and how it ended.
struct Timeline {
  std::vector<int> events;
  std::string end;
};

struct LoggingSource {
  const Bytes& bytes;
  Timeline& log;
  int failAt;  // request number that raises, or 0
  std::size_t pos = 0;
  int calls = 0;
  bool operator()(std::uint8_t& byte) {
    if (++calls == failAt) throw std::runtime_error("read failed");
    if (pos >= bytes.size()) {
      log.events.push_back(-1);
      return false;
    }
    byte = bytes[pos++];
    log.events.push_back(1000 + byte);
    return true;
  }
};

struct LoggingSink {
  Timeline& log;
  int failAt;  // sink byte number that raises, or 0
  int taken = 0;
  void operator()(std::uint8_t byte) {
    if (++taken == failAt) throw std::runtime_error("write failed");
    log.events.push_back(byte);
  }
};

// The same sink taking runs as well, as the decompressor's does.
struct LoggingSpanSink : LoggingSink {
  LoggingSpanSink(Timeline& events, int failing) : LoggingSink{events, failing} {}
  void Span(const std::uint8_t* bytes, unsigned count) {
    for (unsigned i = 0; i < count; ++i) (*this)(bytes[i]);
  }
};

// The loop by the plain rules: the byte-wise bit reader, the walk bit by bit,
// BumpSymbol, matches copied byte by byte.
template <class Source, class Sink>
void ByteWiseUnpack(std::int32_t size, Source& source, Sink& sink) {
  std::uint16_t freq[TreeSize + 1], child[TreeSize], parent[TreeSize + SymbolCount];
  SymbolTree tree{freq, child, parent};
  InitSymbolTree(tree);
  std::uint8_t window[4096];
  std::memset(window, ' ', sizeof window);
  BitReader<Source> bits(source);
  unsigned r = 4036;
  for (std::int32_t count = 0; count < size;) {
    const unsigned symbol = DecodeSymbol(tree, bits);
    if (symbol < 256) {
      if (bits.PastEnd()) RaiseTruncatedBody();
      sink(static_cast<std::uint8_t>(symbol));
      window[r] = static_cast<std::uint8_t>(symbol);
      r = (r + 1) & 4095;
      ++count;
    } else {
      const unsigned start = (r - bits.DecodeMatchOffset() - 1) & 4095;
      if (bits.PastEnd()) RaiseTruncatedBody();
      for (unsigned k = 0; k < symbol - 253 && count < size; ++k, ++count) {
        const std::uint8_t byte = window[(start + k) & 4095];
        sink(byte);
        window[r] = byte;
        r = (r + 1) & 4095;
      }
    }
  }
}

template <class Sink, bool kByteWise>
Timeline Record(const Bytes& body, std::int32_t size, int failRead, int failWrite) {
  Timeline log;
  LoggingSource source{body, log, failRead};
  Sink sink(log, failWrite);
  try {
    if constexpr (kByteWise) {
      ByteWiseUnpack(size, source, sink);
    } else {
      UnpackStreamWith(size, source, sink);
    }
    log.end = "done";
  } catch (const Exception& e) {
    log.end = e.Message();
  } catch (const std::runtime_error& e) {
    log.end = e.what();
  }
  log.end += " after " + std::to_string(source.calls) + " requests";
  return log;
}

// The unpack loop asks for its input bytes as the byte-wise refill would: by
// every sink byte, every error and the end, it has made exactly the same
// requests (fetching within an item a little later is all it may differ in).
TEST(FastUnpack, RequestsAndSinkBytesComeInTheByteWiseOrder) {
  std::mt19937 rng(77);
  struct Body {
    Bytes body;
    std::int32_t size;
  };
  std::vector<Body> bodies;
  const Bytes samples[] = {SampleText(40000), RandomBytes(3000, 3), Bytes(70000, 0),
                           SampleText(150000, 9)};  // the last one rebuilds the tree
  for (const Bytes& data : samples) {
    const Bytes body = PackBody(data);
    const auto size = static_cast<std::int32_t>(data.size());
    bodies.push_back({body, size});
    bodies.push_back({Bytes(body.begin(), body.begin() + body.size() / 2), size});  // cut short
    bodies.push_back({body, size + 100});  // declares more than it holds
  }
  for (int i = 0; i < 60; ++i) {  // arbitrary bodies, biased to long runs of one bit
    Bytes junk = RandomBytes(rng() % 400, static_cast<std::uint32_t>(rng()));
    for (auto& b : junk) b = static_cast<std::uint8_t>(i % 2 ? b | 0xF0 : b & 0x0F);
    bodies.push_back({junk, static_cast<std::int32_t>(rng() % 4000)});
  }
  bodies.push_back({{}, 0});
  bodies.push_back({{}, 7});

  for (std::size_t i = 0; i < bodies.size(); ++i) {
    const Body& b = bodies[i];
    const int reads = static_cast<int>(b.body.size()) + 2;
    const int failures[][2] = {{0, 0},
                               {1 + static_cast<int>(rng() % reads), 0},
                               {0, 1 + static_cast<int>(rng() % (b.size + 1))}};
    for (const auto& fail : failures) {
      SCOPED_TRACE("body " + std::to_string(i) + ", failing read " + std::to_string(fail[0]) +
                   ", failing write " + std::to_string(fail[1]));
      const Timeline expected = Record<LoggingSink, true>(b.body, b.size, fail[0], fail[1]);
      const Timeline bytewise = Record<LoggingSink, false>(b.body, b.size, fail[0], fail[1]);
      const Timeline spans = Record<LoggingSpanSink, false>(b.body, b.size, fail[0], fail[1]);
      ASSERT_EQ(bytewise.end, expected.end);
      ASSERT_EQ(spans.end, expected.end);
      ASSERT_TRUE(bytewise.events == expected.events);
      ASSERT_TRUE(spans.events == expected.events);
    }
  }
}

// ------------------------------------------------------- the tree's update

struct TreeArrays {
  std::uint16_t freq[TreeSize + 1];
  std::uint16_t child[TreeSize];
  std::uint16_t parent[TreeSize + SymbolCount];
  SymbolTree tree{freq, child, parent};
  TreeArrays() { InitSymbolTree(tree); }
  bool operator==(const TreeArrays& o) const {
    return std::memcmp(freq, o.freq, sizeof freq) == 0 &&
           std::memcmp(child, o.child, sizeof child) == 0 &&
           std::memcmp(parent, o.parent, sizeof parent) == 0;
  }
};

// The update along the decoded path leaves the tree exactly as BumpSymbol
// does, through exchanges, walks off the path and rebuilds; and the table of
// the tree's top, kept up to date exchange by exchange, always equals one
// filled afresh.
TEST(FastUnpack, PathUpdateAndTopTableFollowTheTree) {
  TreeArrays plain, fast;
  TopCodeTable top, fresh;
  top.Fill(fast.child);
  auto exchanged = [&](unsigned c, unsigned l) { top.Exchanged(c, l, fast.child); };
  std::minstd_rand rng(5);
  std::uint16_t path[SymbolCount + TopBits];
  for (int n = 0; n < 120000; ++n) {  // through three rebuilds
    // Skewed: a few symbols often, then phases that favour others.
    const auto draw = static_cast<unsigned>(rng());
    const unsigned symbol =
        draw % 4 ? (draw / 4 % 16 + static_cast<unsigned>(n / 20000) * 40) % SymbolCount
                 : draw / 4 % SymbolCount;
    // The path the decoder's walk would record: the leaf's ancestors (and
    // any node past its end).
    std::fill(std::begin(path), std::end(path), std::uint16_t{0});
    unsigned depth = 0;
    for (unsigned node = fast.parent[symbol + TreeSize]; node != RootNode; node = fast.parent[node])
      ++depth;
    unsigned node = fast.parent[symbol + TreeSize];
    for (unsigned d = depth + 1; d-- > 0; node = fast.parent[node])
      path[d] = static_cast<std::uint16_t>(node);
    ASSERT_EQ(path[0], RootNode);

    BumpSymbol(plain.tree, symbol);
    if (!BumpDecodedSymbol<TopBits + 1>(fast.tree, symbol, path, depth, exchanged)) {
      top.Fill(fast.child);
    }
    if (n % 101 == 0 || n % 32768 < 3) {
      ASSERT_TRUE(plain == fast) << "after symbol " << n;
      fresh.Fill(fast.child);
      for (unsigned prefix = 0; prefix < (1u << TopBits); ++prefix) {
        ASSERT_EQ(top.Bits(prefix), fresh.Bits(prefix)) << "after symbol " << n;
        for (unsigned d = 1; d <= top.Bits(prefix); ++d) {
          ASSERT_EQ(top.Node(prefix, d), fresh.Node(prefix, d)) << "after symbol " << n;
        }
      }
    }
  }
  EXPECT_TRUE(plain == fast);
}

// ------------------------------------------------------------ short copies

TEST(FastUnpack, ShortCopiesActLikeMemmove) {
  for (std::size_t length = 1; length <= 64; ++length) {
    for (int shift = -5; shift <= 5; ++shift) {
      Bytes expected = RandomBytes(200, static_cast<std::uint32_t>(length));
      Bytes actual = expected;
      const std::size_t from = 60, to = static_cast<std::size_t>(60 + shift);
      std::memmove(expected.data() + to, expected.data() + from, length);
      CopyShort(actual.data() + to, actual.data() + from, length);
      ASSERT_EQ(actual, expected) << "length " << length << ", shift " << shift;
    }
  }
}

// --------------------------------------------- block writes with matches

// Matches reach the buffered sink as runs, many of them across a 32768-byte
// boundary: the file still sees blocks of exactly 32768 bytes and the rest
// at the flush.
TEST(FastUnpack, RunsIntoTheBufferedSinkKeepTheBlockWrites) {
  TempDir dir;
  const Bytes data = SampleText(100000, 4);
  WriteFile(dir / "in", CompressedFile(static_cast<std::uint32_t>(data.size()), PackBody(data)));
  static std::vector<std::int32_t> writes;
  writes.clear();
  HostFiles.Write = [](HostFile f, const void* b, std::int32_t n) {
    writes.push_back(n);
    return PlatformFiles.Write(f, b, n);
  };
  InFileName = dir / "in";
  OutFileName = dir / "out";
  EXPECT_EQ(DecompressFile(), 1);
  HostFiles = PlatformFiles;
  EXPECT_EQ(writes, (std::vector<std::int32_t>{32768, 32768, 32768, 100000 - 3 * 32768}));
  EXPECT_TRUE(ReadFile(dir / "out") == data);
}

}  // namespace
