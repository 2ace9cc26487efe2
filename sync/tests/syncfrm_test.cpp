// The window over a scripted service: what the user sees while and after a sync runs.
#include "sync/app/Syncfrm.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <chrono>
#include <condition_variable>
#include <map>
#include <mutex>

#include "platform/desktop/message_box.h"
#include "temp_folder.h"

namespace torvo::sync {
namespace {

using testing::Entries;
using testing::TempFolder;

template <typename Predicate>
bool WaitFor(Predicate done, int timeoutMs = 5000) {
  auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  while (!done()) {
    if (std::chrono::steady_clock::now() > end) return false;
    QApplication::processEvents(QEventLoop::AllEvents, 10);
  }
  return true;
}

// Answers from a table; an address listed in holdAt waits until the test lets it go.
class GatedService {
 public:
  std::map<std::string, HttpResult> replies;
  std::string holdAt;

  Fetch fetch() {
    return [this](const std::string& url) {
      std::unique_lock lock(mutex_);
      if (url == holdAt) {
        held_ = true;
        changed_.notify_all();
        changed_.wait(lock, [this] { return released_; });
      }
      auto it = replies.find(url);
      return it == replies.end() ? HttpResult{true, 404, "no", ""} : it->second;
    };
  }
  bool held() {
    std::lock_guard lock(mutex_);
    return held_;
  }
  void Release() {
    std::lock_guard lock(mutex_);
    released_ = true;
    changed_.notify_all();
  }

 private:
  std::mutex mutex_;
  std::condition_variable changed_;
  bool held_ = false;
  bool released_ = false;
};

constexpr char kList[] = "http://svc/imgList.php?tid=u%201";

class SyncWindow : public ::testing::Test {
 protected:
  void SetUp() override {
    desktop::SetMessageSink([this](const std::u16string& text) { messages.push_back(text); });
  }
  void TearDown() override { desktop::SetMessageSink({}); }
  std::unique_ptr<Syncfrm> MakeWindow(std::u16string commandLine = u"u 1") {
    auto window = std::make_unique<Syncfrm>(Syncfrm::Setup{"svc", commandLine, home.path() / "Torvo", service.fetch()});
    QObject::connect(window.get(), &Syncfrm::SyncEnded, [this](const SyncOutcome&) { ++ended; });
    return window;
  }
  TempFolder home;
  GatedService service;
  std::vector<std::u16string> messages;
  int ended = 0;
};

TEST_F(SyncWindow, ShowsProgressWhileTheSyncRunsAndTheOutcomeAfter) {
  service.replies[kList] = {true, 200, "http://img|a|b|c", ""};
  service.replies["http://img/a.png"] = {true, 200, "a", ""};
  service.replies["http://img/b.png"] = {true, 200, "b", ""};
  service.holdAt = "http://img/b.png";
  auto window = MakeWindow();
  window->show();
  EXPECT_EQ(window->windowTitle(), "Torvo Sync");
  EXPECT_EQ(window->Cmd_Sync->text(), "Sync");
  EXPECT_EQ(window->LabelState->text(), "0");
  EXPECT_TRUE(window->Cmd_Sync->isEnabled());

  window->Cmd_Sync->click();
  EXPECT_FALSE(window->Cmd_Sync->isEnabled());
  // While image 2 is on its way, the window keeps answering and shows where the sync is.
  ASSERT_TRUE(WaitFor([&] { return service.held() && window->LabelState->text() == "2 / 3"; }));
  EXPECT_EQ(window->ProgressSync->maximum(), 3);
  EXPECT_EQ(window->ProgressSync->value(), 1);
  EXPECT_FALSE(window->Cmd_Sync->isEnabled());
  window->Cmd_Sync->click();  // disabled: no second sync
  service.Release();

  ASSERT_TRUE(WaitFor([&] { return ended == 1; }));
  EXPECT_TRUE(window->Cmd_Sync->isEnabled());
  EXPECT_EQ(window->LabelState->text(), "3 / 3");
  EXPECT_EQ(window->ProgressSync->value(), 3);
  EXPECT_EQ(window->LabelResult->text(), "2 downloaded, 0 already present, 1 failed.\nFailed: c.png (HTTP 404)");
  EXPECT_TRUE(messages.empty());
  EXPECT_EQ(Entries(home.path() / "Torvo"), (std::set<std::string>{"a.png", "b.png"}));

  // The second press fetches nothing new and still counts every item.
  window->Cmd_Sync->click();
  ASSERT_TRUE(WaitFor([&] { return ended == 2; }));
  EXPECT_EQ(window->LabelState->text(), "3 / 3");
  EXPECT_EQ(window->LabelResult->text(), "0 downloaded, 2 already present, 1 failed.\nFailed: c.png (HTTP 404)");
}

TEST_F(SyncWindow, BrokenTransferIsReportedAndTheButtonComesBack) {
  service.replies[kList] = {true, 200, "http://img|a|b", ""};
  service.replies["http://img/a.png"] = {false, 0, "", "Timeout was reached"};
  auto window = MakeWindow();
  window->show();
  window->Cmd_Sync->click();
  ASSERT_TRUE(WaitFor([&] { return ended == 1; }));
  ASSERT_EQ(messages.size(), 1u);
  EXPECT_EQ(messages[0],
            u"The download of image 1 of 2 (a.png) failed: Timeout was reached. The sync stopped; the images downloaded "
            u"so far are kept.");
  EXPECT_TRUE(window->Cmd_Sync->isEnabled());
  EXPECT_TRUE(window->isVisible());
  EXPECT_EQ(window->LabelState->text(), "1 / 2");
}

TEST_F(SyncWindow, SignedOutShowsItsMessageAndEnds) {
  service.replies[kList] = {true, 200, "0", ""};
  auto window = MakeWindow();
  window->show();
  window->Cmd_Sync->click();
  ASSERT_TRUE(WaitFor([&] { return !messages.empty(); }));
  EXPECT_EQ(messages, std::vector<std::u16string>{u"Please you must Login"});
  EXPECT_FALSE(window->isVisible());
  EXPECT_EQ(window->LabelState->text(), "0");
}

TEST_F(SyncWindow, SecondCopyShowsTheMessageAndLeavesTheFirstAlone) {
  TempFolder runtime;
  std::filesystem::permissions(runtime.path(), std::filesystem::perms::owner_all);
  qputenv("XDG_RUNTIME_DIR", QByteArray::fromStdString(runtime.path().string()));
  auto first = MakeWindow();
  auto second = MakeWindow();
  ASSERT_TRUE(first->Form_Load());
  first->show();
  EXPECT_FALSE(second->Form_Load());
  EXPECT_EQ(messages, std::vector<std::u16string>{u"이 프로그램은 두번 실행될 수 없슴니다."});
  EXPECT_FALSE(second->isVisible());
  EXPECT_TRUE(first->isVisible());
  qunsetenv("XDG_RUNTIME_DIR");
}

}  // namespace
}  // namespace torvo::sync
