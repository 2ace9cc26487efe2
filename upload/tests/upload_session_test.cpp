// The save's session against scripted fakes: no display, no network. The fakes record what the
// session did (bytes sent, timer, messages, the button) and the test plays the connection's and
// the timer's events in the order a desktop would deliver them.
#include "upload/upload_session.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <deque>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <optional>
#include <string>
#include <vector>

#include "platform/codepage.h"

namespace torvo::upload {
namespace {

namespace fs = std::filesystem;

struct FakeConnection : TcpConnection {
  void Close() override {
    ++closes;
    open = false;
  }
  void Connect(const std::string& h, uint16_t p) override {
    host = h;
    port = p;
    ++connects;
    open = true;
  }
  void ConnectTls(const std::string& h, uint16_t p, const std::string& pem) override {
    Connect(h, p);
    tls = true;
    trusted = pem;
  }
  // The handshake fails as kind says; nothing was sent.
  void FailTls(FailureKind kind) {
    lastFailure_ = kind;
    open = false;
    Failed("the handshake failed");
  }
  void SendData(std::string_view bytes) override {
    if (open) sent.append(bytes);
  }
  std::string GetData() override { return std::exchange(waiting, {}); }
  // The peer's bytes arrive.
  void Arrive(const std::string& bytes) {
    waiting += bytes;
    DataArrival(static_cast<int64_t>(waiting.size()));
  }

  std::string host;
  uint16_t port = 0;
  bool tls = false;
  std::string trusted;
  int connects = 0;
  int closes = 0;
  bool open = false;
  std::string sent;
  std::string waiting;
};

struct FakeTimer : OneShotTimer {
  void Start(int ms) override { startedMs = ms; running = true; }
  void Stop() override { running = false; }
  void Fire() {
    running = false;
    Due();
  }
  std::optional<int> startedMs;
  bool running = false;
};

struct FakeMessages : MessageSink {
  void Tell(const std::u16string& message) override {
    told.push_back(ToUtf8(message));
    if (whileShown) whileShown();
  }
  std::vector<std::string> told;
  std::function<void()> whileShown;  // what happens while the box is up
};

// Each Run plays the next scripted step (the events that were waiting), then nothing.
struct FakePending : PendingEvents {
  void Run() override {
    ++runs;
    if (script.empty()) return;
    auto step = std::move(script.front());
    script.pop_front();
    if (step) step();
  }
  std::deque<std::function<void()>> script;
  int runs = 0;
};

struct FakeView : UploadFormView {
  bool IsPrivate() override { return isPrivate; }
  std::u16string Note() override { return note; }
  std::u16string Url() override { return url; }
  std::u16string Title() override { return title; }
  int32_t Folder() override { return folder; }
  void SetSaveEnabled(bool enabled) override { saveEnabled = enabled; }
  void FocusSave() override { ++focused; }
  void Finished(int status) override { finished = status; }

  bool isPrivate = false;
  std::u16string note = u"note";
  std::u16string url = u"http://example.com/a";
  std::u16string title = u"Title";
  int32_t folder = 0;
  bool saveEnabled = true;
  int focused = 0;
  std::optional<int> finished;
};

std::string Answer(const std::string& body) {
  return "HTTP/1.1 200 OK\r\nContent-Type: text/plain; charset=EUC-KR\r\nContent-Length: " +
         std::to_string(body.size()) + "\r\n\r\n" + body;
}

const char kBodyHead[] =
    "--7d4b2315b01da\r\n"
    "Content-Disposition:name=\"MAX_FILE_SIZE\"\r\n"
    "\r\n"
    "\r\n"
    "--7d4b2315b01da\r\n"
    "Content-Disposition:attachment;name=\"uploadfile\";filename=\"a.png\"\r\n"
    "Content-Type:image/pjpeg\r\n"
    "Content-Transfer-Encoding: binary\r\n"
    "\r\n";
const char kTail[] = "\r\n--7d4b2315b01da\r\n";

class UploadSessionTest : public ::testing::Test {
 protected:
  void SetUp() override { Fresh(); }
  void TearDown() override { fs::remove_all(folder_); }

  // A new window with its session, a 3,000-byte img.png in a folder of its own.
  void Fresh() {
    session_.reset();
    if (!folder_.empty()) fs::remove_all(folder_);
    folder_ = fs::temp_directory_path() / ("torvo-session-" + std::to_string(::getpid()) + "-" +
                                           ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(folder_);
    fs::create_directories(folder_);
    png_ = "\x89PNG\r\n\x1a\n";
    for (int i = 0; png_.size() < 3000; ++i) png_.push_back(static_cast<char>(i * 13 + 1));
    WriteFile("img.png", png_);
    connection_ = FakeConnection();
    timer_ = FakeTimer();
    messages_ = FakeMessages();
    pending_ = FakePending();
    view_ = FakeView();
    UploadSessionSetup setup;
    setup.OutputDir = folder_;
    setup.strTargetUrl = u"127.0.0.1";
    setup.ToolbarID = u"alice";
    setup.RemotePort = 8080;
    session_.emplace(setup, view_, connection_, timer_, messages_, pending_);
  }
  void WriteFile(const std::string& name, const std::string& bytes) {
    std::ofstream(folder_ / name, std::ios::binary) << bytes;
  }
  std::string Files() const {
    std::vector<std::string> names;
    for (const auto& e : fs::directory_iterator(folder_)) names.push_back(e.path().filename().string());
    std::sort(names.begin(), names.end());
    std::string all;
    for (const auto& n : names) all += n + " ";
    return all;
  }
  // Press, connect, and let the whole request go out.
  void SendAll() {
    session_->Save();
    connection_.Connected();
  }
  std::string Message() const { return messages_.told.empty() ? "" : messages_.told.back(); }
  std::string WholeRequest(const std::string& query) const {
    return "POST http://127.0.0.1/imgUpload.php?tid=alice" + query + " HTTP/1.1\r\n"
           "Content-Type:multipart/form-data;boundary=7d4b2315b01da\r\n"
           "Host:127.0.0.1\r\n"
           "Content-Length:3229\r\n"
           "\r\n" + kBodyHead + png_ + kTail;
  }

  fs::path folder_;
  std::string png_;
  FakeConnection connection_;
  FakeTimer timer_;
  FakeMessages messages_;
  FakePending pending_;
  FakeView view_;
  std::optional<UploadSession> session_;
};

TEST_F(UploadSessionTest, TheFieldsGoOutByteForByteAndTheStoredNameIsKept) {
  view_.title = u"가 b";
  view_.note = u"x\ny";
  view_.isPrivate = true;
  view_.folder = 12;
  WriteFile("20091201123456.png", "an older copy");  // replaced
  session_->Save();
  EXPECT_FALSE(view_.saveEnabled);  // one upload at a time
  EXPECT_EQ(connection_.host, "127.0.0.1");
  EXPECT_EQ(connection_.port, 8080);
  EXPECT_EQ(timer_.startedMs, 30000);
  session_->Save();  // a second press while it runs does nothing
  EXPECT_EQ(connection_.connects, 1);
  connection_.Connected();
  EXPECT_EQ(pending_.runs, 4);  // after the note, the head, the file and the tail
  EXPECT_EQ(connection_.sent,
            WholeRequest("&url=%68%74%74%70%3A%2F%2F%65%78%61%6D%70%6C%65%2E%63%6F%6D%2F%61"
                         "&title=%B0%A1%20%62&note=%78%0D%0A%79&public=S&folder=12"));
  EXPECT_FALSE(view_.finished);
  connection_.Arrive(Answer("20091201123456.png"));
  EXPECT_EQ(view_.finished, 0);
  EXPECT_TRUE(messages_.told.empty()) << Message();
  EXPECT_FALSE(timer_.running);
  EXPECT_FALSE(connection_.open);
  EXPECT_EQ(Files(), "20091201123456.png ");
  std::ifstream kept(folder_ / "20091201123456.png", std::ios::binary);
  EXPECT_EQ(std::string(std::istreambuf_iterator<char>(kept), {}), png_);
  // Nothing runs after the end, whatever still comes.
  connection_.Closed();
  timer_.Due();
  session_->Save();
  EXPECT_EQ(connection_.connects, 1);
  EXPECT_TRUE(messages_.told.empty());
}

TEST_F(UploadSessionTest, TheFieldsAreReadAfterTheNoteWhenEventsHaveRun) {
  // The user edits the title while the first events run: the edited title goes out, the note as
  // it was at the press of the connection.
  pending_.script.push_back([&] {
    view_.title = u"later";
    view_.note = u"too late";
  });
  SendAll();
  EXPECT_NE(connection_.sent.find("&title=%6C%61%74%65%72&note=%6E%6F%74%65&public=P&folder=0 "), std::string::npos)
      << connection_.sent.substr(0, 300);
}

TEST_F(UploadSessionTest, EveryReplyOutcome) {
  struct Case {
    std::vector<std::string> pieces;
    std::optional<int> status;  // empty: decided only when the connection closes
    const char* message;        // "" for none
    const char* files;
  };
  const Case cases[] = {
      {{Answer("20091201123456.png")}, 0, "", "20091201123456.png "},
      {{Answer("idnotfind")}, 1, "로그아웃 상태입니다.", "img.png "},
      {{Answer("abcdefghijklmn.png")}, 1, "You must login again.1", "img.png "},
      {{Answer("idnotfind\r\n")}, 1, "You must login again.1", "img.png "},
      // Neither answer in the first piece: the whole reply decides.
      {{"HTTP/1.1 200 OK\r\nContent-Length: 9\r\n\r\n", "idnotfind"}, 1, "로그아웃 상태입니다.", "img.png "},
      {{"HTTP/1.1 200 OK\r\nContent-Length: 18\r\n\r\n2009120112", "3456.png"}, 0, "", "20091201123456.png "},
      // No length: the close decides on what came.
      {{"HTTP/1.1 200 OK\r\n\r\n", "hello"}, std::nullopt, "You must login again.1", "img.png "},
  };
  for (const auto& c : cases) {
    Fresh();
    SendAll();
    for (const auto& piece : c.pieces) connection_.Arrive(piece);
    if (!c.status) {
      EXPECT_FALSE(view_.finished) << c.message;
      connection_.Closed();
    }
    EXPECT_EQ(view_.finished, c.status.value_or(1)) << c.message;
    EXPECT_EQ(Message(), c.message);
    EXPECT_LE(messages_.told.size(), 1u);
    EXPECT_EQ(Files(), c.files) << c.message;
    EXPECT_TRUE(session_->Unloading());
  }
}

TEST_F(UploadSessionTest, AReplyWhileTheRequestIsStillGoingOut) {
  // The reply arrives while the head's events run: the session ends there and sends nothing more.
  pending_.script = {nullptr, [&] { connection_.Arrive(Answer("20091201123456.png")); }};
  SendAll();
  EXPECT_EQ(view_.finished, 0);
  EXPECT_EQ(Files(), "20091201123456.png ");
  EXPECT_EQ(pending_.runs, 2);
  EXPECT_EQ(connection_.sent.find("\x89PNG"), std::string::npos) << "the file went out after the reply";
}

TEST_F(UploadSessionTest, ARefusedConnectionKeepsTheWindowAndASecondPressWorks) {
  session_->Save();
  connection_.Failed("Connection refused");
  EXPECT_EQ(Message(), "업로드 서버(127.0.0.1:8080)에 연결할 수 없습니다: Connection refused\n잠시 후 다시 저장해 주세요.");
  EXPECT_FALSE(view_.finished);
  EXPECT_TRUE(view_.saveEnabled);
  EXPECT_EQ(view_.focused, 1);
  EXPECT_FALSE(timer_.running);
  // The old attempt's late events change nothing.
  timer_.Due();
  connection_.Closed();
  EXPECT_EQ(messages_.told.size(), 1u);

  SendAll();
  EXPECT_EQ(connection_.connects, 2);
  connection_.Arrive(Answer("20091201123456.png"));
  EXPECT_EQ(view_.finished, 0);
  EXPECT_EQ(messages_.told.size(), 1u);
  EXPECT_EQ(Files(), "20091201123456.png ");
}

TEST_F(UploadSessionTest, ConnectionsThatBreakOrStaySilent) {
  struct Case {
    const char* what;
    std::function<void()> act;
    std::string message;
  };
  const Case cases[] = {
      {"closed without a word", [this] { SendAll(); connection_.Closed(); },
       "업로드 서버가 응답 없이 연결을 끊었습니다. 잠시 후 다시 저장해 주세요."},
      {"broken while sending", [this] {
         pending_.script = {[this] { connection_.Failed("Connection reset by peer"); }};
         SendAll();
       },
       "업로드 중에 연결이 끊어졌습니다(127.0.0.1:8080): Connection reset by peer\n잠시 후 다시 저장해 주세요."},
      {"no connection in time", [this] { session_->Save(); timer_.Fire(); },
       "업로드 서버(127.0.0.1)에 30초 안에 연결되지 않았습니다. 잠시 후 다시 저장해 주세요."},
      {"no reply in time", [this] {
         session_->SetReplyTimeMs(400);
         SendAll();
         timer_.Fire();
       },
       "업로드 서버가 1초 안에 응답하지 않았습니다. 잠시 후 다시 저장해 주세요."},
  };
  for (const auto& c : cases) {
    Fresh();
    c.act();
    EXPECT_EQ(Message(), c.message) << c.what;
    EXPECT_EQ(messages_.told.size(), 1u) << c.what;
    EXPECT_FALSE(view_.finished) << c.what;
    EXPECT_TRUE(view_.saveEnabled) << c.what;
    EXPECT_FALSE(session_->Busy()) << c.what;
    EXPECT_FALSE(connection_.open) << c.what;
    EXPECT_EQ(Files(), "img.png ") << c.what;
    // The second press stores the image.
    SendAll();
    connection_.Arrive(Answer("20091201123456.png"));
    EXPECT_EQ(view_.finished, 0) << c.what;
    EXPECT_EQ(Files(), "20091201123456.png ") << c.what;
  }
}

TEST_F(UploadSessionTest, APartReplyIsDecidedWhenTheTimeIsUp) {
  SendAll();
  // The announced length never arrives; what came holds the name, after a first piece that did not.
  connection_.Arrive("HTTP/1.1 200 OK\r\nContent-Length: 50\r\n\r\n");
  connection_.Arrive("20091201123456.png");
  EXPECT_FALSE(view_.finished);
  timer_.Fire();
  EXPECT_EQ(view_.finished, 0);
  EXPECT_TRUE(messages_.told.empty()) << Message();
  EXPECT_EQ(Files(), "20091201123456.png ");
}

TEST_F(UploadSessionTest, AMissingOrEmptyThumbnailSendsNothing) {
  struct Case {
    const char* what;
    std::function<void()> make;
    std::function<std::string()> message;
  };
  const Case cases[] = {
      {"missing", [&] { fs::remove(folder_ / "img.png"); },
       [&] { return "업로드할 썸네일 파일이 없습니다: " + (folder_ / "img.png").string(); }},
      {"empty", [&] { WriteFile("img.png", ""); },
       [&] { return "업로드할 썸네일 파일이 비어 있습니다: " + (folder_ / "img.png").string(); }},
      {"a folder", [&] { fs::remove(folder_ / "img.png"); fs::create_directory(folder_ / "IMG.PNG"); },
       [&] { return "업로드할 썸네일 파일을 읽을 수 없습니다: " + (folder_ / "IMG.PNG").string(); }},
  };
  for (const auto& c : cases) {
    Fresh();
    c.make();
    session_->Save();
    EXPECT_EQ(Message(), c.message()) << c.what;
    EXPECT_EQ(connection_.connects, 0) << c.what;
    EXPECT_FALSE(timer_.startedMs) << c.what;
    EXPECT_FALSE(view_.finished) << c.what;
    EXPECT_TRUE(view_.saveEnabled) << c.what;
    EXPECT_FALSE(session_->Busy()) << c.what;
  }
}

TEST_F(UploadSessionTest, ClosingTheWindowWhileWaitingEndsQuietly) {
  SendAll();
  session_->Unload();
  connection_.Arrive(Answer("20091201123456.png"));
  connection_.Closed();
  timer_.Due();
  session_->Save();
  EXPECT_FALSE(view_.finished);
  EXPECT_TRUE(messages_.told.empty());
  EXPECT_EQ(Files(), "img.png ");
  EXPECT_EQ(connection_.connects, 1);
}

TEST_F(UploadSessionTest, ClosingTheWindowWhileSendingStopsTheRest) {
  pending_.script = {[&] { session_->Unload(); }};
  SendAll();
  EXPECT_TRUE(connection_.sent.empty());
  EXPECT_EQ(pending_.runs, 1);
}

TEST_F(UploadSessionTest, AKeptNameThatCannotBeWrittenIsTold) {
  // The stored name is taken by a folder that cannot be replaced by a file.
  fs::create_directories(folder_ / "20091201123456.png" / "inside");
  SendAll();
  connection_.Arrive(Answer("20091201123456.png"));
  EXPECT_EQ(view_.finished, 1);
  ASSERT_EQ(messages_.told.size(), 1u);
  EXPECT_NE(Message().find("20091201123456.png"), std::string::npos) << Message();
}

}  // namespace
}  // namespace torvo::upload

namespace torvo::upload {
namespace {

// The user's own service: TLS with its certificate, the request naming scheme, port and folder; a
// refused certificate or the wrong protocol ends the window with nothing sent and no work file.
class OwnServiceSessionTest : public UploadSessionTest {
 protected:
  void Own(const std::string& scheme) {
    UploadSessionSetup setup = session_->setup();
    setup.scheme = scheme;
    setup.RemotePort = 8443;
    setup.namePort = true;
    setup.path = "/torvo/";
    setup.trustedPem = "PEM";
    session_.reset();
    session_.emplace(setup, view_, connection_, timer_, messages_, pending_);
  }
};

TEST_F(OwnServiceSessionTest, HttpsGoesOverTlsNamingTheService) {
  Own("https");
  SendAll();
  EXPECT_TRUE(connection_.tls);
  EXPECT_EQ(connection_.trusted, "PEM");
  EXPECT_EQ(connection_.port, 8443);
  EXPECT_EQ(connection_.sent.rfind("POST https://127.0.0.1:8443/torvo/imgUpload.php?tid=alice&", 0), 0u) << connection_.sent;
  EXPECT_NE(connection_.sent.find("\r\nHost:127.0.0.1:8443\r\n"), std::string::npos);
  connection_.Arrive(Answer("20091201123456.png"));
  EXPECT_EQ(view_.finished, 0);
}

TEST_F(OwnServiceSessionTest, RefusedConnectionsEndWithNothingSentAndNoWorkFile) {
  struct Case {
    const char* scheme;
    TcpConnection::FailureKind kind;  // kOther: the peer answers plain http with TLS bytes
    const char* messagePart;
  };
  const Case cases[] = {
      {"https", TcpConnection::FailureKind::kUntrusted, "서비스(127.0.0.1:8443)의 인증서를 신뢰할 수 없습니다"},
      {"https", TcpConnection::FailureKind::kNotTls, "서비스(127.0.0.1:8443)가 https(TLS)로 응답하지 않습니다"},
      {"http", TcpConnection::FailureKind::kOther, "서비스(127.0.0.1)가 https(TLS)로만 응답합니다"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.messagePart);
    Fresh();
    Own(c.scheme);
    session_->Save();
    if (c.kind == TcpConnection::FailureKind::kOther) {
      connection_.Connected();
      connection_.sent.clear();
      connection_.Arrive(std::string("\x15\x03\x01\x00\x02\x02\x46", 7));
    } else {
      connection_.FailTls(c.kind);
      EXPECT_EQ(connection_.sent, "");
    }
    EXPECT_NE(Message().find(c.messagePart), std::string::npos) << Message();
    EXPECT_EQ(view_.finished, 1);
    EXPECT_EQ(Files(), "");
    EXPECT_FALSE(timer_.running);
  }
}

}  // namespace
}  // namespace torvo::upload
