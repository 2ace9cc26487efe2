// The real host on Linux, started as the browser starts it, and the sealed memory file it hands
// the picture over in.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <thread>

#include "platform/picture_handover.h"
#include "platform/text.h"
#include "toolbar/host/launcher.h"
#include "toolbar/host/message_framing.h"
#include "platform/tests/png_for_tests.h"

extern char** environ;

namespace torvo::toolbar {
namespace {

TEST(SealedMemoryFile, HoldsTheBytesAndCannotBeChanged) {
  const std::string bytes = torvo::testing::SolidPng(2, 2, 1, 2, 3);
  int fd = SealedMemoryFile(bytes);
  ASSERT_GE(fd, 0) << std::strerror(errno);
  EXPECT_EQ(::fcntl(fd, F_GETFD) & FD_CLOEXEC, FD_CLOEXEC);
  EXPECT_EQ(::fcntl(fd, F_GET_SEALS), F_SEAL_SHRINK | F_SEAL_GROW | F_SEAL_WRITE | F_SEAL_SEAL);
  std::string back(bytes.size() + 10, '\0');
  EXPECT_EQ(::pread(fd, back.data(), back.size(), 0), ssize_t(bytes.size()));
  back.resize(bytes.size());
  EXPECT_EQ(back, bytes);
  EXPECT_EQ(::pwrite(fd, "x", 1, 0), -1);
  EXPECT_EQ(::ftruncate(fd, 1), -1);
  EXPECT_EQ(::ftruncate(fd, 1 << 20), -1);
  EXPECT_EQ(::fcntl(fd, F_ADD_SEALS, 0), -1) << "the seals themselves are sealed";
  // Its name is on no disk.
  EXPECT_EQ(std::filesystem::read_symlink("/proc/self/fd/" + std::to_string(fd)).string().rfind("/memfd:torvo-picture", 0), 0u);
  ::close(fd);
}

// The real program, as the browser runs it: pipes on standard input and output.
class HostProcess {
 public:
  explicit HostProcess(std::vector<std::string> environment) {
    int in[2], out[2];
    EXPECT_EQ(::pipe2(in, O_CLOEXEC), 0);
    EXPECT_EQ(::pipe2(out, O_CLOEXEC), 0);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, in[0], STDIN_FILENO);
    posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
    std::vector<char*> env;
    for (auto& e : environment) env.push_back(e.data());
    env.push_back(nullptr);
    std::string path = TORVO_TOOLBAR_HOST_BINARY;
    std::string origin = "chrome-extension://abc/";
    char* argv[] = {path.data(), origin.data(), nullptr};
    EXPECT_EQ(::posix_spawn(&pid_, path.c_str(), &actions, nullptr, argv, env.data()), 0);
    posix_spawn_file_actions_destroy(&actions);
    ::close(in[0]);
    ::close(out[1]);
    input_ = in[1];
    output_ = out[0];
  }
  ~HostProcess() {
    if (input_ >= 0) ::close(input_);
    ::close(output_);
    if (pid_ > 0) ::waitpid(pid_, nullptr, 0);
  }
  void Send(std::string_view bytes) { ASSERT_EQ(::write(input_, bytes.data(), bytes.size()), ssize_t(bytes.size())); }
  void CloseInput() {
    ::close(input_);
    input_ = -1;
  }
  // Everything the host writes until its output closes, waiting at most a few seconds: a host
  // (or a program it started) that keeps the pipe open fails here instead of hanging the test.
  std::string ReadAll() {
    std::string all;
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    for (;;) {
      pollfd p{output_, POLLIN, 0};
      int left = int(std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now()).count());
      if (left <= 0 || ::poll(&p, 1, left) <= 0) {
        ADD_FAILURE() << "the host's output stayed open";
        return all;
      }
      char buffer[4096];
      ssize_t n = ::read(output_, buffer, sizeof buffer);
      if (n <= 0) return all;
      all.append(buffer, size_t(n));
    }
  }
  int Wait() {
    int status = 0;
    ::waitpid(pid_, &status, 0);
    pid_ = -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }

 private:
  pid_t pid_ = -1;
  int input_ = -1;
  int output_ = -1;
};

std::string ReadFile(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

class HostBinary : public ::testing::Test {
 protected:
  void SetUp() override {
    folder_ = std::filesystem::temp_directory_path() /
              ("toolbar-host-test-" + std::to_string(::getpid()) + "-" +
               ::testing::UnitTest::GetInstance()->current_test_info()->name());
    std::filesystem::remove_all(folder_);
    std::filesystem::create_directories(folder_);
  }
  void TearDown() override { std::filesystem::remove_all(folder_); }
  std::filesystem::path folder_;
};

TEST_F(HostBinary, StartsTorvoToolDetachedWithTheWholeLineAsOneArgument) {
  // A stand-in TorvoTool that reports its arguments, session, standard input and process id,
  // then keeps running: the host must neither wait for it nor lend it the browser's pipes.
  auto fake = folder_ / "FakeTool";
  auto report = folder_ / "report";
  {
    std::ofstream script(fake);
    script << "#!/bin/sh\n"
           << "in=$(readlink /proc/$$/fd/0); out=$(readlink /proc/$$/fd/1)\n"
           << "{ echo \"$#\"; printf '%s\\n' \"$1\"; ps -o sid= -p $$ | tr -d ' '; echo \"$in\"; echo \"$out\"; "
              "echo $$; } > '"
           << report.string() << ".tmp'\n"
           << "mv '" << report.string() << ".tmp' '" << report.string() << "'\n"
           << "exec sleep 30\n";
  }
  std::filesystem::permissions(fake, std::filesystem::perms::owner_all);

  HostProcess host({"PATH=/usr/bin:/bin", std::string(kTorvoToolVariable) + "=" + fake.string()});
  host.Send(EncodeFrame(R"({"toolbarId":"홍길동","url":"https://a.example/x y","title":"it's \"quoted\" $HOME `x`","note":"메모 50%"})"));
  host.CloseInput();
  EXPECT_EQ(host.ReadAll(), EncodeFrame(R"({"ok":true})"));
  EXPECT_EQ(host.Wait(), 0);

  for (int i = 0; i < 100 && !std::filesystem::exists(report); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(50));
  std::string lines = ReadFile(report);
  auto fields = SplitFields(std::string_view(lines), std::string_view("\n"));
  ASSERT_EQ(fields.size(), 7u) << lines;
  EXPECT_EQ(fields[0], "1");
  EXPECT_EQ(fields[1], "홍길동;^;https://a.example/x y;^;it's \"quoted\" $HOME `x`;^;%B8%DE%B8%F0%20%35%30%A3%A5");
  EXPECT_EQ(fields[2], fields[5]) << "TorvoTool leads a session of its own";
  EXPECT_EQ(fields[3], "/dev/null");
  EXPECT_EQ(fields[4], "/dev/null");
  ::kill(std::stoi(fields[5]), SIGTERM);
}

// A stand-in TorvoTool that writes what it was handed over: the descriptor variable, the bytes
// behind it, whether they are sealed, and what the descriptor is.
std::filesystem::path PictureReporter(const std::filesystem::path& folder) {
  auto fake = folder / "PictureTool";
  std::ofstream script(fake);
  script << "#!/bin/sh\n"
         << "r='" << (folder / "report").string() << "'\n"
         << "if [ -n \"${TORVO_PICTURE_FD+set}\" ]; then\n"
         << "  echo \"fd=$TORVO_PICTURE_FD\" > \"$r.tmp\"\n"
         << "  readlink /proc/$$/fd/$TORVO_PICTURE_FD >> \"$r.tmp\"\n"
         << "  python3 -c 'import fcntl,os; print(fcntl.fcntl(int(os.environ[\"TORVO_PICTURE_FD\"]), fcntl.F_GET_SEALS))' >> \"$r.tmp\"\n"
         << "  cat /proc/$$/fd/$TORVO_PICTURE_FD > \"$r.png\"\n"
         << "else echo none > \"$r.tmp\"; fi\n"
         << "mv \"$r.tmp\" \"$r\"\n";
  script.close();
  std::filesystem::permissions(fake, std::filesystem::perms::owner_all);
  return fake;
}

TEST_F(HostBinary, HandsThePictureOverInASealedMemoryFile) {
  const std::string png = torvo::testing::SolidPng(40, 30, 200, 10, 10);
  auto report = folder_ / "report";
  auto tool = PictureReporter(folder_);
  // The browser's own environment holding the variable must not reach TorvoTool as it is.
  HostProcess host({"PATH=/usr/bin:/bin", std::string(kTorvoToolVariable) + "=" + tool.string(),
                    std::string(kPictureDescriptorVariable) + "=0"});
  host.Send(EncodeFrame(R"({"toolbarId":"u","url":"http://a/","picture":")" + torvo::testing::DataUrl(png) + R"("})"));
  host.CloseInput();
  EXPECT_EQ(host.ReadAll(), EncodeFrame(R"({"ok":true})"));
  EXPECT_EQ(host.Wait(), 0);
  for (int i = 0; i < 100 && !std::filesystem::exists(report); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(50));
  auto lines = SplitFields(std::string_view(ReadFile(report)), std::string_view("\n"));
  ASSERT_EQ(lines.size(), 4u) << ReadFile(report);
  EXPECT_NE(lines[0], "fd=0");
  EXPECT_EQ(lines[1].rfind("/memfd:torvo-picture", 0), 0u) << lines[1];
  EXPECT_EQ(lines[2], std::to_string(F_SEAL_SHRINK | F_SEAL_GROW | F_SEAL_WRITE | F_SEAL_SEAL));
  EXPECT_EQ(ReadFile(report.string() + ".png"), png);
}

TEST_F(HostBinary, WithoutAPictureNoDescriptorIsNamedAndABadOneStartsNothing) {
  auto report = folder_ / "report";
  auto tool = PictureReporter(folder_);
  std::vector<std::string> environment{"PATH=/usr/bin:/bin", std::string(kTorvoToolVariable) + "=" + tool.string(),
                                       std::string(kPictureDescriptorVariable) + "=0"};
  {
    HostProcess host(environment);
    host.Send(EncodeFrame(R"({"toolbarId":"u","url":"http://a/","picture":"data:image/png;base64,AAAA"})"));
    host.CloseInput();
    EXPECT_EQ(host.ReadAll(), EncodeFrame(R"({"code":"picture_not_png","message":"The picture is not a PNG file.","ok":false})"));
    EXPECT_EQ(host.Wait(), 0);
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    EXPECT_FALSE(std::filesystem::exists(report)) << "TorvoTool was started with a bad picture";
  }
  HostProcess host(environment);
  host.Send(EncodeFrame(R"({"toolbarId":"u","url":"http://a/"})"));
  host.CloseInput();
  EXPECT_EQ(host.ReadAll(), EncodeFrame(R"({"ok":true})"));
  EXPECT_EQ(host.Wait(), 0);
  for (int i = 0; i < 100 && !std::filesystem::exists(report); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(50));
  EXPECT_EQ(ReadFile(report), "none\n");
  // Nothing of either start is left in the host's folders.
  EXPECT_FALSE(std::filesystem::exists(report.string() + ".png"));
}

TEST_F(HostBinary, SaysWhenTorvoToolIsMissing) {
  HostProcess host({"PATH=" + folder_.string()});
  host.Send(EncodeFrame(R"({"toolbarId":"u","url":"http://a/"})"));
  host.CloseInput();
  EXPECT_EQ(host.ReadAll(),
            EncodeFrame(R"({"code":"not_found","message":"TorvoTool was not found beside torvo-toolbar-host or on PATH.","ok":false})"));
  EXPECT_EQ(host.Wait(), 0);

  HostProcess broken({std::string(kTorvoToolVariable) + "=" + (folder_ / "nothing").string()});
  broken.Send(EncodeFrame(R"({"toolbarId":"u","url":"http://a/"})"));
  broken.CloseInput();
  EXPECT_EQ(broken.ReadAll(),
            EncodeFrame(R"({"code":"start_failed","message":"TorvoTool could not be started: )" +
                        (folder_ / "nothing").string() + R"(: No such file or directory.","ok":false})"));
  EXPECT_EQ(broken.Wait(), 0);
}

TEST_F(HostBinary, FindsTorvoToolOnPath) {
  auto tool = folder_ / "TorvoTool";
  auto report = folder_ / "report";
  {
    std::ofstream script(tool);
    script << "#!/bin/sh\nprintf '%s' \"$1\" > '" << report.string() << "'\n";
  }
  std::filesystem::permissions(tool, std::filesystem::perms::owner_all);
  HostProcess host({"PATH=/nonexistent::" + folder_.string() + ":/usr/bin:/bin"});
  host.Send(EncodeFrame(R"({"toolbarId":"u","url":"http://a/","note":"A"})"));
  host.CloseInput();
  EXPECT_EQ(host.ReadAll(), EncodeFrame(R"({"ok":true})"));
  EXPECT_EQ(host.Wait(), 0);
  for (int i = 0; i < 100 && ReadFile(report).empty(); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(50));
  EXPECT_EQ(ReadFile(report), "u;^;http://a/;^;;^;%41");
}

TEST_F(HostBinary, ABrokenStreamIsAnsweredAndEndsTheHost) {
  HostProcess host({"PATH=" + folder_.string()});
  host.Send(std::string("\x20\x00\x00\x00{\"toolbarId\"", 16));
  host.CloseInput();
  EXPECT_EQ(host.ReadAll(),
            EncodeFrame(R"({"code":"bad_frame","message":"The message was cut short: 12 of 32 bytes arrived.","ok":false})"));
  EXPECT_EQ(host.Wait(), 1);
}

}  // namespace
}  // namespace torvo::toolbar
