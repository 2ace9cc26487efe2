#pragma once
// RandomiseBits reseeds the process-wide generator from the seconds since midnight on every
// call. A tool that must repeat a fill exactly fixes the seed it takes instead.
#include <cstdint>
#include <optional>

namespace torvo {

// The seed every later RandomiseBits uses; std::nullopt goes back to the time of day.
void SetRandomFillSeed(std::optional<uint64_t> seed);

}  // namespace torvo
