// libFuzzer entry: fuzz_checks::PackRoundTripProperties (see fuzz_checks.h).
#include <cstdio>
#include <cstdlib>

#include "fuzz_checks.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string failure = fuzz_checks::PackRoundTripProperties(data, size);
  if (!failure.empty()) {
    std::fprintf(stderr, "fuzz_pack_roundtrip: %s\n", failure.c_str());
    std::abort();
  }
  return 0;
}
