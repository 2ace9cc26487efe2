// The window's events wake the event loop of Qt's main thread, and Qt takes the first thread that
// uses it for that one. TorvoTool prepares its start-up on a second thread that uses Qt too (the
// lock file, and the warnings Qt prints) and is still busy with the folder list when the toolkit
// starts: however late the toolkit starts, the thread that starts it must be Qt's main thread, or
// the window may stay unpainted and lose every click.
//
// Its own program, run against a listener on the build's loopback service port that takes the
// folder-list request and holds it until the toolkit has started.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QAbstractEventDispatcher>
#include <QApplication>
#include <QThread>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <future>
#include <string>
#include <thread>

#include "platform/fixed_capture_provider.h"
#include "upload/app/StartUp.h"

int main(int, char** argv) {
  namespace fs = std::filesystem;
  const fs::path home = fs::temp_directory_path() / ("torvo-startup-thread-" + std::to_string(getpid()));
  fs::create_directories(home);
  setenv("HOME", home.c_str(), 1);
  setenv("TMPDIR", home.c_str(), 1);
  // No runtime folder, as when a browser starts us: Qt warns about it from the preparing thread.
  unsetenv("XDG_RUNTIME_DIR");
  setenv("QT_QPA_PLATFORM", "offscreen", 0);

  const int listener = socket(AF_INET, SOCK_STREAM, 0);
  const int yes = 1;
  setsockopt(listener, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(static_cast<uint16_t>(std::atoi(TORVO_TEST_SERVICE_PORT)));
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 || listen(listener, 4) != 0) {
    std::perror("FAILED: listening on the service port");
    return 1;
  }

  auto picture = torvo::gdi::Bitmap::Create(4, 3, 24);
  torvo::FixedCaptureProvider capture(*picture);
  std::promise<void> applicationReady;
  std::future<torvo::upload::Preparation> preparing = torvo::upload::StartPreparation(
      u"test;^;http://example.com/;^;Title;^;note", capture, applicationReady.get_future().share());
  // Meanwhile the preparing thread takes the lock (through Qt) and waits to ask for the folders.
  std::this_thread::sleep_for(std::chrono::milliseconds(50));

  int toolkitArgc = 1;
  QApplication app(toolkitArgc, argv);
  applicationReady.set_value();
  // The request arrives once the toolkit is up.
  const int request = accept(listener, nullptr, nullptr);
  int status = 0;
  // The window system's events wake the dispatcher of Qt's main thread: it must be this thread's.
  if (QCoreApplication::eventDispatcher() != QThread::currentThread()->eventDispatcher()) {
    std::fprintf(stderr, "FAILED: the preparing thread became Qt's main thread\n");
    status = 1;
  }
  // No reply: the preparation ends with its message.
  close(request);
  close(listener);
  if (!preparing.get().stopped) {
    std::fprintf(stderr, "FAILED: the preparation went on without a folder list\n");
    status = 1;
  }
  fs::remove_all(home);
  if (status == 0) std::printf("the thread that starts the toolkit is Qt's main thread\n");
  return status;
}
