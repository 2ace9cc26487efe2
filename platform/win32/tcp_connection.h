#pragma once
// The upload's event-driven TCP connection over Winsock: the socket's connect, write, arrival and
// close events come as messages to a message-only window of this thread (WSAAsyncSelect), so the
// handlers run from the program's message loop, one at a time. With TLS, Schannel sits between
// the socket and the caller: Connected comes once the handshake and the certificate check passed.
#include <winsock2.h>

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "platform/tcp_connection.h"
#include "platform/win32/message_window.h"
#include "platform/win32/tls_channel.h"

namespace torvo::win32 {

class WinsockConnection final : public TcpConnection {
 public:
  WinsockConnection();
  ~WinsockConnection() override;
  WinsockConnection(const WinsockConnection&) = delete;
  WinsockConnection& operator=(const WinsockConnection&) = delete;

  void Close() override;
  void Connect(const std::string& host, uint16_t port) override;
  void ConnectTls(const std::string& host, uint16_t port, const std::string& extraTrustedPem) override;
  void SendData(std::string_view bytes) override;
  std::string GetData() override;

 private:
  void OnMessage(UINT message, WPARAM wParam, LPARAM lParam);
  void OnSocketEvent(WORD event, WORD error);
  // Sends what is queued until the socket would block; false when the connection broke.
  bool Flush();
  // Takes what has arrived into incoming_; false when the connection broke.
  bool Receive();
  // Hands what arrived to the TLS channel: the handshake's next step, or plain bytes to incoming_.
  void ReceiveTls(std::string raw);
  void Fail(const std::string& text, FailureKind kind = FailureKind::kOther);
  // The orderly end of the peer's stream: Closed.
  void EndOfStream();

  MessageWindow window_;
  SOCKET socket_ = INVALID_SOCKET;
  // Each connection has its own number: an event of an earlier one (queued before its Close) is
  // recognised and dropped.
  uint32_t generation_ = 0;
  bool connected_ = false;
  std::string outgoing_;  // plain bytes the caller queued
  std::unique_ptr<TlsChannel> tls_;
  std::string wire_;  // TLS records (and handshake messages) still to send
  std::string incoming_;
  std::string failure_;  // a failure found in Connect, told from the message loop
};

}  // namespace torvo::win32
