#include "platform/desktop/tcp_client.h"

#include <QSslConfiguration>
#include <QSslSocket>
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
  Wire(socket_, host, false);
  socket_->connectToHost(QString::fromStdString(host), port);
}

void TcpClient::ConnectTls(const std::string& host, uint16_t port, const std::string& extraTrustedPem) {
  StartTls(host, port, extraTrustedPem, !extraTrustedPem.empty());
}

void TcpClient::StartTls(const std::string& host, uint16_t port, const std::string& extraTrustedPem, bool withExtra) {
  Close();
  auto* socket = new QSslSocket(this);
  socket_ = socket;
  QSslConfiguration tls = QSslConfiguration::defaultConfiguration();
  if (withExtra) {
    tls.addCaCertificates(QSslCertificate::fromData(
        QByteArray(extraTrustedPem.data(), static_cast<qsizetype>(extraTrustedPem.size())), QSsl::Pem));
  }
  tls.setPeerVerifyMode(QSslSocket::VerifyPeer);
  socket->setSslConfiguration(tls);
  Wire(socket, host, true);
  connect(socket, &QSslSocket::encrypted, this, [this, socket] {
    if (socket != socket_) return;
    encrypted_ = true;
    if (Connected) Connected();
  });
  connect(socket, &QSslSocket::sslErrors, this, [this, socket, host, port, extraTrustedPem, withExtra](const QList<QSslError>& errors) {
    if (socket != socket_ || errors.isEmpty()) return;
    if (withExtra) {
      // Qt trusts certificates added to its configuration in place of the system's (adding one
      // ends its reading of the system's as a chain asks for them): a server the user's
      // certificate does not vouch for is asked again with the system's alone. Nothing was sent.
      StartTls(host, port, extraTrustedPem, false);
      return;
    }
    // Not ignored: the handshake then fails, and errorOccurred tells it with this text.
    certificateProblem_ = errors.first().errorString().toStdString();
  });
  socket->connectToHostEncrypted(QString::fromStdString(host), port);
}

void TcpClient::Wire(QTcpSocket* socket, const std::string& host, bool tls) {
  encrypted_ = false;
  certificateProblem_.clear();
  lastFailure_ = FailureKind::kOther;
  if (!tls) {
    connect(socket, &QTcpSocket::connected, this, [this, socket] {
      if (socket == socket_ && Connected) Connected();
    });
  }
  connect(socket, &QTcpSocket::readyRead, this, [this, socket] {
    if (socket == socket_ && DataArrival) DataArrival(socket->bytesAvailable());
  });
  connect(socket, &QTcpSocket::disconnected, this, [this, socket, host, tls] {
    if (socket != socket_) return;
    if (tls && !encrypted_) {
      // A peer that hangs up on the handshake is no TLS server for us; nothing was sent.
      if (Failed) Failed(host + " closed the connection during the TLS handshake");
      return;
    }
    if (Closed) Closed();
  });
  connect(socket, &QTcpSocket::errorOccurred, this, [this, socket, host, tls](QAbstractSocket::SocketError error) {
    if (socket != socket_) return;
    // The peer closing is how a reply ends; "disconnected" reports it.
    if (error == QAbstractSocket::RemoteHostClosedError) return;
    std::string text = socket->errorString().toStdString();
    if (tls && !encrypted_ && !certificateProblem_.empty()) {
      lastFailure_ = FailureKind::kUntrusted;
      text = "the certificate of " + host + " is not trusted: " + certificateProblem_;
    } else if (tls && !encrypted_ && error == QAbstractSocket::SslHandshakeFailedError) {
      // A plain server's reply read as a TLS record: OpenSSL calls it a wrong version number.
      const bool plain = text.find("wrong version number") != std::string::npos ||
                         text.find("packet length too long") != std::string::npos ||
                         text.find("http request") != std::string::npos;
      if (plain) lastFailure_ = FailureKind::kNotTls;
      text = "TLS with " + host + " failed: " + text;
    }
    if (Failed) Failed(text);
  });
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
