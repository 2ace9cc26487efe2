#include <gtest/gtest.h>

#include "service/store/search_text.h"

namespace torvo::service {
namespace {

TEST(SearchText, PairsKoreanRunsAndLeavesTheRest) {
  struct Case {
    const char* text;
    const char* indexed;
  };
  const Case cases[] = {
      {"여행지", " 여행 행지 "},
      {"메모", " 메모 "},
      {"책", " 책 "},
      {"Sharpened 사진, 2026", "Sharpened  사진 , 2026"},
      {"서울2024년", " 서울 2024 년 "},
      {"東京タワー", " 東京 京タ タワ ワー "},
      {"http://a.example/여행?q=1", "http://a.example/ 여행 ?q=1"},
      {"bad \xFF byte", "bad   byte"},
      {"", ""},
  };
  for (const auto& c : cases) EXPECT_EQ(SearchText(c.text), c.indexed) << c.text;
}

TEST(SearchText, QueriesMatchPairsInARowAndWordStarts) {
  struct Case {
    const char* words;
    std::optional<std::string> query;
  };
  const Case cases[] = {
      {"여행지", "\"여행 행지\""},
      {"메모", "\"메모\""},
      {"책", "\"책\"*"},
      {"sharp", "\"sharp\"*"},
      {"여행 Sharp", "\"여행\" AND \"Sharp\"*"},
      // Quotes and the index's operators never reach it as such.
      {"\"a\" OR b*", "\"a\"* AND \"OR\"* AND \"b\"*"},
      {"NEAR(x y)", "\"NEAR\"* AND \"x\"* AND \"y\"*"},
      {"example.org", "\"example\"* AND \"org\"*"},
      {"  ...  ", std::nullopt},
      {"", std::nullopt},
  };
  for (const auto& c : cases) EXPECT_EQ(SearchQuery(c.words), c.query) << c.words;
}

TEST(SearchText, ValidUtf8) {
  EXPECT_TRUE(IsValidUtf8("plain 한글 😀"));
  EXPECT_TRUE(IsValidUtf8(""));
  EXPECT_FALSE(IsValidUtf8("\xC0\xAF"));      // overlong "/"
  EXPECT_FALSE(IsValidUtf8("\xED\x95"));      // cut short
  EXPECT_FALSE(IsValidUtf8("\xB0\x41"));      // code page 949, not UTF-8
}

}  // namespace
}  // namespace torvo::service
