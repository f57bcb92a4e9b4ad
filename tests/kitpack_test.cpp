// The packer and the kitpack command: everything packed decodes back to the
// input, by the project's decoder and by the independent reading of the
// rules; the command line behaves as documented.
#include <gtest/gtest.h>

#include <sys/wait.h>
#include <cstdlib>

#include "reference_lzhuf.h"
#include "temp_dir.h"
#include "test_support.h"
#include "unpack_stream.h"

namespace {

Bytes Concat(std::initializer_list<Bytes> parts) {
  Bytes all;
  for (const Bytes& p : parts) all.insert(all.end(), p.begin(), p.end());
  return all;
}

struct Sample {
  std::string name;
  Bytes data;
};

std::vector<Sample> Samples() {
  std::vector<Sample> s = {
      {"empty", {}},
      {"one byte", {'x'}},
      {"32767 bytes of text", SampleText(32767)},
      {"32768 bytes of records", SampleRecords(32768)},
      {"32769 random bytes", RandomBytes(32769, 3)},
      {"text", SampleText(300000, 2)},
      {"records", SampleRecords(200000)},
      {"random", RandomBytes(100000, 4)},
      {"long runs", Concat({Bytes(70000, 0), Bytes(5000, ' '), Bytes(3, 'a'), Bytes(90000, 0xFF)})},
      {"spaces only, as the window starts", Bytes(10000, ' ')},
      {"period 4095, 4096 and 4097",
       Concat({RandomBytes(4095, 6), RandomBytes(4095, 6), RandomBytes(4096, 7),
               RandomBytes(4096, 7), RandomBytes(4097, 8), RandomBytes(4097, 8)})},
      // Enough symbols for dozens of tree rebuilds, with shifting statistics.
      {"many rebuilds", Concat({SampleText(1000000, 9), RandomBytes(400000, 10),
                                SampleRecords(1000000), SampleText(600000, 11)})},
  };
  if (auto pe = ReadFile(TINY_PE); pe && !pe->empty()) s.push_back({"Windows program", *pe});
  return s;
}

TEST(Packer, RoundTripsThroughBothDecoders) {
  for (const Sample& sample : Samples()) {
    for (PackParse parse : {PackParse::Lazy, PackParse::Greedy}) {
      SCOPED_TRACE(sample.name + (parse == PackParse::Lazy ? " (lazy)" : " (greedy)"));
      const Bytes body = PackBody(sample.data, {parse});
      const auto size = static_cast<std::int32_t>(sample.data.size());
      const reference::Decoded ref = reference::Decode(body, size);
      EXPECT_FALSE(ref.truncated);
      EXPECT_FALSE(ref.readUnwritten);
      EXPECT_TRUE(ref.bytes == sample.data);
      MemorySource source{body};
      MemorySink sink;
      UnpackStreamWith(size, source, sink);
      EXPECT_TRUE(sink.bytes == sample.data);
      // The body ends where the last item ends: nothing but padding after it.
      EXPECT_EQ(source.pos, body.size());
    }
  }
}

TEST(Packer, FindsMatchesAcrossTheWholeWindow) {
  // A block repeated 4096 bytes later is found at the window's far end.
  const Bytes block = RandomBytes(4096, 12);
  const Bytes body = PackBody(Concat({block, block}));
  EXPECT_LT(body.size(), 4096u + 4096u / 10);
  EXPECT_LT(PackBody(SampleText(100000)).size(), 100000u / 3);
}

// ------------------------------------------------------------ the command

struct CommandResult {
  int status;
  std::string out, err;
};

CommandResult Kitpack(const std::string& args, const TempDir& dir) {
  const char* binDir = std::getenv("QUARVEL_BIN_DIR");
  const std::string bin = std::string(binDir ? binDir : ".") + "/kitpack";
  const std::string out = dir / "stdout.txt", err = dir / "stderr.txt";
  const int raw = std::system((bin + " " + args + " >" + out + " 2>" + err).c_str());
  auto text = [](const std::string& p) {
    auto b = ReadFile(p);
    return b ? std::string(b->begin(), b->end()) : std::string();
  };
  return {WIFEXITED(raw) ? WEXITSTATUS(raw) : -1, text(out), text(err)};
}

TEST(Kitpack, PackUnpackAndCheck) {
  TempDir dir;
  const Bytes data = Concat({SampleText(50000), RandomBytes(5000, 13)});
  WriteFile(dir / "in", data);
  CommandResult r = Kitpack("pack " + dir / "in" + " " + dir / "in.ex_", dir);
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out + r.err, "");
  const Bytes packed = *ReadFile(dir / "in.ex_");
  EXPECT_EQ(reference::Decode(Bytes(packed.begin() + 8, packed.end()), 55000).bytes, data);

  r = Kitpack("unpack " + dir / "in.ex_" + " " + dir / "back", dir);
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out + r.err, "");
  EXPECT_EQ(ReadFile(dir / "back"), data);

  r = Kitpack("check " + dir / "in.ex_", dir);
  EXPECT_EQ(r.status, 0);
  EXPECT_NE(r.out.find("OK, 55000 bytes"), std::string::npos) << r.out;
}

TEST(Kitpack, FailuresSayWhyAndLeaveNoOutput) {
  TempDir dir;
  WriteFile(dir / "plain", {'p', 'l', 'a', 'i', 'n'});
  WriteFile(dir / "cut", CompressedFile(100000, PackBody(RandomBytes(1000, 1))));
  const std::string big = dir / "big";
  {
    std::ofstream(big).close();
    std::filesystem::resize_file(big, 0x80000000ull);  // sparse: costs no disk
  }
  const struct {
    std::string args;
    int status;
    std::string err;   // expected start of stderr
    std::string left;  // a file that must not exist afterwards
  } cases[] = {
      {"unpack " + dir / "plain" + " " + dir / "o1", 1,
       "Lzrw1 : " + dir / "plain" + " : NOT A COMPRESSED FILE !\n", dir / "o1"},
      {"unpack " + dir / "cut" + " " + dir / "o2", 1, "LZH : Unexpected end of compressed data\n",
       dir / "o2"},
      {"unpack " + dir / "nothing" + " " + dir / "o3", 1,
       "Lzrw1 : Inputfile " + dir / "nothing" + " not found !\n", dir / "o3"},
      {"pack " + dir / "nothing" + " " + dir / "o4", 1, dir / "nothing" + ": ", dir / "o4"},
      {"pack " + dir / "plain" + " " + dir / "no/such/o5", 1, "", dir / "no/such/o5"},
      {"pack " + big + " " + dir / "o6", 1, big + ": 2147483648 bytes is more than 2147483647",
       dir / "o6"},
      {"", 2, "kitpack: no command given", ""},
      {"pack " + dir / "plain", 2, "kitpack: pack takes IN and OUT", ""},
      {"unpack a b c", 2, "kitpack: unpack takes IN and OUT", ""},
      {"frobnicate", 2, "kitpack: unknown command", ""},
      {"pack --fast a b", 2, "kitpack: unknown option '--fast'", ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.args);
    const CommandResult r = Kitpack(c.args, dir);
    EXPECT_EQ(r.status, c.status);
    EXPECT_EQ(r.err.substr(0, c.err.size()), c.err) << r.err;
    EXPECT_EQ(r.out, "");
    if (!c.left.empty()) {
      EXPECT_FALSE(std::filesystem::exists(c.left));
      EXPECT_FALSE(std::filesystem::exists(c.left + ".kitpack-part"));
    }
  }
}

TEST(Kitpack, HelpGoesToStdout) {
  TempDir dir;
  const CommandResult r = Kitpack("--help", dir);
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out.rfind("Usage: kitpack pack", 0), 0u);
}

}  // namespace
