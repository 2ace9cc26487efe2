#pragma once
// The upload's event-driven TCP connection over Qt's sockets. Everything runs on the thread of the
// event loop; the handlers are called from it.
#include <QObject>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

#include "platform/tcp_connection.h"

class QTcpSocket;

namespace torvo::desktop {

class TcpClient : public QObject, public TcpConnection {
 public:
  explicit TcpClient(QObject* parent = nullptr);
  ~TcpClient() override;

  void Close() override;
  void Connect(const std::string& host, uint16_t port) override;
  // Over QSslSocket: the system's CAs plus extraTrustedPem, the peer verified for host.
  void ConnectTls(const std::string& host, uint16_t port, const std::string& extraTrustedPem) override;
  void SendData(std::string_view bytes) override;
  std::string GetData() override;

 private:
  // A TLS connection; withExtra: the extra certificates alone are trusted, else the system's.
  void StartTls(const std::string& host, uint16_t port, const std::string& extraTrustedPem, bool withExtra);
  // Wires the socket's events to ours; tls: Connected waits for the handshake.
  void Wire(QTcpSocket* socket, const std::string& host, bool tls);

  QTcpSocket* socket_ = nullptr;
  bool encrypted_ = false;      // the TLS handshake of the current socket completed
  std::string certificateProblem_;  // what the peer's certificate failed, when it did
};

}  // namespace torvo::desktop
