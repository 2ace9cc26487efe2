// The Win32 window basics: twips to pixels, functions posted from a worker thread, tooltips and
// the tab order, against real windows under Wine.
#include <windows.h>
#include <commctrl.h>

#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <thread>
#include <vector>

#include "platform/win32/window.h"

namespace torvo::win32 {
namespace {

void PumpUntil(const std::function<bool()>& done, int ms = 5000) {
  const DWORD end = GetTickCount() + static_cast<DWORD>(ms);
  while (!done() && GetTickCount() < end) {
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
      TranslateMessage(&msg);
      DispatchMessageW(&msg);
    }
    Sleep(5);
  }
}

class TestWindow final : public Window {
 public:
  explicit TestWindow(int width = 200, int height = 100) { Create(L"TorvoWindowTest", u"창 시험", width, height); }
  void Destroy() { DestroyWindow(hwnd()); }
  int destroyed = 0;

 protected:
  LRESULT Handle(UINT message, WPARAM wParam, LPARAM lParam) override {
    if (message == WM_DESTROY) ++destroyed;
    return Window::Handle(message, wParam, lParam);
  }
};

TEST(Px, FifteenTwipsAPixelHalfRoundedUp) {
  struct Case {
    int twips, pixels;
  };
  const Case cases[] = {{0, 0}, {7, 0}, {8, 1}, {15, 1}, {22, 1}, {23, 2}, {4680, 312}, {2790, 186}, {120, 8}};
  for (const Case& c : cases) EXPECT_EQ(Px(c.twips), c.pixels) << c.twips;
  const Bounds b = FromTwips(120, 8, 4680, 22);
  EXPECT_EQ(b.left, 8);
  EXPECT_EQ(b.top, 1);
  EXPECT_EQ(b.width, 312);
  EXPECT_EQ(b.height, 1);
}

TEST(Window, ClientAreaOfTheAskedSizeAndTheMessagesReachTheObject) {
  auto window = std::make_unique<TestWindow>(312, 186);
  ASSERT_NE(window->hwnd(), nullptr);
  RECT client;
  GetClientRect(window->hwnd(), &client);
  EXPECT_EQ(client.right, 312);
  EXPECT_EQ(client.bottom, 186);
  wchar_t caption[32];
  GetWindowTextW(window->hwnd(), caption, 32);
  EXPECT_EQ(Narrow(caption), u"창 시험");
  HWND hwnd = window->hwnd();
  window->Destroy();
  EXPECT_EQ(window->destroyed, 1);
  EXPECT_EQ(window->hwnd(), nullptr);
  EXPECT_FALSE(IsWindow(hwnd));
  window.reset();  // a window already destroyed is not destroyed twice
}

TEST(Window, ControlsTakeTheUiFontAndTheirText) {
  TestWindow window;
  const std::u16string korean = u"저장 (기본)";
  const HWND controls[] = {
      MakeButton(window.hwnd(), 1, korean, {0, 0, 80, 24}, true),
      MakeLabel(window.hwnd(), 2, korean, {0, 30, 80, 16}),
      MakeEdit(window.hwnd(), 3, korean, {0, 50, 80, 20}),
      MakeMultiLineEdit(window.hwnd(), 4, korean + u"\r\n둘째 줄", {90, 0, 80, 40}),
      MakeCheckBox(window.hwnd(), 5, korean, {90, 50, 80, 20}),
  };
  for (HWND c : controls) {
    ASSERT_NE(c, nullptr);
    EXPECT_EQ(reinterpret_cast<HFONT>(SendMessageW(c, WM_GETFONT, 0, 0)), UiFont());
    EXPECT_EQ(GetText(c).substr(0, korean.size()), korean);
  }
  HWND list = MakeDropDownList(window.hwnd(), 6, {0, 75, 80, 20}, 100);
  ASSERT_NE(list, nullptr);
  SendMessageW(list, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(L"기본"));
  EXPECT_EQ(SendMessageW(list, CB_GETCOUNT, 0, 0), 1);
  HWND bar = MakeProgressBar(window.hwnd(), 7, {100, 75, 80, 16});
  ASSERT_NE(bar, nullptr);
  SetProgress(bar, 3, 7);
  EXPECT_EQ(SendMessageW(bar, PBM_GETPOS, 0, 0), 3);
  EXPECT_EQ(SendMessageW(bar, PBM_GETRANGE, FALSE, 0), 7);
  SetProgress(bar, 0, 0);  // no items: a range of one, never an empty one
  EXPECT_EQ(SendMessageW(bar, PBM_GETRANGE, FALSE, 0), 1);
  LOGFONTW font{};
  GetObjectW(UiFont(), sizeof font, &font);
  EXPECT_STREQ(font.lfFaceName, L"NanumGothic");
}

TEST(Window, ToolTipsAreSetReplacedAndTakenAway) {
  TestWindow window;
  HWND label = MakeLabel(window.hwnd(), 1, u"결과", {0, 0, 100, 20});
  HWND other = MakeLabel(window.hwnd(), 2, u"", {0, 30, 100, 20});
  EXPECT_EQ(ToolTipOf(label), u"");
  const std::u16string lines = u"3: \"가.png\" — 없음\n4: \"b&c.png\" — 끊김";
  SetToolTip(label, lines);
  EXPECT_EQ(ToolTipOf(label), lines);
  EXPECT_EQ(ToolTipOf(other), u"");
  SetToolTip(other, u"다른 것");
  SetToolTip(label, u"새 것");
  EXPECT_EQ(ToolTipOf(label), u"새 것");
  EXPECT_EQ(ToolTipOf(other), u"다른 것");
  SetToolTip(label, u"");
  EXPECT_EQ(ToolTipOf(label), u"");
  EXPECT_EQ(ToolTipOf(other), u"다른 것");
}

TEST(WindowMailbox, FunctionsFromAWorkerRunOnTheWindowsThreadInOrder) {
  TestWindow window;
  auto mailbox = WindowMailbox::For(window.hwnd());
  ASSERT_TRUE(mailbox->Open());
  const DWORD windowThread = GetCurrentThreadId();
  constexpr int kCount = 500;
  std::vector<int> order;
  std::atomic<int> wrongThread{0};
  std::atomic<int> refused{0};
  std::thread worker([&] {
    for (int i = 0; i < kCount; ++i) {
      if (!mailbox->Post([&, i] {
            if (GetCurrentThreadId() != windowThread) ++wrongThread;
            order.push_back(i);
          }))
        ++refused;
    }
  });
  PumpUntil([&] { return order.size() == kCount; });
  worker.join();
  PumpUntil([&] { return order.size() == kCount; }, 200);
  EXPECT_EQ(refused, 0);
  EXPECT_EQ(wrongThread, 0);
  ASSERT_EQ(order.size(), static_cast<size_t>(kCount));
  for (int i = 0; i < kCount; ++i) ASSERT_EQ(order[i], i);
}

TEST(WindowMailbox, AModalLoopInsideAFunctionKeepsTheOrder) {
  TestWindow window;
  auto mailbox = WindowMailbox::For(window.hwnd());
  std::vector<char> order;
  std::atomic<bool> lateQueued{false};
  mailbox->Post([&] {
    order.push_back('a');
    // As a message box would: the thread's messages are pumped inside the function while a
    // worker posts another one.
    std::thread([&] {
      mailbox->Post([&] { order.push_back('c'); });
      lateQueued = true;
    }).join();
    PumpUntil([&] { return order.size() == 3; }, 500);
  });
  mailbox->Post([&] { order.push_back('b'); });
  PumpUntil([&] { return order.size() == 3; });
  EXPECT_TRUE(lateQueued);
  EXPECT_EQ(std::string(order.begin(), order.end()), "abc");
}

TEST(WindowMailbox, AGoneWindowDropsItsFunctionsUnrunAndFreesThem) {
  struct Case {
    const char* what;
    bool pumpBeforeDestroy;
  };
  for (const Case c : {Case{"queued, never delivered", false}, Case{"posted after the end", true}}) {
    auto window = std::make_unique<TestWindow>();
    auto mailbox = WindowMailbox::For(window->hwnd());
    int ran = 0;
    auto queued = std::make_shared<int>(1);
    std::weak_ptr<int> queuedAlive = queued;
    if (!c.pumpBeforeDestroy) {
      for (int i = 0; i < 5; ++i) ASSERT_TRUE(mailbox->Post([&ran, queued] { ran += *queued; })) << c.what;
    }
    queued.reset();
    window.reset();  // destroys the window
    EXPECT_FALSE(mailbox->Open()) << c.what;
    auto late = std::make_shared<int>(1);
    std::weak_ptr<int> lateAlive = late;
    bool accepted = true;
    std::thread([&] { accepted = mailbox->Post([&ran, late] { ran += *late; }); }).join();
    late.reset();
    PumpUntil([] { return false; }, 100);  // a wake message still queued finds no window
    EXPECT_FALSE(accepted) << c.what;
    EXPECT_EQ(ran, 0) << c.what;
    EXPECT_TRUE(queuedAlive.expired()) << c.what;
    EXPECT_TRUE(lateAlive.expired()) << c.what;
  }
}

TEST(WindowMailbox, AFunctionThatDestroysTheWindowEndsTheDelivery) {
  auto window = std::make_unique<TestWindow>();
  auto mailbox = WindowMailbox::For(window->hwnd());
  int ran = 0;
  mailbox->Post([&] {
    ++ran;
    window->Destroy();
  });
  mailbox->Post([&] { ran += 10; });
  PumpUntil([&] { return ran > 0; });
  PumpUntil([] { return false; }, 50);
  EXPECT_EQ(ran, 1);
  EXPECT_FALSE(mailbox->Open());
}

TEST(RunMessageLoop, TabMovesTheFocusInTheOrderTheControlsWereMade) {
  TestWindow window;
  HWND first = MakeButton(window.hwnd(), 1, u"하나", {0, 0, 60, 24});
  MakeLabel(window.hwnd(), 2, u"건너뜀", {0, 30, 60, 16});  // labels take no focus
  HWND second = MakeEdit(window.hwnd(), 3, u"", {0, 50, 60, 20});
  HWND third = MakeCheckBox(window.hwnd(), 4, u"셋", {0, 75, 60, 20});
  ShowWindow(window.hwnd(), SW_SHOW);
  SetForegroundWindow(window.hwnd());
  SetFocus(first);
  ASSERT_EQ(GetFocus(), first);
  std::vector<HWND> seen;
  auto mailbox = WindowMailbox::For(window.hwnd());
  // Each step: a Tab through the loop, then the focus is noted once the Tab was handled.
  std::function<void(int)> step = [&](int left) {
    if (left == 0) {
      PostQuitMessage(7);
      return;
    }
    PostMessageW(GetFocus(), WM_KEYDOWN, VK_TAB, 0);
    PostMessageW(GetFocus(), WM_KEYUP, VK_TAB, 0xC0000000);
    mailbox->Post([&, left] {
      seen.push_back(GetFocus());
      step(left - 1);
    });
  };
  step(3);
  EXPECT_EQ(RunMessageLoop(window.hwnd()), 7);
  const std::vector<HWND> expected = {second, third, first};
  EXPECT_EQ(seen, expected);
}

}  // namespace
}  // namespace torvo::win32
