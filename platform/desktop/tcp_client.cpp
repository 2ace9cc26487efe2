#include "platform/desktop/tcp_client.h"

#include <QTcpSocket>

namespace torvo::desktop {

TcpClient::TcpClient(QObject* parent) : QObject(parent) {}

TcpClient::~TcpClient() { Close(); }

void TcpClient::Close() {
  if (!socket_) return;
  QTcpSocket* old = socket_;
  socket_ = nullptr;
  old->disconnect(this);
  old->abort();
  // It may be in the middle of one of its own signals: delete it once that has returned.
  old->deleteLater();
}

void TcpClient::Connect(const std::string& host, uint16_t port) {
  Close();
  socket_ = new QTcpSocket(this);
  QTcpSocket* socket = socket_;
  connect(socket, &QTcpSocket::connected, this, [this, socket] {
    if (socket == socket_ && Connected) Connected();
  });
  connect(socket, &QTcpSocket::readyRead, this, [this, socket] {
    if (socket == socket_ && DataArrival) DataArrival(socket->bytesAvailable());
  });
  connect(socket, &QTcpSocket::disconnected, this, [this, socket] {
    if (socket == socket_ && Closed) Closed();
  });
  connect(socket, &QTcpSocket::errorOccurred, this, [this, socket](QAbstractSocket::SocketError error) {
    // The peer closing is how a reply ends; "disconnected" reports it.
    if (socket != socket_ || error == QAbstractSocket::RemoteHostClosedError) return;
    if (Failed) Failed(socket->errorString().toStdString());
  });
  socket->connectToHost(QString::fromStdString(host), port);
}

void TcpClient::SendData(std::string_view bytes) {
  if (socket_) socket_->write(bytes.data(), static_cast<qint64>(bytes.size()));
}

std::string TcpClient::GetData() {
  if (!socket_) return {};
  const QByteArray data = socket_->readAll();
  return std::string(data.constData(), static_cast<size_t>(data.size()));
}

}  // namespace torvo::desktop
