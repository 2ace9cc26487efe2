// The start-up's early stops, with the desktop's lock and GET stood in for: each stop tells its
// own message and nothing after it runs (no GET after the lock or the address, no capture after
// the folder list).
#include "upload/start_up.h"

#include <gtest/gtest.h>

#include "platform/codepage.h"
#include "platform/error.h"
#include "platform/fixed_capture_provider.h"
#include "upload/codecs.h"
#include "upload/tests/start_up_fakes.h"

namespace torvo::upload {
namespace {

HttpResult NoConnection() {
  HttpResult r;
  r.error = "connection refused";
  return r;
}

TEST(PrepareStartUp, EarlyStopsTellTheirMessageAndGoNoFurther) {
  const std::u16string page = u"abc;^;http://example.com/a;^;제목;^;%B3%BB%BF%EB";
  struct Case {
    const char* what;
    bool lockFree;
    std::u16string commandLine;
    HttpResult reply;
    std::u16string message;
    size_t gets;
  };
  const Case cases[] = {
      {"second copy", false, page, Answer(200, "up.example|A^1"), kSecondCopyMessage, 0},
      {"not http", true, u"abc;^;ftp://example.com/;^;t;^;n", Answer(200, "up.example|A^1"), kNotHttpMessage, 0},
      {"no address", true, u"abc", Answer(200, "up.example|A^1"), kNotHttpMessage, 0},
      {"signed out", true, page, Answer(200, "0"), kSignedOutMessage, 1},
      {"no service", true, page, NoConnection(),
       u"서비스에 연결하지 못해 폴더 목록을 받을 수 없습니다.\n(connection refused)", 1},
      {"error status", true, page, Answer(500, "up.example|A^1"),
       u"서비스가 폴더 목록 요청에 오류로 응답했습니다 (HTTP 500).", 1},
      {"empty reply", true, page, Answer(200, ""), u"응답이 비어 있습니다.", 1},
  };
  for (const Case& c : cases) {
    StartUpFakes fakes;
    fakes.lockFree = c.lockFree;
    fakes.reply = c.reply;
    auto picture = gdi::Bitmap::Create(4, 3, 24);
    FixedCaptureProvider capture(*picture);
    Preparation p = PrepareStartUp(c.commandLine, capture, fakes.Services());
    EXPECT_TRUE(p.stopped) << c.what;
    // The message of a failed reply comes after the folder list's own wording.
    EXPECT_NE(p.message.find(c.message), std::u16string::npos) << c.what << ": " << ToUtf8(p.message);
    EXPECT_EQ(fakes.locksMade, 1) << c.what;
    EXPECT_TRUE(p.instance) << c.what << ": the lock is the caller's to drop";
    EXPECT_EQ(fakes.urls.size(), c.gets) << c.what;
    EXPECT_EQ(capture.captures(), 0) << c.what;
    EXPECT_FALSE(p.thumbnail) << c.what;
  }
}

TEST(PrepareStartUp, TheFolderListIsAskedOfTheServiceWithTheToolbarsIdentity) {
  StartUpFakes fakes;
  fakes.reply = Answer(200, "0");
  auto picture = gdi::Bitmap::Create(4, 3, 24);
  FixedCaptureProvider capture(*picture);
  Preparation p = PrepareStartUp(u"회원 1;^;http://example.com/;^;t;^;a+b%41", capture, fakes.Services("127.0.0.1:8123"));
  ASSERT_EQ(fakes.urls.size(), 1u);
  EXPECT_EQ(fakes.urls[0], "http://127.0.0.1:8123/imgList.php?state=geturi&tid=%C8%B8%BF%F8%201");
  ASSERT_EQ(fakes.timeouts.size(), 1u);
  EXPECT_EQ(fakes.timeouts[0].connectMs, kFolderListTimeouts.connectMs);
  EXPECT_EQ(fakes.timeouts[0].totalMs, kFolderListTimeouts.totalMs);
  EXPECT_EQ(fakes.timeouts[0].stallMs, kFolderListTimeouts.stallMs);
  // The fields read before the stop are there for whoever looks.
  EXPECT_EQ(p.ToolbarID, u"회원 1");
  EXPECT_EQ(p.txtURL, u"http://example.com/");
  EXPECT_EQ(p.txtNote, u"a bA");
}

TEST(PrepareStartUp, AnUndecodableNoteRaisesBeforeTheFolderList) {
  StartUpFakes fakes;
  fakes.reply = Answer(200, "up.example|A^1");
  auto picture = gdi::Bitmap::Create(4, 3, 24);
  FixedCaptureProvider capture(*picture);
  try {
    PrepareStartUp(u"abc;^;http://example.com/;^;t;^;50%zz", capture, fakes.Services());
    ADD_FAILURE() << "no error";
  } catch (const TorvoError& e) {
    EXPECT_EQ(e.number(), kErrUrlDecode);
  }
  EXPECT_TRUE(fakes.urls.empty());
  EXPECT_EQ(capture.captures(), 0);
}

}  // namespace
}  // namespace torvo::upload
