// make_fuzz_seeds DIR: writes the starting corpora of the three fuzz targets
// into DIR/unpack_stream, DIR/decompress_file and DIR/pack_roundtrip.
//
// The seeds are made here, from generated data packed with the project's own
// packer, so that the fuzzer starts from well-formed bodies (and from a few
// damaged ones) instead of having to discover the format by itself. One seed
// is a literal-only body long enough to reach the tree's first rebuild.
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "lzh_packer.h"
#include "symbol_tree.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

Bytes Pack(const Bytes& data) {
  Bytes body;
  std::size_t position = 0;
  PackLzhBody(
      [&](std::uint8_t* buffer, std::size_t count) {
        std::size_t n = std::min(count, data.size() - position);
        std::copy(data.begin() + static_cast<std::ptrdiff_t>(position),
                  data.begin() + static_cast<std::ptrdiff_t>(position + n), buffer);
        position += n;
        return n;
      },
      [&](const std::uint8_t* bytes, std::size_t count) {
        body.insert(body.end(), bytes, bytes + count);
      });
  return body;
}

// A body of literals only, coded with the shared tree: the packer would
// turn such data into matches, so it never reaches a rebuild this cheaply.
Bytes LiteralBody(const Bytes& data) {
  std::uint16_t freq[TreeSize + 1], child[TreeSize], parent[TreeSize + SymbolCount];
  SymbolTree tree{freq, child, parent};
  InitSymbolTree(tree);
  Bytes body;
  std::uint32_t acc = 0;
  int pending = 0;
  for (std::uint8_t byte : data) {
    std::vector<int> path;
    for (unsigned node = parent[byte + TreeSize]; node != RootNode; node = parent[node]) {
      path.push_back(static_cast<int>(node & 1));
    }
    for (auto it = path.rbegin(); it != path.rend(); ++it) {
      acc = (acc << 1) | static_cast<std::uint32_t>(*it);
      if (++pending == 8) {
        body.push_back(static_cast<std::uint8_t>(acc));
        acc = 0;
        pending = 0;
      }
    }
    BumpSymbol(tree, byte);
  }
  if (pending > 0) body.push_back(static_cast<std::uint8_t>(acc << (8 - pending)));
  return body;
}

Bytes Le32(std::int64_t v) {
  const auto u = static_cast<std::uint32_t>(v);
  return {static_cast<std::uint8_t>(u), static_cast<std::uint8_t>(u >> 8),
          static_cast<std::uint8_t>(u >> 16), static_cast<std::uint8_t>(u >> 24)};
}

Bytes Cat(std::initializer_list<Bytes> parts) {
  Bytes all;
  for (const Bytes& p : parts) all.insert(all.end(), p.begin(), p.end());
  return all;
}

Bytes Text(const std::string& s) {
  return Bytes(s.begin(), s.end());
}

struct Sample {
  std::string name;
  Bytes data;
};

std::vector<Sample> Samples() {
  std::vector<Sample> samples;
  samples.push_back({"empty", {}});
  samples.push_back({"one", {'A'}});
  std::string text;
  for (int i = 0; text.size() < 3000; ++i) {
    text += "Setup " + std::to_string(i * 37 % 101) + ": copying the files of the kit into the " +
            (i % 3 ? "staging folder" : "temporary folder") + ".\r\n";
  }
  samples.push_back({"text", Text(text)});
  samples.push_back({"run", Bytes(2000, 'x')});
  Bytes ints;
  for (std::uint32_t i = 0; i < 1000; ++i) {
    Bytes v = Le32(i * 3);
    ints.insert(ints.end(), v.begin(), v.end());
  }
  samples.push_back({"ints", ints});
  Bytes noise;
  std::uint32_t state = 12345;
  for (int i = 0; i < 2000; ++i) {
    state = state * 1103515245u + 12345u;
    noise.push_back(static_cast<std::uint8_t>(state >> 23));
  }
  samples.push_back({"noise", noise});
  return samples;
}

void Write(const std::filesystem::path& file, const Bytes& bytes) {
  std::FILE* f = std::fopen(file.string().c_str(), "wb");
  if (!f || std::fwrite(bytes.data(), 1, bytes.size(), f) != bytes.size() || std::fclose(f) != 0) {
    std::perror(file.string().c_str());
    std::exit(1);
  }
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: make_fuzz_seeds DIR\n");
    return 2;
  }
  const std::filesystem::path dir = argv[1];
  for (const char* target : {"unpack_stream", "decompress_file", "pack_roundtrip"}) {
    std::filesystem::create_directories(dir / target);
  }
  const Bytes signature = Text("!HZL");

  for (const Sample& s : Samples()) {
    const Bytes body = Pack(s.data);
    const auto size = static_cast<std::int64_t>(s.data.size());
    const Bytes half(body.begin(), body.begin() + static_cast<std::ptrdiff_t>(body.size() / 2));
    const std::filesystem::path u = dir / "unpack_stream", d = dir / "decompress_file";
    Write(u / (s.name + ".body"), Cat({Le32(size), body}));
    Write(u / (s.name + ".half"), Cat({Le32(size), half}));
    Write(u / (s.name + ".more"), Cat({Le32(size + 61), body}));
    Write(d / (s.name + ".ex_"), Cat({signature, Le32(size), body}));
    Write(d / (s.name + ".half.ex_"), Cat({signature, Le32(size), half}));
    for (int option : {0, 1, 2, 0x0B, 0x1C}) {
      Write(dir / "pack_roundtrip" / (s.name + "." + std::to_string(option)),
            Cat({{static_cast<std::uint8_t>(option)}, s.data}));
    }
  }

  // Past the first rebuild of the tree: 40000 literals, mostly one byte.
  Bytes skewed;
  for (int i = 0; i < 40000; ++i)
    skewed.push_back(i % 17 == 0 ? static_cast<std::uint8_t>(i) : 'a');
  const Bytes literals = LiteralBody(skewed);
  Write(dir / "unpack_stream" / "rebuild.body", Cat({Le32(40000), literals}));
  Write(dir / "decompress_file" / "rebuild.ex_", Cat({signature, Le32(40000), literals}));

  // Damaged headers and sizes.
  const std::filesystem::path u = dir / "unpack_stream", d = dir / "decompress_file";
  Write(u / "huge", Cat({Le32(0x7FFFFFFF), Bytes(64, 0)}));
  Write(u / "negative", Cat({Le32(-5), Bytes(8, 0xFF)}));
  Write(d / "short", Text("!HZ"));
  Write(d / "signature-only", signature);
  Write(d / "short-size", Cat({signature, {1, 0}}));
  Write(d / "negative.ex_", Cat({signature, Le32(-1), Bytes(16, 0x55)}));
  Write(d / "plain.txt", Text("MZ this is no compressed file"));
  return 0;
}
