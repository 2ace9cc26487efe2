#pragma once
// The start-up on the Qt desktop: PrepareStartUp with its lock file and HTTP client, on a thread
// of its own while the toolkit starts.
#include <future>
#include <string>

#include "platform/capture_provider.h"
#include "upload/start_up.h"

namespace torvo::upload {

// The lock file, the HTTP client and the build's service host.
StartUpServices QtStartUpServices();

// Runs PrepareStartUp on a thread of its own, while the toolkit starts on this one. The preparation
// uses Qt (the lock file, and any warning Qt prints), and Qt takes the first thread that uses it for
// its main thread, the one whose event loop the window's events wake: this thread is made that
// thread before the other starts, or the window could stay unpainted and deaf to clicks.
// capture must outlive the future.
std::future<Preparation> StartPreparation(std::u16string commandLine, CaptureProvider& capture);

}  // namespace torvo::upload
