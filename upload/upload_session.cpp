#include "upload/upload_session.h"

#include "platform/codepage.h"
#include "platform/error.h"
#include "platform/http.h"
#include "upload/folder_list.h"
#include "upload/thumbnail_pipeline.h"
#include "upload/upload_request.h"

namespace torvo::upload {

UploadSession::UploadSession(UploadSessionSetup setup, UploadFormView& view, TcpConnection& connection,
                             OneShotTimer& timer, MessageSink& messages, PendingEvents& pending)
    : setup_(std::move(setup)),
      view_(view),
      connection_(connection),
      timer_(timer),
      messages_(messages),
      pending_(pending) {
  connection_.Connected = [this] { Connected(); };
  connection_.DataArrival = [this](int64_t bytesTotal) { DataArrival(bytesTotal); };
  connection_.Closed = [this] { Closed(); };
  connection_.Failed = [this](const std::string& text) { ConnectionFailed(text); };
  timer_.Due = [this] { TimeUp(); };
}

void UploadSession::Unload() { unloading_ = true; }

void UploadSession::Save() {
  if (unloading_ || state_ != State::kIdle) return;
  // 1. Any earlier connection ends.
  connection_.Close();
  ++attempt_;
  // The thumbnail is read before anything goes out: a missing, unreadable or empty file is told
  // and nothing is sent.
  try {
    thumbnailBytes_ = ReadThumbnail(setup_.OutputDir);
  } catch (const TorvoError& e) {
    messages_.Tell(FromUtf8(e.description()));
    return;
  }
  // One upload at a time: a second press while this one runs would store the image twice.
  view_.SetSaveEnabled(false);
  state_ = State::kConnecting;
  reply_ = UploadReplyReader();
  // The limit starts before the connection, so a connection that fails at once is told once.
  timer_.Start(setup_.ReplyTimeMs);
  // 2.-3.
  if (setup_.scheme == "https") {
    connection_.ConnectTls(ToUtf8(setup_.strTargetUrl), setup_.RemotePort, setup_.trustedPem);
  } else {
    connection_.Connect(ToUtf8(setup_.strTargetUrl), setup_.RemotePort);
  }
}

bool UploadSession::LetEventsRun(uint64_t attempt) {
  pending_.Run();
  return !unloading_ && attempt == attempt_;
}

void UploadSession::Connected() {
  if (unloading_ || state_ != State::kConnecting) return;
  state_ = State::kSending;
  const uint64_t attempt = attempt_;
  // Events run in between: the reply may end the window, or the attempt may end, meanwhile.
  UploadFields fields;
  fields.strTargetUrl = setup_.strTargetUrl;
  fields.ToolbarID = setup_.ToolbarID;
  if (!setup_.scheme.empty()) fields.scheme = setup_.scheme;
  fields.port = setup_.namePort ? setup_.RemotePort : 0;
  fields.path = setup_.path;
  // 2.
  fields.isPrivate = view_.IsPrivate();
  // 3.
  fields.note = view_.Note();
  if (!LetEventsRun(attempt)) return;
  // 4.
  fields.url = view_.Url();
  fields.title = view_.Title();
  fields.folder = view_.Folder();
  // 5.-8.
  const std::string bytes = std::move(thumbnailBytes_);
  thumbnailBytes_.clear();
  const UploadRequest request = MakeUploadRequest(fields, bytes.size());
  // 9.
  connection_.SendData(request.head);
  if (!LetEventsRun(attempt)) return;
  // 10.
  connection_.SendData(bytes);
  if (!LetEventsRun(attempt)) return;
  // 11.
  connection_.SendData(request.tail);
  if (!LetEventsRun(attempt)) return;
  if (state_ == State::kSending) state_ = State::kWaiting;
}

void UploadSession::DataArrival(int64_t bytesTotal) {
  if (unloading_ || state_ == State::kIdle) return;
  const std::string piece = bytesTotal > 0 ? connection_.GetData() : std::string();
  // A TLS record (an alert, a handshake) as the answer to plain http: the address should be https.
  if (!reply_.Started() && setup_.scheme == "http" && piece.size() >= 2 && (piece[0] == '\x15' || piece[0] == '\x16') &&
      piece[1] == '\x03') {
    return Refused(TlsFailureMessage(static_cast<int>(HttpResult::Failure::kSpeaksTls), ToUtf8(setup_.strTargetUrl)));
  }
  if (std::optional<UploadVerdict> verdict = reply_.Add(piece)) Decided(*verdict);
}

void UploadSession::Closed() {
  if (unloading_ || state_ == State::kIdle) return;
  if (reply_.Started()) return Decided(reply_.Finish());
  Failed(u"업로드 서버가 응답 없이 연결을 끊었습니다. 잠시 후 다시 저장해 주세요.");
}

void UploadSession::ConnectionFailed(const std::string& text) {
  if (unloading_ || state_ == State::kIdle) return;
  if (reply_.Started()) return Decided(reply_.Finish());
  const std::u16string where = setup_.strTargetUrl + u":" + FromUtf8(std::to_string(setup_.RemotePort));
  if (connection_.LastFailure() == TcpConnection::FailureKind::kUntrusted) {
    return Refused(TlsFailureMessage(static_cast<int>(HttpResult::Failure::kUntrusted), ToUtf8(where)));
  }
  if (connection_.LastFailure() == TcpConnection::FailureKind::kNotTls) {
    return Refused(TlsFailureMessage(static_cast<int>(HttpResult::Failure::kNotTls), ToUtf8(where)));
  }
  if (state_ == State::kConnecting) {
    Failed(u"업로드 서버(" + where + u")에 연결할 수 없습니다: " + FromUtf8(text) + u"\n잠시 후 다시 저장해 주세요.");
  } else {
    Failed(u"업로드 중에 연결이 끊어졌습니다(" + where + u"): " + FromUtf8(text) + u"\n잠시 후 다시 저장해 주세요.");
  }
}

void UploadSession::TimeUp() {
  if (unloading_ || state_ == State::kIdle) return;
  if (reply_.Started()) return Decided(reply_.Finish());
  const std::u16string seconds = FromUtf8(std::to_string((setup_.ReplyTimeMs + 999) / 1000));
  if (state_ == State::kConnecting) {
    Failed(u"업로드 서버(" + setup_.strTargetUrl + u")에 " + seconds +
           u"초 안에 연결되지 않았습니다. 잠시 후 다시 저장해 주세요.");
  } else {
    Failed(u"업로드 서버가 " + seconds + u"초 안에 응답하지 않았습니다. 잠시 후 다시 저장해 주세요.");
  }
}

void UploadSession::Failed(const std::u16string& message) {
  // The window stays and the save button works again.
  connection_.Close();
  timer_.Stop();
  state_ = State::kIdle;
  ++attempt_;
  view_.SetSaveEnabled(true);
  messages_.Tell(message);
  view_.FocusSave();
}

void UploadSession::Refused(const std::u16string& message) {
  connection_.Close();
  timer_.Stop();
  state_ = State::kIdle;
  ++attempt_;
  unloading_ = true;
  std::error_code ec;
  std::filesystem::remove(WorkFile(setup_.OutputDir, kThumbnailFile), ec);
  messages_.Tell(message);
  view_.Finished(1);
}

void UploadSession::Decided(const UploadVerdict& verdict) {
  connection_.Close();
  timer_.Stop();
  state_ = State::kIdle;
  ++attempt_;
  // Nothing else of the window runs from here on, also not a handler the message box interrupts.
  unloading_ = true;
  int status = 1;
  switch (verdict.kind) {
    case UploadVerdict::Kind::kSignedOut:
      messages_.Tell(kSignedOutReplyMessage);
      break;
    case UploadVerdict::Kind::kNotStored:
      messages_.Tell(kNotStoredMessage);
      break;
    case UploadVerdict::Kind::kStored:
      try {
        KeepThumbnail(setup_.OutputDir, verdict.name);
        status = 0;
      } catch (const TorvoError& e) {
        messages_.Tell(FromUtf8(e.description()));
      }
      break;
  }
  view_.Finished(status);
}

}  // namespace torvo::upload
