// TorvoTool on Windows: started by the browser toolbar once per page to keep, with the command
// line identity ";^;" address ";^;" title ";^;" percent-encoded note.
#include <windows.h>

#include <future>
#include <memory>
#include <string>
#include <string_view>
#include <utility>

#include "platform/codepage.h"
#include "platform/command_line.h"
#include "platform/error.h"
#include "platform/http.h"
#include "platform/picture_handover.h"
#include "platform/service_connection.h"
#include "platform/win32/gdi_capture_provider.h"
#include "platform/win32/single_instance.h"
#include "platform/win32/window.h"
#include "upload/browser_picture_capture.h"
#include "upload/start_up.h"
#include "upload/win32/FormUploadWindow.h"

#ifndef TORVO_SERVICE_HOST
#error "TORVO_SERVICE_HOST must name the service's host[:port] (empty: none, a connection is needed)"
#endif

namespace {

// A Windows build has no service of its own to fall back on: without the user's connection the
// tool says how to make one.
constexpr char16_t kNotConnectedMessage[] =
    u"Torvo 서비스에 연결되어 있지 않습니다 (not connected).\n"
    u"명령 프롬프트에서 한 번 연결하세요: torvo-connect.exe 서비스주소 사용자이름\n"
    u"(예: torvo-connect.exe https://torvo.example.org/ alice)";

torvo::upload::StartUpServices Win32StartUpServices(torvo::ConnectionFile connection) {
  torvo::upload::StartUpServices services;
  services.MakeSingleInstanceLock = [] { return std::make_unique<torvo::win32::SingleInstance>(torvo::ProgramName()); };
  services.MakeHttpGetter = [](const torvo::HttpTimeouts& timeouts) {
    return std::make_unique<torvo::HttpClient>(timeouts);
  };
  services.serviceHost = TORVO_SERVICE_HOST;
  services.connection = std::move(connection);
  return services;
}

}  // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
  // The command line is what follows the program's own token, as the toolbar wrote it.
  const std::u16string commandLine = torvo::AfterProgramToken(torvo::win32::Narrow(GetCommandLineW()));
  torvo::ConnectionFile connection = torvo::ReadConnection(torvo::ConnectionFilePath());
  if (connection.state == torvo::ConnectionFile::State::kAbsent && std::string_view(TORVO_SERVICE_HOST).empty()) {
    torvo::upload::Tell(kNotConnectedMessage);
    return 1;
  }

  // The picture the thumbnail is made from: the browser's own picture of the page when the
  // toolbar's host handed one over, else the window in front, through GDI. Taking the picture
  // changes the environment, so it comes before any other thread starts.
  torvo::HandedOverPicture picture = torvo::TakeHandedOverPicture();
  std::unique_ptr<torvo::CaptureProvider> capture;
  if (picture.handedOver) {
    auto browserPicture = std::make_unique<torvo::upload::BrowserPictureCaptureProvider>(std::move(picture));
    // Decoded on the second core while the window is made on this one; the start-up takes it
    // after the folder list, as it would take a capture.
    browserPicture->StartDecoding();
    capture = std::move(browserPicture);
  } else {
    capture = std::make_unique<torvo::win32::GdiCaptureProvider>();
  }

  // The start-up's own work (folder list, capture, thumbnail) touches no window: it runs while
  // the window and its controls are made here, and the window waits for it before it is shown.
  std::future<torvo::upload::Preparation> preparing = std::async(std::launch::async, [&] {
    return torvo::upload::PrepareStartUp(commandLine, *capture, Win32StartUpServices(std::move(connection)));
  });
  torvo::upload::FormUploadWindow form;
  if (!torvo::upload::LoadForm(form, preparing, torvo::upload::Tell)) return 1;
  form.ShowWithoutFocus();
  // The upload's reply unloads the form and ends the program with its status.
  return torvo::win32::RunMessageLoop(form.hwnd());
}
