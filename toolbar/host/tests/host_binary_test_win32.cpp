// The real host on Windows, started as the browser starts it (pipes on its standard input and
// output), with a stand-in TorvoTool.exe that writes down how it was started; and both ends of
// the picture's hand-over in a file mapping.
#include <windows.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <thread>

#include "platform/codepage.h"
#include "platform/executable.h"
#include "platform/paths.h"
#include "platform/picture_handover.h"
#include "platform/text.h"
#include "platform/tests/png_for_tests.h"
#include "toolbar/host/launcher.h"
#include "toolbar/host/message_framing.h"

namespace torvo::toolbar {
namespace {

std::wstring Wide(std::string_view utf8) {
  std::u16string text = FromUtf8(utf8);
  return std::wstring(text.begin(), text.end());
}

std::filesystem::path BuiltProgram(const char* name) { return ExecutablePath().parent_path() / name; }

std::string ReadWhole(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

// The lines of the stand-in's report, once it is there (at most ten seconds).
std::vector<std::string> WaitForReport(const std::filesystem::path& report) {
  // The stand-in renames its finished report into place, so any text read is all of it. Right
  // after the rename the mover may still hold the file open for deleting, and an open that does
  // not share deleting fails (Wine shows it): an empty read is read again.
  std::string text;
  for (int i = 0; i < 200 && (text = ReadWhole(report)).empty(); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(50));
  auto lines = SplitFields(std::string_view(text), std::string_view("\n"));
  if (!lines.empty() && lines.back().empty()) lines.pop_back();
  return lines;
}

void EndProcess(const std::string& id) {
  if (HANDLE process = OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, DWORD(std::stoul(id)))) {
    TerminateProcess(process, 0);
    WaitForSingleObject(process, 5000);
    CloseHandle(process);
  }
}

// The host as a browser runs it: its standard input and output are pipes, and its environment
// is this test's with some variables set or taken out (an empty value takes one out).
class HostProcess {
 public:
  HostProcess(const std::filesystem::path& program, const std::vector<std::pair<std::string, std::string>>& variables,
              HANDLE job = nullptr) {
    SECURITY_ATTRIBUTES inheritable{sizeof inheritable, nullptr, TRUE};
    HANDLE inRead, inWrite, outRead, outWrite;
    EXPECT_TRUE(CreatePipe(&inRead, &inWrite, &inheritable, 0));
    EXPECT_TRUE(CreatePipe(&outRead, &outWrite, &inheritable, 0));
    SetHandleInformation(inWrite, HANDLE_FLAG_INHERIT, 0);
    SetHandleInformation(outRead, HANDLE_FLAG_INHERIT, 0);
    for (const auto& [name, value] : variables) {
      saved_.emplace_back(name, Variable(name));
      SetEnvironmentVariableW(Wide(name).c_str(), value.empty() ? nullptr : Wide(value).c_str());
    }
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = inRead;
    startup.hStdOutput = outWrite;
    startup.hStdError = GetStdHandle(STD_ERROR_HANDLE);
    std::wstring commandLine = L"\"" + program.wstring() + L"\" chrome-extension://cijdljhlpafgknmcdajbgemamkljlgcl/";
    PROCESS_INFORMATION info{};
    EXPECT_TRUE(CreateProcessW(program.c_str(), commandLine.data(), nullptr, nullptr, TRUE,
                               CREATE_NO_WINDOW | (job ? CREATE_SUSPENDED : 0), nullptr, nullptr, &startup, &info))
        << GetLastError();
    if (job) {
      EXPECT_TRUE(AssignProcessToJobObject(job, info.hProcess)) << GetLastError();
      ResumeThread(info.hThread);
    }
    for (const auto& [name, value] : saved_) {
      SetEnvironmentVariableW(Wide(name).c_str(), value ? Wide(*value).c_str() : nullptr);
    }
    CloseHandle(info.hThread);
    process_ = info.hProcess;
    CloseHandle(inRead);
    CloseHandle(outWrite);
    input_ = inWrite;
    output_ = outRead;
  }
  ~HostProcess() {
    CloseInput();
    CloseHandle(output_);
    if (process_) {
      WaitForSingleObject(process_, 10000);
      CloseHandle(process_);
    }
  }
  void Send(std::string_view bytes) {
    DWORD written = 0;
    ASSERT_TRUE(WriteFile(input_, bytes.data(), DWORD(bytes.size()), &written, nullptr));
    ASSERT_EQ(written, bytes.size());
  }
  void CloseInput() {
    if (input_) CloseHandle(input_);
    input_ = nullptr;
  }
  // Everything the host writes until its output closes, waiting at most ten seconds: a host (or
  // a program it started) that keeps the pipe open fails here instead of hanging the test.
  std::string ReadAll() {
    std::string all;
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    for (;;) {
      DWORD waiting = 0;
      if (!PeekNamedPipe(output_, nullptr, 0, nullptr, &waiting, nullptr)) return all;  // closed
      if (waiting == 0) {
        if (std::chrono::steady_clock::now() > deadline) {
          ADD_FAILURE() << "the host's output stayed open";
          return all;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
        continue;
      }
      std::string buffer(waiting, '\0');
      DWORD n = 0;
      if (!ReadFile(output_, buffer.data(), waiting, &n, nullptr)) return all;
      all.append(buffer, 0, n);
    }
  }
  int Wait() {
    if (WaitForSingleObject(process_, 10000) != WAIT_OBJECT_0) return -1;
    DWORD status = 0;
    GetExitCodeProcess(process_, &status);
    return int(status);
  }

 private:
  static std::optional<std::string> Variable(const std::string& name) {
    wchar_t value[32768];
    SetLastError(ERROR_SUCCESS);
    DWORD n = GetEnvironmentVariableW(Wide(name).c_str(), value, 32768);
    if (n == 0 && GetLastError() == ERROR_ENVVAR_NOT_FOUND) return std::nullopt;
    return ToUtf8(std::u16string(value, value + n));
  }
  std::vector<std::pair<std::string, std::optional<std::string>>> saved_;
  HANDLE process_ = nullptr;
  HANDLE input_ = nullptr;
  HANDLE output_ = nullptr;
};

class HostBinary : public ::testing::Test {
 protected:
  void SetUp() override {
    folder_ = std::filesystem::temp_directory_path() /
              ("toolbar-host-test-" + std::to_string(GetCurrentProcessId()) + "-" +
               ::testing::UnitTest::GetInstance()->current_test_info()->name());
    std::filesystem::remove_all(folder_);
    std::filesystem::create_directories(folder_);
    report_ = folder_ / "report";
    tool_ = BuiltProgram(TORVO_STAND_IN_TOOL);
  }
  void TearDown() override {
    std::error_code ec;
    for (int i = 0; i < 50 && std::filesystem::remove_all(folder_, ec) == static_cast<std::uintmax_t>(-1); ++i) {
      std::this_thread::sleep_for(std::chrono::milliseconds(100));  // a stand-in still ending
    }
  }
  std::vector<std::pair<std::string, std::string>> StandIn(bool linger = false) const {
    return {{kTorvoToolVariable, Utf8Path(tool_)},
            {"TORVO_STAND_IN_REPORT", Utf8Path(report_)},
            {"TORVO_STAND_IN_LINGER", linger ? "1" : ""}};
  }
  std::filesystem::path folder_, report_, tool_;
};

TEST_F(HostBinary, StartsTorvoToolDetachedWithTheOneCommandLine) {
  // The stand-in keeps running: the host must neither wait for it nor lend it the browser's pipes.
  HostProcess host(BuiltProgram(TORVO_TOOLBAR_HOST_NAME), StandIn(true));
  host.Send(EncodeFrame(
      R"({"toolbarId":"홍길동","url":"https://a.example/x  y","title":"it's \"quoted\" C:\\dir\\ \\\" %PATH% ^&|","note":"메모 50%"})"));
  host.CloseInput();
  EXPECT_EQ(host.ReadAll(), EncodeFrame(R"({"ok":true})"));
  EXPECT_EQ(host.Wait(), 0);
  auto lines = WaitForReport(report_);
  ASSERT_EQ(lines.size(), 6u) << ReadWhole(report_);
  // Quotes, backslashes and double spaces as they are: the text after the program's token is
  // exactly the line, whatever TorvoTool's own splitting rules would make of it.
  EXPECT_EQ(lines[0], "\"" + Utf8Path(tool_) + "\" 홍길동;^;https://a.example/x  y;^;it's \"quoted\" C:\\dir\\ \\\" %PATH% ^&|;^;"
                      "%B8%DE%B8%F0%20%35%30%A3%A5");
  EXPECT_EQ(lines[1], "none");
  EXPECT_EQ(lines[2], "variable gone");
  EXPECT_EQ(lines[3], "no standard handles");
  EXPECT_EQ(lines[4], "in no job");
  EndProcess(lines[5]);
}

TEST_F(HostBinary, HandsThePictureOverInAReadOnlyMappingOnlyTorvoToolHolds) {
  const std::string png = torvo::testing::SolidPng(40, 30, 200, 10, 10);
  auto variables = StandIn();
  // A value the browser's environment happened to hold must not reach TorvoTool as it is.
  variables.emplace_back(kPictureHandleVariable, "4");
  HostProcess host(BuiltProgram(TORVO_TOOLBAR_HOST_NAME), variables);
  host.Send(EncodeFrame(R"({"toolbarId":"u","url":"http://a/","picture":")" + torvo::testing::DataUrl(png) + R"("})"));
  host.CloseInput();
  EXPECT_EQ(host.ReadAll(), EncodeFrame(R"({"ok":true})"));
  EXPECT_EQ(host.Wait(), 0);
  auto lines = WaitForReport(report_);
  ASSERT_EQ(lines.size(), 6u) << ReadWhole(report_);
  // TakeHandedOverPicture refuses a mapping it could write, so this also says it was read-only.
  EXPECT_EQ(lines[1], "png " + std::to_string(png.size()));
  EXPECT_EQ(lines[2], "variable gone");
  EXPECT_EQ(ReadWhole(report_.string() + ".png"), png);
}

TEST_F(HostBinary, ABadPictureStartsNothingAndWithoutOneNoHandleIsNamed) {
  auto variables = StandIn();
  variables.emplace_back(kPictureHandleVariable, "4");
  {
    HostProcess host(BuiltProgram(TORVO_TOOLBAR_HOST_NAME), variables);
    host.Send(EncodeFrame(R"({"toolbarId":"u","url":"http://a/","picture":"data:image/png;base64,AAAA"})"));
    host.CloseInput();
    EXPECT_EQ(host.ReadAll(), EncodeFrame(R"({"code":"picture_not_png","message":"The picture is not a PNG file.","ok":false})"));
    EXPECT_EQ(host.Wait(), 0);
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    EXPECT_FALSE(std::filesystem::exists(report_)) << "TorvoTool was started with a bad picture";
  }
  HostProcess host(BuiltProgram(TORVO_TOOLBAR_HOST_NAME), variables);
  host.Send(EncodeFrame(R"({"toolbarId":"u","url":"http://a/"})"));
  host.CloseInput();
  EXPECT_EQ(host.ReadAll(), EncodeFrame(R"({"ok":true})"));
  EXPECT_EQ(host.Wait(), 0);
  auto lines = WaitForReport(report_);
  ASSERT_EQ(lines.size(), 6u) << ReadWhole(report_);
  EXPECT_EQ(lines[1], "none");
  EXPECT_EQ(lines[2], "variable gone");
}

TEST_F(HostBinary, FindsTorvoToolBesideItselfThenOnPath) {
  // Copies of the host in folders of their own, so a TorvoTool.exe of the build is not beside them.
  auto installed = folder_ / "installed";
  auto alone = folder_ / "alone";
  auto onPath = folder_ / "on path";
  for (const auto& folder : {installed, alone, onPath}) std::filesystem::create_directories(folder);
  std::filesystem::copy_file(BuiltProgram(TORVO_TOOLBAR_HOST_NAME), installed / "torvo-toolbar-host.exe");
  std::filesystem::copy_file(tool_, installed / "TorvoTool.exe");
  std::filesystem::copy_file(BuiltProgram(TORVO_TOOLBAR_HOST_NAME), alone / "torvo-toolbar-host.exe");
  std::filesystem::copy_file(tool_, onPath / "TorvoTool.exe");
  struct Case {
    std::filesystem::path host;
    std::string path;
    std::filesystem::path expected;
  };
  const Case cases[] = {
      {installed / "torvo-toolbar-host.exe", Utf8Path(onPath), installed / "TorvoTool.exe"},
      {alone / "torvo-toolbar-host.exe", "C:\\nonexistent;;\"" + Utf8Path(onPath) + "\";C:\\windows\\system32",
       onPath / "TorvoTool.exe"},
  };
  for (const auto& c : cases) {
    std::filesystem::remove(report_);
    HostProcess host(c.host, {{kTorvoToolVariable, ""}, {"TORVO_STAND_IN_REPORT", Utf8Path(report_)}, {"PATH", c.path}});
    host.Send(EncodeFrame(R"({"toolbarId":"u","url":"http://a/","note":"A"})"));
    host.CloseInput();
    EXPECT_EQ(host.ReadAll(), EncodeFrame(R"({"ok":true})"));
    EXPECT_EQ(host.Wait(), 0);
    auto lines = WaitForReport(report_);
    ASSERT_FALSE(lines.empty()) << Utf8Path(c.host);
    EXPECT_EQ(lines[0], "\"" + Utf8Path(c.expected) + "\" u;^;http://a/;^;;^;%41");
  }
}

TEST_F(HostBinary, SaysWhenTorvoToolIsMissingOrTheLineWouldNotArrive) {
  auto alone = folder_ / "alone";
  std::filesystem::create_directories(alone);
  std::filesystem::copy_file(BuiltProgram(TORVO_TOOLBAR_HOST_NAME), alone / "torvo-toolbar-host.exe");
  {
    HostProcess host(alone / "torvo-toolbar-host.exe", {{kTorvoToolVariable, ""}, {"PATH", Utf8Path(folder_)}});
    host.Send(EncodeFrame(R"({"toolbarId":"u","url":"http://a/"})"));
    host.CloseInput();
    EXPECT_EQ(host.ReadAll(),
              EncodeFrame(R"({"code":"not_found","message":"TorvoTool was not found beside torvo-toolbar-host or on PATH.","ok":false})"));
    EXPECT_EQ(host.Wait(), 0);
  }
  {
    const std::string missing = Utf8Path(folder_ / "nothing.exe");
    HostProcess host(BuiltProgram(TORVO_TOOLBAR_HOST_NAME), {{kTorvoToolVariable, missing}});
    host.Send(EncodeFrame(R"({"toolbarId":"u","url":"http://a/"})"));
    host.CloseInput();
    std::string answer = host.ReadAll();
    std::string escaped = missing;
    for (size_t at = 0; (at = escaped.find('\\', at)) != std::string::npos; at += 2) escaped.insert(at, "\\");
    EXPECT_NE(answer.find(R"({"code":"start_failed","message":"TorvoTool could not be started: )" + escaped + ": "),
              std::string::npos)
        << answer;
    EXPECT_EQ(host.Wait(), 0);
  }
  {
    HostProcess host(BuiltProgram(TORVO_TOOLBAR_HOST_NAME), StandIn());
    host.Send(EncodeFrame(R"({"toolbarId":" u","url":"http://a/"})"));
    host.CloseInput();
    EXPECT_EQ(host.ReadAll(),
              EncodeFrame(R"({"code":"separator","message":"The identity begins with a space, which would not reach TorvoTool on Windows; enter it without one on the options page of the Torvo extension.","ok":false})"));
    EXPECT_EQ(host.Wait(), 0);
  }
  // A note the Linux host passes whole is over Windows' 32767 characters of command line.
  std::string note;
  for (int i = 0; i < 6000; ++i) note += "가";
  HostProcess host(BuiltProgram(TORVO_TOOLBAR_HOST_NAME), StandIn());
  host.Send(EncodeFrame(R"({"toolbarId":"u","url":"http://a/","note":")" + note + R"("})"));
  host.CloseInput();
  std::string answer = host.ReadAll();
  EXPECT_NE(answer.find(R"({"code":"too_long","message":"The page's fields make a command line of )"), std::string::npos) << answer;
  EXPECT_NE(answer.find("Windows passes at most 32766. Select a shorter text."), std::string::npos) << answer;
  EXPECT_EQ(host.Wait(), 0);
  EXPECT_FALSE(std::filesystem::exists(report_));
}

TEST_F(HostBinary, ReadsFramesAsBytesAndEndsOnABrokenStream) {
  // In text mode a length byte 0x0A or 0x0D, a CR LF in the body or a 0x1A (the old end of a
  // text) would change what arrives; each message here must be answered as itself.
  struct Case {
    std::string body;
    std::string answer;
  };
  const std::string notObject = R"({"code":"not_object","message":"The message must be a JSON object.","ok":false})";
  const Case cases[] = {
      {"[1,2,3,4 ]", notObject},                   // 10 bytes: 0x0A
      {"[1,2,3,4,5 ]", notObject},                 // 13 bytes: 0x0D
      {"[1,2,3,4,5,6,7,8,9,10,1 ]", notObject},    // 26 bytes: 0x1A
      {"[\r\n1\r\n]", notObject},
      {"{\"toolbarId\":\"\x1A\"}", R"({"code":"bad_json","message":"The message is not valid JSON.","ok":false})"},
  };
  std::string stream, answers;
  for (const auto& c : cases) {
    stream += EncodeFrame(c.body);
    answers += EncodeFrame(c.answer);
  }
  HostProcess host(BuiltProgram(TORVO_TOOLBAR_HOST_NAME), StandIn());
  host.Send(stream + std::string("\x20\x00\x00\x00{\"toolbarId\"", 16));
  host.CloseInput();
  EXPECT_EQ(host.ReadAll(),
            answers + EncodeFrame(R"({"code":"bad_frame","message":"The message was cut short: 12 of 32 bytes arrived.","ok":false})"));
  EXPECT_EQ(host.Wait(), 1);
}

TEST_F(HostBinary, TorvoToolOutlivesTheBrowsersJobWhereTheJobAllowsIt) {
  struct Case {
    DWORD limits;
    const char* place;    // where TorvoTool runs
    bool outlivesTheJob;  // still running once the browser's job is ended
  };
  const Case cases[] = {
      {JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE | JOB_OBJECT_LIMIT_BREAKAWAY_OK, "in no job", true},
      // A job that forbids breaking away: TorvoTool still starts, in the job, and ends with it.
      {JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE, "in a job", false},
  };
  for (const auto& c : cases) {
    std::filesystem::remove(report_);
    HANDLE job = CreateJobObjectW(nullptr, nullptr);
    ASSERT_TRUE(job);
    JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits{};
    limits.BasicLimitInformation.LimitFlags = c.limits;
    ASSERT_TRUE(SetInformationJobObject(job, JobObjectExtendedLimitInformation, &limits, sizeof limits));
    std::string id;
    {
      HostProcess host(BuiltProgram(TORVO_TOOLBAR_HOST_NAME), StandIn(true), job);
      host.Send(EncodeFrame(R"({"toolbarId":"u","url":"http://a/"})"));
      host.CloseInput();
      EXPECT_EQ(host.ReadAll(), EncodeFrame(R"({"ok":true})"));
      auto lines = WaitForReport(report_);
      ASSERT_EQ(lines.size(), 6u) << ReadWhole(report_);
      EXPECT_EQ(lines[4], c.place);
      id = lines[5];
    }
    HANDLE tool = OpenProcess(SYNCHRONIZE | PROCESS_TERMINATE, FALSE, DWORD(std::stoul(id)));
    ASSERT_TRUE(tool);
    CloseHandle(job);  // the browser ends: its job's processes end with it
    bool ended = WaitForSingleObject(tool, 3000) == WAIT_OBJECT_0;
    EXPECT_EQ(!ended, c.outlivesTheJob) << c.place;
    TerminateProcess(tool, 0);
    WaitForSingleObject(tool, 5000);
    CloseHandle(tool);
  }
}

// TorvoTool's end on its own: what the variable may name, and what is refused.
TEST(TakeHandedOverPicture, ReadsOnlyAReadOnlyMappingOfAPngAndClosesIt) {
  const std::string png = torvo::testing::SolidPng(3, 2, 9, 8, 7);
  auto mappingOf = [](std::string_view bytes, uint64_t count, DWORD access) {
    HANDLE writable = CreateFileMappingW(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0,
                                         DWORD(kPictureMappingHeaderBytes + bytes.size()), nullptr);
    auto* view = static_cast<char*>(MapViewOfFile(writable, FILE_MAP_WRITE, 0, 0, 0));
    std::memcpy(view, &count, sizeof count);
    std::memcpy(view + kPictureMappingHeaderBytes, bytes.data(), bytes.size());
    UnmapViewOfFile(view);
    HANDLE handle = nullptr;
    DuplicateHandle(GetCurrentProcess(), writable, GetCurrentProcess(), &handle, access, FALSE, 0);
    CloseHandle(writable);
    return handle;
  };
  HANDLE event = CreateEventW(nullptr, FALSE, FALSE, nullptr);
  struct Case {
    std::string value;
    std::string problem;  // empty: the PNG is read
    HANDLE closed;        // the handle the take must have closed
  };
  HANDLE good = ReadOnlyPictureMapping(png);
  HANDLE empty = mappingOf(png, 0, FILE_MAP_READ);
  HANDLE overLong = mappingOf(png, png.size() + 5000, FILE_MAP_READ);
  HANDLE huge = mappingOf(png, kMaxHandedOverPictureBytes + 1, FILE_MAP_READ);
  HANDLE writable = mappingOf(png, png.size(), FILE_MAP_READ | FILE_MAP_WRITE);
  auto number = [](HANDLE h) { return std::to_string(reinterpret_cast<uintptr_t>(h)); };
  const Case cases[] = {
      {number(good), "", good},
      {"", "핸들 번호가 올바르지 않습니다", nullptr},
      {"abc", "핸들 번호가 올바르지 않습니다", nullptr},
      {"12x", "핸들 번호가 올바르지 않습니다", nullptr},
      {"-4", "핸들 번호가 올바르지 않습니다", nullptr},
      {"0", "핸들 번호가 올바르지 않습니다", nullptr},
      {"6", "핸들 번호가 올바르지 않습니다", nullptr},
      {"99999999999999999999999", "핸들 번호가 올바르지 않습니다", nullptr},
      {number(event), "넘겨 받은 것이 파일 매핑이 아닙니다 (", nullptr},
      {"65532", "넘겨 받은 것이 파일 매핑이 아닙니다 (", nullptr},
      {number(writable), "넘겨 받은 파일 매핑이 읽기 전용이 아닙니다", writable},
      {number(empty), "그림이 비어 있습니다", empty},
      {number(overLong), "그림을 끝까지 읽을 수 없습니다", overLong},
      {number(huge), "그림이 64 MiB보다 큽니다", huge},
  };
  ASSERT_TRUE(good && empty && overLong && huge && writable && event);
  EXPECT_FALSE(TakeHandedOverPicture().handedOver) << "nothing handed over without the variable";
  for (const auto& c : cases) {
    SetEnvironmentVariableW(Wide(kPictureHandleVariable).c_str(), Wide(c.value).c_str());
    HandedOverPicture picture = TakeHandedOverPicture();
    EXPECT_TRUE(picture.handedOver) << c.value;
    if (c.problem.empty()) {
      EXPECT_EQ(picture.problem, "") << c.value;
      EXPECT_EQ(picture.png, png) << c.value;
    } else {
      EXPECT_EQ(picture.problem.substr(0, c.problem.size()), c.problem) << c.value;
      EXPECT_EQ(picture.png, "") << c.value;
    }
    DWORD flags = 0;
    if (c.closed) {
      EXPECT_FALSE(GetHandleInformation(c.closed, &flags)) << c.value << ": the handle was left open";
    }
    EXPECT_FALSE(TakeHandedOverPicture().handedOver) << c.value << ": the variable was left in the environment";
  }
  DWORD flags = 0;
  EXPECT_TRUE(GetHandleInformation(event, &flags)) << "a handle that is no mapping is not closed";
  CloseHandle(event);
}

TEST(ReadOnlyPictureMapping, HoldsTheLengthThenThePngAndCannotBeWritten) {
  const std::string png = torvo::testing::SolidPng(5, 4, 1, 2, 3);
  HANDLE mapping = ReadOnlyPictureMapping(png);
  ASSERT_TRUE(mapping);
  DWORD flags = 0;
  ASSERT_TRUE(GetHandleInformation(mapping, &flags));
  EXPECT_EQ(flags & HANDLE_FLAG_INHERIT, DWORD(HANDLE_FLAG_INHERIT));
  EXPECT_EQ(MapViewOfFile(mapping, FILE_MAP_WRITE, 0, 0, 0), nullptr);
  auto* view = static_cast<const char*>(MapViewOfFile(mapping, FILE_MAP_READ, 0, 0, 0));
  ASSERT_TRUE(view);
  uint64_t count = 0;
  std::memcpy(&count, view, sizeof count);
  EXPECT_EQ(count, png.size());
  EXPECT_EQ(std::string(view + kPictureMappingHeaderBytes, png.size()), png);
  UnmapViewOfFile(view);
  CloseHandle(mapping);
}

}  // namespace
}  // namespace torvo::toolbar
