// kitpack against damaged and hostile compressed files.
//
// The files are made from one good kit file by cutting it short, flipping
// bits, changing its size field, and from bodies built to produce as much
// output as possible before they run out. What each should do is worked out
// from the reference decoder, not written down by hand: a file whose body
// the reference reads to the end without running out succeeds with exactly
// the declared size; any other fails with exit code 1, one line on stderr
// and no output left behind. Nothing may crash, hang or trip a sanitizer
// (the asan build runs its own kitpack).
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include "reference_lzhuf.h"
#include "temp_dir.h"
#include "test_support.h"

namespace {

struct Outcome {
  int status;
  std::string err;
  std::string out;
};

std::string Text(const std::string& path) {
  auto bytes = ReadFile(path);
  return bytes ? std::string(bytes->begin(), bytes->end()) : std::string();
}

// Runs kitpack with `args`; a run that takes more than a minute is killed
// and reported as a hang.
Outcome Kitpack(const std::string& args, const TempDir& dir) {
  const char* bin = std::getenv("QUARVEL_BIN_DIR");
  const std::string command = std::string("timeout 60 ") + (bin ? bin : ".") + "/kitpack " + args +
                              " >" + dir / "stdout" + " 2>" + dir / "stderr";
  const int raw = std::system(command.c_str());
  return {WIFEXITED(raw) ? WEXITSTATUS(raw) : -1, Text(dir / "stderr"), Text(dir / "stdout")};
}

std::uint32_t Le32(const Bytes& b, std::size_t at) {
  return std::uint32_t{b[at]} | std::uint32_t{b[at + 1]} << 8 | std::uint32_t{b[at + 2]} << 16 |
         std::uint32_t{b[at + 3]} << 24;
}

struct Hostile {
  std::string name;
  Bytes file;
};

std::vector<Hostile> HostileFiles() {
  Bytes data = SampleText(70000, 5);
  const Bytes noise = RandomBytes(3000, 6);
  data.insert(data.end(), noise.begin(), noise.end());
  const Bytes good = CompressedFile(static_cast<std::uint32_t>(data.size()), PackBody(data));

  std::vector<Hostile> files = {{"good", good}};
  for (std::size_t cut :
       {std::size_t{0}, std::size_t{1}, std::size_t{3}, std::size_t{4}, std::size_t{7},
        std::size_t{8}, std::size_t{9}, std::size_t{100}, good.size() / 2, good.size() - 1}) {
    files.push_back({"cut to " + std::to_string(cut),
                     Bytes(good.begin(), good.begin() + static_cast<std::ptrdiff_t>(cut))});
  }
  for (std::size_t at : {std::size_t{0}, std::size_t{3}, std::size_t{7}, std::size_t{8},
                         std::size_t{9}, std::size_t{200}, good.size() / 3, good.size() - 1}) {
    Bytes flipped = good;
    flipped[at] ^= 0x10;
    files.push_back({"bit flipped at " + std::to_string(at), flipped});
  }
  const std::uint32_t real = Le32(good, 4);
  for (std::uint32_t size :
       {0u, 1u, real - 1, real + 1, real + 100000, 0x7FFFFFFFu, 0x80000000u, 0xFFFFFFFFu}) {
    Bytes resized = good;
    for (int k = 0; k < 4; ++k)
      resized[4 + static_cast<std::size_t>(k)] = static_cast<std::uint8_t>(size >> (8 * k));
    files.push_back({"size field " + std::to_string(size), resized});
  }
  // The most output per input byte: long matches of one byte, and zero
  // bits, which decode to a 60-byte match after the first literal.
  const Bytes run = PackBody(Bytes(3000000, 'a'));
  files.push_back(
      {"cut run, huge size",
       CompressedFile(0x7FFFFFFF, Bytes(run.begin(), run.begin() + static_cast<std::ptrdiff_t>(
                                                                       run.size() / 2)))});
  files.push_back({"zero body, huge size", CompressedFile(0x7FFFFFFF, Bytes(100000, 0))});
  files.push_back({"random body, huge size", CompressedFile(0x7FFFFFFF, RandomBytes(4096, 7))});
  files.push_back({"random body, small size", CompressedFile(1000, RandomBytes(4096, 8))});
  files.push_back({"random file", RandomBytes(4096, 9)});
  return files;
}

TEST(KitpackHostileFiles, ExitZeroWithTheDeclaredSizeOrOneWithNothingLeft) {
  TempDir dir;
  for (const Hostile& h : HostileFiles()) {
    SCOPED_TRACE(h.name);
    const std::string in = dir / "in.ex_", out = dir / "out";
    WriteFile(in, h.file);

    // What the file should give.
    bool succeeds = false;
    reference::Decoded decoded;
    std::int32_t size = 0;
    if (h.file.size() >= 8 && Le32(h.file, 0) == 0x4C5A4821 && Le32(h.file, 4) <= 0x7FFFFFFF) {
      size = static_cast<std::int32_t>(Le32(h.file, 4));
      decoded = reference::Decode(Bytes(h.file.begin() + 8, h.file.end()), size);
      succeeds = !decoded.truncated;
    }

    const Outcome unpack = Kitpack("unpack " + in + " " + out, dir);
    EXPECT_EQ(unpack.out, "");
    if (succeeds) {
      EXPECT_EQ(unpack.status, 0) << unpack.err;
      EXPECT_EQ(unpack.err, "");
      const auto output = ReadFile(out);
      ASSERT_TRUE(output.has_value());
      EXPECT_EQ(output->size(), static_cast<std::size_t>(size));
      EXPECT_TRUE(*output == decoded.bytes);
    } else {
      EXPECT_EQ(unpack.status, 1);
      EXPECT_TRUE(unpack.err.size() > 1 && unpack.err.find('\n') == unpack.err.size() - 1)
          << "not one line: " << unpack.err;
      EXPECT_FALSE(std::filesystem::exists(out)) << "output left after: " << unpack.err;
    }
    if (decoded.truncated) {
      EXPECT_EQ(unpack.err, "LZH : Unexpected end of compressed data\n");
    }

    const Outcome check = Kitpack("check " + in, dir);
    EXPECT_EQ(check.status, succeeds ? 0 : 1) << check.err;
    std::filesystem::remove(out);
  }
}

// A folder is no input file: the error is the missing input's, and an
// output file of that name keeps its contents.
TEST(KitpackHostileFiles, AFolderAsInputLeavesTheOutputAlone) {
  TempDir dir;
  std::filesystem::create_directory(dir / "folder");
  WriteFile(dir / "out", {'k', 'e', 'e', 'p'});
  const Outcome r = Kitpack("unpack " + dir / "folder" + " " + dir / "out", dir);
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, "Lzrw1 : Inputfile " + dir / "folder" + " not found !\n");
  EXPECT_EQ(ReadFile(dir / "out"), Bytes({'k', 'e', 'e', 'p'}));
}

}  // namespace
