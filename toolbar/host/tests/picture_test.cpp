#include "toolbar/host/picture.h"

#include <gtest/gtest.h>

#include "platform/tests/png_for_tests.h"

namespace torvo::toolbar {
namespace {

using namespace torvo::testing;

TEST(DecodeBase64, TakesOnlyStrictBase64) {
  struct Case {
    std::string text;
    std::optional<std::string> bytes;
  };
  const Case cases[] = {
      {"", std::string()},
      {"TQ==", std::string("M")},
      {"TWE=", std::string("Ma")},
      {"TWFu", std::string("Man")},
      {"AP8A/w==", std::string("\x00\xFF\x00\xFF", 4)},
      {"+/+/", std::string("\xFB\xFF\xBF", 3)},
      {"TWF", std::nullopt},        // not a multiple of 4
      {"TW=u", std::nullopt},       // padding inside
      {"T===", std::nullopt},
      {"====", std::nullopt},
      {"TWFu TWFu", std::nullopt},  // a space
      {"TWFu\nTWFu", std::nullopt},
      {"TWF-", std::nullopt},       // the URL alphabet is not the browser's
      {"TW_u", std::nullopt},
      {std::string("TW\0u", 4), std::nullopt},
      {"TWFu\xC3\xA9==", std::nullopt},
  };
  for (const auto& c : cases) EXPECT_EQ(DecodeBase64(c.text), c.bytes) << c.text;
  // Every byte value survives the way there and back.
  std::string all;
  for (int b = 0; b < 256; ++b) all.push_back(char(b));
  EXPECT_EQ(DecodeBase64(Base64(all)), all);
}

TEST(DecodePictureUrl, TakesReadablePngsWithinTheBoundsAndSaysWhyNot) {
  const std::string png = SolidPng(3, 2, 255, 0, 0);
  const std::string signature("\x89PNG\r\n\x1A\n", 8);
  auto withHeader = [&](std::string header) { return signature + Chunk("IHDR", header) + Chunk("IEND", ""); };
  std::string badCrc = png;
  badCrc[8 + 8 + 4] ^= 1;  // the height's top byte, under an unchanged CRC
  struct Case {
    std::string url;
    std::string code;  // empty: taken
  };
  const Case cases[] = {
      {DataUrl(png), ""},
      {DataUrl(withHeader(Header(16384, 16384))), ""},
      {DataUrl(withHeader(Header(1, 1, 1, 0))), ""},
      {DataUrl(withHeader(Header(5, 5, 16, 6))), ""},
      {"data:image/jpeg;base64," + Base64(png), "picture_not_png_url"},
      {"data:image/png," + Base64(png), "picture_not_png_url"},
      {"DATA:image/png;base64," + Base64(png), "picture_not_png_url"},
      {"https://a.example/x.png", "picture_not_png_url"},
      {"", "picture_not_png_url"},
      {"data:image/png;base64,iVBORw0KGgo*AAAN", "picture_not_base64"},
      {"data:image/png;base64," + Base64(png).substr(1), "picture_not_base64"},
      {"data:image/png;base64,", "picture_not_png"},
      {DataUrl("GIF89a" + std::string(40, 'x')), "picture_not_png"},
      {DataUrl(png.substr(0, 30)), "picture_not_png"},
      {DataUrl(badCrc), "picture_bad_header"},
      {DataUrl(signature + Chunk("IDAT", std::string(13, 'x')) + Chunk("IEND", "")), "picture_bad_header"},
      {DataUrl(signature + Chunk("IHDR", Header(3, 2) + "x") + Chunk("IEND", "")), "picture_bad_header"},
      {DataUrl(withHeader(Header(0, 10))), "picture_bad_header"},
      {DataUrl(withHeader(Header(10, 0))), "picture_bad_header"},
      {DataUrl(withHeader(Header(0x80000000u, 10))), "picture_bad_header"},
      {DataUrl(withHeader(Header(10, 10, 3, 2))), "picture_bad_header"},
      {DataUrl(withHeader(Header(10, 10, 8, 5))), "picture_bad_header"},
      {DataUrl(withHeader(Header(10, 10, 16, 3))), "picture_bad_header"},
      {DataUrl(withHeader(Header(10, 10) .replace(10, 1, 1, '\x01'))), "picture_bad_header"},  // compression
      {DataUrl(withHeader(Header(10, 10) .replace(12, 1, 1, '\x02'))), "picture_bad_header"},  // interlace
      {DataUrl(withHeader(Header(16385, 10))), "picture_too_large"},
      {DataUrl(withHeader(Header(10, 16385))), "picture_too_large"},
      {DataUrl(withHeader(Header(0x7FFFFFFF, 0x7FFFFFFF))), "picture_too_large"},
      {"data:image/png;base64," + std::string(kMaxPictureBase64Bytes + 4, 'A'), "picture_too_large"},
  };
  for (const auto& c : cases) {
    auto result = DecodePictureUrl(c.url);
    const std::string shown = c.url.substr(0, 60);
    // The same picture inside a message, decoded over its own text, gives the same outcome; a
    // picture taken takes the message's memory.
    std::string message = R"({"picture":")" + c.url + R"("})";
    const char* const memory = message.data();
    auto inPlace = DecodePictureUrl(std::string_view(message).substr(12, c.url.size()), &message);
    if (c.code.empty()) {
      ASSERT_TRUE(std::holds_alternative<PngPicture>(result)) << shown << ": " << std::get<Refusal>(result).message;
      EXPECT_EQ(std::get<PngPicture>(result).png, *DecodeBase64(c.url.substr(kPngDataUrlPrefix.size())));
      ASSERT_TRUE(std::holds_alternative<PngPicture>(inPlace)) << shown;
      EXPECT_EQ(std::get<PngPicture>(inPlace).png, std::get<PngPicture>(result).png) << shown;
      if (c.url.size() > 100) EXPECT_EQ(std::get<PngPicture>(inPlace).png.data(), memory) << shown;
      EXPECT_TRUE(message.empty()) << shown;
    } else {
      ASSERT_TRUE(std::holds_alternative<Refusal>(result)) << shown;
      EXPECT_EQ(std::get<Refusal>(result).code, c.code) << shown;
      EXPECT_FALSE(std::get<Refusal>(result).message.empty());
      ASSERT_TRUE(std::holds_alternative<Refusal>(inPlace)) << shown;
      EXPECT_EQ(std::get<Refusal>(inPlace).message, std::get<Refusal>(result).message) << shown;
    }
  }
  auto taken = std::get<PngPicture>(DecodePictureUrl(DataUrl(png)));
  EXPECT_EQ(taken.width, 3u);
  EXPECT_EQ(taken.height, 2u);
  EXPECT_EQ(std::get<Refusal>(DecodePictureUrl(DataUrl(withHeader(Header(20000, 300))))).message,
            "The picture is 20000 x 300 pixels; at most 16384 on each side are taken.");
}

TEST(DecodePictureUrl, TheLargestPictureIsTakenAndOneByteMoreIsNot) {
  // A PNG whose bytes are exactly the bound: a valid header followed by filler.
  std::string png = SolidPng(2, 2, 0, 0, 255);
  std::string largest = png + std::string(kMaxHandedOverPictureBytes - png.size(), '\0');
  auto result = DecodePictureUrl(DataUrl(largest));
  ASSERT_TRUE(std::holds_alternative<PngPicture>(result));
  EXPECT_EQ(std::get<PngPicture>(result).png.size(), kMaxHandedOverPictureBytes);
  largest.push_back('\0');
  EXPECT_EQ(std::get<Refusal>(DecodePictureUrl(DataUrl(largest))).code, "picture_too_large");
}

}  // namespace
}  // namespace torvo::toolbar
