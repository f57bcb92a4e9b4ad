// The structured-binary part of the benchmark corpus: a generated log of
// fixed-size little-endian records (counters, timestamps, small enums, float
// readings, short names), the kind of table data an installer carries. The
// generator is seeded, so every machine gets the same bytes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

std::vector<std::uint8_t> MakeRecordCorpus(std::size_t bytes);
