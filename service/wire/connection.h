#pragma once
// One client connection, as the HTTP library sees it. Replies are gathered and go out in one write
// each (the upload tool decides on the first piece that arrives), unless a fault asks for them to
// be delayed, split into pieces or cut off. The request line is taken aside before the library
// reads it, so the handlers see the target exactly as sent, however long it is.
#include <httplib.h>

#include <atomic>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

namespace torvo::service {

// How the current reply goes out.
struct ReplyPlan {
  int delayMs = 0;             // before its first byte
  int pieces = 1;              // > 1: that many writes, pauseMs apart (the whole reply is gathered first)
  int pauseMs = 0;
  int64_t dropAfterBody = -1;  // >= 0: close after that many body bytes; kDropHalf: after half the body
  static constexpr int64_t kDropHalf = -2;
};

class Connection final : public httplib::Stream {
 public:
  // sleep: waits that many milliseconds, or less when the service stops.
  Connection(int socket, int readTimeoutMs, int writeTimeoutMs, std::function<void(int)> sleep);

  // The connection whose request this thread is handling.
  static Connection* Current();

  // Waits up to timeoutMs for the next request and takes its request line aside; false when the
  // client closed, went quiet or sent no line the library could take.
  bool BeginRequest(int timeoutMs, const std::atomic<bool>& stopping);
  // Sends what the reply plan says; false when the connection cannot carry another request.
  bool FinishReply();

  const std::string& RawTarget() const { return rawTarget_; }
  const std::string& RequestLine() const { return requestLine_; }
  ReplyPlan& Plan() { return plan_; }
  // Ends the connection after this reply (a request body was left unread).
  void CloseAfterReply() { closeAfter_ = true; }
  // Reads exactly n bytes of request body; false on a time-out or when the client closed.
  bool ReadBody(size_t n, std::string& body);
  void NoteStatus(int status) { status_ = status; }
  int Status() const { return status_; }
  // Words about the reply for the request's log line (the faults it met).
  void AddNote(std::string_view note);
  const std::string& Notes() const { return notes_; }
  uint64_t BytesSent() const { return replySent_; }
  bool Dropped() const { return dropped_; }
  std::string PeerAddress() const;

  // httplib::Stream
  bool is_readable() const override;
  bool is_writable() const override;
  ssize_t read(char* ptr, size_t size) override;
  ssize_t write(const char* ptr, size_t size) override;
  void get_remote_ip_and_port(std::string& ip, int& port) const override;
  void get_local_ip_and_port(std::string& ip, int& port) const override;
  socket_t socket() const override { return socket_; }

 private:
  // Waits up to timeoutMs for bytes and takes what has come; false on a time-out or when the
  // client closed.
  bool Fill(int timeoutMs);
  // Takes what has come, once poll has said something is there.
  bool Receive();
  void Flush(bool final);
  bool SendAll(const char* data, size_t size);
  void Drop();

  int socket_;
  std::string peerIp_;
  int peerPort_ = 0;
  // The library asks for both ends on every request; they stay the same for the connection.
  std::string localIp_;
  int localPort_ = 0;
  int readTimeoutMs_;
  int writeTimeoutMs_;
  std::function<void(int)> sleep_;

  std::string in_;
  size_t inPos_ = 0;
  std::string rawTarget_;
  std::string requestLine_;

  ReplyPlan plan_;
  std::string out_;
  bool started_ = false;
  size_t headLength_ = std::string::npos;
  uint64_t sendLimit_ = UINT64_MAX;
  uint64_t replySent_ = 0;
  bool dropped_ = false;
  bool broken_ = false;
  bool closeAfter_ = false;
  int status_ = 0;
  std::string notes_;
};

// Makes a connection the current one of this thread while it lives.
class CurrentConnection {
 public:
  explicit CurrentConnection(Connection* connection);
  ~CurrentConnection();
};

}  // namespace torvo::service
