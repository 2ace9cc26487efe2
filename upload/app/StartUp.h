#pragma once
// The start-up's work up to the thumbnail, in the order the window's load relies on: one copy
// at a time, the toolbar's fields, the folder list, the capture of the window in front and the
// thumbnail pipeline. It touches no widget, so it runs while the toolkit starts; the window then
// fills its controls from the result (or shows the message of an early stop).
#include <filesystem>
#include <future>
#include <memory>
#include <string>

#include "platform/capture_provider.h"
#include "upload/canvas.h"
#include "upload/folder_list.h"
#include "upload/thumbnail_pipeline.h"

namespace torvo {
class HttpClient;
namespace desktop {
class SingleInstance;
}
}  // namespace torvo

namespace torvo::upload {

struct Preparation {
  Preparation();
  ~Preparation();
  Preparation(Preparation&&) noexcept;
  Preparation& operator=(Preparation&&) noexcept;

  bool stopped = false;       // an early stop: message says why; nothing later ran
  std::u16string message;

  std::unique_ptr<desktop::SingleInstance> instance;  // held for the program's life
  std::u16string ToolbarID;
  std::u16string txtURL;
  std::u16string txtTitle;
  std::u16string txtNote;
  std::unique_ptr<HttpClient> Inet1;
  FolderReply folders;  // target and folders of the reply
  std::filesystem::path OutputDir;
  std::unique_ptr<Canvas> picImage;  // the canvas the pipeline drew and saved the thumbnail on
  std::unique_ptr<ThumbnailState> thumbnail;
};

// Steps 1 to 10 of the start-up; step 9 asks capture for the picture in front. An early stop
// (second copy, not an HTTP page, signed out, no usable folder list) comes back as stopped with
// its message; an undecodable note or a failed capture or pipeline raises its TorvoError.
Preparation PrepareStartUp(const std::u16string& commandLine, CaptureProvider& capture);

// Runs PrepareStartUp on a thread of its own, while the toolkit starts on this one. The preparation
// uses Qt (the lock file, and any warning Qt prints), and Qt takes the first thread that uses it for
// its main thread, the one whose event loop the window's events wake: this thread is made that
// thread before the other starts, or the window could stay unpainted and deaf to clicks.
// capture must outlive the future.
std::future<Preparation> StartPreparation(std::u16string commandLine, CaptureProvider& capture);

}  // namespace torvo::upload
