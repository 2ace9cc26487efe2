#include "platform/desktop/qt_http.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QNetworkAccessManager>
#include <QNetworkProxy>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QSslConfiguration>
#include <QSslError>
#include <QTimer>
#include <QUrl>
#include <memory>

namespace torvo::desktop {

QtHttpGetter::QtHttpGetter(HttpTimeouts timeouts, std::shared_future<void> applicationReady)
    : timeouts_(timeouts), applicationReady_(std::move(applicationReady)) {}

HttpResult QtHttpGetter::Get(const std::string& url) {
  HttpResult result;
  if (applicationReady_.valid()) {
    try {
      applicationReady_.get();
    } catch (const std::exception&) {
      result.error = "the program ended before the request could start";
      return result;
    }
  }
  if (!QCoreApplication::instance()) {
    result.error = "no application object for Qt Network";
    return result;
  }
  const QUrl address(QString::fromLatin1(url.data(), static_cast<qsizetype>(url.size())), QUrl::StrictMode);
  if (!address.isValid() || (address.scheme() != "http" && address.scheme() != "https") || address.host().isEmpty()) {
    result.error = "bad address: " + url;
    return result;
  }

  HttpResult reply = Transfer(url, address, !extraPem_.empty());
  // Qt trusts certificates added to its configuration in place of the system's (adding one ends
  // its reading of the system's as a chain asks for them): a server the user's certificate does
  // not vouch for is asked again with the system's alone. A failed handshake sent no request.
  if (!extraPem_.empty() && reply.failure == HttpResult::Failure::kUntrusted) {
    HttpResult withSystems = Transfer(url, address, false);
    if (withSystems.failure != HttpResult::Failure::kUntrusted) return withSystems;
  }
  return reply;
}

HttpResult QtHttpGetter::Transfer(const std::string& url, const QUrl& address, bool withExtra) {
  HttpResult result;
  QNetworkAccessManager manager;
  manager.setProxy(QNetworkProxy::NoProxy);
  QNetworkRequest request(address);
  request.setAttribute(QNetworkRequest::RedirectPolicyAttribute, QNetworkRequest::ManualRedirectPolicy);
  request.setAttribute(QNetworkRequest::Http2AllowedAttribute, false);
  request.setAttribute(QNetworkRequest::CacheLoadControlAttribute, QNetworkRequest::AlwaysNetwork);
  // The body as sent: Qt inflates what it asked to have compressed, and takes a compressed body
  // cut short for a whole one.
  request.setRawHeader("Accept-Encoding", "identity");
  // No byte for this long, in either direction, ends the transfer (Qt counts from the last one).
  request.setTransferTimeout(static_cast<int>(timeouts_.stallMs));
  if (withExtra) {
    QSslConfiguration tls = QSslConfiguration::defaultConfiguration();
    tls.addCaCertificates(
        QSslCertificate::fromData(QByteArray(extraPem_.data(), static_cast<qsizetype>(extraPem_.size())), QSsl::Pem));
    request.setSslConfiguration(tls);
  }

  QEventLoop loop;
  std::unique_ptr<QNetworkReply> reply(manager.get(request));
  std::string why;  // set when this side ends the transfer
  auto end = [&](std::string reason) {
    if (why.empty()) why = std::move(reason);
    reply->abort();
  };
  const std::string tooLarge = "the reply is larger than " + std::to_string(timeouts_.maxBodyBytes) + " bytes";
  // Takes bytes of the body, or ends the transfer when they would take it over its bound.
  auto take = [&](const QByteArray& bytes) {
    if (static_cast<int64_t>(result.body.size()) + bytes.size() > timeouts_.maxBodyBytes) {
      end(tooLarge);
      return;
    }
    result.body.append(bytes.constData(), static_cast<size_t>(bytes.size()));
  };

  QTimer total;
  total.setSingleShot(true);
  QObject::connect(&total, &QTimer::timeout, &loop, [&] { end("no complete reply within " + std::to_string(timeouts_.totalMs) + " ms"); });
  QTimer connecting;
  connecting.setSingleShot(true);
  QObject::connect(&connecting, &QTimer::timeout, &loop,
                   [&] { end("no connection within " + std::to_string(timeouts_.connectMs) + " ms"); });
  QObject::connect(reply.get(), &QNetworkReply::requestSent, &loop, [&] { connecting.stop(); });
  QObject::connect(reply.get(), &QNetworkReply::metaDataChanged, &loop, [&] {
    const QVariant length = reply->header(QNetworkRequest::ContentLengthHeader);
    if (length.isValid() && length.toLongLong() > timeouts_.maxBodyBytes) end(tooLarge);
  });
  QObject::connect(reply.get(), &QNetworkReply::readyRead, &loop, [&] { take(reply->readAll()); });
  std::string certificateProblem;  // not ignored: the transfer then fails
  QObject::connect(reply.get(), &QNetworkReply::sslErrors, &loop, [&](const QList<QSslError>& errors) {
    if (!errors.isEmpty()) certificateProblem = errors.first().errorString().toStdString();
  });
  QObject::connect(reply.get(), &QNetworkReply::finished, &loop, &QEventLoop::quit);
  total.start(static_cast<int>(timeouts_.totalMs));
  connecting.start(static_cast<int>(timeouts_.connectMs));
  if (!reply->isFinished()) loop.exec();

  if (why.empty() && reply->bytesAvailable() > 0) take(reply->readAll());
  // A body shorter than its announced length was cut short, whatever Qt made of it.
  const QVariant announced = reply->header(QNetworkRequest::ContentLengthHeader);
  if (why.empty() && announced.isValid() && reply->rawHeader("Content-Encoding").isEmpty() &&
      announced.toLongLong() != static_cast<qlonglong>(result.body.size())) {
    why = "the reply ended after " + std::to_string(result.body.size()) + " of its " +
          std::to_string(announced.toLongLong()) + " bytes";
  }
  const QVariant status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute);
  // A status with an error above the transport's (404, 500...) is still a complete answer.
  const QNetworkReply::NetworkError error = reply->error();
  const bool transportFailed = error != QNetworkReply::NoError && error < QNetworkReply::ContentAccessDenied;
  const bool protocolFailed = error >= QNetworkReply::ProtocolUnknownError && error <= QNetworkReply::ProtocolFailure;
  if (!why.empty() || !status.isValid() || transportFailed || protocolFailed) {
    // Qt reads a 400 as a protocol failure: a TLS proxy's page for plain http is one.
    HttpResult answered{true, status.isValid() ? status.toInt() : 0, std::move(result.body), "", HttpResult::Failure::kNone};
    result.body.clear();
    if (why.empty() && (error == QNetworkReply::OperationCanceledError || error == QNetworkReply::TimeoutError)) {
      // Qt's own transfer time-out ends the transfer as if cancelled.
      why = "no data for " + std::to_string(timeouts_.stallMs) + " ms";
    }
    result.error = !why.empty() ? why : reply->errorString().toStdString();
    if (result.error.empty()) result.error = "the transfer failed";
    result.failure = HttpResult::Failure::kOther;
    MarkTlsServerReply(url, answered);
    if (why.empty()) {
      if (!certificateProblem.empty()) {
        result.failure = HttpResult::Failure::kUntrusted;
        result.error = "the certificate of " + address.host().toStdString() + " is not trusted: " + certificateProblem;
      } else if (error == QNetworkReply::SslHandshakeFailedError) {
        // A plain server's reply read as a TLS record: OpenSSL calls it a wrong version number.
        if (result.error.find("wrong version number") != std::string::npos ||
            result.error.find("packet length too long") != std::string::npos) {
          result.failure = HttpResult::Failure::kNotTls;
        }
      } else if (error == QNetworkReply::ConnectionRefusedError || error == QNetworkReply::HostNotFoundError) {
        result.failure = HttpResult::Failure::kUnreachable;
      } else if (answered.failure == HttpResult::Failure::kSpeaksTls) {
        result.failure = answered.failure;
        result.error = answered.error;
      } else if (error == QNetworkReply::ProtocolFailure && address.scheme() == "http") {
        // TLS bytes where an HTTP status line should be.
        result.failure = HttpResult::Failure::kSpeaksTls;
        result.error = "the server speaks TLS: the address should begin with https://";
      }
    }
    return result;
  }
  result.transportOk = true;
  result.status = status.toInt();
  MarkTlsServerReply(url, result);
  return result;
}

}  // namespace torvo::desktop
