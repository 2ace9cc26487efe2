#pragma once
// The start-up on the Qt desktop: PrepareStartUp with its lock file and HTTP client, on a thread
// of its own while the toolkit starts.
#include <future>
#include <string>

#include "platform/capture_provider.h"
#include "upload/start_up.h"

namespace torvo::upload {

// The lock file, the HTTP client (Qt Network's, which waits for applicationReady) and the build's
// service host.
StartUpServices QtStartUpServices(std::shared_future<void> applicationReady);

// Runs PrepareStartUp on a thread of its own, while the toolkit starts on this one. The preparation
// uses Qt (the lock file, and any warning Qt prints), and Qt takes the first thread that uses it for
// its main thread, the one whose event loop the window's events wake: this thread is made that
// thread before the other starts, or the window could stay unpainted and deaf to clicks. The
// folder list's GET waits for applicationReady (Qt Network needs the application object); the
// caller makes it ready once the application exists, or abandons it, ending the preparation with
// a failed folder list. capture must outlive the future.
std::future<Preparation> StartPreparation(std::u16string commandLine, CaptureProvider& capture,
                                          std::shared_future<void> applicationReady);

}  // namespace torvo::upload
