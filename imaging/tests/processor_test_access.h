#pragma once
// The one way tests reach the processor's private members. Include this header rather than
// defining the friend class again: every test file of the binary must see the same definition.
#include <cstdint>

#include "imaging/cImageProcessDIB.h"

namespace torvo {

class cImageProcessDIBTestAccess {
 public:
  static bool ConvolveColumns(cImageProcessDIB& p, cDIBSection& s, cDIBSection& d) {
    return p.ConvolveColumns(s, d);
  }
  static bool ConvolveRows(cImageProcessDIB& p, cDIBSection& s, cDIBSection& d) {
    return p.ConvolveRows(s, d);
  }
  static bool ConvolveKernel(cImageProcessDIB& p, cDIBSection& s, cDIBSection& d) {
    return p.ConvolveKernel(s, d);
  }
  static bool NeighbourhoodColumns(cImageProcessDIB& p, cDIBSection& s, cDIBSection& d) {
    return p.NeighbourhoodColumns(s, d);
  }
  static bool NeighbourhoodRows(cImageProcessDIB& p, cDIBSection& s, cDIBSection& d) {
    return p.NeighbourhoodRows(s, d);
  }
  static void Clamp(cImageProcessDIB& p, int32_t& value, int32_t lMin, int32_t lMax) {
    p.Clamp(value, lMin, lMax);
  }
  static int32_t filterType(const cImageProcessDIB& p) { return p.filterType; }
};

}  // namespace torvo
