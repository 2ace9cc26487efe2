#include "platform/arithmetic.h"

#include <gtest/gtest.h>

#include <climits>

namespace torvo {
namespace {

int32_t ErrorNumberOf(auto&& f) {
  try {
    f();
  } catch (const TorvoError& e) {
    return e.number();
  }
  return 0;
}

TEST(Arithmetic, OverflowRaisesSix) {
  EXPECT_EQ(ErrorNumberOf([] { CheckedAdd(INT32_MAX, 1); }), kErrOverflow);
  EXPECT_EQ(ErrorNumberOf([] { CheckedSub(INT32_MIN, 1); }), kErrOverflow);
  EXPECT_EQ(ErrorNumberOf([] { CheckedMul(65536, 32768); }), kErrOverflow);
  EXPECT_EQ(ErrorNumberOf([] { CheckedDiv(INT32_MIN, -1); }), kErrOverflow);
  EXPECT_EQ(ErrorNumberOf([] { CheckedDiv(1, 0); }), kErrDivisionByZero);
  EXPECT_EQ(ErrorNumberOf([] { ToByte(256); }), kErrOverflow);
  EXPECT_EQ(ErrorNumberOf([] { ToByte(-1); }), kErrOverflow);
  EXPECT_EQ(ErrorNumberOf([] { ToInt16(32768); }), kErrOverflow);
  EXPECT_EQ(ErrorNumberOf([] { RoundToInt32(2147483647.5); }), kErrOverflow);
  EXPECT_EQ(CheckedMul(65535, 32768), 2147450880);
}

TEST(Arithmetic, DivisionTruncatesTowardZero) {
  EXPECT_EQ(CheckedDiv(-13, 7), -1);
  EXPECT_EQ(CheckedDiv(13, 7), 1);
  EXPECT_EQ(CheckedDiv(-7, 16), 0);
  EXPECT_EQ(CheckedDiv(-23, 16), -1);
}

TEST(Arithmetic, RoundsHalvesToEven) {
  struct Case { double in; int32_t out; };
  for (auto [in, out] : {Case{2.5, 2}, {3.5, 4}, {119.5, 120}, {177.5, 178}, {127.5, 128}, {-2.5, -2},
                         {0.49999999, 0}, {254.5, 254}, {255.5, 256}}) {
    EXPECT_EQ(RoundToInt32(in), out) << in;
  }
}

TEST(Arithmetic, ErrorCarriesProgramNameAndText) {
  SetProgramName("TorvoTool");
  try {
    RaiseRuntimeError(kErrSubscriptOutOfRange);
    FAIL();
  } catch (const TorvoError& e) {
    EXPECT_EQ(e.source(), "TorvoTool");
    EXPECT_EQ(e.description(), "Subscript out of range");
  }
}

}  // namespace
}  // namespace torvo
