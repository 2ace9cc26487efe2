#include "sync/image_name.h"

#include <gtest/gtest.h>

namespace torvo::sync {
namespace {

TEST(ImageNameProblem, RefusesNamesThatAreNotPlainFilesOfTheFolder) {
  struct Case {
    std::u16string name;
    bool fine;
  } cases[] = {
      {u"", true},
      {u"20261208123456", true},
      {u"사진 1", true},
      {u"a.b", true},
      {u"..", false},
      {u".hidden", false},
      {u"../../etc/passwd", false},
      {u"a/b", false},
      {u"a\\b", false},
      {u"/abs", false},
      {u"a\nb", false},
      {u"a\tb", false},
      {std::u16string(u"a\0b", 3), false},
      {u"a\u007Fb", false},
      {u"a\u0085b", false},
      {u"a\uFFFDb", false},
      {std::u16string(200, u'x'), true},
      {std::u16string(201, u'x'), false},
      // 66 syllables are 198 bytes in UTF-8, 67 are 201.
      {std::u16string(66, u'\uAC00'), true},
      {std::u16string(67, u'\uAC00'), false},
      // Two-byte letters, and letters beyond 16 bits (a pair of units, four bytes).
      {std::u16string(100, u'\u00E9'), true},
      {std::u16string(100, u'\u00E9') + u"x", false},
      {[] { std::u16string s; for (int i = 0; i < 50; ++i) s += u"\U0001F600"; return s; }(), true},
      {[] { std::u16string s; for (int i = 0; i < 50; ++i) s += u"\U0001F600"; return s + u"x"; }(), false},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(!ImageNameProblem(c.name).has_value(), c.fine) << "length " << c.name.size();
  }
}

}  // namespace
}  // namespace torvo::sync
