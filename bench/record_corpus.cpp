#include "record_corpus.h"

#include <cstring>

namespace {

// splitmix64: small, fast and the same everywhere.
struct Random {
  std::uint64_t state;
  std::uint64_t Next() {
    std::uint64_t z = (state += 0x9E3779B97F4A7C15u);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9u;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBu;
    return z ^ (z >> 31);
  }
  unsigned Below(unsigned n) { return static_cast<unsigned>(Next() % n); }
};

void Put(std::vector<std::uint8_t>& out, std::uint64_t value, int bytes) {
  for (int i = 0; i < bytes; ++i) out.push_back(static_cast<std::uint8_t>(value >> (8 * i)));
}

void PutFloat(std::vector<std::uint8_t>& out, float value) {
  std::uint32_t bits;
  std::memcpy(&bits, &value, sizeof bits);
  Put(out, bits, 4);
}

}  // namespace

std::vector<std::uint8_t> MakeRecordCorpus(std::size_t bytes) {
  static const char* const kNames[] = {
      "boiler",     "pump-a",     "pump-b", "valve-1", "valve-2",  "inlet", "outlet", "mixer",
      "tank-north", "tank-south", "fan",    "heater",  "sensor-x", "relay", "meter",  "spare"};
  Random random{20261211};
  std::vector<std::uint8_t> out;
  out.reserve(bytes + 32);
  std::uint32_t time = 1700000000;
  float temperature[16] = {};
  for (std::uint32_t id = 1; out.size() < bytes; ++id) {
    const unsigned unit = random.Below(4) == 0 ? random.Below(16) : random.Below(4);
    time += 1 + random.Below(random.Below(8) == 0 ? 3600 : 30);
    temperature[unit] += static_cast<float>(static_cast<int>(random.Below(21)) - 10) * 0.05f;
    const unsigned status = random.Below(50) == 0 ? 1u << random.Below(6) : 0u;
    Put(out, id, 4);
    Put(out, time, 4);
    Put(out, unit, 2);
    Put(out, status, 2);
    PutFloat(out, 20.0f + temperature[unit]);
    PutFloat(out, static_cast<float>(random.Below(1000)) / 4.0f);
    char name[12] = {};
    std::strncpy(name, kNames[unit], sizeof name - 1);
    out.insert(out.end(), name, name + sizeof name);
  }
  out.resize(bytes);
  return out;
}
