// The Wine tests' eyes on a Windows program's windows, run in the same Wine prefix:
//   message_spy.exe box TITLE [SECONDS]      waits for a message box titled TITLE, prints its
//                                            text as UTF-8, presses OK; status 1 if none came
//   message_spy.exe controls TITLE [SECONDS] prints the text of each child control of the
//                                            window titled TITLE, one a line (line breaks as \n)
//   message_spy.exe press TITLE BUTTON [SECONDS] presses the button whose text is BUTTON in the
//                                            window titled TITLE, as a click does (BM_CLICK)
#include <windows.h>

#include <cstdio>
#include <cwchar>
#include <string>
#include <vector>

namespace {

std::string Utf8(const std::wstring& text) {
  if (text.empty()) return {};
  const int n = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0, nullptr, nullptr);
  std::string out(static_cast<size_t>(n), '\0');
  WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), out.data(), n, nullptr, nullptr);
  return out;
}

// WM_GETTEXT reaches another program's controls, where GetWindowTextW would not.
std::wstring TextOf(HWND window) {
  const LRESULT length = SendMessageW(window, WM_GETTEXTLENGTH, 0, 0);
  std::wstring text(static_cast<size_t>(length) + 1, L'\0');
  const LRESULT got = SendMessageW(window, WM_GETTEXT, text.size(), reinterpret_cast<LPARAM>(text.data()));
  text.resize(static_cast<size_t>(got));
  return text;
}

std::wstring ClassOf(HWND window) {
  wchar_t name[64] = {};
  GetClassNameW(window, name, 64);
  return name;
}

struct Search {
  std::wstring title;
  bool dialogOnly;
  HWND found = nullptr;
};

BOOL CALLBACK Look(HWND window, LPARAM param) {
  auto* search = reinterpret_cast<Search*>(param);
  if (!IsWindowVisible(window) || TextOf(window) != search->title) return TRUE;
  if (search->dialogOnly && ClassOf(window) != L"#32770") return TRUE;
  search->found = window;
  return FALSE;
}

HWND WaitFor(const std::wstring& title, bool dialogOnly, double seconds) {
  const ULONGLONG end = GetTickCount64() + static_cast<ULONGLONG>(seconds * 1000);
  do {
    Search search{title, dialogOnly};
    EnumWindows(&Look, reinterpret_cast<LPARAM>(&search));
    if (search.found) return search.found;
    Sleep(50);
  } while (GetTickCount64() < end);
  return nullptr;
}

std::vector<HWND> Children(HWND parent) {
  std::vector<HWND> children;
  for (HWND child = GetWindow(parent, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT)) children.push_back(child);
  return children;
}

std::string OneLine(const std::wstring& text) {
  std::string out;
  for (char c : Utf8(text)) {
    if (c == '\r') continue;
    if (c == '\n') out += "\\n";
    else out += c;
  }
  return out;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc < 3) {
    std::fputs("usage: message_spy.exe box|controls TITLE [SECONDS] | press TITLE BUTTON [SECONDS]\n", stderr);
    return 2;
  }
  const std::wstring mode = argv[1];
  const std::wstring title = argv[2];
  const double seconds = argc > 3 ? std::wcstod(argv[3], nullptr) : 20.0;
  if (mode == L"box") {
    HWND box = WaitFor(title, true, seconds);
    if (!box) {
      std::fputs("message_spy: no message box came\n", stderr);
      return 1;
    }
    // The text of a message box is its static control.
    std::wstring text;
    HWND ok = nullptr;
    for (HWND child : Children(box)) {
      const std::wstring cls = ClassOf(child);
      if (_wcsicmp(cls.c_str(), L"Static") == 0 && text.empty()) text = TextOf(child);
      if (GetDlgCtrlID(child) == IDOK) ok = child;
    }
    std::fwrite(Utf8(text).data(), 1, Utf8(text).size(), stdout);
    std::fputs("\n", stdout);
    std::fflush(stdout);
    if (ok) {
      PostMessageW(ok, BM_CLICK, 0, 0);
    } else {
      PostMessageW(box, WM_COMMAND, IDOK, 0);
    }
    // Gone once pressed, or the press did not take.
    const ULONGLONG end = GetTickCount64() + 5000;
    while (IsWindow(box) && GetTickCount64() < end) Sleep(20);
    return IsWindow(box) ? 3 : 0;
  }
  if (mode == L"controls") {
    HWND window = WaitFor(title, false, seconds);
    if (!window) {
      std::fputs("message_spy: no such window\n", stderr);
      return 1;
    }
    for (HWND child : Children(window)) {
      const std::string line = OneLine(TextOf(child)) + "\n";
      std::fwrite(line.data(), 1, line.size(), stdout);
    }
    return 0;
  }
  if (mode == L"press" && argc > 3) {
    const double wait = argc > 4 ? std::wcstod(argv[4], nullptr) : 20.0;
    HWND window = WaitFor(title, false, wait);
    if (!window) {
      std::fputs("message_spy: no such window\n", stderr);
      return 1;
    }
    for (HWND child : Children(window)) {
      if (TextOf(child) != argv[3] || _wcsicmp(ClassOf(child).c_str(), L"Button") != 0) continue;
      PostMessageW(child, BM_CLICK, 0, 0);
      return 0;
    }
    std::fputs("message_spy: no such button\n", stderr);
    return 1;
  }
  std::fputs("message_spy: the mode is box, controls or press\n", stderr);
  return 2;
}
