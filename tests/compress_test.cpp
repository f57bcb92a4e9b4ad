// The file decompressor: its messages, what it leaves of the output file, and
// the way it reads and writes through its two buffers.
#include <gtest/gtest.h>

#include <functional>

#include "compress.h"
#include "host_files.h"
#include "lzh.h"
#include "temp_dir.h"
#include "test_support.h"

namespace {

// Runs DecompressFile and answers "" for success or the error's message.
std::string Decompress(const std::string& in, const std::string& out) {
  InFileName = in;
  OutFileName = out;
  try {
    EXPECT_EQ(DecompressFile(), 1);
    return "";
  } catch (const Exception& e) {
    return e.Message();
  }
}

const Bytes kOldOutput = {'o', 'l', 'd'};

enum class Output { Absent, Untouched, Decoded };

struct FileCase {
  const char* name;
  std::optional<Bytes> input;  // none: the input does not exist
  std::string message;         // with {in} standing for the input's path
  Output output;
  Bytes decoded = {};
};

TEST(DecompressFile, MessagesAndWhatBecomesOfTheOutput) {
  const Bytes text = SampleText(3000);
  const Bytes body = PackBody(text);
  Bytes cut(body.begin(), body.begin() + static_cast<std::ptrdiff_t>(body.size() / 2));
  const FileCase cases[] = {
      {"valid file", CompressedFile(3000, body), "", Output::Decoded, text},
      {"signature and size 0", CompressedFile(0, {}), "", Output::Decoded, {}},
      {"missing input", std::nullopt, "Lzrw1 : Inputfile {in} not found !", Output::Untouched},
      {"signature only", Bytes{'!', 'H', 'Z', 'L'}, "Lzrw1 : ERROR READING FROM {in} !",
       Output::Absent},
      {"shorter than a signature", Bytes{'!', 'H'}, "Lzrw1 : ERROR READING FROM {in} !",
       Output::Absent},
      {"empty input", Bytes{}, "Lzrw1 : ERROR READING FROM {in} !", Output::Absent},
      {"plain text", Bytes{'h', 'e', 'l', 'l', 'o', '\n'}, "Lzrw1 : {in} : NOT A COMPRESSED FILE !",
       Output::Absent},
      {"size field with its top bit set", CompressedFile(0x80000000u, body),
       "Lzrw1 : {in} : NOT A COMPRESSED FILE !", Output::Absent},
      {"truncated body", CompressedFile(3000, cut), kLzhTruncated, Output::Absent},
      {"huge size on a tiny body", CompressedFile(0x7FFFFFFF, body), kLzhTruncated, Output::Absent},
  };
  for (const FileCase& c : cases) {
    SCOPED_TRACE(c.name);
    TempDir dir;
    const std::string in = dir / "Setup.ex_", out = dir / "Setup.exe";
    if (c.input) WriteFile(in, *c.input);
    WriteFile(out, kOldOutput);
    std::string expected = c.message;
    if (auto at = expected.find("{in}"); at != std::string::npos) expected.replace(at, 4, in);
    EXPECT_EQ(Decompress(in, out), expected);
    switch (c.output) {
      case Output::Absent:
        EXPECT_FALSE(ReadFile(out));
        break;
      case Output::Untouched:
        EXPECT_EQ(ReadFile(out), kOldOutput);
        break;
      case Output::Decoded:
        EXPECT_EQ(ReadFile(out), c.decoded);
        break;
    }
  }
}

TEST(DecompressFile, OutputThatCannotBeCreated) {
  TempDir dir;
  const std::string in = dir / "Setup.ex_";
  const Bytes file = CompressedFile(3, PackBody({'a', 'b', 'c'}));
  WriteFile(in, file);
  // The input held open by the decompressor itself cannot be replaced.
  EXPECT_EQ(Decompress(in, in), "Lzrw1 : Outputfile " + in + " can not be opened !");
  EXPECT_EQ(ReadFile(in), file);
  const std::string nowhere = dir / "missing-folder/Setup.exe";
  EXPECT_EQ(Decompress(in, nowhere), "Lzrw1 : Outputfile " + nowhere + " can not be opened !");
  // The files were closed: the same call with a good output now works.
  EXPECT_EQ(Decompress(in, dir / "Setup.exe"), "");
}

TEST(DecompressFile, EmptyInputNameLeavesTwoBlanksInTheMessage) {
  TempDir dir;
  WriteFile(dir / "out", kOldOutput);
  EXPECT_EQ(Decompress("", dir / "out"), "Lzrw1 : Inputfile  not found !");
  EXPECT_EQ(ReadFile(dir / "out"), kOldOutput);
}

TEST(TryDecompressFile, TurnsErrorsIntoMinusOne) {
  TempDir dir;
  WriteFile(dir / "good", CompressedFile(3, PackBody({'a', 'b', 'c'})));
  WriteFile(dir / "bad", {'x', 'y', 'z', 'w', 'v'});
  InFileName = dir / "good";
  OutFileName = dir / "out";
  EXPECT_EQ(TryDecompressFile(), 1);
  InFileName = dir / "bad";
  EXPECT_EQ(TryDecompressFile(), -1);
  EXPECT_FALSE(ReadFile(dir / "out"));
}

// Host file routines that pass through to the platform's, watching or
// failing what the test asks for.
class HostFilesHook {
 public:
  static inline std::function<std::int32_t(HostFile, void*, std::int32_t)> read;
  static inline std::function<std::int32_t(HostFile, const void*, std::int32_t)> write;
  HostFilesHook() {
    read = PlatformFiles.Read;
    write = PlatformFiles.Write;
    HostFiles.Read = [](HostFile f, void* b, std::int32_t n) { return read(f, b, n); };
    HostFiles.Write = [](HostFile f, const void* b, std::int32_t n) { return write(f, b, n); };
  }
  ~HostFilesHook() { HostFiles = PlatformFiles; }
};

TEST(BufferedWrite, WritesFullBlocksWhenTheNextByteArrivesAndTheRestAtTheFlush) {
  const struct {
    std::size_t size;
    std::vector<std::int32_t> writes;
  } cases[] = {
      {0, {0}},
      {1, {1}},
      {32767, {32767}},
      {32768, {32768}},
      {32769, {32768, 1}},
      {65537, {32768, 32768, 1}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.size);
    TempDir dir;
    const Bytes data = RandomBytes(c.size, 5);
    WriteFile(dir / "in", CompressedFile(static_cast<std::uint32_t>(c.size), PackBody(data)));
    HostFilesHook hook;
    std::vector<std::int32_t> writes;
    HostFilesHook::write = [&](HostFile f, const void* b, std::int32_t n) {
      writes.push_back(n);
      return PlatformFiles.Write(f, b, n);
    };
    EXPECT_EQ(Decompress(dir / "in", dir / "out"), "");
    EXPECT_EQ(writes, c.writes);
    EXPECT_EQ(ReadFile(dir / "out"), data);
  }
}

TEST(BufferedIo, ReadAndWriteFailuresNameTheirFileAndRemoveTheOutput) {
  TempDir dir;
  const std::string in = dir / "in", out = dir / "out";
  const Bytes data = RandomBytes(70000, 9);  // a body of more than one buffer
  WriteFile(in, CompressedFile(70000, PackBody(data)));

  const struct {
    const char* name;
    std::function<void(int& reads, int& writes)> arm;
    std::string message;
  } cases[] = {
      {"second refill fails",
       [&](int& reads, int&) {
         HostFilesHook::read = [&reads](HostFile f, void* b, std::int32_t n) {
           return ++reads == 4 ? -1 : PlatformFiles.Read(f, b, n);  // header, size, block, block
         };
       },
       "Lzrw1/LZH : READ ERROR ON " + in + " !"},
      {"size field read short",
       [&](int& reads, int&) {
         HostFilesHook::read = [&reads](HostFile f, void* b, std::int32_t n) {
           return ++reads == 2 ? PlatformFiles.Read(f, b, 2) : PlatformFiles.Read(f, b, n);
         };
       },
       "Lzrw1 : ERROR READING FROM " + in + " !"},
      {"disk takes fewer bytes than asked",
       [&](int&, int& writes) {
         HostFilesHook::write = [&writes](HostFile f, const void* b, std::int32_t n) {
           return ++writes == 2 ? PlatformFiles.Write(f, b, n - 1) : PlatformFiles.Write(f, b, n);
         };
       },
       "Lzrw1 : ERROR WRITING TO " + out + " !"},
      {"flush fails",
       [&](int&, int& writes) {
         HostFilesHook::write = [&writes](HostFile f, const void* b, std::int32_t n) {
           return ++writes == 3 ? -1 : PlatformFiles.Write(f, b, n);
         };
       },
       "Lzrw1 : ERROR WRITING TO " + out + " !"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    int reads = 0, writes = 0;
    {
      HostFilesHook hook;
      c.arm(reads, writes);
      EXPECT_EQ(Decompress(in, out), c.message);
    }
    EXPECT_FALSE(ReadFile(out));
    EXPECT_EQ(Decompress(in, out), "");  // nothing stayed open
    EXPECT_EQ(ReadFile(out), data);
  }
}

}  // namespace
