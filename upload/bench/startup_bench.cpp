// From process start to the window shown (the window manager maps its frame), for TorvoTool with
// a four-field command line and for a minimal Qt window, in the same run. Needs a display with a
// window manager and, for TorvoTool, a running torvo-service on the build's port;
// run_upload_bench.sh sets all of this up with a 1920 x 1080 window in front.
//   TORVO_BENCH_TOOL     TorvoTool
//   TORVO_BENCH_MINIMAL  minimal_window
//   TORVO_BENCH_FORM     form_window (TorvoTool's window and libraries without its work)
//   TORVO_BENCH_LINE     the command line (default: bench;^;http://example.com/;^;Title;^;note)
#include <benchmark/benchmark.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <xcb/xcb.h>

#include <chrono>
#include <cstdlib>
#include <string>
#include <vector>

extern char** environ;

namespace {

std::string Env(const char* name, const char* fallback) {
  const char* value = std::getenv(name);
  return value && *value ? value : fallback;
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

void Run(benchmark::State& state, const std::vector<std::string>& argv) {
  for (auto _ : state) {
    double seconds = TimeToWindow(argv);
    if (seconds < 0) {
      state.SkipWithError(("no window from " + argv[0]).c_str());
      break;
    }
    state.SetIterationTime(seconds);
  }
}

void TorvoToolStartUp(benchmark::State& state) {
  Run(state, {Env("TORVO_BENCH_TOOL", "TorvoTool"),
              Env("TORVO_BENCH_LINE", "bench;^;http://example.com/;^;Title;^;note")});
}
BENCHMARK(TorvoToolStartUp)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(20);

void MinimalQtWindowStartUp(benchmark::State& state) {
  Run(state, {Env("TORVO_BENCH_MINIMAL", "minimal_window")});
}
BENCHMARK(MinimalQtWindowStartUp)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(20);

void FormWindowStartUp(benchmark::State& state) {
  Run(state, {Env("TORVO_BENCH_FORM", "form_window")});
}
BENCHMARK(FormWindowStartUp)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(20);

}  // namespace

BENCHMARK_MAIN();
