// The decoder's bit reader, symbol tree and unpack loop, against the rules of
// the format and against the independent reading in reference_lzhuf.h.
#include <gtest/gtest.h>

#include <cstring>

#include "bit_reader.h"
#include "reference_lzhuf.h"
#include "rtl/heap.h"
#include "symbol_tree.h"
#include "test_support.h"
#include "unpack_stream.h"

namespace {

// ---------------------------------------------------------------- bit reader

TEST(BitReader, ReadsBitsMostSignificantFirstThenZerosForever) {
  Bytes input = {0xA5};
  MemorySource source{input};
  BitReader<MemorySource> bits(source);
  std::string seen;
  for (int i = 0; i < 16; ++i) seen += static_cast<char>('0' + bits.ReadCodeBit());
  EXPECT_EQ(seen, "1010010100000000");
  EXPECT_TRUE(bits.PastEnd());
}

TEST(BitReader, FirstByteReadFetchesTwoBytes) {
  Bytes input = {0x12, 0x34, 0x56};
  MemorySource source{input};
  BitReader<MemorySource> bits(source);
  EXPECT_EQ(bits.ReadCodeByte(), 0x12u);
  EXPECT_EQ(bits.BitCount, 8);
  EXPECT_EQ(source.calls, 2);
  EXPECT_FALSE(bits.PastEnd());
}

struct OffsetCase {
  Bytes input;
  unsigned offset;
  int bitsUsed;
};

TEST(BitReader, DecodesMatchOffsets) {
  const OffsetCase cases[] = {
      {{}, 0, 9},                         // nothing delivered: zero bits
      {{0xFF, 0xFF}, 4095, 14},           // 8-bit prefix, six one-bits
      {{0x20, 0x00}, 64, 10},             // prefix 0010: upper bits 1
      {{0xC0, 0x00}, 24 << 6, 13},        // 7-bit prefix
      {{0x5A, 0xC0}, (5 << 6) | 22, 11},  // 5-bit prefix 01011, low bits 010 110
  };
  for (const OffsetCase& c : cases) {
    MemorySource source{c.input};
    BitReader<MemorySource> bits(source);
    EXPECT_EQ(bits.DecodeMatchOffset(), c.offset);
    // Every request put eight bits in; what is left was not used.
    EXPECT_EQ(8 * source.calls - bits.BitCount, c.bitsUsed) << "offset " << c.offset;
    reference::Decoder ref(c.input);
    EXPECT_EQ(static_cast<unsigned>(ref.Offset()), c.offset);
    EXPECT_EQ(ref.BitsUsed(), c.bitsUsed);
  }
}

// ---------------------------------------------------------------- symbol tree

struct Tree {
  std::uint16_t freq[TreeSize + 1];
  std::uint16_t child[TreeSize];
  std::uint16_t parent[TreeSize + SymbolCount];
  SymbolTree t{freq, child, parent};
  Tree() { InitSymbolTree(t); }

  // The bits that lead from the root to the leaf of `symbol`.
  std::string CodeOf(unsigned symbol) const {
    std::string code;
    for (unsigned n = parent[symbol + TreeSize]; n != RootNode; n = parent[n]) {
      code.insert(code.begin(), static_cast<char>('0' + (n & 1)));
    }
    return code;
  }
  unsigned LeafOf(unsigned symbol) const { return parent[symbol + TreeSize]; }

  void ExpectOrdered() const {
    for (unsigned i = 0; i + 1 < TreeSize; ++i) ASSERT_LE(freq[i], freq[i + 1]) << "node " << i;
    for (unsigned i = SymbolCount - 1; i < TreeSize; ++i) {
      const unsigned c = child[i];
      if (c >= TreeSize) continue;
      ASSERT_EQ(c % 2, 0u);
      ASSERT_EQ(freq[i], freq[c] + freq[c + 1]) << "node " << i;
      ASSERT_EQ(parent[c], i);
      ASSERT_EQ(parent[c + 1], i);
    }
  }
};

TEST(SymbolTree, FreshTreeCodes) {
  Tree tree;
  EXPECT_EQ(tree.CodeOf(0), "110001100");
  EXPECT_EQ(tree.CodeOf(115), "111111111");
  EXPECT_EQ(tree.CodeOf(116), "00000000");
  EXPECT_EQ(tree.CodeOf(313), "11000101");
  for (unsigned s = 0; s < SymbolCount; ++s) {
    EXPECT_EQ(tree.LeafOf(s), s);
    EXPECT_EQ(tree.CodeOf(s).size(), s < 116 ? 9u : 8u) << s;
  }
  EXPECT_EQ(tree.freq[RootNode], 314);
}

TEST(SymbolTree, CountingASymbolMovesItsLeaf) {
  Tree tree;
  BumpSymbol(tree.t, 0);
  EXPECT_EQ(tree.LeafOf(0), 313u);
  EXPECT_EQ(tree.CodeOf(0), "11000101");
  EXPECT_EQ(tree.LeafOf(313), 0u);
  EXPECT_EQ(tree.CodeOf(313), "110001100");
  BumpSymbol(tree.t, 0);
  EXPECT_EQ(tree.LeafOf(0), 469u);
  EXPECT_EQ(tree.CodeOf(0), "1100001");
  tree.ExpectOrdered();
}

TEST(SymbolTree, RebuildComesAtTheCallAfterTheRootReachesMaxFreq) {
  Tree tree;
  std::mt19937 rng(7);
  for (unsigned n = 0; n < MaxFreq - 314; ++n)
    BumpSymbol(tree.t, static_cast<unsigned>(rng() % 40));
  EXPECT_EQ(tree.freq[RootNode], MaxFreq);  // reached, not yet rebuilt
  std::uint32_t halved = 0;
  for (unsigned i = 0; i < TreeSize; ++i) {
    if (tree.child[i] >= TreeSize) halved += (tree.freq[i] + 1u) / 2u;
  }
  BumpSymbol(tree.t, 1);
  EXPECT_EQ(tree.freq[RootNode], halved + 1);
  tree.ExpectOrdered();
  EXPECT_EQ(tree.freq[TreeSize], 0xFFFF);
}

// ---------------------------------------------------------------- unpack

struct Unpacked {
  Bytes bytes;
  std::string error;  // empty when the call succeeded
  int sourceCalls = 0;
};

Unpacked Unpack(const Bytes& body, std::int32_t size) {
  Unpacked u;
  MemorySource source{body};
  MemorySink sink;
  try {
    UnpackStreamWith(size, source, sink);
  } catch (const ElzhException& e) {
    u.error = e.Message();
  }
  u.bytes = sink.bytes;
  u.sourceCalls = source.calls;
  return u;
}

// Builds bodies bit by bit from a fresh tree's codes.
struct BodyBits {
  std::string bits;
  BodyBits& Add(const std::string& b) {
    bits += b;
    return *this;
  }
  Bytes ToBytes() const {
    Bytes out((bits.size() + 7) / 8, 0);
    for (std::size_t i = 0; i < bits.size(); ++i) {
      if (bits[i] == '1') out[i / 8] = static_cast<std::uint8_t>(out[i / 8] | (0x80 >> (i % 8)));
    }
    return out;
  }
};

TEST(Unpack, EdgeCasesOfTheLoop) {
  const Tree fresh;
  const std::string match3 = fresh.CodeOf(256), match60code = fresh.CodeOf(313);
  ASSERT_EQ(match60code, "11000101");
  const Bytes threeSpaces = BodyBits{}.Add(match3).Add("000000000").ToBytes();  // offset 0
  const Bytes match60 = BodyBits{}.Add(match60code).Add("000000000").ToBytes();
  struct Case {
    const char* name;
    Bytes body;
    std::int32_t size;
    Bytes expected;
    bool truncated;
  } cases[] = {
      {"match of 3 at offset 0 copies spaces", threeSpaces, 3, Bytes(3, ' '), false},
      {"final match is cut at the size", match60, 1, Bytes(1, ' '), false},
      {"size 0 decodes nothing", match60, 0, {}, false},
      {"negative size decodes nothing", match60, -5, {}, false},
      {"empty body is truncated before any byte", {}, 5, {}, true},
      {"body ending inside a match offset", BodyBits{}.Add(match3).Add("1").ToBytes(), 3, {}, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const Unpacked u = Unpack(c.body, c.size);
    EXPECT_EQ(u.bytes, c.expected);
    EXPECT_EQ(u.error, c.truncated ? kLzhTruncated : "");
    if (c.size <= 0) {
      EXPECT_EQ(u.sourceCalls, 0);
    }
  }
}

TEST(Unpack, OverlappingMatchRepeatsWhatItJustWrote) {
  // Literal 'A' (symbol 65, 9-bit code on a fresh tree), then a match of 60 at
  // offset 0, which copies the byte just written again and again.
  Tree tree;
  const std::string a = tree.CodeOf('A');
  BumpSymbol(tree.t, 'A');
  const Bytes body = BodyBits{}.Add(a).Add(tree.CodeOf(313)).Add("000000000").ToBytes();
  const Unpacked u = Unpack(body, 61);
  EXPECT_EQ(u.error, "");
  EXPECT_EQ(u.bytes, Bytes(61, 'A'));
}

// Random bodies decode exactly as the independent reading decodes them, and
// fail with the truncation error exactly where it finds bits used past the
// end: none of the failing item's bytes are delivered.
TEST(Unpack, ArbitraryBodiesAgreeWithTheIndependentReading) {
  std::mt19937 rng(2024);
  for (int round = 0; round < 400; ++round) {
    Bytes body = RandomBytes(rng() % 300, static_cast<std::uint32_t>(round));
    // Bias some bodies towards long runs of zero or one bits.
    for (auto& b : body) {
      if (round % 3 == 1) b &= 0x0F;
      if (round % 3 == 2) b |= 0xE0;
    }
    const auto size = static_cast<std::int32_t>(rng() % 3000);
    const reference::Decoded ref = reference::Decode(body, size);
    const Unpacked u = Unpack(body, size);
    ASSERT_EQ(u.bytes, ref.bytes) << "round " << round;
    ASSERT_EQ(u.error, ref.truncated ? kLzhTruncated : "") << "round " << round;
    if (!ref.truncated) {
      ASSERT_EQ(static_cast<std::int32_t>(u.bytes.size()), size);
    }
  }
}

TEST(Unpack, ValidBodyReadsAllInputAndAsksOnceMore) {
  const Bytes input = SampleText(20000);
  const Bytes body = PackBody(input);
  const Unpacked u = Unpack(body, static_cast<std::int32_t>(input.size()));
  EXPECT_EQ(u.error, "");
  EXPECT_EQ(u.bytes, input);
  EXPECT_EQ(u.sourceCalls, static_cast<int>(body.size()) + 1);
  EXPECT_EQ(reference::Decode(body, static_cast<std::int32_t>(input.size())).sourceCalls,
            u.sourceCalls);
}

// ---------------------------------------------------------------- work tables

struct CountingHeap {
  static inline int allocations = 0, frees = 0, failAt = -1, failFreeAt = -1;
  static void* GetMem(std::size_t n) {
    if (allocations++ == failAt) return nullptr;
    return SystemHeap.GetMem(n);
  }
  static bool FreeMem(void* p) {
    if (!p) return true;
    SystemHeap.FreeMem(p);
    return frees++ != failFreeAt;
  }
  CountingHeap(int fail, int failFree) {
    allocations = frees = 0;
    failAt = fail;
    failFreeAt = failFree;
    Heap = {GetMem, FreeMem};
  }
  ~CountingHeap() { Heap = SystemHeap; }
};

TEST(Unpack, TableFailuresRaiseTheirMessageAndLeakNothing) {
  const Bytes body = PackBody(SampleText(100));
  for (int fail = 0; fail < 4; ++fail) {
    CountingHeap heap(fail, -1);
    EXPECT_EQ(Unpack(body, 100).error, kLzhNoMemory) << "allocation " << fail;
    EXPECT_EQ(CountingHeap::frees, fail) << "allocation " << fail;
  }
  for (int failFree = 0; failFree < 4; ++failFree) {
    CountingHeap heap(-1, failFree);
    EXPECT_EQ(Unpack(body, 100).error, kLzhFreeError);
    EXPECT_EQ(CountingHeap::frees, 4);  // every table was still offered back
  }
  EXPECT_EQ(Unpack(body, 100).bytes, SampleText(100));
}

TEST(Unpack, SinkErrorPassesThroughAndTheNextCallWorks) {
  const Bytes input = SampleText(5000);
  const Bytes body = PackBody(input);
  CountingHeap heap(-1, -1);
  MemorySource source{body};
  int taken = 0;
  auto failingSink = [&](std::uint8_t) {
    if (++taken == 1000) throw std::runtime_error("disk full");
  };
  EXPECT_THROW(UnpackStreamWith(5000, source, failingSink), std::runtime_error);
  EXPECT_EQ(CountingHeap::allocations, CountingHeap::frees);
  EXPECT_EQ(Unpack(body, 5000).bytes, input);
}

}  // namespace
