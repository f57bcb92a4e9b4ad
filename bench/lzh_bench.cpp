// lzh_bench: speed of the kit decoder and of the packer, on real files.
//
//   lzh_bench [--reps N] [--pack-reps N] [--work DIR] [--decode-only] FILE...
//   lzh_bench --make-records OUT BYTES
//
// For every FILE it packs the file with kitpack's packer and with a greedy
// longest-match encoder over the full window (sizes and MB/s of input), then
// decodes the packed file to DIR through DecompressFile() and through the
// straightforward baseline decoder of baseline_decoder.h (MB/s of output).
// Both decoders read and write real files in DIR. The repetitions interleave
// the two decoders file by file, alternating which goes first, and the
// figures are medians, so that a noisy, shared machine hurts both alike; the
// speed-up is the median of the per-repetition ratios over the whole corpus.
//
// --decode-only leaves out the packer timings (used for the Windows build
// under Wine, whose packer speed nobody waits for). --make-records writes the
// generated structured-binary corpus file.
#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#ifdef _WIN32
#include <windows.h>
#endif

#include "baseline_decoder.h"
#include "compress.h"
#include "host_files.h"
#include "lzh_packer.h"
#include "record_corpus.h"

namespace {

using Clock = std::chrono::steady_clock;

struct Options {
  int reps = 15;
  int packReps = 5;
  std::string work = ".";
  bool decodeOnly = false;
  std::vector<std::string> files;
};

struct CorpusFile {
  std::string name;  // base name, for the table
  std::vector<std::uint8_t> data;
  std::string packed;  // path of kitpack's packed file
  std::string output;  // path the decoders write to
  std::size_t packedSize = 0, greedySize = 0;
  double packSeconds = 0, greedySeconds = 0;
  std::vector<double> fast, base;  // decode seconds per repetition
};

double Seconds(Clock::duration d) {
  return std::chrono::duration<double>(d).count();
}

double Median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  const std::size_t n = v.size();
  return n == 0 ? 0 : n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
}

double MBps(std::size_t bytes, double seconds) {
  return seconds > 0 ? static_cast<double>(bytes) / 1e6 / seconds : 0;
}

std::vector<std::uint8_t> ReadAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    std::fprintf(stderr, "lzh_bench: cannot read %s\n", path.c_str());
    std::exit(1);
  }
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void WriteAll(const std::string& path, const std::vector<std::uint8_t>& bytes) {
  std::ofstream out(path, std::ios::binary);
  out.write(reinterpret_cast<const char*>(bytes.data()),
            static_cast<std::streamsize>(bytes.size()));
  if (!out) {
    std::fprintf(stderr, "lzh_bench: cannot write %s\n", path.c_str());
    std::exit(1);
  }
}

// Packs `data` in memory into a complete compressed file.
std::vector<std::uint8_t> Pack(const std::vector<std::uint8_t>& data, const PackOptions& options) {
  std::vector<std::uint8_t> out = {'!', 'H', 'Z', 'L'};
  for (int shift = 0; shift < 32; shift += 8) {
    out.push_back(static_cast<std::uint8_t>(data.size() >> shift));
  }
  std::size_t pos = 0;
  PackLzhBody(
      [&](std::uint8_t* buffer, std::size_t count) {
        const std::size_t n = std::min(count, data.size() - pos);
        std::memcpy(buffer, data.data() + pos, n);
        pos += n;
        return n;
      },
      [&](const std::uint8_t* bytes, std::size_t count) {
        out.insert(out.end(), bytes, bytes + count);
      },
      options);
  return out;
}

// The greedy yardstick: at every position the longest match in the whole
// window (the chain is never cut short, and no chain holds more positions
// than the window), else a literal.
PackOptions GreedyOptions() {
  PackOptions o;
  o.parse = PackParse::Greedy;
  o.maxChain = kUnlimitedChain;
  return o;
}

double TimeOnePack(const CorpusFile& f, const PackOptions& options, std::size_t& size) {
  const auto t0 = Clock::now();
  size = Pack(f.data, options).size();
  return Seconds(Clock::now() - t0);
}

// kitpack's packer and the greedy one, interleaved like the decoders.
void TimePackers(CorpusFile& f, int reps) {
  std::vector<double> pack, greedy;
  for (int i = 0; i < reps; ++i) {
    if (i % 2 == 0) {
      pack.push_back(TimeOnePack(f, PackOptions{}, f.packedSize));
      greedy.push_back(TimeOnePack(f, GreedyOptions(), f.greedySize));
    } else {
      greedy.push_back(TimeOnePack(f, GreedyOptions(), f.greedySize));
      pack.push_back(TimeOnePack(f, PackOptions{}, f.packedSize));
    }
  }
  f.packSeconds = Median(pack);
  f.greedySeconds = Median(greedy);
}

double TimeProduct(const CorpusFile& f) {
  InFileName = f.packed;
  OutFileName = f.output;
  const auto t0 = Clock::now();
  DecompressFile();
  return Seconds(Clock::now() - t0);
}

double TimeBaseline(const CorpusFile& f) {
  const auto t0 = Clock::now();
  const bool ok = baseline::DecompressFile(f.packed, f.output);
  const double s = Seconds(Clock::now() - t0);
  if (!ok) {
    std::fprintf(stderr, "lzh_bench: baseline failed on %s\n", f.packed.c_str());
    std::exit(1);
  }
  return s;
}

void CheckOutput(const CorpusFile& f, const char* decoder) {
  if (ReadAll(f.output) != f.data) {
    std::fprintf(stderr, "lzh_bench: %s decoded %s wrongly\n", decoder, f.name.c_str());
    std::exit(1);
  }
}

std::string Platform() {
#ifdef _WIN32
  using WineVersion = const char*(__cdecl*)();
  const HMODULE ntdll = GetModuleHandleA("ntdll.dll");
  const auto wine = ntdll ? reinterpret_cast<WineVersion>(
                                reinterpret_cast<void*>(GetProcAddress(ntdll, "wine_get_version")))
                          : nullptr;
  return wine ? std::string("win32 build (i686, SSE2) under Wine ") + wine()
              : "win32 build (i686, SSE2)";
#else
  return sizeof(void*) == 8 ? "native build (x86-64)" : "native build";
#endif
}

bool NoFlush(HostFile) {
  return true;
}

int Usage() {
  std::fputs(
      "Usage: lzh_bench [--reps N] [--pack-reps N] [--work DIR] [--decode-only] FILE...\n"
      "       lzh_bench --make-records OUT BYTES\n",
      stderr);
  return 2;
}

bool ParseArgs(int argc, char** argv, Options& o) {
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    const bool hasValue = i + 1 < argc;
    if (a == "--reps" && hasValue) {
      o.reps = std::max(1, std::atoi(argv[++i]));
    } else if (a == "--pack-reps" && hasValue) {
      o.packReps = std::max(1, std::atoi(argv[++i]));
    } else if (a == "--work" && hasValue) {
      o.work = argv[++i];
    } else if (a == "--decode-only") {
      o.decodeOnly = true;
    } else if (!a.empty() && a[0] == '-') {
      return false;
    } else {
      o.files.push_back(a);
    }
  }
  return !o.files.empty();
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 4 && std::string(argv[1]) == "--make-records") {
    WriteAll(argv[2], MakeRecordCorpus(static_cast<std::size_t>(std::atoll(argv[3]))));
    return 0;
  }
  Options o;
  if (!ParseArgs(argc, argv, o)) return Usage();

  // The flush to disk at the end measures the disk, not the decoder: both
  // decoders skip it alike.
  HostFiles.Flush = NoFlush;

  std::vector<CorpusFile> corpus;
  for (const std::string& path : o.files) {
    CorpusFile f;
    f.name = std::filesystem::path(path).filename().string();
    f.data = ReadAll(path);
    f.packed = (std::filesystem::path(o.work) / (f.name + ".ex_")).string();
    f.output = (std::filesystem::path(o.work) / (f.name + ".out")).string();
    corpus.push_back(std::move(f));
  }

  std::printf("lzh_bench: %s\n\n", Platform().c_str());
  std::size_t totalIn = 0, totalPacked = 0, totalGreedy = 0;
  double totalPack = 0, totalGreedyTime = 0;
  if (!o.decodeOnly) {
    std::printf("Packer (%d interleaved runs, medians; in memory; MB/s of input):\n\n", o.packReps);
    std::printf(
        "| file | bytes | kitpack bytes | greedy bytes | size ratio | kitpack MB/s | greedy MB/s | "
        "time ratio |\n");
    std::printf("|---|---:|---:|---:|---:|---:|---:|---:|\n");
  }
  for (CorpusFile& f : corpus) {
    WriteAll(f.packed, Pack(f.data, PackOptions{}));
    totalIn += f.data.size();
    if (o.decodeOnly) continue;
    TimePackers(f, o.packReps);
    totalPacked += f.packedSize;
    totalGreedy += f.greedySize;
    totalPack += f.packSeconds;
    totalGreedyTime += f.greedySeconds;
    std::printf("| %s | %zu | %zu | %zu | %.4f | %.2f | %.2f | %.2f |\n", f.name.c_str(),
                f.data.size(), f.packedSize, f.greedySize,
                static_cast<double>(f.packedSize) / static_cast<double>(f.greedySize),
                MBps(f.data.size(), f.packSeconds), MBps(f.data.size(), f.greedySeconds),
                f.packSeconds / f.greedySeconds);
    std::fflush(stdout);
  }
  if (!o.decodeOnly) {
    std::printf("| **all** | %zu | %zu | %zu | **%.4f** | %.2f | %.2f | **%.2f** |\n\n", totalIn,
                totalPacked, totalGreedy,
                static_cast<double>(totalPacked) / static_cast<double>(totalGreedy),
                MBps(totalIn, totalPack), MBps(totalIn, totalGreedyTime),
                totalPack / totalGreedyTime);
    std::printf("size ratio: kitpack / greedy, target <= 0.975; time ratio: target <= 4\n\n");
  }

  // One untimed round first: checks both decoders and warms the caches.
  for (CorpusFile& f : corpus) {
    TimeProduct(f);
    CheckOutput(f, "DecompressFile");
    TimeBaseline(f);
    CheckOutput(f, "the baseline");
  }
  std::vector<double> ratios;
  for (int rep = 0; rep < o.reps; ++rep) {
    double fastTotal = 0, baseTotal = 0;
    for (CorpusFile& f : corpus) {
      double fast, base;
      if (rep % 2 == 0) {
        fast = TimeProduct(f);
        base = TimeBaseline(f);
      } else {
        base = TimeBaseline(f);
        fast = TimeProduct(f);
      }
      f.fast.push_back(fast);
      f.base.push_back(base);
      fastTotal += fast;
      baseTotal += base;
    }
    ratios.push_back(baseTotal / fastTotal);
  }

  std::printf("Decoder (%d interleaved runs, medians; files in %s; MB/s of output):\n\n", o.reps,
              o.work.c_str());
  std::printf("| file | bytes | packed | DecompressFile MB/s | baseline MB/s | speed-up |\n");
  std::printf("|---|---:|---:|---:|---:|---:|\n");
  std::vector<double> fastTotals(static_cast<std::size_t>(o.reps)),
      baseTotals(static_cast<std::size_t>(o.reps));
  for (CorpusFile& f : corpus) {
    const double fast = Median(f.fast), base = Median(f.base);
    std::printf("| %s | %zu | %ju | %.1f | %.1f | %.2f |\n", f.name.c_str(), f.data.size(),
                static_cast<std::uintmax_t>(std::filesystem::file_size(f.packed)),
                MBps(f.data.size(), fast), MBps(f.data.size(), base), base / fast);
    for (std::size_t i = 0; i < f.fast.size(); ++i) {
      fastTotals[i] += f.fast[i];
      baseTotals[i] += f.base[i];
    }
    std::filesystem::remove(f.output);
  }
  std::printf("| **all** | %zu | | %.1f | %.1f | **%.2f** |\n\n", totalIn,
              MBps(totalIn, Median(fastTotals)), MBps(totalIn, Median(baseTotals)), Median(ratios));
  std::printf(
      "speed-up: baseline time / DecompressFile time, median over runs (min %.2f, max %.2f)\n",
      *std::min_element(ratios.begin(), ratios.end()),
      *std::max_element(ratios.begin(), ratios.end()));
  return 0;
}
