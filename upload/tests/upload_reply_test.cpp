#include "upload/upload_reply.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/codepage.h"

namespace torvo::upload {
namespace {

using Kind = UploadVerdict::Kind;

const std::string kHead = "HTTP/1.1 200 OK\r\nContent-Type: text/plain; charset=EUC-KR\r\n";

std::string Reply(const std::string& body) {
  return kHead + "Content-Length: " + std::to_string(body.size()) + "\r\n\r\n" + body;
}

UploadVerdict Stored(const char16_t* name) { return {Kind::kStored, name}; }
const UploadVerdict kSignedOut{Kind::kSignedOut, {}};
const UploadVerdict kNotStored{Kind::kNotStored, {}};

TEST(UploadReply, NumericTest) {
  for (const char16_t* yes : {u"20091201123456", u" 2009120112345", u"+2009120112345", u"-2009120112345",
                              u"200912011234.5", u".2009120112345", u"2009120112345.", u"12345678901e+1",
                              u"1.5E-123456789", u"  1  ", u"7"}) {
    EXPECT_TRUE(IsNumeric(yes)) << ToUtf8(yes);
  }
  for (const char16_t* no : {u"abcdefghijklmn", u"", u"    ", u"+", u".", u"1.2.3", u"1e", u"1e+", u"e5",
                             u"1 2", u"--1", u"1-", u"0x12", u"１２", u"12\t", u"1,000", u"1e5.5"}) {
    EXPECT_FALSE(IsNumeric(no)) << ToUtf8(no);
  }
}

TEST(UploadReply, DecisionOnAWholeReply) {
  struct Case {
    std::string reply;
    UploadVerdict verdict;
  };
  const Case cases[] = {
      {Reply("20091201123456.png"), Stored(u"20091201123456.png")},
      {Reply("idnotfind"), kSignedOut},
      {Reply("idnotfind\r\n"), kNotStored},  // a line break after it: examined for a name
      {Reply("abcdefghijklmn.png"), kNotStored},
      {Reply("done"), kNotStored},
      {".png", kNotStored},                  // fewer than 14 characters in front
      {"1234567890123.png", kNotStored},
      {Reply("20091201123456.png idnotfind"), kSignedOut},
      {Reply("x20091201123456.png 11111111111111.png"), Stored(u"20091201123456.png")},  // the first
      {Reply("x2009120112345.png 11111111111111.png"), kNotStored},
      {Reply("   +1.5e3     .png"), Stored(u"   +1.5e3     .png")},
      {Reply("\xB0\xA1" "0091201123456.png"), kNotStored},  // 가 is one of the 14 characters
      {Reply("\xB0\xA1" "20091201123456.PNG"), kNotStored},
      {Reply("\xB0" "idnotfind"), kNotStored},
      {Reply("\xFF" "idnotfind"), kSignedOut},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(DecideUploadReply(FromCp949(c.reply)), c.verdict) << c.reply;
    UploadReplyReader whole;
    EXPECT_EQ(whole.Add(c.reply).value_or(whole.Finish()), c.verdict) << c.reply;
  }
}

TEST(UploadReply, PiecesAreGatheredUntilTheReplyIsComplete) {
  struct Case {
    const char* what;
    std::vector<std::string> pieces;
    size_t decidedAfter;  // the piece whose Add gives the verdict; pieces.size() = only Finish
    UploadVerdict verdict;
  };
  const std::string name = "20091201123456.png";
  const std::string head = kHead + "Content-Length: 18\r\n\r\n";
  const Case cases[] = {
      {"the head first, then the body", {head, name}, 1, Stored(u"20091201123456.png")},
      {"the name cut in two", {head + "2009120", "1123456.png"}, 1, Stored(u"20091201123456.png")},
      {"\".png\" cut in two", {head + "20091201123456.p", "ng"}, 1, Stored(u"20091201123456.png")},
      {"a first piece with an answer is decided at once", {Reply("abcdefghijklmn.png"), "x"}, 0, kNotStored},
      {"signed out across pieces", {kHead + "Content-Length: 9\r\n\r\nidnot", "find"}, 1, kSignedOut},
      {"no length announced: the close decides", {"2009", "1201123456.png"}, 2, Stored(u"20091201123456.png")},
      {"length not reached: the close or the time decides", {head, "2009"}, 2, kNotStored},
      {"head split inside its empty line", {kHead + "Content-Length:18\r\n\r", "\n" + name}, 1,
       Stored(u"20091201123456.png")},
  };
  for (const auto& c : cases) {
    UploadReplyReader reader;
    std::optional<UploadVerdict> verdict;
    size_t at = 0;
    for (; at < c.pieces.size() && !verdict; ++at) verdict = reader.Add(c.pieces[at]);
    if (!verdict) {
      EXPECT_EQ(c.decidedAfter, c.pieces.size()) << c.what;
      verdict = reader.Finish();
    } else {
      EXPECT_EQ(at - 1, c.decidedAfter) << c.what;
    }
    EXPECT_EQ(*verdict, c.verdict) << c.what;
  }
}

TEST(UploadReply, AnyCutOfTheRestDecidesLikeTheWhole) {
  // After a first piece without an answer, the verdict is that of the whole reply however the
  // rest is cut, double-byte characters included.
  const std::string bodies[] = {
      "\xB0\xA1\xB3\xAA 20091201123456.png",
      "\xB0\xA1" "2009120112345.png",
      "\xB0" "A12345678901234.png",  // B0 41 is one character
      "x\xFF" "12345678901234.png",
      std::string(5000, 'x') + "\r\n20091201123456.png",
      std::string(300, 'y') + "idnotfind",
      "abc\xB0",
      "x\xB0idnotfind",  // B0 69 is one character: the reply does not end in "idnotfind"
  };
  for (const std::string& body : bodies) {
    const std::string whole = "HTTP/1.1 200 OK\r\n\r\n" + body;
    const UploadVerdict expected = DecideUploadReply(FromCp949(whole));
    for (size_t cut = 0; cut <= body.size(); cut += (body.size() > 100 ? 97 : 1)) {
      UploadReplyReader reader;
      ASSERT_FALSE(reader.Add("HTTP/1.1 200 OK\r\n\r\n"));
      reader.Add(body.substr(0, cut));
      for (char c : body.substr(cut)) reader.Add(std::string(1, c));
      EXPECT_EQ(reader.Finish(), expected) << body.size() << " bytes, cut at " << cut;
    }
  }
}

TEST(UploadReply, AHugeReplyWithItsAnswerAtTheEnd) {
  const std::string body = std::string(8 << 20, 'x') + "\r\n20091201123456.png";
  const std::string reply = Reply(body);
  UploadReplyReader reader;
  std::optional<UploadVerdict> verdict;
  for (size_t at = 0; at < reply.size() && !verdict; at += 65536) verdict = reader.Add(reply.substr(at, 65536));
  ASSERT_TRUE(verdict);
  EXPECT_EQ(*verdict, Stored(u"20091201123456.png"));
}

}  // namespace
}  // namespace torvo::upload
