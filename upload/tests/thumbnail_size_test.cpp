#include "upload/thumbnail_size.h"

#include <gtest/gtest.h>

#include "platform/error.h"

namespace torvo::upload {
namespace {

TEST(ThumbnailSize, LandscapeIs200WidePortraitIs160High) {
  struct Case {
    int16_t w, h;
    ThumbnailExtent size;
  };
  const Case cases[] = {
      {1000, 700, {200, 140}}, {999, 500, {200, 100}}, {100, 50, {200, 100}},
      {800, 1000, {128, 160}}, {1000, 900, {200, 180}}, {500, 500, {160, 160}},
      {700, 1000, {112, 160}}, {1920, 1080, {200, 112}}, {1, 1, {160, 160}},
      {1000, 999, {200, 199}}, {32767, 32767, {160, 160}},
      // Very thin captures keep at least one pixel.
      {5000, 1, {200, 1}}, {1, 5000, {1, 160}}, {2000, 9, {200, 1}},
  };
  for (const auto& c : cases) EXPECT_EQ(ThumbnailSize(c.w, c.h), c.size) << c.w << "x" << c.h;
}

TEST(ThumbnailSize, EmptySideIsAnError) {
  for (auto [w, h] : {std::pair<int16_t, int16_t>{0, 10}, {10, 0}, {0, 0}, {-5, 10}}) {
    try {
      ThumbnailSize(w, h);
      ADD_FAILURE();
    } catch (const TorvoError& e) {
      EXPECT_EQ(e.number(), 11);
    }
  }
}

}  // namespace
}  // namespace torvo::upload
