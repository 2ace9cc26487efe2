#include "toolbar/host/command_line.h"

#include <gtest/gtest.h>

#include "platform/codepage.h"
#include "platform/text.h"

#if TORVO_TOOLBAR_WITH_UPLOAD_DECODING
#include "upload/codecs.h"
#include "upload/command_line.h"
#endif

namespace torvo::toolbar {
namespace {

// What TorvoTool makes of the fourth field: its own decoding when it is built alongside, else
// the bytes read back as code page 949 (which is what that decoding promises).
std::u16string DecodeLikeTorvoTool(std::string_view encoded) {
#if TORVO_TOOLBAR_WITH_UPLOAD_DECODING
  return upload::DecodeNote(FromUtf8(encoded));
#else
  std::string bytes;
  for (size_t i = 0; i < encoded.size(); i += 3) {
    EXPECT_EQ(encoded[i], '%');
    bytes.push_back(static_cast<char>(std::stoi(std::string(encoded.substr(i + 1, 2)), nullptr, 16)));
  }
  return FromCp949(bytes);
#endif
}

TEST(EncodeNote, EveryByteIsEscapedInUppercase) {
  struct Case {
    std::string note, encoded;
  };
  const Case cases[] = {
      {"", ""},
      {"A", "%41"},
      {"a b", "%61%20%62"},
      {"가", "%B0%A1"},
      {"한글 OK\r\n", "%C7%D1%B1%DB%20%4F%4B%0D%0A"},
      {"+&=?#", "%2B%26%3D%3F%23"},
      {"50%", "%35%30%A3%A5"},   // the ASCII percent sign travels as the full-width one
      {"５０％", "%A3%B5%A3%B0%A3%A5"},
      {"\xE0\xB8\x81", "%3F"},   // Thai: not in the code page
      {"😀!", "%3F%21"},          // one "?" for a character beyond 16 bits
      {std::string("a\0b", 3), "%61%00%62"},
  };
  for (const auto& c : cases) EXPECT_EQ(EncodeNote(c.note), c.encoded) << c.note;
}

TEST(EncodeNote, KoreanSentencesComeBackOutOfTorvoToolsDecoding) {
  const std::u16string sentences[] = {
      u"오늘 읽은 기사: 서울의 봄꽃이 일주일 일찍 피었다.",
      u"가격은 3,000원 (할인 50％), \"따옴표\"와 + 기호;^; 그리고\n줄바꿈.",
      u"똠방각하 뷁 햏",  // syllables outside the 2,350 of the basic set
      u"漢字와 ㄱㄴㄷ, ①②③ ← →",
  };
  for (const auto& sentence : sentences) {
    std::string encoded = EncodeNote(ToUtf8(sentence));
    EXPECT_EQ(DecodeLikeTorvoTool(encoded), sentence) << ToUtf8(sentence);
  }
  // The ASCII percent sign arrives as the full-width one, and nothing else changes.
  EXPECT_EQ(DecodeLikeTorvoTool(EncodeNote("100% 확실")), u"100％ 확실");
  // A character beyond 16 bits arrives as one "?", and TorvoTool sends that one "?" on.
  EXPECT_EQ(DecodeLikeTorvoTool(EncodeNote("😀 메모")), u"? 메모");
#if TORVO_TOOLBAR_WITH_UPLOAD_DECODING
  EXPECT_EQ(upload::Coding(u"\U0001F600 메모", 0), FromUtf8(EncodeNote("😀 메모")));
#endif
}

ToolbarRequest Request(std::string id, std::string url, std::string title, std::string note) {
  return ToolbarRequest{std::move(id), std::move(url), std::move(title), std::move(note), {}};
}

TEST(BuildCommandLine, FourFieldsJoinedBySeparators) {
  auto line = BuildCommandLine(Request("user1", "https://news.example/a?b=1&c=2", "뉴스 - 제목", "메모"));
  ASSERT_TRUE(std::holds_alternative<std::string>(line));
  EXPECT_EQ(std::get<std::string>(line), "user1;^;https://news.example/a?b=1&c=2;^;뉴스 - 제목;^;%B8%DE%B8%F0");

  // An empty title and note still make four fields, so TorvoTool never takes the note for a title.
  line = BuildCommandLine(Request("u", "http://h/", "", ""));
  EXPECT_EQ(std::get<std::string>(line), "u;^;http://h/;^;;^;");
}

TEST(BuildCommandLine, FieldsThatWouldNotSplitBackAreRefused) {
  struct Case {
    ToolbarRequest request;
    std::string message;  // empty: accepted
  };
  const Case cases[] = {
      {Request("a;^;b", "http://h/", "t", ""),
       "The identity contains \";^;\", which TorvoTool would read as a field separator; the page cannot be sent as it is."},
      {Request("u", "http://h/?q=;^;", "t", ""),
       "The page address contains \";^;\", which TorvoTool would read as a field separator; the page cannot be sent as it is."},
      {Request("u", "http://h/", "x ;^; y", ""),
       "The page title contains \";^;\", which TorvoTool would read as a field separator; the page cannot be sent as it is."},
      {Request("u;^", "http://h/", "t", ""),
       "The identity ends in \";^\", which TorvoTool would read as a field separator; the page cannot be sent as it is."},
      {Request("u", "http://h/", "smile ;^", "n"),
       "The page title ends in \";^\", which TorvoTool would read as a field separator; the page cannot be sent as it is."},
      {Request("u;", "http://h/;^", "", ""),
       "The page address ends in \";^\", which TorvoTool would read as a field separator; the page cannot be sent as it is."},
      // Near misses are ordinary text.
      {Request("u;", "http://h/^;", "^;t;", ";^;"), ""},
      {Request("u", "http://h/", ";^ ;", "a;^;b"), ""},
  };
  for (const auto& c : cases) {
    auto line = BuildCommandLine(c.request);
    if (c.message.empty()) {
      ASSERT_TRUE(std::holds_alternative<std::string>(line)) << c.request.title;
      auto fields = SplitFields(std::string_view(std::get<std::string>(line)), kFieldSeparator);
      ASSERT_EQ(fields.size(), 4u);
      EXPECT_EQ(fields[0], c.request.toolbarId);
      EXPECT_EQ(fields[1], c.request.url);
      EXPECT_EQ(fields[2], c.request.title);
      EXPECT_EQ(DecodeLikeTorvoTool(fields[3]), FromUtf8(c.request.note));
    } else {
      ASSERT_TRUE(std::holds_alternative<Refusal>(line)) << c.message;
      EXPECT_EQ(std::get<Refusal>(line).code, "separator");
      EXPECT_EQ(std::get<Refusal>(line).message, c.message);
    }
  }
}

#if TORVO_TOOLBAR_WITH_UPLOAD_DECODING
TEST(BuildCommandLine, TorvoToolReadsTheFieldsBack) {
  auto request = Request("홍길동", "https://ko.example/위키?x=1", "대문 ; ^ 제목", "선택한 문장입니다.");
  auto fields = upload::SplitCommandLine(FromUtf8(std::get<std::string>(BuildCommandLine(request))));
  EXPECT_EQ(fields.toolbarId, u"홍길동");
  EXPECT_EQ(fields.url, u"https://ko.example/위키?x=1");
  EXPECT_EQ(fields.title, u"대문 ; ^ 제목");
  ASSERT_TRUE(fields.encodedNote.has_value());
  EXPECT_EQ(upload::DecodeNote(*fields.encodedNote), u"선택한 문장입니다.");
}
#endif

}  // namespace
}  // namespace torvo::toolbar
