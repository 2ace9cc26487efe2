// The sync session over fakes: what the window is asked to show for each way a sync ends, the
// work kept off the window's thread, and nothing shown once the window is going.
#include "sync/sync_session.h"

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <deque>
#include <map>
#include <mutex>
#include <thread>

#include "platform/codepage.h"
#include "temp_folder.h"

namespace torvo::sync {
namespace {

using testing::Entries;
using testing::TempFolder;
using testing::WriteFile;

std::string U8(const std::u16string& text) { return ToUtf8(text); }

// The window's thread is the test's: posted functions wait until the test pumps them.
class FakeWindowThread final : public WindowThread {
 public:
  bool Post(std::function<void()> function) override {
    std::lock_guard lock(mutex_);
    if (closed) return false;
    posters.push_back(std::this_thread::get_id());
    queue_.push_back(std::move(function));
    return true;
  }
  // Runs what is queued until done() holds or the time is up.
  bool PumpUntil(const std::function<bool()>& done, int ms = 5000) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    while (!done()) {
      if (std::chrono::steady_clock::now() > end) return false;
      if (!RunOne()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
  }
  void PumpAll() {
    while (RunOne()) {
    }
  }
  bool closed = false;
  std::vector<std::thread::id> posters;

 private:
  bool RunOne() {
    std::function<void()> f;
    {
      std::lock_guard lock(mutex_);
      if (queue_.empty()) return false;
      f = std::move(queue_.front());
      queue_.pop_front();
    }
    f();
    return true;
  }
  std::mutex mutex_;
  std::deque<std::function<void()>> queue_;
};

// Every request of the session, as the user would see its effect.
class FakeView final : public SyncFormView, public MessageSink {
 public:
  void SetSyncEnabled(bool enabled) override { Note(enabled ? "enabled" : "disabled"); }
  void ShowItem(int i, int n) override { Note("item " + U8(ItemCaption(i, n))); }
  void ShowFinishedItems(int finished, int n) override {
    Note("done " + std::to_string(finished) + "/" + std::to_string(n));
  }
  void ShowResult(const std::u16string& outcome, const std::u16string& failures) override {
    Note("result [" + U8(outcome) + "] tip [" + U8(failures) + "]");
  }
  void Finish() override { Note("finish"); }
  void OutcomeShown(const SyncOutcome&) override { Note("ended"); }
  void Tell(const std::u16string& message) override { Note("tell [" + U8(message) + "]"); }

  bool Has(const std::string& entry) const { return std::find(log.begin(), log.end(), entry) != log.end(); }
  std::vector<std::string> log;
  int offThread = 0;
  std::thread::id windowThread = std::this_thread::get_id();

 private:
  void Note(std::string entry) {
    if (std::this_thread::get_id() != windowThread) ++offThread;
    log.push_back(std::move(entry));
  }
};

struct FakeLock final : SingleInstanceLock {
  bool free = true;
  bool Acquire() override { return free; }
};

// Answers from a table (unknown: 404); an address named in holdAt waits until Release.
class GatedService {
 public:
  std::map<std::string, HttpResult> replies;
  std::string holdAt;
  std::vector<std::string> asked;
  std::vector<std::thread::id> threads;

  Fetch fetch() {
    return [this](const std::string& url) {
      std::unique_lock lock(mutex_);
      asked.push_back(url);
      threads.push_back(std::this_thread::get_id());
      if (url == holdAt) {
        held_ = true;
        changed_.notify_all();
        changed_.wait(lock, [this] { return released_; });
      }
      auto it = replies.find(url);
      return it == replies.end() ? HttpResult{true, 404, "no", ""} : it->second;
    };
  }
  bool WaitHeld() {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, std::chrono::seconds(5), [this] { return held_; });
  }
  void Release() {
    std::lock_guard lock(mutex_);
    released_ = true;
    changed_.notify_all();
  }
  size_t AskedCount() {
    std::lock_guard lock(mutex_);
    return asked.size();
  }

 private:
  std::mutex mutex_;
  std::condition_variable changed_;
  bool held_ = false;
  bool released_ = false;
};

constexpr char kList[] = "http://svc/imgList.php?tid=u%201";

class SyncSessionTest : public ::testing::Test {
 protected:
  std::unique_ptr<SyncSession> Make(std::u16string commandLine = u"u 1") {
    return std::make_unique<SyncSession>(SyncSessionSetup{"svc", std::move(commandLine), album(), service.fetch()},
                                         view, thread, view, lock);
  }
  std::filesystem::path album() const { return home.path() / "Torvo"; }
  bool PumpToEnd() {
    return thread.PumpUntil([&] { return view.Has("ended") || view.Has("finish"); });
  }
  TempFolder home;
  GatedService service;
  FakeView view;
  FakeWindowThread thread;
  FakeLock lock;
};

TEST_F(SyncSessionTest, EachWayASyncEndsIsAnsweredAsTheUserExpects) {
  struct Case {
    const char* what;
    std::u16string commandLine;
    std::map<std::string, HttpResult> replies;
    bool folderIsAFile;
    std::vector<std::string> log;  // after "disabled" and the cleared result
  };
  const std::string kListed = "http://img|a|b";
  const Case cases[] = {
      {"finished, one image missing on the service",
       u"u 1",
       {{kList, {true, 200, kListed, ""}}, {"http://img/a.png", {true, 200, "A", ""}}},
       false,
       {"item 1 / 2", "done 1/2", "item 2 / 2", "done 2/2",
        "result [1 downloaded, 0 already present, 1 failed.\nFailed: b.png (HTTP 404)] tip [2: \"b.png\" — HTTP 404]",
        "enabled", "ended"}},
      {"signed out: told, then the program ends",
       u"u 1",
       {{kList, {true, 200, "0", ""}}},
       false,
       {"tell [Please you must Login]", "finish"}},
      {"the service fails: shown and told, the button back",
       u"u 1",
       {{kList, {true, 500, "oops", ""}}},
       false,
       {"result [The service could not list the images (HTTP 500).] tip []", "enabled",
        "ended", "tell [The service could not list the images (HTTP 500).]"}},
      {"the body is dropped",
       u"u 1",
       {{kList, {true, 200, kListed, ""}}, {"http://img/a.png", {false, 0, "", "Transferred a partial file"}}},
       false,
       {"item 1 / 2",
        "done 1/2",
        "result [0 downloaded, 0 already present, 1 failed, 1 not reached. The download of image 1 of 2 (a.png) "
        "failed: Transferred a partial file. The sync stopped; the images downloaded so far are kept.\nFailed: a.png "
        "(Transferred a partial file)] tip [1: \"a.png\" — Transferred a partial file]",
        "enabled", "ended",
        "tell [The download of image 1 of 2 (a.png) failed: Transferred a partial file. The sync stopped; the images "
        "downloaded so far are kept.]"}},
      {"no identity: shown, nothing asked of the service",
       u"",
       {},
       false,
       {"result [" + ToUtf8(kNotConnectedMessage) + "] tip []", "enabled", "ended"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    view.log.clear();
    service.replies = c.replies;
    service.asked.clear();
    std::filesystem::remove_all(album());
    auto session = Make(c.commandLine);
    session->Sync();
    ASSERT_TRUE(PumpToEnd());
    thread.PumpAll();
    ASSERT_GE(view.log.size(), 2u);
    EXPECT_EQ(view.log[0], "disabled");
    EXPECT_EQ(view.log[1], "result [] tip []");
    EXPECT_EQ(std::vector<std::string>(view.log.begin() + 2, view.log.end()), c.log);
    EXPECT_FALSE(session->Syncing());
    EXPECT_EQ(view.offThread, 0);
    if (c.commandLine.empty()) {
      EXPECT_TRUE(service.asked.empty());
    }
  }
}

TEST_F(SyncSessionTest, AFolderThatCannotBeMadeIsShownAndTold) {
  WriteFile(album(), "a file where the folder should be");
  service.replies[kList] = {true, 200, "http://img|a", ""};
  auto session = Make();
  session->Sync();
  ASSERT_TRUE(PumpToEnd());
  thread.PumpAll();
  ASSERT_GE(view.log.size(), 3u);
  EXPECT_EQ(view.log[view.log.size() - 3], "enabled");
  EXPECT_EQ(view.log.back().rfind("tell [Could not create the folder ", 0), 0u) << view.log.back();
  EXPECT_TRUE(service.asked.empty());
}

TEST_F(SyncSessionTest, TheSyncRunsOffTheWindowsThreadAndAPressMeanwhileIsIgnored) {
  service.replies[kList] = {true, 200, "http://img|a|b", ""};
  service.holdAt = "http://img/a.png";
  auto session = Make();
  session->Sync();
  ASSERT_TRUE(service.WaitHeld());
  EXPECT_TRUE(session->Syncing());
  session->Sync();  // a second press while the first runs
  thread.PumpUntil([&] { return view.Has("item 1 / 2"); });
  service.Release();
  ASSERT_TRUE(PumpToEnd());
  EXPECT_EQ(std::count(view.log.begin(), view.log.end(), "disabled"), 1);
  EXPECT_EQ(service.asked, (std::vector<std::string>{kList, "http://img/a.png", "http://img/b.png"}));
  for (std::thread::id t : service.threads) EXPECT_NE(t, view.windowThread);
  for (std::thread::id t : thread.posters) EXPECT_NE(t, view.windowThread);
  EXPECT_EQ(view.offThread, 0);
  // The next press syncs again.
  view.log.clear();
  session->Sync();
  ASSERT_TRUE(PumpToEnd());
  EXPECT_EQ(view.log.front(), "disabled");
}

TEST_F(SyncSessionTest, ProgressMadeWhileTheWindowIsBusyArrivesWholeInOrderAndInFewWakeUps) {
  constexpr int kItems = 50;
  std::string list = "http://img";
  for (int i = 1; i <= kItems; ++i) list += "|n" + std::to_string(i);
  service.replies[kList] = {true, 200, list, ""};
  auto session = Make();
  session->Sync();
  // The window's thread takes nothing until the whole sync has run.
  const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(5);
  while (service.AskedCount() < 1 + kItems && std::chrono::steady_clock::now() < end)
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  ASSERT_TRUE(PumpToEnd());
  std::vector<std::string> progress;
  for (const std::string& entry : view.log)
    if (entry.starts_with("item ") || entry.starts_with("done ")) progress.push_back(entry);
  std::vector<std::string> expected;
  for (int i = 1; i <= kItems; ++i) {
    expected.push_back("item " + std::to_string(i) + " / " + std::to_string(kItems));
    expected.push_back("done " + std::to_string(i) + "/" + std::to_string(kItems));
  }
  EXPECT_EQ(progress, expected);
  // The progress and the end: a handful of wake-ups, not two per item.
  EXPECT_LE(thread.posters.size(), 4u);
}

TEST_F(SyncSessionTest, OnceTheWindowGoesNothingMoreIsShownOrFetched) {
  struct Case {
    const char* what;
    bool destroySession;  // or only unload it
  };
  for (const Case c : {Case{"unloaded", false}, Case{"destroyed with reports still queued", true}}) {
    SCOPED_TRACE(c.what);
    GatedService gated;
    gated.replies[kList] = {true, 200, "http://img|a|b", ""};
    gated.holdAt = "http://img/a.png";
    view.log.clear();
    auto session = std::make_unique<SyncSession>(SyncSessionSetup{"svc", u"u 1", album(), gated.fetch()}, view,
                                                 thread, view, lock);
    session->Sync();
    ASSERT_TRUE(gated.WaitHeld());
    // The window goes while image 1 is on its way; the transfer ends a moment later.
    std::thread releaser([&] {
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
      gated.Release();
    });
    if (c.destroySession)
      session.reset();
    else
      session->Unload();
    releaser.join();
    const size_t before = view.log.size();
    thread.PumpAll();
    EXPECT_EQ(view.log.size(), before) << view.log.back();
    EXPECT_EQ(gated.AskedCount(), 2u);  // b is never asked for
    if (session) {
      EXPECT_FALSE(session->Syncing());
      session->Sync();  // a press after the window went
      EXPECT_FALSE(session->Syncing());
    }
  }
}

TEST_F(SyncSessionTest, ASecondCopyIsToldAndEndsTheFirstIsNot) {
  struct Case {
    bool free;
    std::vector<std::string> log;
  };
  const Case cases[] = {
      {true, {}},
      {false, {"tell [이 프로그램은 두번 실행될 수 없슴니다.]", "finish"}},
  };
  for (const Case& c : cases) {
    view.log.clear();
    lock.free = c.free;
    auto session = Make();
    EXPECT_EQ(session->Load(), c.free);
    EXPECT_EQ(view.log, c.log);
    session->Sync();
    EXPECT_EQ(session->Syncing(), c.free);
  }
}

TEST(UseConnection, TheFileFillsWhatTheCommandLineLeaves) {
  TempFolder folder;
  const std::filesystem::path pem = folder.path() / "ca.pem";
  WriteFile(pem, "-----BEGIN CERTIFICATE-----\nMIIB\n-----END CERTIFICATE-----\n");
  WriteFile(folder.path() / "empty.pem", "not a certificate");
  const auto read = [](const std::string& certificate) {
    ConnectionFile file;
    file.state = ConnectionFile::State::kRead;
    file.connection.service = *ParseServiceAddress("https://nas.example/torvo/", nullptr);
    file.connection.identity = "앨리스 phone";
    file.connection.certificate = certificate;
    return file;
  };
  ConnectionFile broken;
  broken.state = ConnectionFile::State::kBroken;
  broken.problem = "the file /c says no identity";

  struct Case {
    const char* what;
    std::u16string commandLine;
    ConnectionFile file;
    std::u16string identity;
    std::string serviceUrl;
    bool trusted;
    std::string problem;
  };
  const std::vector<Case> cases = {
      {"no file: as the build fixes it", u"", {}, u"", "", false, ""},
      {"no file, an identity on the command line", u"bob", {}, u"bob", "", false, ""},
      {"the file's service and identity", u"", read(""), u"앨리스 phone", "https://nas.example/torvo/", false, ""},
      {"the command line's identity wins", u"bob", read(""), u"bob", "https://nas.example/torvo/", false, ""},
      {"its certificate trusted", u"", read(pem.string()), u"앨리스 phone", "https://nas.example/torvo/", true, ""},
      {"a certificate that cannot be read", u"", read((folder.path() / "none.pem").string()), u"", "", false,
       "the certificate file " + (folder.path() / "none.pem").string() + " cannot be read"},
      {"a certificate file without one", u"bob", read((folder.path() / "empty.pem").string()), u"bob", "", false,
       "the certificate file " + (folder.path() / "empty.pem").string() + " holds no PEM certificate"},
      {"a broken file", u"", broken, u"", "", false, "the file /c says no identity"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    SyncSessionSetup setup;
    setup.serviceHost = "127.0.0.1:8765";
    setup.commandLine = c.commandLine;
    UseConnection(c.file, setup);
    EXPECT_EQ(setup.serviceHost, "127.0.0.1:8765");
    EXPECT_EQ(setup.commandLine, c.identity);
    EXPECT_EQ(setup.serviceUrl, c.serviceUrl);
    EXPECT_EQ(setup.trustedPem.find("BEGIN CERTIFICATE") != std::string::npos, c.trusted);
    EXPECT_EQ(setup.connectionProblem, c.problem);
  }
}

}  // namespace
}  // namespace torvo::sync
