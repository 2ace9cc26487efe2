#include "toolbar/host/host.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "platform/tests/png_for_tests.h"

namespace torvo::toolbar {
namespace {

class RecordingStarter final : public ToolStarter {
 public:
  std::optional<Refusal> Start(const std::string& commandLine, std::string_view picture) override {
    started.push_back(commandLine);
    pictures.emplace_back(picture);
    return failure;
  }
  std::vector<std::string> started;
  std::vector<std::string> pictures;
  std::optional<Refusal> failure;
};

TEST(HandleMessage, AnswersEveryMessageWithSuccessOrAReason) {
  struct Case {
    std::string message;
    std::string answer;
    std::string started;  // the command line TorvoTool got, if any
  };
  const std::string longTitle(kMaxTitleBytes + 1, 't');
  const std::string longNote = [] {
    std::string note;
    for (size_t i = 0; i <= kMaxNoteCharacters; ++i) note += "가";
    return note;
  }();
  const Case cases[] = {
      {R"({"toolbarId":"user1","url":"https://a.example/","title":"제목","note":"가"})", R"({"ok":true})",
       "user1;^;https://a.example/;^;제목;^;%B0%A1"},
      {R"({"url":"http://a/","toolbarId":"u"})", R"({"ok":true})", "u;^;http://a/;^;;^;"},
      {R"({"toolbarId":"u","url":"http://a/","title":"\u0041\n"})", R"({"ok":true})", "u;^;http://a/;^;A\n;^;"},
      {"", R"({"code":"bad_json","message":"The message is not valid JSON.","ok":false})", ""},
      {R"({"toolbarId":"u",)", R"({"code":"bad_json","message":"The message is not valid JSON.","ok":false})", ""},
      {"{\"toolbarId\":\"\xFF\"}", R"({"code":"bad_json","message":"The message is not valid JSON.","ok":false})", ""},
      {R"(["u","http://a/"])", R"({"code":"not_object","message":"The message must be a JSON object.","ok":false})", ""},
      {R"("text")", R"({"code":"not_object","message":"The message must be a JSON object.","ok":false})", ""},
      {R"({"toolbarId":"u","url":"http://a/","tab":3})",
       R"({"code":"unknown_field","message":"The message has the unknown field \"tab\".","ok":false})", ""},
      {"{\"toolbarId\":\"u\",\"url\":\"http://a/\",\"" + std::string(70, 'k') + "\":1}",
       R"({"code":"unknown_field","message":"The message has the unknown field \")" + std::string(64, 'k') +
           R"(...\".","ok":false})",
       ""},
      {R"({"toolbarId":"u","url":"http://a/","note":null})",
       R"({"code":"not_string","message":"The field \"note\" must be a text.","ok":false})", ""},
      {R"({"toolbarId":7,"url":"http://a/"})",
       R"({"code":"not_string","message":"The field \"toolbarId\" must be a text.","ok":false})", ""},
      {R"({"toolbarId":"u"})", R"({"code":"missing_field","message":"The message lacks the field \"url\".","ok":false})",
       ""},
      {R"({"toolbarId":"","url":"http://a/"})",
       R"({"code":"no_identity","message":"No identity is set: enter it on the options page of the Torvo extension.","ok":false})",
       ""},
      {R"({"toolbarId":"u","url":"chrome://settings/"})",
       R"({"code":"not_web_page","message":"Only web pages (http or https addresses) can be kept.","ok":false})", ""},
      {R"({"toolbarId":"u","url":"HTTP://A/"})",
       R"({"code":"not_web_page","message":"Only web pages (http or https addresses) can be kept.","ok":false})", ""},
      {R"({"toolbarId":"u","url":"httpx://a/"})",
       R"({"code":"not_web_page","message":"Only web pages (http or https addresses) can be kept.","ok":false})", ""},
      {R"({"toolbarId":"u","url":"http://a/","title":")" + longTitle + R"("})",
       R"({"code":"too_long","message":"The page title is 8193 bytes long; at most 8192 can be sent.","ok":false})", ""},
      {R"({"toolbarId":"u","url":"http://a/","note":")" + longNote + R"("})",
       R"({"code":"too_long","message":"The note has 16385 characters; at most 16384 can be sent. Select a shorter text.","ok":false})",
       ""},
      {R"({"toolbarId":"u","url":"http://a/","title":"a\u0000b"})",
       R"({"code":"nul_character","message":"The page title contains a NUL character, which cannot be sent.","ok":false})",
       ""},
      {R"({"toolbarId":"u","url":"http://a/","title":"a;^;b"})",
       R"({"code":"separator","message":"The page title contains \";^;\", which TorvoTool would read as a field separator; the page cannot be sent as it is.","ok":false})",
       ""},
  };
  for (const auto& c : cases) {
    RecordingStarter starter;
    EXPECT_EQ(HandleMessage(c.message, starter), c.answer) << c.message.substr(0, 80);
    EXPECT_EQ(starter.started, c.started.empty() ? std::vector<std::string>{} : std::vector<std::string>{c.started})
        << c.message.substr(0, 80);
  }
}

TEST(HandleMessage, APictureGoesAlongOnlyWhenItIsAReadablePng) {
  const std::string png = torvo::testing::SolidPng(4, 3, 0, 128, 255);
  const std::string fields = R"({"toolbarId":"u","url":"http://a/","picture":)";
  struct Case {
    std::string picture;  // the JSON value
    std::string code;     // empty: started with the PNG
  };
  const Case cases[] = {
      {"\"" + torvo::testing::DataUrl(png) + "\"", ""},
      {"7", "not_string"},
      {"null", "not_string"},
      {"true", "not_string"},
      {R"({"data":"x"})", "not_string"},
      {"[\"" + torvo::testing::DataUrl(png) + "\"]", "not_string"},
      {"\"data:image/png;base64,not base64!\"", "picture_not_base64"},
      {"\"" + torvo::testing::DataUrl("plain text, not a picture at all") + "\"", "picture_not_png"},
      {"\"" + torvo::testing::DataUrl(png.substr(0, 20) + "\x7F" + png.substr(21)) + "\"", "picture_bad_header"},
      {"\"" + torvo::testing::DataUrl(torvo::testing::SolidPng(16385, 1, 0, 0, 0)) + "\"", "picture_too_large"},
      {"\"data:image/jpeg;base64,/9j/4AAQ\"", "picture_not_png_url"},
  };
  for (const auto& c : cases) {
    RecordingStarter starter;
    std::string answer = HandleMessage(fields + c.picture + "}", starter);
    if (c.code.empty()) {
      EXPECT_EQ(answer, R"({"ok":true})");
      EXPECT_EQ(starter.pictures, std::vector<std::string>{png});
      EXPECT_EQ(starter.started, std::vector<std::string>{"u;^;http://a/;^;;^;"});
    } else {
      EXPECT_NE(answer.find("\"code\":\"" + c.code + "\""), std::string::npos) << c.picture.substr(0, 40) << ": " << answer;
      EXPECT_TRUE(starter.started.empty()) << c.picture.substr(0, 40);
    }
  }
  // The other fields are refused first, without decoding a picture.
  RecordingStarter starter;
  EXPECT_EQ(HandleMessage(R"({"toolbarId":"","url":"http://a/","picture":"x"})", starter),
            R"({"code":"no_identity","message":"No identity is set: enter it on the options page of the Torvo extension.","ok":false})");
  // Without a picture, none is handed over.
  EXPECT_EQ(HandleMessage(R"({"toolbarId":"u","url":"http://a/"})", starter), R"({"ok":true})");
  EXPECT_EQ(starter.pictures, std::vector<std::string>{""});
}

TEST(HandleMessage, TheStartersFailureIsTheAnswer) {
  RecordingStarter starter;
  starter.failure = Refusal{"not_found", "TorvoTool was not found beside torvo-toolbar-host or on PATH."};
  EXPECT_EQ(HandleMessage(R"({"toolbarId":"u","url":"http://a/"})", starter),
            R"({"code":"not_found","message":"TorvoTool was not found beside torvo-toolbar-host or on PATH.","ok":false})");
}

class StringSource final : public ByteSource {
 public:
  explicit StringSource(std::string bytes) : bytes_(std::move(bytes)) {}
  size_t Read(char* buffer, size_t size) override {
    size_t n = std::min(size, bytes_.size() - offset_);
    std::memcpy(buffer, bytes_.data() + offset_, n);
    offset_ += n;
    return n;
  }

 private:
  std::string bytes_;
  size_t offset_ = 0;
};

class StringSink final : public ByteSink {
 public:
  bool Write(std::string_view bytes) override {
    written.append(bytes);
    return open;
  }
  std::string written;
  bool open = true;
};

TEST(RunHost, AnswersEachMessageAndStopsAtABrokenFrame) {
  const std::string ok = R"({"toolbarId":"u","url":"http://a/"})";
  struct Case {
    std::string stream;
    std::string answers;
    int status;
    size_t started;
  };
  const Case cases[] = {
      {"", "", 0, 0},
      {EncodeFrame(ok) + EncodeFrame("[]") + EncodeFrame(ok),
       EncodeFrame(R"({"ok":true})") +
           EncodeFrame(R"({"code":"not_object","message":"The message must be a JSON object.","ok":false})") +
           EncodeFrame(R"({"ok":true})"),
       0, 2},
      {EncodeFrame(ok) + std::string("\x10\x00", 2), EncodeFrame(R"({"ok":true})") + EncodeFrame(
           R"({"code":"bad_frame","message":"The message was cut short: its 4-byte length ended after 2 bytes.","ok":false})"),
       1, 1},
      {std::string("\x00\x00\x00\x7F", 4) + ok,
       EncodeFrame(
           R"({"code":"bad_frame","message":"The message is 2130706432 bytes long; at most 100663296 bytes are accepted.","ok":false})"),
       1, 0},
  };
  for (const auto& c : cases) {
    StringSource input(c.stream);
    StringSink output;
    RecordingStarter starter;
    EXPECT_EQ(RunHost(input, output, starter), c.status);
    EXPECT_EQ(output.written, c.answers);
    EXPECT_EQ(starter.started.size(), c.started);
  }
}

TEST(RunHost, EndsWhenTheBrowserStopsListening) {
  const std::string ok = R"({"toolbarId":"u","url":"http://a/"})";
  StringSource input(EncodeFrame(ok) + EncodeFrame(ok));
  StringSink output;
  output.open = false;
  RecordingStarter starter;
  EXPECT_EQ(RunHost(input, output, starter), 1);
  EXPECT_EQ(starter.started.size(), 1u);
}

}  // namespace
}  // namespace torvo::toolbar
