// libFuzzer entry: fuzz_checks::DecompressFileProperties (see fuzz_checks.h).
#include <cstdio>
#include <cstdlib>

#include "fuzz_checks.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string failure = fuzz_checks::DecompressFileProperties(data, size);
  if (!failure.empty()) {
    std::fprintf(stderr, "fuzz_decompress_file: %s\n", failure.c_str());
    std::abort();
  }
  return 0;
}
