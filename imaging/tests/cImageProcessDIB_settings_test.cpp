#include <gtest/gtest.h>

#include "imaging/cImageProcessDIB.h"
#include "imaging/tests/processor_test_access.h"
#include "imaging/tests/surface_test_support.h"
#include "platform/error.h"

namespace torvo {
namespace {

using Access = cImageProcessDIBTestAccess;

// The kernel as it looks on paper: the top row (scan-line offset +h) first, each row from -h
// to +h.
std::vector<std::vector<int32_t>> Paper(const cImageProcessDIB& p) {
  const int32_t h = p.FilterArraySize() / 2;
  std::vector<std::vector<int32_t>> rows;
  for (int32_t j = h; j >= -h; --j) {
    rows.emplace_back();
    for (int32_t i = -h; i <= h; ++i) rows.back().push_back(p.FilterValue(i, j));
  }
  return rows;
}

void ExpectError(const std::function<void()>& call, int32_t number, const std::string& description) {
  try {
    call();
    ADD_FAILURE() << "nothing raised, expected " << number;
  } catch (const TorvoError& e) {
    EXPECT_EQ(e.number(), number);
    EXPECT_EQ(e.description(), description);
    EXPECT_EQ(e.source(), ProgramName() + ".cImageProcess");
  }
}

TEST(FilterSettingsTest, NewProcessorHasNoFilter) {
  cImageProcessDIB p;
  EXPECT_EQ(p.FilterArraySize(), 0);
  EXPECT_EQ(p.FilterWeight(), 0);
  EXPECT_THROW(p.FilterValue(0, 0), TorvoError);
  try {
    p.FilterValue(0, 0, 1);
  } catch (const TorvoError& e) {
    EXPECT_EQ(e.number(), 9);
  }
  auto image = surface_test::Random(5, 5, 1);
  auto buffer = surface_test::Flat(5, 5, 9);
  auto imageBefore = surface_test::AllBytes(*image);
  auto bufferBefore = surface_test::AllBytes(*buffer);
  surface_test::EventLog log(p);
  EXPECT_FALSE(p.ProcessImage(*image, *buffer));
  EXPECT_EQ(surface_test::AllBytes(*image), imageBefore);
  EXPECT_EQ(surface_test::AllBytes(*buffer), bufferBefore);
  EXPECT_TRUE(log.lines.empty());
}

TEST(FilterSettingsTest, PresetTable) {
  using K = std::vector<std::vector<int32_t>>;
  struct Case { int32_t type; K kernel; int32_t weight; };
  const K blur5(5, std::vector<int32_t>(5, 1));
  const Case cases[] = {
      {1, {{1, 1, 1}, {1, 1, 1}, {1, 1, 1}}, 9},
      {2, blur5, 25},
      {3, {{1, 1, 1}, {1, 4, 1}, {1, 1, 1}}, 12},
      {4,
       {{1, 1, 1, 1, 1}, {1, 2, 2, 2, 1}, {1, 2, 12, 2, 1}, {1, 2, 2, 2, 1}, {1, 1, 1, 1, 1}},
       44},
      {5, {{-1, -1, -1}, {-1, 15, -1}, {-1, -1, -1}}, 7},
      {6, {{0, -1, 0}, {-1, 5, -1}, {0, -1, 0}}, 1},
      // Upper-right added, lower-left subtracted.
      {8, {{0, 0, 1}, {0, 0, 0}, {-1, 0, 0}}, 1},
  };
  for (const Case& c : cases) {
    cImageProcessDIB p;
    p.FilterType(c.type);
    EXPECT_EQ(p.FilterArraySize(), static_cast<int32_t>(c.kernel.size())) << c.type;
    EXPECT_EQ(Paper(p), c.kernel) << c.type;
    EXPECT_EQ(p.FilterWeight(), c.weight) << c.type;
  }
}

TEST(FilterSettingsTest, PresetsWithoutKernelKeepTheOldOneAndZeroTheWeight) {
  const std::vector<std::vector<int32_t>> sharpen = {{-1, -1, -1}, {-1, 15, -1}, {-1, -1, -1}};
  for (int32_t type : {7, 9, 10, 11, 12}) {
    cImageProcessDIB p;
    p.FilterType(5);
    p.FilterType(type);
    EXPECT_EQ(p.FilterWeight(), 0) << type;
    EXPECT_EQ(p.FilterArraySize(), 3) << type;
    EXPECT_EQ(Paper(p), sharpen) << type;
  }
  // A preset of its own on a fresh processor: still no kernel.
  cImageProcessDIB fresh;
  fresh.FilterType(9);
  EXPECT_EQ(fresh.FilterArraySize(), 0);
}

TEST(FilterSettingsTest, CustomKeepsAndEditsThePresetKernel) {
  cImageProcessDIB p;
  p.FilterType(5);
  p.FilterType(13);
  EXPECT_EQ(p.FilterWeight(), 7);
  EXPECT_EQ(p.FilterValue(0, 0), 15);
  p.FilterValue(1, -1, 4);
  p.FilterWeight(-3);
  EXPECT_EQ(p.FilterValue(1, -1), 4);
  EXPECT_EQ(p.FilterValue(-1, 1), -1);
  EXPECT_EQ(p.FilterWeight(), -3);
  // Order does not matter: select 13 first, then define.
  cImageProcessDIB q;
  q.FilterType(13);
  q.FilterArraySize(5);
  q.FilterValue(-2, 2, 7);
  EXPECT_EQ(q.FilterValue(-2, 2), 7);
  EXPECT_EQ(Access::filterType(q), 13);
}

TEST(FilterSettingsTest, InvalidFilterTypesChangeNothing) {
  for (int32_t type : {0, 14, -1, INT32_MIN, INT32_MAX}) {
    cImageProcessDIB p;
    p.FilterType(6);
    ExpectError([&] { p.FilterType(type); }, static_cast<int32_t>(0x8004051A), "Invalid filter types.");
    EXPECT_EQ(Access::filterType(p), 6);
    EXPECT_EQ(p.FilterWeight(), 1);
    EXPECT_EQ(p.FilterValue(0, 0), 5);
  }
}

TEST(FilterSettingsTest, ArraySizes) {
  const std::string even = "Size must be an odd number";
  const std::string range = "Invalid size.  Size should be an odd number from 3 to 9";
  struct Case { int32_t size; int32_t number; std::string description; };
  const Case cases[] = {
      {4, -2147220199, even},  {0, -2147220199, even},  {-2, -2147220199, even},
      {10, -2147220199, even}, {1, -2147220198, range}, {11, -2147220198, range},
      {-3, -2147220198, range}, {INT32_MAX, -2147220198, range}, {INT32_MIN, -2147220199, even},
  };
  for (const Case& c : cases) {
    cImageProcessDIB p;
    p.FilterType(5);
    ExpectError([&] { p.FilterArraySize(c.size); }, c.number, c.description);
    EXPECT_EQ(p.FilterArraySize(), 3);
    EXPECT_EQ(p.FilterValue(0, 0), 15);
  }
  for (int32_t size : {3, 5, 7, 9}) {
    cImageProcessDIB p;
    p.FilterType(5);
    p.FilterArraySize(size);
    EXPECT_EQ(p.FilterArraySize(), size);
    EXPECT_EQ(p.FilterWeight(), 7);  // the weight is not touched
    const int32_t h = size / 2;
    for (int32_t j = -h; j <= h; ++j)
      for (int32_t i = -h; i <= h; ++i) EXPECT_EQ(p.FilterValue(i, j), 0);
    for (auto [i, j] : {std::pair{h + 1, 0}, {0, -h - 1}, {-h - 1, h}, {h, h + 1}}) {
      try {
        p.FilterValue(i, j);
        ADD_FAILURE() << i << "," << j;
      } catch (const TorvoError& e) {
        EXPECT_EQ(e.number(), 9);
      }
    }
  }
}

}  // namespace
}  // namespace torvo
