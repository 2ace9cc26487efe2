// From process start to the window shown (the window manager maps its frame), for TorvoTool with
// a four-field command line and for a minimal Qt window, in the same run. Needs a display with a
// window manager and, for TorvoTool, a running torvo-service on the build's port;
// run_upload_bench.sh sets all of this up with a 1920 x 1080 window in front.
//   TORVO_BENCH_TOOL     TorvoTool
//   TORVO_BENCH_MINIMAL  minimal_window
//   TORVO_BENCH_FORM     form_window (TorvoTool's window and libraries without its work)
//   TORVO_BENCH_LINE     the command line (default: bench;^;http://example.com/;^;Title;^;note)
//   TORVO_BENCH_HOST     torvo-toolbar-host: from the host receiving the extension's message to
//                        TorvoTool's window shown, without a picture and with
//   TORVO_BENCH_PICTURE  the PNG that goes along as the browser's picture of the page
//   TORVO_BENCH_PHOTO    another, a photograph over the whole view (PNG's worst case)
#include <benchmark/benchmark.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <xcb/xcb.h>

#include <dirent.h>
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

extern char** environ;

namespace {

std::string Env(const char* name, const char* fallback) {
  const char* value = std::getenv(name);
  return value && *value ? value : fallback;
}

// Ends every running copy of the program (by its executable): TorvoTool started through the host
// is nobody's child here, and one copy at a time may run.
void EndCopiesOf(const std::string& program) {
  char wanted[4096];
  if (!realpath(program.c_str(), wanted)) return;
  DIR* proc = opendir("/proc");
  if (!proc) return;
  std::vector<pid_t> found;
  while (dirent* entry = readdir(proc)) {
    char link[sizeof "/proc//exe" + sizeof entry->d_name], exe[4096];
    std::snprintf(link, sizeof link, "/proc/%s/exe", entry->d_name);
    ssize_t n = readlink(link, exe, sizeof exe - 1);
    if (n <= 0) continue;
    exe[n] = 0;
    if (std::strcmp(exe, wanted) == 0) found.push_back(static_cast<pid_t>(std::atoi(entry->d_name)));
  }
  closedir(proc);
  for (pid_t pid : found) kill(pid, SIGTERM);
  // Gone, lock and all, before the next start.
  for (int i = 0; i < 200; ++i) {
    bool alive = false;
    for (pid_t pid : found) alive |= kill(pid, 0) == 0;
    if (!alive) break;
    struct timespec pause = {0, 10000000};
    nanosleep(&pause, nullptr);
  }
}

std::string Base64(const std::string& bytes) {
  static const char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string text;
  text.reserve((bytes.size() + 2) / 3 * 4);
  size_t i = 0;
  for (; i + 3 <= bytes.size(); i += 3) {
    uint32_t v = uint32_t(uint8_t(bytes[i])) << 16 | uint32_t(uint8_t(bytes[i + 1])) << 8 | uint8_t(bytes[i + 2]);
    text += {kAlphabet[v >> 18], kAlphabet[(v >> 12) & 63], kAlphabet[(v >> 6) & 63], kAlphabet[v & 63]};
  }
  if (size_t rest = bytes.size() - i) {
    uint32_t v = uint32_t(uint8_t(bytes[i])) << 16 | (rest == 2 ? uint32_t(uint8_t(bytes[i + 1])) << 8 : 0);
    text += {kAlphabet[v >> 18], kAlphabet[(v >> 12) & 63], rest == 2 ? kAlphabet[(v >> 6) & 63] : '=', '='};
  }
  return text;
}

// Watches the root window for the next window mapped on it (a frame of the window manager's).
struct MapWatch {
  xcb_connection_t* c = nullptr;
  MapWatch() {
    int screenNumber = 0;
    c = xcb_connect(nullptr, &screenNumber);
    if (xcb_connection_has_error(c)) return;
    xcb_screen_t* screen = xcb_setup_roots_iterator(xcb_get_setup(c)).data;
    const uint32_t mask = XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY;
    xcb_change_window_attributes(c, screen->root, XCB_CW_EVENT_MASK, &mask);
    std::free(xcb_get_input_focus_reply(c, xcb_get_input_focus(c), nullptr));
  }
  ~MapWatch() { xcb_disconnect(c); }
  // Seconds from start to the next window mapped, or -1 when none came within 20 s.
  double Wait(std::chrono::steady_clock::time_point start) {
    const auto deadline = start + std::chrono::seconds(20);
    while (std::chrono::steady_clock::now() < deadline) {
      xcb_generic_event_t* e = xcb_poll_for_event(c);
      if (!e) {
        if (xcb_connection_has_error(c)) return -1;
        struct timespec pause = {0, 200000};
        nanosleep(&pause, nullptr);
        continue;
      }
      const bool mapped = (e->response_type & 0x7F) == XCB_MAP_NOTIFY;
      std::free(e);
      if (mapped) return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    }
    return -1;
  }
};

// The host already running and waiting, as the browser starts it: seconds from writing the
// extension's message to its input until TorvoTool's window is mapped, or -1.
double HostToWindow(const std::string& host, const std::string& tool, const std::string& message) {
  int input[2];
  if (pipe2(input, O_CLOEXEC) != 0) return -1;
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, input[0], STDIN_FILENO);
  posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
  std::string toolVariable = "TORVO_TOOLBAR_TORVOTOOL=" + tool;
  std::vector<char*> env;
  for (char** e = environ; *e; ++e) env.push_back(*e);
  env.push_back(toolVariable.data());
  env.push_back(nullptr);
  char* argv[] = {const_cast<char*>(host.c_str()), nullptr};
  pid_t pid;
  const bool started = posix_spawn(&pid, host.c_str(), &actions, nullptr, argv, env.data()) == 0;
  posix_spawn_file_actions_destroy(&actions);
  close(input[0]);
  if (!started) {
    close(input[1]);
    return -1;
  }
  MapWatch watch;
  uint32_t length = static_cast<uint32_t>(message.size());
  std::string frame(reinterpret_cast<const char*>(&length), 4);
  frame += message;
  const auto start = std::chrono::steady_clock::now();
  bool written = true;
  for (size_t at = 0; at < frame.size() && written;) {
    ssize_t n = write(input[1], frame.data() + at, frame.size() - at);
    written = n > 0;
    at += n > 0 ? size_t(n) : 0;
  }
  const double seconds = written ? watch.Wait(start) : -1;
  close(input[1]);
  waitpid(pid, nullptr, 0);
  EndCopiesOf(tool);
  return seconds;
}

// Seconds from spawning the program to the first window mapped on the root (its frame), or a
// negative number when it showed none within 20 s.
double TimeToWindow(const std::vector<std::string>& argv) {
  int screenNumber = 0;
  xcb_connection_t* c = xcb_connect(nullptr, &screenNumber);
  if (xcb_connection_has_error(c)) return -1;
  xcb_screen_t* screen = xcb_setup_roots_iterator(xcb_get_setup(c)).data;
  const uint32_t mask = XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY;
  xcb_change_window_attributes(c, screen->root, XCB_CW_EVENT_MASK, &mask);
  std::free(xcb_get_input_focus_reply(c, xcb_get_input_focus(c), nullptr));

  std::vector<char*> args;
  for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);
  const auto start = std::chrono::steady_clock::now();
  pid_t pid;
  if (posix_spawn(&pid, args[0], nullptr, nullptr, args.data(), environ) != 0) {
    xcb_disconnect(c);
    return -1;
  }
  double seconds = -1;
  const auto deadline = start + std::chrono::seconds(20);
  while (std::chrono::steady_clock::now() < deadline) {
    xcb_generic_event_t* e = xcb_poll_for_event(c);
    if (!e) {
      if (xcb_connection_has_error(c)) break;
      struct timespec pause = {0, 200000};
      nanosleep(&pause, nullptr);
      continue;
    }
    const bool mapped = (e->response_type & 0x7F) == XCB_MAP_NOTIFY;
    std::free(e);
    if (mapped) {
      seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
      break;
    }
  }
  kill(pid, SIGTERM);
  waitpid(pid, nullptr, 0);
  xcb_disconnect(c);
  return seconds;
}

double MedianMs(std::vector<double> seconds) {
  std::sort(seconds.begin(), seconds.end());
  return seconds.empty() ? 0 : seconds[seconds.size() / 2] * 1000;
}

void Run(benchmark::State& state, const std::vector<std::string>& argv) {
  std::vector<double> times;
  for (auto _ : state) {
    double seconds = TimeToWindow(argv);
    if (seconds < 0) {
      state.SkipWithError(("no window from " + argv[0]).c_str());
      break;
    }
    state.SetIterationTime(seconds);
    times.push_back(seconds);
  }
  state.counters["median_ms"] = MedianMs(times);
}

std::vector<std::string> ToolCommand() {
  return {Env("TORVO_BENCH_TOOL", "TorvoTool"), Env("TORVO_BENCH_LINE", "bench;^;http://example.com/;^;Title;^;note")};
}

void TorvoToolStartUp(benchmark::State& state) { Run(state, ToolCommand()); }
BENCHMARK(TorvoToolStartUp)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(20);

// TorvoTool and its window alone started in turn, so that a change in the machine's load during
// the run falls on both: the blocks of twenty above can each meet a different machine.
void TorvoToolInTurnWithFormWindow(benchmark::State& state) {
  const std::vector<std::string> form = {Env("TORVO_BENCH_FORM", "form_window")};
  std::vector<double> toolTimes, formTimes;
  for (auto _ : state) {
    const double tool = TimeToWindow(ToolCommand());
    const double alone = TimeToWindow(form);
    if (tool < 0 || alone < 0) {
      state.SkipWithError("no window from TorvoTool or from form_window");
      break;
    }
    state.SetIterationTime(tool);
    toolTimes.push_back(tool);
    formTimes.push_back(alone);
  }
  state.counters["median_ms"] = MedianMs(toolTimes);
  state.counters["form_median_ms"] = MedianMs(formTimes);
}
BENCHMARK(TorvoToolInTurnWithFormWindow)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(20);

void MinimalQtWindowStartUp(benchmark::State& state) {
  Run(state, {Env("TORVO_BENCH_MINIMAL", "minimal_window")});
}
BENCHMARK(MinimalQtWindowStartUp)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(20);

void MinimalQtWindowWithTextStartUp(benchmark::State& state) {
  Run(state, {Env("TORVO_BENCH_MINIMAL", "minimal_window"), "--text"});
}
BENCHMARK(MinimalQtWindowWithTextStartUp)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(20);

void FormWindowStartUp(benchmark::State& state) {
  Run(state, {Env("TORVO_BENCH_FORM", "form_window")});
}
BENCHMARK(FormWindowStartUp)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(20);

void HostMessage(benchmark::State& state, const char* pictureVariable) {
  const std::string host = Env("TORVO_BENCH_HOST", "");
  if (host.empty()) {
    state.SkipWithError("TORVO_BENCH_HOST is not set");
    return;
  }
  std::string message = R"({"toolbarId":"bench","url":"http://example.com/","title":"Title","note":"note")";
  if (pictureVariable) {
    std::ifstream in(Env(pictureVariable, ""), std::ios::binary);
    std::string png((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (png.empty()) {
      state.SkipWithError((std::string(pictureVariable) + " names no PNG").c_str());
      return;
    }
    message += R"(,"picture":"data:image/png;base64,)" + Base64(png) + "\"";
    state.counters["picture_bytes"] = static_cast<double>(png.size());
  }
  message += "}";
  const std::string tool = Env("TORVO_BENCH_TOOL", "TorvoTool");
  EndCopiesOf(tool);
  std::vector<double> times;
  for (auto _ : state) {
    double seconds = HostToWindow(host, tool, message);
    if (seconds < 0) {
      state.SkipWithError("no window from TorvoTool started by the host");
      break;
    }
    state.SetIterationTime(seconds);
    times.push_back(seconds);
  }
  // On a shared machine one start held up by others' work moves the mean far: the median too.
  if (!times.empty()) state.counters["median_ms"] = MedianMs(times);
}
void HostMessageToWindow(benchmark::State& state) { HostMessage(state, nullptr); }
void HostMessageWithPictureToWindow(benchmark::State& state) { HostMessage(state, "TORVO_BENCH_PICTURE"); }
void HostMessageWithPhotoToWindow(benchmark::State& state) { HostMessage(state, "TORVO_BENCH_PHOTO"); }
BENCHMARK(HostMessageToWindow)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(20);
BENCHMARK(HostMessageWithPictureToWindow)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(20);
BENCHMARK(HostMessageWithPhotoToWindow)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(10);

}  // namespace

BENCHMARK_MAIN();
