#pragma once
// One save of the upload window: the thumbnail with the fields the user sees goes out on a
// connection of its own, and the service's reply ends the program (the image stored and kept,
// or a message) or, for a connection that fails or stays silent, leaves the window to try again.
// Plain C++ over small interfaces, so every desktop's window drives the same session and tests
// drive it with scripted fakes.
#include <cstdint>
#include <filesystem>
#include <string>

#include "platform/message_sink.h"
#include "platform/one_shot_timer.h"
#include "platform/pending_events.h"
#include "platform/tcp_connection.h"
#include "upload/upload_reply.h"

namespace torvo::upload {

// What the window shows and the user chose, read when the request is made; and what the session
// asks of the window.
class UploadFormView {
 public:
  virtual ~UploadFormView() = default;
  virtual bool IsPrivate() = 0;       // the privacy box
  virtual std::u16string Note() = 0;  // the note as the text box holds it
  virtual std::u16string Url() = 0;
  virtual std::u16string Title() = 0;
  virtual int32_t Folder() = 0;  // the chosen folder's number; 0 for the default folder
  // The save button: disabled while an upload runs, enabled again when it failed.
  virtual void SetSaveEnabled(bool enabled) = 0;
  // The save button takes the focus (after a failure, ready for the next press).
  virtual void FocusSave() = 0;
  // The reply has been handled: the window goes and the program ends with this status (0 when
  // the image was stored and kept, 1 when a message was shown).
  virtual void Finished(int status) = 0;
};

struct UploadSessionSetup {
  std::filesystem::path OutputDir;  // the work folder with "img.png"
  std::u16string strTargetUrl;      // the upload host, as the folder list named it
  std::u16string ToolbarID;
  uint16_t RemotePort = 80;  // the build's upload port
  // How long the connection and the reply may take before the user is told (or, when part of a
  // reply has come, before it is decided on what has arrived).
  int ReplyTimeMs = 30000;
  // The user's own service: "https" goes over TLS, verified against the system's certificates
  // plus trustedPem; the request names the scheme, the port (when namePort) and the service's
  // folder. An empty scheme is the build's fixed service: plain http, today's bytes.
  std::string scheme;
  bool namePort = false;
  std::string path = "/";
  std::string trustedPem;
};


class UploadSession {
 public:
  // Takes over connection's and timer's events; all five outlive the session.
  UploadSession(UploadSessionSetup setup, UploadFormView& view, TcpConnection& connection, OneShotTimer& timer,
                MessageSink& messages, PendingEvents& pending);
  UploadSession(const UploadSession&) = delete;
  UploadSession& operator=(const UploadSession&) = delete;

  // The save button was pressed. Ignored while an upload runs or once the window is going.
  void Save();
  // The window is going (closed, or the reply ended it): no handler goes on from here.
  void Unload();

  // Whether an upload runs (from the press until its reply or failure).
  bool Busy() const { return state_ != State::kIdle; }
  bool Unloading() const { return unloading_; }

  const UploadSessionSetup& setup() const { return setup_; }
  void SetRemotePort(uint16_t port) { setup_.RemotePort = port; }
  void SetReplyTimeMs(int ms) { setup_.ReplyTimeMs = ms; }

 private:
  enum class State { kIdle, kConnecting, kSending, kWaiting };

  void Connected();
  void DataArrival(int64_t bytesTotal);
  void Closed();
  void ConnectionFailed(const std::string& text);
  void TimeUp();
  void Failed(const std::u16string& message);
  // A certificate refused, or the server speaking the other protocol: told (naming the host), the
  // work file removed, and the window goes, as nothing will get through on a retry.
  void Refused(const std::u16string& message);
  void Decided(const UploadVerdict& verdict);
  // Lets waiting events run; false when the attempt ended or the window went meanwhile.
  bool LetEventsRun(uint64_t attempt);

  UploadSessionSetup setup_;
  UploadFormView& view_;
  TcpConnection& connection_;
  OneShotTimer& timer_;
  MessageSink& messages_;
  PendingEvents& pending_;
  State state_ = State::kIdle;
  uint64_t attempt_ = 0;  // a handler that let events run checks it did not change
  bool unloading_ = false;
  std::string thumbnailBytes_;
  UploadReplyReader reply_;
};

}  // namespace torvo::upload
