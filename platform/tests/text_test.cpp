#include "platform/text.h"

#include <gtest/gtest.h>

namespace torvo {
namespace {

TEST(SplitFields, KeepsEmptyFieldsAndPartialDelimiters) {
  struct Case {
    std::u16string text;
    std::vector<std::u16string> fields;
  };
  const Case cases[] = {
      {u"", {u""}},
      {u"a;^;", {u"a", u""}},
      {u";^;;^;", {u"", u"", u""}},
      {u"a;^b", {u"a;^b"}},
      {u"id;^;http://x;^;t;^;n;^;extra", {u"id", u"http://x", u"t", u"n", u"extra"}},
      {u";^;^;", {u"", u"^;"}},
  };
  for (const auto& c : cases) {
    auto fields = SplitFields(std::u16string_view(c.text), std::u16string_view(u";^;"));
    EXPECT_EQ(fields, c.fields);
    std::u16string joined;
    for (size_t i = 0; i < fields.size(); ++i) joined += (i ? u";^;" : u"") + fields[i];
    EXPECT_EQ(joined, c.text);
  }
}

TEST(SplitFields, WorksOnBytes) {
  auto lines = SplitFields(std::string_view("1 2 3\r\n\r\n4  5\n6"), std::string_view("\r\n"));
  ASSERT_EQ(lines.size(), 3u);
  EXPECT_EQ(lines[2], "4  5\n6");
  EXPECT_EQ(SplitFields(std::string_view(lines[2]), std::string_view(" ")).size(), 3u);
}

}  // namespace
}  // namespace torvo
