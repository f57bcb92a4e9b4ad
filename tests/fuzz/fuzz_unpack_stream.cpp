// libFuzzer entry: fuzz_checks::UnpackStreamProperties (see fuzz_checks.h).
#include <cstdio>
#include <cstdlib>

#include "fuzz_checks.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string failure = fuzz_checks::UnpackStreamProperties(data, size);
  if (!failure.empty()) {
    std::fprintf(stderr, "fuzz_unpack_stream: %s\n", failure.c_str());
    std::abort();
  }
  return 0;
}
