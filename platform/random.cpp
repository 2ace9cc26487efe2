#include "platform/random.h"

#include <ctime>

namespace torvo {

namespace {
// xoshiro128+ style state kept in one place; seeded through splitmix64.
struct Generator {
  uint32_t s[4];

  void Seed(uint64_t seed) {
    for (auto& word : s) {
      seed += 0x9E3779B97F4A7C15ull;
      uint64_t z = seed;
      z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
      z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
      word = static_cast<uint32_t>((z ^ (z >> 31)) >> 16);
    }
    if ((s[0] | s[1] | s[2] | s[3]) == 0) s[0] = 1;
  }

  static uint32_t Rotl(uint32_t x, int k) { return (x << k) | (x >> (32 - k)); }

  uint32_t Next() {
    const uint32_t result = s[0] + s[3];
    const uint32_t t = s[1] << 9;
    s[2] ^= s[0];
    s[3] ^= s[1];
    s[1] ^= s[2];
    s[0] ^= s[3];
    s[2] ^= t;
    s[3] = Rotl(s[3], 11);
    return result;
  }
};

Generator& TheGenerator() {
  static Generator g = [] {
    Generator fresh{};
    fresh.Seed(0x5EED);
    return fresh;
  }();
  return g;
}
}  // namespace

float NextUniform() {
  // 24 random bits give every float of the form k / 2^24 exactly, all below 1.
  return static_cast<float>(TheGenerator().Next() >> 8) * (1.0f / 16777216.0f);
}

void ReseedUniform(uint64_t seed) { TheGenerator().Seed(seed); }

uint32_t SecondsSinceMidnight() {
  std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  return static_cast<uint32_t>(local.tm_hour * 3600 + local.tm_min * 60 + local.tm_sec);
}

}  // namespace torvo
