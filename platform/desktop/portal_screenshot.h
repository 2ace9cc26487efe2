#pragma once
// A picture of the screen from the desktop portal (org.freedesktop.portal.Screenshot on the
// session bus): on Wayland the one way a program may see what other programs show.
#include <chrono>
#include <filesystem>
#include <string>

namespace torvo::desktop {

struct PortalScreenshot {
  enum class Outcome {
    kTaken,     // file holds the picture the portal wrote
    kNoPortal,  // no session bus, or nothing on it answers for screenshots
    kRefused,   // the portal (or the user, in its dialog) said no
    kFailed,    // the portal broke off, gave no file, or did not answer in time
  };
  Outcome outcome = Outcome::kNoPortal;
  std::filesystem::path file;
  std::string detail;  // what the bus or the portal said, for the message
};

// Asks for a picture of the whole screen without the portal's own dialog (the portal may still
// ask the user once for permission), and waits for its answer at most `timeout`. Runs an event
// loop of its own, so it may be called from any thread.
PortalScreenshot TakePortalScreenshot(std::chrono::milliseconds timeout);

}  // namespace torvo::desktop
