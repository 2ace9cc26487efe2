// The save button: one upload of the thumbnail with the fields the user sees, on a connection
// of its own, and the reply that ends the program.
#include <QCheckBox>
#include <QComboBox>
#include <QCoreApplication>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTimer>

#include "imaging/cPalette.h"
#include "platform/codepage.h"
#include "platform/desktop/tcp_client.h"
#include "platform/error.h"
#include "upload/app/FormUpload.h"
#include "upload/upload_request.h"

#ifndef TORVO_UPLOAD_PORT
#error "TORVO_UPLOAD_PORT must name the upload hosts' port"
#endif

namespace torvo::upload {

namespace {

std::u16string U16(const QString& text) { return text.toStdU16String(); }

}  // namespace

void FormUpload::WireUpload() {
  RemotePort = TORVO_UPLOAD_PORT;
  Winsock1 = new desktop::TcpClient(this);
  Winsock1->Connected = [this] { Winsock1_Connect(); };
  Winsock1->DataArrival = [this](int64_t bytesTotal) { Winsock1_DataArrival(bytesTotal); };
  Winsock1->Closed = [this] { Winsock1_Closed(); };
  Winsock1->Failed = [this](const std::string& text) { Winsock1_Failed(text); };
  replyTimer_ = new QTimer(this);
  replyTimer_->setSingleShot(true);
  connect(replyTimer_, &QTimer::timeout, this, [this] { ReplyTimeUp(); });
  connect(Command1, &QPushButton::clicked, this, [this] { Command1_Click(); });
}

void FormUpload::Command1_Click() {
  if (unloading_ || uploadState_ != UploadState::kIdle) return;
  // 1. Any earlier connection ends.
  Winsock1->Close();
  ++uploadAttempt_;
  // The thumbnail is read before anything goes out: a missing, unreadable or empty file is told
  // and nothing is sent.
  try {
    thumbnailBytes_ = ReadThumbnail(OutputDir);
  } catch (const TorvoError& e) {
    Tell(FromUtf8(e.description()));
    return;
  }
  // One upload at a time: a second press while this one runs would store the image twice.
  Command1->setEnabled(false);
  uploadState_ = UploadState::kConnecting;
  reply_ = UploadReplyReader();
  replyTimer_->start(ReplyTimeMs);
  // 2.-3.
  Winsock1->Connect(ToUtf8(strTargetUrl), RemotePort);
}

int32_t FormUpload::SelectedFolder() const {
  const int index = Combo_folder->currentIndex();
  // Nothing chosen from the list (or a name typed into the box): the default folder.
  if (index < 0 || (Combo_folder->isEditable() && Combo_folder->currentText() != Combo_folder->itemText(index)))
    return 0;
  return Combo_folder->itemData(index).toInt();
}

void FormUpload::Winsock1_Connect() {
  if (unloading_ || uploadState_ != UploadState::kConnecting) return;
  uploadState_ = UploadState::kSending;
  const uint64_t attempt = uploadAttempt_;
  // Events run in between: the reply may end the form, or the attempt may end, meanwhile.
  auto LetEventsRun = [&] {
    QCoreApplication::processEvents();
    return !unloading_ && attempt == uploadAttempt_;
  };
  UploadFields fields;
  fields.strTargetUrl = strTargetUrl;
  fields.ToolbarID = ToolbarID;
  // 2.
  fields.isPrivate = Check_secu->isChecked();
  // 3.
  fields.note = U16(Text_Note->toPlainText());
  if (!LetEventsRun()) return;
  // 4.
  fields.url = U16(Text_URL->text());
  fields.title = U16(Text_Title->text());
  fields.folder = SelectedFolder();
  // 5.-8.
  const std::string bytes = std::move(thumbnailBytes_);
  thumbnailBytes_.clear();
  const UploadRequest request = MakeUploadRequest(fields, bytes.size());
  // 9.
  Winsock1->SendData(request.head);
  if (!LetEventsRun()) return;
  // 10.
  Winsock1->SendData(bytes);
  if (!LetEventsRun()) return;
  // 11.
  Winsock1->SendData(request.tail);
  if (!LetEventsRun()) return;
  if (uploadState_ == UploadState::kSending) uploadState_ = UploadState::kWaiting;
}

void FormUpload::Winsock1_DataArrival(int64_t bytesTotal) {
  if (unloading_ || uploadState_ == UploadState::kIdle) return;
  const std::string piece = bytesTotal > 0 ? Winsock1->GetData() : std::string();
  if (std::optional<UploadVerdict> verdict = reply_.Add(piece)) ReplyDecided(*verdict);
}

void FormUpload::Winsock1_Closed() {
  if (unloading_ || uploadState_ == UploadState::kIdle) return;
  if (reply_.Started()) return ReplyDecided(reply_.Finish());
  UploadFailed(u"업로드 서버가 응답 없이 연결을 끊었습니다. 잠시 후 다시 저장해 주세요.");
}

void FormUpload::Winsock1_Failed(const std::string& text) {
  if (unloading_ || uploadState_ == UploadState::kIdle) return;
  if (reply_.Started()) return ReplyDecided(reply_.Finish());
  const std::u16string where = strTargetUrl + u":" + FromUtf8(std::to_string(RemotePort));
  if (uploadState_ == UploadState::kConnecting) {
    UploadFailed(u"업로드 서버(" + where + u")에 연결할 수 없습니다: " + FromUtf8(text) +
                 u"\n잠시 후 다시 저장해 주세요.");
  } else {
    UploadFailed(u"업로드 중에 연결이 끊어졌습니다(" + where + u"): " + FromUtf8(text) +
                 u"\n잠시 후 다시 저장해 주세요.");
  }
}

void FormUpload::ReplyTimeUp() {
  if (unloading_ || uploadState_ == UploadState::kIdle) return;
  auto Seconds = [this] { return FromUtf8(std::to_string((ReplyTimeMs + 999) / 1000)); };
  if (reply_.Started()) return ReplyDecided(reply_.Finish());
  if (uploadState_ == UploadState::kConnecting) {
    UploadFailed(u"업로드 서버(" + strTargetUrl + u")에 " + Seconds() + u"초 안에 연결되지 않았습니다. 잠시 후 다시 저장해 주세요.");
  } else {
    UploadFailed(u"업로드 서버가 " + Seconds() + u"초 안에 응답하지 않았습니다. 잠시 후 다시 저장해 주세요.");
  }
}

void FormUpload::UploadFailed(const std::u16string& message) {
  // The window stays and the save button works again.
  Winsock1->Close();
  replyTimer_->stop();
  uploadState_ = UploadState::kIdle;
  ++uploadAttempt_;
  Command1->setEnabled(true);
  Tell(message);
  Command1->setFocus();
}

void FormUpload::ReplyDecided(const UploadVerdict& verdict) {
  Winsock1->Close();
  replyTimer_->stop();
  uploadState_ = UploadState::kIdle;
  ++uploadAttempt_;
  // Nothing else of the form runs from here on, also not a handler the message box interrupts.
  unloading_ = true;
  int status = 1;
  switch (verdict.kind) {
    case UploadVerdict::Kind::kSignedOut:
      Tell(kSignedOutReplyMessage);
      break;
    case UploadVerdict::Kind::kNotStored:
      Tell(kNotStoredMessage);
      break;
    case UploadVerdict::Kind::kStored:
      try {
        KeepThumbnail(OutputDir, verdict.name);
        status = 0;
      } catch (const TorvoError& e) {
        Tell(FromUtf8(e.description()));
      }
      break;
  }
  hide();
  Form_Unload();
  if (Ended) Ended(status);
}

void FormUpload::ApplyPalette(const std::filesystem::path& sPalFile) {
  cPalette palette;
  palette.LoadFromFile(sPalFile);
  thumbnail->cProcessor->ApplyPalette(thumbnail->cDibImage, thumbnail->cDibBuffer, palette);
  Render();
}

}  // namespace torvo::upload
