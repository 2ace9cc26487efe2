#pragma once
// The start-up's work up to the thumbnail, in the order the window's load relies on: one copy
// at a time, the toolbar's fields, the folder list, the capture of the window in front and the
// thumbnail pipeline. It touches no widget, so it may run while the desktop's toolkit starts;
// the window then fills its controls from the result (or shows the message of an early stop).
#include <exception>
#include <filesystem>
#include <functional>
#include <future>
#include <memory>
#include <optional>
#include <string>

#include "platform/capture_provider.h"
#include "platform/codepage.h"
#include "platform/error.h"
#include "platform/http.h"
#include "platform/service_connection.h"
#include "platform/single_instance.h"
#include "upload/canvas.h"
#include "upload/folder_list.h"
#include "upload/thumbnail_pipeline.h"

namespace torvo::upload {

// The folder list may take this long: the window waits for it before it is first shown.
inline constexpr HttpTimeouts kFolderListTimeouts{5000, 15000, 10000};

// What the start-up asks of the desktop it runs on. Both are made when the preparation runs (on
// its thread), so a desktop whose lock or client has thread rules keeps them there.
struct StartUpServices {
  std::function<std::unique_ptr<SingleInstanceLock>()> MakeSingleInstanceLock;
  std::function<std::unique_ptr<HttpGetter>(const HttpTimeouts&)> MakeHttpGetter;
  std::string serviceHost;  // host[:port] that answers the folder list
  // The user's own connection; absent: the build's fixed service above.
  ConnectionFile connection;
};

struct Preparation {
  Preparation();
  ~Preparation();
  Preparation(Preparation&&) noexcept;
  Preparation& operator=(Preparation&&) noexcept;

  bool stopped = false;       // an early stop: message says why; nothing later ran
  std::u16string message;

  std::unique_ptr<SingleInstanceLock> instance;  // held for the program's life
  std::u16string ToolbarID;
  std::u16string txtURL;
  std::u16string txtTitle;
  std::u16string txtNote;
  std::unique_ptr<HttpGetter> Inet1;
  FolderReply folders;  // target and folders of the reply
  std::optional<ServiceAddress> service;  // the connection's service, when there is one
  std::string trustedPem;                 // its extra certificate
  std::filesystem::path OutputDir;
  std::unique_ptr<Canvas> picImage;  // the canvas the pipeline drew and saved the thumbnail on
  std::unique_ptr<ThumbnailState> thumbnail;
};

inline constexpr char16_t kBrokenConnectionMessage[] = u"서비스 연결 설정을 쓸 수 없습니다: ";
inline constexpr char16_t kNotHttpMessage[] = u"Http web page만 등록 됩니다.";

// Steps 1 to 10 of the start-up; step 9 asks capture for the picture in front. An early stop
// (second copy, not an HTTP page, signed out, no usable folder list) comes back as stopped with
// its message; an undecodable note or a failed capture or pipeline raises its TorvoError.
Preparation PrepareStartUp(const std::u16string& commandLine, CaptureProvider& capture,
                           const StartUpServices& services);

// The window's load from the preparation running beside it: true when the window is to be shown.
// A failure of the preparation or the load is told through tell (the desktop's message box) and
// ends the program, as an early stop does.
template <class Form, class TellFunction>
bool LoadForm(Form& form, std::future<Preparation>& preparing, TellFunction tell) {
  try {
    return form.Form_Load(preparing.get());
  } catch (const TorvoError& e) {
    tell(FromUtf8(e.description()));
  } catch (const std::exception& e) {
    tell(FromUtf8(e.what()));
  }
  return false;
}

}  // namespace torvo::upload
