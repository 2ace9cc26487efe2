#pragma once
// The process-wide uniform generator: single-precision values in [0, 1). Every user of random
// numbers in a process shares its one sequence; reseeding restarts it.
#include <cstdint>

namespace torvo {

float NextUniform();
void ReseedUniform(uint64_t seed);
// Seconds since local midnight, the seed the random fill uses.
uint32_t SecondsSinceMidnight();

}  // namespace torvo
