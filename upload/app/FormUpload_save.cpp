// The save button: the widgets on one side, the upload session on the other.
#include <QPushButton>

#include "imaging/cPalette.h"
#include "upload/app/FormUpload.h"
#include "upload/app/FormUpload_glue.h"

#ifndef TORVO_UPLOAD_PORT
#error "TORVO_UPLOAD_PORT must name the upload hosts' port"
#endif

namespace torvo::upload {

FormUpload::~FormUpload() = default;

void FormUpload::StartSession(const Preparation& prepared) {
  UploadSessionSetup setup;
  setup.OutputDir = prepared.OutputDir;
  setup.strTargetUrl = prepared.folders.target;
  setup.ToolbarID = prepared.ToolbarID;
  setup.RemotePort = uploadPort_;
  setup.ReplyTimeMs = replyTimeMs_;
  if (prepared.service) {
    // The user's own service: uploads on its scheme and port, under its folder.
    setup.scheme = prepared.service->scheme;
    setup.RemotePort = prepared.service->port;
    setup.namePort = !prepared.service->DefaultPort();
    setup.path = prepared.service->path;
    setup.trustedPem = prepared.trustedPem;
  }
  glue_ = std::make_unique<SessionGlue>(*this);
  session_ = std::make_unique<UploadSession>(std::move(setup), *glue_, glue_->Winsock1, glue_->replyTimer, *glue_,
                                             glue_->pending);
}

void FormUpload::WireUpload() {
  uploadPort_ = TORVO_UPLOAD_PORT;
  connect(Command1, &QPushButton::clicked, this, [this] { Command1_Click(); });
}

void FormUpload::Command1_Click() {
  if (session_) session_->Save();
}

void FormUpload::SetUploadPort(uint16_t port) {
  uploadPort_ = port;
  if (session_) session_->SetRemotePort(port);
}

void FormUpload::SetReplyTimeMs(int ms) {
  replyTimeMs_ = ms;
  if (session_) session_->SetReplyTimeMs(ms);
}

void FormUpload::ApplyPalette(const std::filesystem::path& sPalFile) {
  cPalette palette;
  palette.LoadFromFile(sPalFile);
  thumbnail_->cProcessor->ApplyPalette(thumbnail_->cDibImage, thumbnail_->cDibBuffer, palette);
  Render();
}

}  // namespace torvo::upload
