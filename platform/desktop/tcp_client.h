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
  void SendData(std::string_view bytes) override;
  std::string GetData() override;

 private:
  QTcpSocket* socket_ = nullptr;
};

}  // namespace torvo::desktop
