// A stand-in TorvoTool.exe for the host's tests (never installed): it writes down what it was
// started with, to the file TORVO_STAND_IN_REPORT names, one item a line:
//   its whole command line as the system holds it (UTF-8)
//   the picture: "none", "problem: <why>" or "png <bytes>" (the bytes go to "<report>.png")
//   whether the picture variable is still in its environment after taking it ("variable gone")
//   "standard handles" or "no standard handles"
//   "in a job" or "in no job"
//   its process id
// The report appears whole (written beside, then renamed). With TORVO_STAND_IN_LINGER set it then
// keeps running for a minute, as TorvoTool does while its window is open.
#include <windows.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "platform/codepage.h"
#include "platform/picture_handover.h"

namespace {

std::string Utf8(const wchar_t* text) {
  std::wstring_view view(text);
  return torvo::ToUtf8(std::u16string(view.begin(), view.end()));
}

bool StandardHandle(DWORD which) {
  HANDLE handle = GetStdHandle(which);
  return handle != nullptr && handle != INVALID_HANDLE_VALUE;
}

}  // namespace

int wmain() {
  const std::string commandLine = Utf8(GetCommandLineW());
  torvo::HandedOverPicture picture = torvo::TakeHandedOverPicture();
  wchar_t report[32768];
  DWORD n = GetEnvironmentVariableW(L"TORVO_STAND_IN_REPORT", report, 32768);
  if (n == 0 || n >= 32768) return 2;
  const std::wstring path(report);
  std::string pictureLine = "none";
  if (picture.handedOver && !picture.problem.empty()) pictureLine = "problem: " + picture.problem;
  if (picture.handedOver && picture.problem.empty()) {
    pictureLine = "png " + std::to_string(picture.png.size());
    std::ofstream(std::filesystem::path(path + L".png"), std::ios::binary) << picture.png.view();
  }
  wchar_t ignored[4];
  bool variableGone = GetEnvironmentVariableW(L"TORVO_PICTURE_HANDLE", ignored, 4) == 0 && !_wgetenv(L"TORVO_PICTURE_HANDLE");
  BOOL inJob = FALSE;
  IsProcessInJob(GetCurrentProcess(), nullptr, &inJob);
  {
    std::ofstream out(std::filesystem::path(path + L".tmp"), std::ios::binary);
    out << commandLine << "\n"
        << pictureLine << "\n"
        << (variableGone ? "variable gone" : "variable kept") << "\n"
        << (StandardHandle(STD_INPUT_HANDLE) || StandardHandle(STD_OUTPUT_HANDLE) || StandardHandle(STD_ERROR_HANDLE)
                ? "standard handles"
                : "no standard handles")
        << "\n"
        << (inJob ? "in a job" : "in no job") << "\n"
        << GetCurrentProcessId() << "\n";
  }
  MoveFileExW((path + L".tmp").c_str(), path.c_str(), MOVEFILE_REPLACE_EXISTING);
  if (GetEnvironmentVariableW(L"TORVO_STAND_IN_LINGER", ignored, 4) != 0) Sleep(60000);
  return 0;
}
