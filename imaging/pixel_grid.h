#pragma once
// A surface's pixel memory seen as a two-dimensional byte array: element (c, r) is byte column c
// (0 .. BytesPerScanLine - 1) of scan line r (0 .. Height - 1). Every access outside those
// bounds raises the subscript-out-of-range error (9) before anything is read or written, so an
// operation on a surface that is too small stops at the first pixel that does not fit. A surface
// without pixel memory has no elements at all.
#include <cstdint>

#include "imaging/cDIBSection.h"
#include "platform/error.h"

namespace torvo {

class PixelGrid {
 public:
  explicit PixelGrid(const cDIBSection& surface)
      : bits_(surface.DIBSectionBitsPtr()),
        columns_(bits_ ? surface.BytesPerScanLine() : 0),
        rows_(bits_ ? surface.Height() : 0) {}

  int32_t columns() const { return columns_; }
  int32_t rows() const { return rows_; }
  uint8_t* bits() const { return bits_; }

  bool Contains(int32_t c, int32_t r) const {
    return static_cast<uint32_t>(c) < static_cast<uint32_t>(columns_) &&
           static_cast<uint32_t>(r) < static_cast<uint32_t>(rows_);
  }

  uint8_t Get(int32_t c, int32_t r) const { return *At(c, r); }
  void Set(int32_t c, int32_t r, uint8_t v) const { *At(c, r) = v; }
  uint8_t& operator()(int32_t c, int32_t r) const { return *At(c, r); }

 private:
  uint8_t* At(int32_t c, int32_t r) const {
    if (!Contains(c, r)) RaiseRuntimeError(kErrSubscriptOutOfRange);
    return bits_ + static_cast<int64_t>(r) * columns_ + c;
  }

  uint8_t* bits_;
  int32_t columns_;
  int32_t rows_;
};

}  // namespace torvo
