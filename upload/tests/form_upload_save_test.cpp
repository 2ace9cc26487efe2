// The upload window's save button against a raw listener in the same process: the bytes on the
// wire, the reply's outcomes, the faults that keep the window, and the palette preview.
#include <gtest/gtest.h>

#include <QCheckBox>
#include <QComboBox>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTcpServer>
#include <QTcpSocket>
#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <unistd.h>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "platform/codepage.h"
#include "platform/desktop/message_box.h"
#include "platform/error.h"
#include "upload/app/FormUpload.h"
#include "upload/folder_list.h"

namespace torvo::upload {
namespace {

namespace fs = std::filesystem;

void RunUntil(const std::function<bool()>& done, int ms = 5000) {
  QElapsedTimer timer;
  timer.start();
  while (!done() && timer.elapsed() < ms) QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
}

// Takes one connection, keeps every byte it receives and answers through the test's hook.
class RawListener {
 public:
  explicit RawListener(uint16_t port = 0) { EXPECT_TRUE(server_.listen(QHostAddress::LocalHost, port)); }
  uint16_t port() const { return server_.serverPort(); }
  // Called with the bytes so far after each arrival (and once on connection, with none).
  std::function<void(QTcpSocket*, const std::string&)> onBytes;
  std::string received;
  int connections = 0;

  void Start() {
    QObject::connect(&server_, &QTcpServer::newConnection, [this] {
      while (QTcpSocket* s = server_.nextPendingConnection()) {
        ++connections;
        QObject::connect(s, &QTcpSocket::readyRead, [this, s] {
          const QByteArray data = s->readAll();
          received.append(data.constData(), data.size());
          if (onBytes) onBytes(s, received);
        });
        if (onBytes) onBytes(s, received);
      }
    });
  }
  void Close() { server_.close(); }

 private:
  QTcpServer server_;
};

std::string Answer(const std::string& body) {
  return "HTTP/1.1 200 OK\r\nContent-Type: text/plain; charset=EUC-KR\r\nContent-Length: " +
         std::to_string(body.size()) + "\r\n\r\n" + body;
}

// Whole once the head and its announced body are in.
bool WholeRequest(const std::string& r) {
  const size_t end = r.find("\r\n\r\n");
  const size_t at = r.find("Content-Length:");
  if (end == std::string::npos || at == std::string::npos) return false;
  return r.size() >= end + 4 + std::stoul(r.substr(at + 15));
}

class FormUploadSave : public ::testing::Test {
 protected:
  void SetUp() override {
    ended_.reset();
    messages_.clear();
    folder_ = fs::temp_directory_path() / ("torvo-save-" + std::to_string(::getpid()) + "-" +
                                           ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(folder_);
    fs::create_directories(folder_);
    png_ = "\x89PNG\r\n\x1a\n";
    for (int i = 0; png_.size() < 3000; ++i) png_.push_back(static_cast<char>(i * 13 + 1));
    WriteFile("img.png", png_);
    desktop::SetMessageSink([this](const std::u16string& text) { messages_.push_back(text); });

    form_ = std::make_unique<FormUpload>();
    Preparation p;
    p.ToolbarID = u"alice";
    p.txtURL = u"http://example.com/a";
    p.txtTitle = u"Title";
    p.txtNote = u"note";
    p.folders.kind = FolderReply::Kind::kFolders;
    p.folders.target = u"127.0.0.1";
    p.folders.folders = {{u"여행", 3}, {u"업무", 12}};
    p.OutputDir = folder_;
    p.picImage = std::make_unique<Canvas>();
    p.thumbnail = std::make_unique<ThumbnailState>();
    ThumbnailState& t = *p.thumbnail;
    EXPECT_TRUE(t.cDibImage.Create(6, 4));
    EXPECT_TRUE(t.cDibBuffer.Create(6, 4));
    for (int y = 0; y < 4; ++y)
      for (int x = 0; x < 18; ++x) t.cDibImage.DIBSectionBitsPtr()[y * t.cDibImage.BytesPerScanLine() + x] = 40 + 9 * x + 30 * y;
    t.cProcessor = std::make_unique<cImageProcessDIB>();
    EXPECT_TRUE(form_->Form_Load(std::move(p)));
    form_->Ended = [this](int status) { ended_ = status; };
  }
  void TearDown() override {
    form_.reset();
    desktop::SetMessageSink({});
    fs::remove_all(folder_);
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
  std::string Message() const { return messages_.empty() ? "" : ToUtf8(messages_.back()); }
  // The window's controls as a person finds them: the button by its caption, the two lines
  // (address above title) and the other controls by their kind.
  template <typename W>
  W* Only() const {
    const auto all = form_->findChildren<W*>(Qt::FindDirectChildrenOnly);
    EXPECT_EQ(all.size(), 1);
    return all.value(0);
  }
  QLineEdit* Line(int index) const {
    const auto lines = form_->findChildren<QLineEdit*>(Qt::FindDirectChildrenOnly);
    EXPECT_EQ(lines.size(), 2);
    return lines.value(index);
  }
  QPushButton* Command1() const {
    for (QPushButton* button : form_->findChildren<QPushButton*>())
      if (button->text() == QString::fromUtf8("저장")) return button;
    ADD_FAILURE() << "no save button";
    return nullptr;
  }
  QLineEdit* Text_URL() const { return Line(0); }
  QLineEdit* Text_Title() const { return Line(1); }
  QPlainTextEdit* Text_Note() const { return Only<QPlainTextEdit>(); }
  QCheckBox* Check_secu() const { return Only<QCheckBox>(); }
  QComboBox* Combo_folder() const { return Only<QComboBox>(); }

  fs::path folder_;
  std::string png_;
  std::vector<std::u16string> messages_;
  std::unique_ptr<FormUpload> form_;
  std::optional<int> ended_;
};

TEST_F(FormUploadSave, TheEditedFieldsGoOutAndTheStoredNameIsKept) {
  RawListener listener;
  listener.onBytes = [](QTcpSocket* s, const std::string& r) {
    if (WholeRequest(r)) s->write(QByteArray::fromStdString(Answer("20091201123456.png")));
  };
  listener.Start();
  form_->SetUploadPort(listener.port());
  Text_Title()->setText(QString::fromUtf8("가 b"));
  Text_Note()->setPlainText("x\ny");
  Check_secu()->setChecked(true);
  Combo_folder()->setCurrentIndex(2);
  WriteFile("20091201123456.png", "an older copy");  // replaced
  Command1()->click();
  EXPECT_FALSE(Command1()->isEnabled());  // one upload at a time
  RunUntil([&] { return ended_.has_value(); });

  const std::string head =
      "POST http://127.0.0.1/imgUpload.php?tid=alice"
      "&url=%68%74%74%70%3A%2F%2F%65%78%61%6D%70%6C%65%2E%63%6F%6D%2F%61"
      "&title=%B0%A1%20%62&note=%78%0D%0A%79&public=S&folder=12 HTTP/1.1\r\n"
      "Content-Type:multipart/form-data;boundary=7d4b2315b01da\r\n"
      "Host:127.0.0.1\r\n"
      "Content-Length:3229\r\n"
      "\r\n"
      "--7d4b2315b01da\r\n"
      "Content-Disposition:name=\"MAX_FILE_SIZE\"\r\n"
      "\r\n"
      "\r\n"
      "--7d4b2315b01da\r\n"
      "Content-Disposition:attachment;name=\"uploadfile\";filename=\"a.png\"\r\n"
      "Content-Type:image/pjpeg\r\n"
      "Content-Transfer-Encoding: binary\r\n"
      "\r\n";
  EXPECT_EQ(listener.received, head + png_ + "\r\n--7d4b2315b01da\r\n");
  EXPECT_EQ(ended_, 0);
  EXPECT_TRUE(messages_.empty()) << Message();
  EXPECT_EQ(Files(), "20091201123456.png ");
  std::ifstream kept(folder_ / "20091201123456.png", std::ios::binary);
  EXPECT_EQ(std::string(std::istreambuf_iterator<char>(kept), {}), png_);
  EXPECT_FALSE(form_->isVisible());
  EXPECT_EQ(Text_URL()->text(), "");  // unloaded
}

TEST_F(FormUploadSave, RepliesThatShowAMessage) {
  struct Case {
    std::vector<std::string> pieces;
    const char* message;
  };
  const Case cases[] = {
      {{Answer("idnotfind")}, "로그아웃 상태입니다."},
      {{Answer("abcdefghijklmn.png")}, "You must login again.1"},
      {{Answer("idnotfind\r\n")}, "You must login again.1"},
      // Neither answer in the first piece: the whole reply decides.
      {{"HTTP/1.1 200 OK\r\nContent-Length: 9\r\n\r\n", "idnotfind"}, "로그아웃 상태입니다."},
  };
  for (const auto& c : cases) {
    SetUp();
    RawListener listener;
    listener.onBytes = [&](QTcpSocket* s, const std::string& r) {
      if (!WholeRequest(r)) return;
      for (const auto& piece : c.pieces) {
        s->write(QByteArray::fromStdString(piece));
        s->flush();
        RunUntil([] { return false; }, 100);
      }
    };
    listener.Start();
    form_->SetUploadPort(listener.port());
    Command1()->click();
    RunUntil([&] { return ended_.has_value(); });
    EXPECT_EQ(ended_, 1) << c.message;
    EXPECT_EQ(Message(), c.message);
    EXPECT_EQ(Files(), "img.png ") << c.message;
    TearDown();
  }
}

TEST_F(FormUploadSave, AReplyWhileTheRequestIsStillGoingOut) {
  // The listener answers before it has read anything: the form ends inside its own sending
  // handler, which then sends nothing more.
  RawListener listener;
  bool answered = false;
  listener.onBytes = [&](QTcpSocket* s, const std::string&) {
    if (answered) return;
    answered = true;
    s->write(QByteArray::fromStdString(Answer("20091201123456.png")));
    s->flush();
  };
  listener.Start();
  form_->SetUploadPort(listener.port());
  Command1()->click();
  RunUntil([&] { return ended_.has_value(); });
  EXPECT_EQ(ended_, 0);
  EXPECT_EQ(Files(), "20091201123456.png ");
  RunUntil([] { return false; }, 300);
  EXPECT_FALSE(WholeRequest(listener.received)) << listener.received.size() << " bytes went out";
}

TEST_F(FormUploadSave, NoConnectionKeepsTheWindowAndASecondPressWorks) {
  uint16_t port;
  {
    RawListener probe;
    port = probe.port();
  }
  form_->SetUploadPort(port);
  form_->show();
  Command1()->click();
  RunUntil([&] { return !messages_.empty(); });
  EXPECT_NE(Message().find("업로드 서버(127.0.0.1:" + std::to_string(port) + ")에 연결할 수 없습니다"), std::string::npos)
      << Message();
  EXPECT_FALSE(ended_);
  EXPECT_TRUE(form_->isVisible());
  EXPECT_TRUE(Command1()->isEnabled());

  RawListener listener(port);
  listener.onBytes = [](QTcpSocket* s, const std::string& r) {
    if (WholeRequest(r)) s->write(QByteArray::fromStdString(Answer("20091201123456.png")));
  };
  listener.Start();
  Command1()->click();
  RunUntil([&] { return ended_.has_value(); });
  EXPECT_EQ(ended_, 0);
  EXPECT_EQ(messages_.size(), 1u);
  EXPECT_EQ(Files(), "20091201123456.png ");
}

TEST_F(FormUploadSave, ABrokenOrSilentConnectionKeepsTheWindow) {
  RawListener listener;
  listener.onBytes = [](QTcpSocket* s, const std::string& r) {
    if (WholeRequest(r)) s->disconnectFromHost();  // closes without a word
  };
  listener.Start();
  form_->SetUploadPort(listener.port());
  Command1()->click();
  RunUntil([&] { return !messages_.empty(); });
  EXPECT_EQ(Message(), "업로드 서버가 응답 없이 연결을 끊었습니다. 잠시 후 다시 저장해 주세요.");
  EXPECT_FALSE(ended_);
  EXPECT_TRUE(Command1()->isEnabled());
  EXPECT_EQ(Files(), "img.png ");
}

TEST_F(FormUploadSave, TheTimeLimit) {
  // Nothing at all within the limit: told, the window stays, a second press works.
  RawListener listener;
  int requests = 0;
  listener.onBytes = [&](QTcpSocket* s, const std::string& r) {
    if (!WholeRequest(r)) return;
    if (++requests == 2) s->write(QByteArray::fromStdString(Answer("20091201123456.png")));
    listener.received.clear();
  };
  listener.Start();
  form_->SetUploadPort(listener.port());
  form_->SetReplyTimeMs(400);
  Command1()->click();
  RunUntil([&] { return !messages_.empty(); });
  EXPECT_EQ(Message(), "업로드 서버가 1초 안에 응답하지 않았습니다. 잠시 후 다시 저장해 주세요.");
  EXPECT_FALSE(ended_);
  EXPECT_TRUE(Command1()->isEnabled());
  Command1()->click();
  RunUntil([&] { return ended_.has_value(); });
  EXPECT_EQ(ended_, 0);
  EXPECT_EQ(Files(), "20091201123456.png ");
}

TEST_F(FormUploadSave, APartReplyIsDecidedWhenTheTimeIsUp) {
  RawListener listener;
  listener.onBytes = [](QTcpSocket* s, const std::string& r) {
    // The announced length never arrives; what came holds the name.
    if (WholeRequest(r)) s->write("HTTP/1.1 200 OK\r\nContent-Length: 50\r\n\r\n20091201123456.png");
  };
  listener.Start();
  form_->SetUploadPort(listener.port());
  form_->SetReplyTimeMs(400);
  Command1()->click();
  RunUntil([&] { return ended_.has_value(); });
  EXPECT_EQ(ended_, 0);
  EXPECT_TRUE(messages_.empty()) << Message();
  EXPECT_EQ(Files(), "20091201123456.png ");
}

TEST_F(FormUploadSave, AMissingOrEmptyThumbnailSendsNothing) {
  struct Case {
    const char* what;
    std::function<void()> make;
    std::string message;
  };
  const Case cases[] = {
      {"missing", [&] { fs::remove(folder_ / "img.png"); },
       "업로드할 썸네일 파일이 없습니다: " + (folder_ / "img.png").string()},
      {"empty", [&] { WriteFile("img.png", ""); }, "업로드할 썸네일 파일이 비어 있습니다: " + (folder_ / "img.png").string()},
      {"a folder", [&] { fs::remove(folder_ / "img.png"); fs::create_directory(folder_ / "IMG.PNG"); },
       "업로드할 썸네일 파일을 읽을 수 없습니다: " + (folder_ / "IMG.PNG").string()},
  };
  for (const auto& c : cases) {
    SetUp();
    RawListener listener;
    listener.Start();
    form_->SetUploadPort(listener.port());
    c.make();
    Command1()->click();
    RunUntil([] { return false; }, 200);
    EXPECT_EQ(Message(), c.message) << c.what;
    EXPECT_EQ(listener.connections, 0) << c.what;
    EXPECT_FALSE(ended_) << c.what;
    EXPECT_TRUE(Command1()->isEnabled()) << c.what;
    TearDown();
  }
}

TEST_F(FormUploadSave, ClosingTheWindowWhileWaitingEndsQuietly) {
  RawListener listener;
  QTcpSocket* peer = nullptr;
  listener.onBytes = [&](QTcpSocket* s, const std::string&) { peer = s; };
  listener.Start();
  form_->SetUploadPort(listener.port());
  form_->show();
  Command1()->click();
  RunUntil([&] { return WholeRequest(listener.received); });
  form_->close();
  ASSERT_TRUE(peer);
  peer->write(QByteArray::fromStdString(Answer("20091201123456.png")));
  RunUntil([] { return false; }, 200);
  EXPECT_FALSE(ended_);
  EXPECT_TRUE(messages_.empty());
  EXPECT_EQ(Files(), "img.png ");
}

TEST_F(FormUploadSave, PalettePreview) {
  WriteFile("bw.pal", "JASC-PAL\r\n0100\r\n2\r\n0 0 0\r\n255 255 255\r\n");
  const cDIBSection& image = form_->Thumbnail();
  const std::string before(reinterpret_cast<const char*>(image.DIBSectionBitsPtr()), image.BytesPerScanLine() * 4);
  try {
    form_->ApplyPalette(folder_ / "missing.pal");
    ADD_FAILURE() << "no error for a missing palette";
  } catch (const TorvoError& e) {
    EXPECT_EQ(e.number(), 53);
  }
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(image.DIBSectionBitsPtr()), before.size()), before);

  form_->ApplyPalette(folder_ / "bw.pal");
  const Canvas& shown = form_->ShownThumbnail();
  ASSERT_EQ(shown.width(), 6);
  ASSERT_EQ(shown.height(), 4);
  int black = 0, white = 0;
  for (int y = 0; y < 4; ++y) {
    for (int x = 0; x < 6; ++x) {
      const uint8_t* p = image.DIBSectionBitsPtr() + y * image.BytesPerScanLine() + 3 * x;
      const uint8_t* q = shown.Image()->bits() + y * shown.Image()->stride() + 4 * x;
      EXPECT_TRUE((p[0] == 0 && p[1] == 0 && p[2] == 0) || (p[0] == 255 && p[1] == 255 && p[2] == 255));
      EXPECT_EQ(std::string(q, q + 3), std::string(p, p + 3)) << x << "," << y;  // the box shows it
      (p[0] ? white : black)++;
    }
  }
  EXPECT_GT(black, 0);
  EXPECT_GT(white, 0);
}

}  // namespace
}  // namespace torvo::upload
