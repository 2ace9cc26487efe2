#include <gtest/gtest.h>
#include <iconv.h>

#include <optional>
#include <string>

#include "platform/codepage.h"

namespace torvo {
namespace {

// The tables are written at build time; they must say what iconv says now, in both directions.
std::optional<std::string> IconvConvert(const char* to, const char* from, std::string_view in) {
  iconv_t cd = iconv_open(to, from);
  if (cd == reinterpret_cast<iconv_t>(-1)) return std::nullopt;
  std::string input(in), output(16, '\0');
  char* inp = input.data();
  char* outp = output.data();
  size_t inLeft = input.size(), outLeft = output.size();
  const bool ok = iconv(cd, &inp, &inLeft, &outp, &outLeft) != static_cast<size_t>(-1) && inLeft == 0;
  iconv_close(cd);
  if (!ok) return std::nullopt;
  output.resize(output.size() - outLeft);
  return output;
}

TEST(Cp949, TablesAgreeWithIconv) {
  for (uint32_t c = 1; c < 0x10000; ++c) {
    if (c >= 0xD800 && c <= 0xDFFF) continue;
    const char utf16[2] = {static_cast<char>(c & 0xFF), static_cast<char>(c >> 8)};
    ASSERT_EQ(CharToCp949(static_cast<char16_t>(c)), IconvConvert("CP949", "UTF-16LE", {utf16, 2})) << c;
  }
  int pairs = 0;
  for (uint32_t lead = 0x81; lead <= 0xFE; ++lead) {
    for (uint32_t trail = 0x41; trail <= 0xFE; ++trail) {
      const char bytes[2] = {static_cast<char>(lead), static_cast<char>(trail)};
      const auto utf16 = IconvConvert("UTF-16LE", "CP949", {bytes, 2});
      const std::u16string decoded = FromCp949({bytes, 2});
      if (!utf16 || utf16->size() != 2) {
        EXPECT_EQ(decoded.front(), u'\uFFFD') << lead << " " << trail;
        continue;
      }
      ++pairs;
      ASSERT_EQ(decoded.size(), 1u) << lead << " " << trail;
      EXPECT_EQ(decoded[0], static_cast<char16_t>(static_cast<uint8_t>((*utf16)[0]) | static_cast<uint8_t>((*utf16)[1]) << 8))
          << lead << " " << trail;
    }
  }
  EXPECT_GT(pairs, 17000);
}

}  // namespace
}  // namespace torvo
