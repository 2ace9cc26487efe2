#pragma once
// Signed 32-bit arithmetic that raises the overflow error (6) instead of wrapping, integer
// division that truncates toward zero, and rounding to the nearest integer with halves to the
// even neighbour. These are the arithmetic rules every part of the system keeps.
#include <cmath>
#include <cstdint>

#include "platform/error.h"

namespace torvo {

inline int32_t CheckedAdd(int32_t a, int32_t b) {
  int32_t r;
  if (__builtin_add_overflow(a, b, &r)) RaiseRuntimeError(kErrOverflow);
  return r;
}

inline int32_t CheckedSub(int32_t a, int32_t b) {
  int32_t r;
  if (__builtin_sub_overflow(a, b, &r)) RaiseRuntimeError(kErrOverflow);
  return r;
}

inline int32_t CheckedMul(int32_t a, int32_t b) {
  int32_t r;
  if (__builtin_mul_overflow(a, b, &r)) RaiseRuntimeError(kErrOverflow);
  return r;
}

// Integer division, quotient rounded toward zero: -13 / 7 is -1. Division by zero raises 11.
inline int32_t CheckedDiv(int32_t a, int32_t b) {
  if (b == 0) RaiseRuntimeError(kErrDivisionByZero);
  if (a == INT32_MIN && b == -1) RaiseRuntimeError(kErrOverflow);
  return a / b;
}

// Nearest integer, halves to the even neighbour (2.5 -> 2, 3.5 -> 4, -2.5 -> -2).
inline double RoundHalfEven(double v) { return std::nearbyint(v); }

// Rounds half-even into a signed 32-bit value; out of range (or not a number) raises 6.
inline int32_t RoundToInt32(double v) {
  double r = std::nearbyint(v);
  if (!(r >= -2147483648.0 && r <= 2147483647.0)) RaiseRuntimeError(kErrOverflow);
  return static_cast<int32_t>(r);
}

// Rounds half-even into a signed 16-bit value; out of range raises 6.
inline int16_t RoundToInt16(double v) {
  double r = std::nearbyint(v);
  if (!(r >= -32768.0 && r <= 32767.0)) RaiseRuntimeError(kErrOverflow);
  return static_cast<int16_t>(r);
}

// Narrows to signed 16 bits; out of range raises 6.
inline int16_t ToInt16(int64_t v) {
  if (v < -32768 || v > 32767) RaiseRuntimeError(kErrOverflow);
  return static_cast<int16_t>(v);
}

// Stores a value into a byte: outside 0..255 raises 6.
inline uint8_t ToByte(int32_t v) {
  if (v < 0 || v > 255) RaiseRuntimeError(kErrOverflow);
  return static_cast<uint8_t>(v);
}

inline int32_t ClampToByteRange(int32_t v) { return v < 0 ? 0 : (v > 255 ? 255 : v); }

}  // namespace torvo
