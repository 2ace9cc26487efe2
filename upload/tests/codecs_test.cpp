#include "upload/codecs.h"

#include <gtest/gtest.h>

#include "platform/error.h"
#include "upload/command_line.h"

namespace torvo::upload {
namespace {

TEST(UrlDecode, DecodesEscapesPlusAndCp949Pairs) {
  struct Case {
    std::u16string in, out;
  };
  const Case cases[] = {
      {u"", u""},
      {u"a+b%41%2B", u"a bA+"},
      {u"%4", u"\x04"},
      {u"%2541", u"%41"},         // an escaped "%" is not read again
      {u"%b0%a1", u"가"},         // both escapes of one character, either case
      {u"%B0%A1%B3%AA", u"가나"},
      {u"x%B0%A1y", u"x가y"},
      {u"%B0A", u"캚"},           // an escaped lead byte with a plain trail byte
      {u"%B0", u"\uFFFD"},        // a lone lead byte is no character
      {u"%FF%41", u"\uFFFDA"},    // a byte that starts no character does not eat the next
      {u"%B0%A1%B0", u"가\uFFFD"},
      {u"한%41글", u"한A글"},     // characters that came in as text stay as they are
      {u"%0D%0A", u"\r\n"},
  };
  for (const auto& c : cases) EXPECT_EQ(UrlDecode(c.in), c.out) << std::string(c.in.begin(), c.in.end());
}

TEST(UrlDecode, RaisesOnUndecodableEscapes) {
  for (const char16_t* in : {u"%G1", u"abc%", u"%4G", u"%+1", u"%%41", u"%\uAC00"}) {
    try {
      UrlDecode(in);
      ADD_FAILURE() << "no error for " << std::u16string(in).size() << "-char input";
    } catch (const TorvoError& e) {
      EXPECT_EQ(e.number(), 65001);
      EXPECT_EQ(e.description(), "Invalid data passed to UrlDecode() function.");
    }
  }
}

TEST(DecodeNote, CollapsesPercentRunsThenDecodes) {
  EXPECT_EQ(DecodeNote(u"%2541"), u"A");
  EXPECT_EQ(DecodeNote(u"%252541"), u"A");
  EXPECT_EQ(DecodeNote(u"%25B0%2525A1"), u"가");
  EXPECT_EQ(DecodeNote(u"100%2"), u"100\x02");
  // Only whole "25" pairs are swallowed: "%252" keeps its last "2".
  EXPECT_EQ(DecodeNote(u"%252"), u"\x02");
  EXPECT_EQ(DecodeNote(u"%2524"), u"$");
  EXPECT_THROW(DecodeNote(u"note%25"), TorvoError);
  EXPECT_THROW(DecodeNote(u"note%2525"), TorvoError);
}

TEST(Coding, EscapesEveryCp949Byte) {
  struct Case {
    std::u16string in, out;
  };
  const Case cases[] = {
      {u"", u""},
      {u"A", u"%41"},
      {u"a b", u"%61%20%62"},
      {u"\x04", u"%04"},
      {std::u16string(1, u'\0'), u"%00"},
      {u"\r\n", u"%0D%0A"},
      {u"가", u"%B0%A1"},
      {u"캚", u"%B0%41"},
      {u"갂", u"%81%41"},
      {u"\u00E9", u"%3F"},  // not in the code page: "?"
      {u"\U0001F600!", u"%3F%21"},  // one "?" for a character beyond 16 bits
      {std::u16string(1, u'\xD83D') + u"a", u"%3F%61"},  // and for half of one
      {u"~%+", u"%7E%25%2B"},
  };
  for (const auto& c : cases) EXPECT_EQ(Coding(c.in, 0), c.out);
  EXPECT_EQ(Coding(u"A", 1), std::nullopt);
  EXPECT_EQ(Coding(u"A", -2), std::nullopt);
  EXPECT_EQ(Coding(u"%B0%A1+x", -1), u"가 x");
}

TEST(Coding, GivesTheToolbarsBytesBackAfterDecoding) {
  for (const char16_t* encoded : {u"%C7%D1%B1%DB%20%B8%DE%B8%F0", u"%B0%41%62%0D%0A", u"%41%42"}) {
    EXPECT_EQ(Coding(UrlDecode(encoded), 0), encoded);
  }
}

TEST(CommandLine, SplitsFourFieldsAndChecksTheAddress) {
  auto f = SplitCommandLine(u"id7;^;http://a.b/c;^;T;^;n%41;^;extra");
  EXPECT_EQ(f.toolbarId, u"id7");
  EXPECT_EQ(f.url, u"http://a.b/c");
  EXPECT_EQ(f.title, u"T");
  EXPECT_EQ(f.encodedNote, u"n%41");

  auto one = SplitCommandLine(u"only");
  EXPECT_EQ(one.toolbarId, u"only");
  EXPECT_EQ(one.url, u"");
  EXPECT_FALSE(one.encodedNote.has_value());

  auto empties = SplitCommandLine(u"id;^;https://x;^;;^;");
  EXPECT_EQ(empties.title, u"");
  EXPECT_EQ(empties.encodedNote, u"");

  EXPECT_TRUE(IsHttpAddress(u"http://x"));
  EXPECT_TRUE(IsHttpAddress(u"https://x"));
  EXPECT_TRUE(IsHttpAddress(u"http"));
  EXPECT_FALSE(IsHttpAddress(u"HTTP://x"));
  EXPECT_FALSE(IsHttpAddress(u"htt"));
  EXPECT_FALSE(IsHttpAddress(u""));
  EXPECT_FALSE(IsHttpAddress(u"ftp://x"));
}

}  // namespace
}  // namespace torvo::upload
