#pragma once
#include <cstdint>

namespace torvo {

// Milliseconds since the system started, 32 bits, wrapping like the tick counters the programs
// were written against. Running times are the signed difference of two readings.
uint32_t TickCountMs();

inline int32_t ElapsedMs(uint32_t start, uint32_t end) {
  return static_cast<int32_t>(end - start);
}

}  // namespace torvo
