#include "upload/start_up.h"

#include "platform/workfolder.h"
#include "upload/ScreenCapMain.h"
#include "upload/codecs.h"
#include "upload/command_line.h"

namespace torvo::upload {

Preparation::Preparation() = default;
Preparation::~Preparation() = default;
Preparation::Preparation(Preparation&&) noexcept = default;
Preparation& Preparation::operator=(Preparation&&) noexcept = default;

Preparation PrepareStartUp(const std::u16string& commandLine, CaptureProvider& capture,
                           const StartUpServices& services) {
  Preparation p;
  auto Stopped = [&p](std::u16string message) {
    p.stopped = true;
    p.message = std::move(message);
    return std::move(p);
  };
  // 1. One copy at a time.
  p.instance = services.MakeSingleInstanceLock();
  if (!p.instance->Acquire()) return Stopped(kSecondCopyMessage);

  // 2.-7. The toolbar's fields.
  CommandLineFields fields = SplitCommandLine(commandLine);
  p.ToolbarID = fields.toolbarId;
  p.txtURL = fields.url;
  if (!IsHttpAddress(p.txtURL)) return Stopped(kNotHttpMessage);
  p.txtTitle = fields.title;
  if (fields.encodedNote) p.txtNote = DecodeNote(*fields.encodedNote);

  // 8. Signed in? Which host takes the upload, which folders are there?
  p.Inet1 = services.MakeHttpGetter(kFolderListTimeouts);
  if (services.connection.state == ConnectionFile::State::kBroken) {
    return Stopped(kBrokenConnectionMessage + FromUtf8(services.connection.problem));
  }
  if (services.connection.state == ConnectionFile::State::kRead) {
    const ServiceConnection& connection = services.connection.connection;
    std::string problem;
    const std::optional<std::string> pem = ReadCertificatePem(connection, &problem);
    if (!pem) return Stopped(kBrokenConnectionMessage + FromUtf8(problem));
    p.service = connection.service;
    p.trustedPem = *pem;
    // The toolbar's identity comes first, as for the build's service; the connection's otherwise.
    if (p.ToolbarID.empty()) p.ToolbarID = FromUtf8(connection.identity);
    p.Inet1->SetExtraTrustedCertificates(p.trustedPem);
    p.folders = QueryFoldersAt(*p.Inet1, connection.service.Url(), connection.service.Authority(), p.ToolbarID);
  } else {
    p.folders = QueryFolders(*p.Inet1, services.serviceHost, p.ToolbarID);
  }
  if (p.folders.kind != FolderReply::Kind::kFolders) return Stopped(p.folders.message);

  // 9. The window in front when the reply has come; ours is not shown yet.
  ScreenCapMain::CaptureInWorkFolder captured = ScreenCapMain::StartCaptureToWorkFolder(capture);

  // 10. The thumbnail and "img.png", made from the capture's pixels while "img1.bmp" is written.
  p.OutputDir = WorkFolder();
  p.picImage = std::make_unique<Canvas>();
  p.thumbnail = std::make_unique<ThumbnailState>();
  MakeThumbnail(p.OutputDir, *p.picImage, *p.thumbnail, captured);
  return p;
}

}  // namespace torvo::upload
