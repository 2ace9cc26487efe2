// On Windows the programs carry their own code page 949 tables (the ones the Linux build makes
// from iconv) instead of asking the system, so the bytes on the wire do not depend on the
// system's ANSI code page. Here the tables meet the system's own code page 949, so a difference
// between the two shows up as the characters it concerns.
#include <windows.h>

#include <gtest/gtest.h>

#include <optional>
#include <string>

#include "platform/codepage.h"

namespace torvo {
namespace {

std::optional<std::string> SystemBytes(char16_t c) {
  const wchar_t text[1] = {static_cast<wchar_t>(c)};
  char bytes[4];
  BOOL substituted = FALSE;
  const int n = WideCharToMultiByte(949, WC_NO_BEST_FIT_CHARS, text, 1, bytes, sizeof bytes, nullptr, &substituted);
  if (n <= 0 || substituted) return std::nullopt;
  return std::string(bytes, static_cast<size_t>(n));
}

TEST(Cp949OnWindows, TablesAgreeWithTheSystemsCodePage949) {
  ASSERT_TRUE(IsValidCodePage(949));
  int mapped = 0;
  std::string differences;
  for (uint32_t c = 1; c < 0x10000; ++c) {
    if (c >= 0xD800 && c <= 0xDFFF) continue;
    // Windows alone gives bytes to U+0080 (0x80) and to the private use area (the code page's
    // user-defined rows); on Linux they have none, and the programs follow Linux: "?".
    if (c == 0x80 || (c >= 0xE000 && c <= 0xF8FF)) {
      EXPECT_EQ(CharToCp949(static_cast<char16_t>(c)), std::nullopt) << c;
      continue;
    }
    const std::optional<std::string> ours = CharToCp949(static_cast<char16_t>(c));
    const std::optional<std::string> system = SystemBytes(static_cast<char16_t>(c));
    if (ours) ++mapped;
    if (ours != system && differences.size() < 400) {
      char line[64];
      std::snprintf(line, sizeof line, " U+%04X", static_cast<unsigned>(c));
      differences += line;
    }
  }
  EXPECT_GT(mapped, 17000);
  EXPECT_EQ(differences, "") << "characters whose bytes differ from the system's code page 949";
}

TEST(Cp949OnWindows, PairsReadAsTheSystemReadsThem) {
  int pairs = 0;
  std::string differences;
  for (uint32_t lead = 0x81; lead <= 0xFE; ++lead) {
    for (uint32_t trail = 0x41; trail <= 0xFE; ++trail) {
      const char bytes[2] = {static_cast<char>(lead), static_cast<char>(trail)};
      wchar_t text[4];
      const int n = MultiByteToWideChar(949, MB_ERR_INVALID_CHARS, bytes, 2, text, 4);
      const std::u16string ours = FromCp949({bytes, 2});
      if (n != 1) continue;  // not a character to the system either
      if (text[0] >= 0xE000 && text[0] <= 0xF8FF) {
        // A user-defined row, as above: no character of ours.
        EXPECT_EQ(ours.find_first_not_of(u'\uFFFD'), std::u16string::npos) << lead << " " << trail;
        continue;
      }
      ++pairs;
      if (ours != std::u16string(1, static_cast<char16_t>(text[0])) && differences.size() < 400) {
        char line[32];
        std::snprintf(line, sizeof line, " %02X%02X", lead, trail);
        differences += line;
      }
    }
  }
  EXPECT_GT(pairs, 17000);
  EXPECT_EQ(differences, "") << "byte pairs the system reads as another character";
}

TEST(Cp949OnWindows, KoreanTextGivesTheSameBytesAsTheSystem) {
  const std::u16string text = u"기본 폴더 저장 똠방각하 뷁";
  const std::string ours = ToCp949(text);
  std::string system(64, '\0');
  const int n = WideCharToMultiByte(949, 0, reinterpret_cast<const wchar_t*>(text.data()), static_cast<int>(text.size()),
                                    system.data(), static_cast<int>(system.size()), nullptr, nullptr);
  ASSERT_GT(n, 0);
  system.resize(static_cast<size_t>(n));
  EXPECT_EQ(ours, system);
  EXPECT_EQ(FromCp949(system), text);
}

}  // namespace
}  // namespace torvo
