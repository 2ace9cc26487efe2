// The Windows sync window over a scripted service: what the user sees after a press of Sync.
#include <windows.h>
#include <commctrl.h>

#include <gtest/gtest.h>

#include <atomic>
#include <map>
#include <mutex>
#include <thread>
#include <vector>

#include "platform/codepage.h"
#include "platform/win32/window.h"
#include "sync/tests/temp_folder.h"
#include "sync/win32/SyncWindow.h"

namespace torvo::sync {
namespace {

using testing::Entries;
using testing::TempFolder;

enum { kCmd_Sync = 1, kLabelState, kProgressSync, kLabelResult };

bool PumpUntil(const std::function<bool()>& done, int ms = 10000) {
  const ULONGLONG end = GetTickCount64() + static_cast<ULONGLONG>(ms);
  while (!done()) {
    if (GetTickCount64() > end) return false;
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&msg);
    Sleep(5);
  }
  return true;
}

// Answers the message boxes of this program with OK from another thread, noting their texts.
class BoxAnswerer {
 public:
  BoxAnswerer() : thread_([this] {
      while (!stop_) {
        HWND box = FindWindowW(L"#32770", nullptr);
        DWORD pid = 0;
        if (box) GetWindowThreadProcessId(box, &pid);
        if (box && pid == GetCurrentProcessId() && IsWindowVisible(box)) {
          HWND text = GetDlgItem(box, 0xFFFF);
          {
            std::lock_guard lock(mutex_);
            texts_.push_back(text ? win32::GetText(text) : u"");
          }
          PostMessageW(box, WM_COMMAND, IDOK, 0);
          while (IsWindow(box) && !stop_) Sleep(10);
        }
        Sleep(20);
      }
    }) {}
  ~BoxAnswerer() {
    stop_ = true;
    thread_.join();
  }
  std::vector<std::u16string> texts() {
    std::lock_guard lock(mutex_);
    return texts_;
  }

 private:
  std::atomic<bool> stop_{false};
  std::mutex mutex_;
  std::vector<std::u16string> texts_;
  std::thread thread_;
};

TEST(SyncWindow, ShowsTheOutcomeAndTheFailuresAfterAPressAndGrowsForALongOne) {
  struct Case {
    const char* what;
    std::string names;  // the list after its address
    std::u16string caption;  // the "i / n" label after the sync
    int finished, range;     // the progress bar's; finished -1: not checked
    std::u16string result;  // "" : only its start is checked
    std::u16string tooltip;
    bool taller;
    bool told;  // a message box about what stopped the sync
  };
  const Case cases[] = {
      {"one image missing on the service", "|a|b|c", u"3 / 3", 3, 3,
       u"2 downloaded, 0 already present, 1 failed.\nFailed: c.png (HTTP 404)", u"3: \"c.png\" — HTTP 404", false, false},
      {"a transfer that broke off with a long reason", "|long|b", u"1 / 2", -1, 2, u"", u"", true, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    TempFolder home;
    std::map<std::string, HttpResult> replies{
        {"http://svc/imgList.php?tid=u%201", {true, 200, "http://img" + c.names, ""}},
        {"http://img/a.png", {true, 200, "A", ""}},
        {"http://img/b.png", {true, 200, "B", ""}},
        // Told in full in the result line, which needs more lines than the window has.
        {"http://img/long.png", {false, 0, "", "the connection broke off " + std::string(60, '.') +
                                                    " because the far end said so, at some length" +
                                                    std::string(120, '!')}},
    };
    Fetch fetch = [&replies](const std::string& url) {
      auto it = replies.find(url);
      return it == replies.end() ? HttpResult{true, 404, "no", ""} : it->second;
    };
    BoxAnswerer boxes;
    SyncWindow window({"svc", u"u 1", home.path() / "Torvo", fetch});
    HWND hwnd = window.hwnd();
    HWND button = GetDlgItem(hwnd, kCmd_Sync), state = GetDlgItem(hwnd, kLabelState),
         bar = GetDlgItem(hwnd, kProgressSync), result = GetDlgItem(hwnd, kLabelResult);
    ASSERT_TRUE(button && state && bar && result);
    EXPECT_EQ(win32::GetText(button), u"Sync");
    EXPECT_EQ(win32::GetText(state), u"0");
    RECT before;
    GetWindowRect(hwnd, &before);

    SendMessageW(button, BM_CLICK, 0, 0);
    EXPECT_FALSE(IsWindowEnabled(button));
    ASSERT_TRUE(PumpUntil([&] { return IsWindowEnabled(button) && !win32::GetText(result).empty(); }));
    EXPECT_EQ(win32::GetText(state), c.caption);
    if (c.finished >= 0) {
      EXPECT_EQ(SendMessageW(bar, PBM_GETPOS, 0, 0), c.finished);
    }
    EXPECT_EQ(SendMessageW(bar, PBM_GETRANGE, FALSE, 0), c.range);
    if (!c.result.empty()) {
      EXPECT_EQ(win32::GetText(result), c.result);
    }
    if (!c.tooltip.empty()) {
      EXPECT_EQ(win32::ToolTipOf(result), c.tooltip);
    }
    EXPECT_FALSE(win32::ToolTipOf(result).empty());
    PumpUntil([&] { return !c.told || !boxes.texts().empty(); }, 5000);
    EXPECT_EQ(boxes.texts().size(), c.told ? 1u : 0u);
    RECT after;
    GetWindowRect(hwnd, &after);
    EXPECT_EQ(after.right - after.left, before.right - before.left) << "never wider";
    EXPECT_EQ(after.bottom - after.top > before.bottom - before.top, c.taller);
    if (c.range == 3) {
      EXPECT_EQ(Entries(home.path() / "Torvo"), (std::set<std::string>{"a.png", "b.png"}));
    }
  }
}

}  // namespace
}  // namespace torvo::sync
