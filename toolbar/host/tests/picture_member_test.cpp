#include "toolbar/host/picture_member.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <string>

#include "platform/tests/png_for_tests.h"
#include "toolbar/host/toolbar_request.h"

namespace torvo::toolbar {
namespace {

TEST(TakeOutPicture, TakesOnlyAPlainPictureTextOfTheOutermostObject) {
  struct Case {
    std::string message;
    bool taken;
    std::string rest;
    std::string picture;
  };
  const Case cases[] = {
      {R"({"url":"http://a/","picture":"data:x"})", true, R"({"url":"http://a/","picture":""})", "data:x"},
      {"{ \"picture\" :\n\t\"data:x\" , \"url\":\"u\"}", true, "{ \"picture\" :\n\t\"\" , \"url\":\"u\"}", "data:x"},
      // Quotes and braces inside other texts are not structure.
      {R"({"title":"a \"}{\" b","picture":"p"})", true, R"({"title":"a \"}{\" b","picture":""})", "p"},
      {R"({"title":"picture","picture":"p"})", true, R"({"title":"picture","picture":""})", "p"},
      {R"({"picture":""})", true, R"({"picture":""})", ""},
      // Not the outermost object's member, or not a text: left to the parser.
      {R"({"note":{"picture":"p"}})", false, "", ""},
      {R"([{"picture":"p"}])", false, "", ""},
      {R"({"picture":5})", false, "", ""},
      {R"({"url":"u"})", false, "", ""},
      // Escapes, control or non-ASCII bytes in the picture; an escaped key; two pictures; a text
      // that never ends.
      {R"({"picture":"a\/b"})", false, "", ""},
      {"{\"picture\":\"a\tb\"}", false, "", ""},
      {"{\"picture\":\"a\xC3\xA9\"}", false, "", ""},
      {R"({"pictur\u0065":"p"})", false, "", ""},
      {R"({"picture":"p","picture":"q"})", false, "", ""},
      {R"({"picture":"p)", false, "", ""},
      {R"({"title":"p)", false, "", ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.message);
    auto parts = TakeOutPicture(c.message);
    ASSERT_EQ(parts.has_value(), c.taken);
    if (!parts) continue;
    EXPECT_EQ(parts->rest, c.rest);
    EXPECT_EQ(parts->picture, c.picture);
  }
}

// The outcome the parser alone reaches, as the host reached it before pictures were taken out.
std::string Outcome(const std::variant<ToolbarRequest, Refusal>& result) {
  if (auto* refusal = std::get_if<Refusal>(&result)) return "refused " + refusal->code + ": " + refusal->message;
  const auto& r = std::get<ToolbarRequest>(result);
  return r.toolbarId + "|" + r.url + "|" + r.title + "|" + r.note + "|" + std::to_string(std::hash<std::string>{}(r.picture)) +
         "/" + std::to_string(r.picture.size());
}

TEST(TakeOutPicture, EveryMessageGetsTheParsersOwnOutcome) {
  const std::string url = testing::DataUrl(testing::SolidPng(5, 4, 10, 20, 30));
  const std::string other = testing::DataUrl(testing::SolidPng(2, 2, 0, 0, 0));
  const std::string fields = R"("toolbarId":"u","url":"http://a/")";
  const std::string messages[] = {
      "{" + fields + R"(,"picture":")" + url + "\"}",
      "{\"picture\":\"" + url + "\"," + fields + "}",
      "{" + fields + R"(,"picture":")" + url + R"(","picture":")" + other + "\"}",
      "{" + fields + R"(,"picture":")" + url + R"(","picture":7})",
      "{" + fields + R"(,"picture":7,"picture":")" + url + "\"}",
      "{" + fields + R"(,"pictur\u0065":")" + other + R"(","picture":")" + url + "\"}",
      "{" + fields + R"(,"picture":")" + url + R"(","pictur\u0065":")" + other + "\"}",
      "{" + fields + R"(,"title":"say \"picture\":\"x\"","picture":")" + url + "\"}",
      "{" + fields + R"(,"picture":")" + url + "\"",                      // cut short
      "{" + fields + R"(,"picture":")" + url + "\"}}",                    // one brace too many
      "{" + fields + R"(,"picture":")" + url + "\" \"x\"}",               // a text too many
      "{" + fields + R"(,"picture":"data:image/png;base64,AAAA"})",       // not a PNG
      "{" + fields + R"(,"picture":"data:image/png;base64,A A="})",       // not base64
      "{" + fields + R"(,"tab":1,"picture":")" + url + "\"}",             // unknown field
      R"({"toolbarId":"","url":"http://a/","picture":")" + url + "\"}",  // no identity
      "[{" + fields + R"(,"picture":")" + url + "\"}]",
  };
  for (const std::string& message : messages) {
    SCOPED_TRACE(message.substr(0, 120));
    nlohmann::json whole = nlohmann::json::parse(message, nullptr, /*allow_exceptions=*/false);
    const std::string expected = whole.is_discarded() ? "refused bad_json: The message is not valid JSON."
                                                      : Outcome(ParseRequestJson(whole));
    EXPECT_EQ(Outcome(ParseRequest(message)), expected);
  }
  // The first message is taken apart, and its picture arrives whole.
  auto parsed = ParseRequest(messages[0]);
  ASSERT_TRUE(std::holds_alternative<ToolbarRequest>(parsed));
  EXPECT_EQ(std::get<ToolbarRequest>(parsed).picture, testing::SolidPng(5, 4, 10, 20, 30));
}

}  // namespace
}  // namespace torvo::toolbar
