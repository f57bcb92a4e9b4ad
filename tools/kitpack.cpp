// kitpack: packs files into the kit's compressed format and checks them.
//
//   kitpack pack IN OUT     writes "!HZL", the size, and an LZHUF body of IN
//   kitpack unpack IN OUT   decodes with the launcher's own decompressor
//   kitpack check FILE...   decodes each FILE without writing anything
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#ifdef _WIN32
#include <io.h>
#define isatty _isatty
#define fileno _fileno
#else
#include <unistd.h>
#endif

#include "compress.h"
#include "lzh.h"
#include "lzh_packer.h"
#include "unpack_stream.h"

namespace {

constexpr const char* kUsage =
    "Usage: kitpack pack [--greedy] IN OUT\n"
    "       kitpack unpack IN OUT\n"
    "       kitpack check FILE...\n"
    "       kitpack --help | --version\n"
    "\n"
    "Packs files into the compressed format of a Setup_Quarvel kit (\"!HZL\",\n"
    "the size, an LZHUF body) and restores or checks such files.\n"
    "\n"
    "  pack     write IN packed to OUT; OUT appears only when packing succeeded\n"
    "           --greedy  take the longest match in the window at every position\n"
    "                     (faster, larger)\n"
    "  unpack   decode IN to OUT with the launcher's decompressor; on failure\n"
    "           OUT does not remain\n"
    "  check    decode each FILE in memory and report its size, or what is wrong\n"
    "\n"
    "Exit status: 0 success, 1 failure, 2 wrong usage.\n";

constexpr std::int64_t kProgressThreshold = 4 << 20;  // show progress from 4 MiB on

int UsageError(const std::string& what) {
  std::fprintf(stderr, "kitpack: %s\nTry 'kitpack --help'.\n", what.c_str());
  return 2;
}

int Fail(const std::string& message) {
  std::fprintf(stderr, "%s\n", message.c_str());
  return 1;
}

std::string SystemError(const std::string& path) {
  return path + ": " + std::strerror(errno);
}

// Progress on stderr, only on a terminal and only for long work.
class Progress {
 public:
  Progress(const char* verb, std::int64_t total)
      : verb_(verb), total_(total), shown_(total >= kProgressThreshold && isatty(fileno(stderr))) {}
  ~Progress() {
    if (shown_ && drawn_) std::fputs("\r\033[K", stderr);
  }
  void Update(std::int64_t done) {
    if (!shown_) return;
    const int percent = total_ > 0 ? static_cast<int>(done * 100 / total_) : 100;
    std::fprintf(stderr, "\r%s: %3d%% (%.1f of %.1f MB)", verb_, percent,
                 static_cast<double>(done) / 1e6, static_cast<double>(total_) / 1e6);
    std::fflush(stderr);
    drawn_ = true;
  }

 private:
  const char* verb_;
  std::int64_t total_;
  bool shown_;
  bool drawn_ = false;
};

class File {
 public:
  File(const std::string& path, const char* mode) : f_(std::fopen(path.c_str(), mode)) {}
  ~File() {
    if (f_) std::fclose(f_);
  }
  File(const File&) = delete;
  File& operator=(const File&) = delete;
  std::FILE* get() const { return f_; }
  bool Close() {
    std::FILE* f = f_;
    f_ = nullptr;
    return std::fclose(f) == 0;
  }

 private:
  std::FILE* f_;
};

std::int64_t SizeOf(const std::string& path) {
  std::error_code ec;
  const auto size = std::filesystem::file_size(path, ec);
  return ec ? -1 : static_cast<std::int64_t>(size);
}

int Pack(const std::string& in, const std::string& out, const PackOptions& options) {
  File input(in, "rb");
  if (!input.get()) return Fail(SystemError(in));
  const std::int64_t expected = SizeOf(in);
  if (expected > kMaxPackInput) {
    return Fail(in + ": " + std::to_string(expected) +
                " bytes is more than 2147483647, the most this format can hold");
  }

  // Written under a temporary name and renamed at the end, so that a failed
  // pack leaves no OUT behind and an older OUT stays as it was.
  const std::string temp = out + ".kitpack-part";
  bool ok = false;
  std::string error;
  {
    File output(temp, "wb");
    if (!output.get()) return Fail(SystemError(temp));
    Progress progress("packing", expected);
    try {
      const std::uint8_t header[8] = {'!', 'H', 'Z', 'L', 0, 0, 0, 0};
      bool writeFailed = std::fwrite(header, 1, 8, output.get()) != 8;
      const std::int64_t size =
          PackLzhBody([&](std::uint8_t* buffer,
                          std::size_t count) { return std::fread(buffer, 1, count, input.get()); },
                      [&](const std::uint8_t* bytes, std::size_t count) {
                        if (!writeFailed && std::fwrite(bytes, 1, count, output.get()) != count) {
                          writeFailed = true;
                        }
                      },
                      options, [&](std::int64_t done) { progress.Update(done); });
      if (std::ferror(input.get())) {
        error = SystemError(in);
      } else {
        const std::uint8_t sizeField[4] = {
            static_cast<std::uint8_t>(size), static_cast<std::uint8_t>(size >> 8),
            static_cast<std::uint8_t>(size >> 16), static_cast<std::uint8_t>(size >> 24)};
        writeFailed = writeFailed || std::fseek(output.get(), 4, SEEK_SET) != 0 ||
                      std::fwrite(sizeField, 1, 4, output.get()) != 4;
        writeFailed = !output.Close() || writeFailed;
        if (writeFailed) error = SystemError(out);
        ok = !writeFailed;
      }
    } catch (const PackError& e) {
      error = in + ": " + e.what();
    } catch (const std::bad_alloc&) {
      error = "kitpack: out of memory";
    }
  }
  std::error_code ec;
  if (ok) {
    std::filesystem::rename(temp, out, ec);
    if (!ec) return 0;
    error = out + ": " + ec.message();
  }
  std::filesystem::remove(temp, ec);
  return Fail(error);
}

// The size a compressed file declares, or -1.
std::int64_t DeclaredSize(const std::string& path) {
  File input(path, "rb");
  std::uint8_t header[8];
  if (!input.get() || std::fread(header, 1, 8, input.get()) != 8) return -1;
  return std::int64_t{header[4]} | std::int64_t{header[5]} << 8 | std::int64_t{header[6]} << 16 |
         std::int64_t{header[7]} << 24;
}

Progress* unpackProgress = nullptr;

int Unpack(const std::string& in, const std::string& out) {
  InFileName = in;
  OutFileName = out;
  Progress progress("unpacking", DeclaredSize(in));
  unpackProgress = &progress;
  DecompressProgress = [](std::int64_t written) { unpackProgress->Update(written); };
  try {
    DecompressFile();
  } catch (const Exception& e) {
    return Fail(e.Message());
  } catch (const std::bad_alloc&) {
    return Fail("kitpack: out of memory");
  }
  return 0;
}

// Decodes one compressed file in memory: the header, then the body into a
// sink that only counts.
int Check(const std::string& path) {
  File input(path, "rb");
  if (!input.get()) return Fail(SystemError(path));
  std::uint8_t header[8];
  if (std::fread(header, 1, 8, input.get()) != 8 || std::memcmp(header, "!HZL", 4) != 0) {
    return Fail(path + ": not a compressed file");
  }
  const std::uint32_t field = std::uint32_t{header[4]} | std::uint32_t{header[5]} << 8 |
                              std::uint32_t{header[6]} << 16 | std::uint32_t{header[7]} << 24;
  if (field > 0x7FFFFFFFu) return Fail(path + ": not a compressed file (negative size)");
  const auto size = static_cast<std::int32_t>(field);

  std::vector<std::uint8_t> buffer(IoBufferSize);
  std::size_t pos = 0, len = 0;
  std::int64_t bodyBytes = 0;
  auto source = [&](std::uint8_t& byte) {
    if (pos == len) {
      len = std::fread(buffer.data(), 1, buffer.size(), input.get());
      pos = 0;
      bodyBytes += static_cast<std::int64_t>(len);
      if (len == 0) return false;
    }
    byte = buffer[pos++];
    return true;
  };
  std::int64_t produced = 0;
  Progress progress("checking", size);
  auto sink = [&](std::uint8_t) {
    if ((++produced & 0xFFFFF) == 0) progress.Update(produced);
  };
  try {
    UnpackStreamWith(size, source, sink);
  } catch (const Exception& e) {
    return Fail(path + ": " + e.Message());
  }
  if (std::ferror(input.get())) return Fail(SystemError(path));
  std::printf("%s: OK, %lld bytes from %lld\n", path.c_str(), static_cast<long long>(size),
              static_cast<long long>(bodyBytes + 8));
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
  if (args.empty()) return UsageError("no command given");
  const std::string command = args[0];
  if (command == "--help" || command == "-h") {
    std::fputs(kUsage, stdout);
    return 0;
  }
  if (command == "--version") {
    std::puts("kitpack 1.0.0.13");
    return 0;
  }
  if (command == "pack") {
    PackOptions options;
    std::vector<std::string> files;
    for (std::size_t i = 1; i < args.size(); ++i) {
      if (args[i] == "--greedy") {
        options.parse = PackParse::Greedy;
        options.maxChain = kUnlimitedChain;
      } else if (args[i].size() > 1 && args[i][0] == '-') {
        return UsageError("unknown option '" + args[i] + "'");
      } else {
        files.push_back(args[i]);
      }
    }
    if (files.size() != 2) return UsageError("pack takes IN and OUT");
    return Pack(files[0], files[1], options);
  }
  if (command == "unpack") {
    if (args.size() != 3) return UsageError("unpack takes IN and OUT");
    return Unpack(args[1], args[2]);
  }
  if (command == "check") {
    if (args.size() < 2) return UsageError("check takes one FILE or more");
    int status = 0;
    for (std::size_t i = 1; i < args.size(); ++i) status = std::max(status, Check(args[i]));
    return status;
  }
  return UsageError("unknown command '" + command + "'");
}
