#include "platform/desktop/portal_screenshot.h"

#include <QDBusConnection>
#include <QDBusError>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QDBusReply>
#include <QEventLoop>
#include <QObject>
#include <QRandomGenerator>
#include <QTimer>
#include <QUrl>
#include <QVariantMap>

namespace torvo::desktop {

namespace {

constexpr char kService[] = "org.freedesktop.portal.Desktop";
constexpr char kPath[] = "/org/freedesktop/portal/desktop";
constexpr char kInterface[] = "org.freedesktop.portal.Screenshot";
constexpr char kRequestInterface[] = "org.freedesktop.portal.Request";

// Receives the portal's Response signal for one request and ends the wait.
class ResponseCatcher : public QObject {
  Q_OBJECT
 public:
  explicit ResponseCatcher(QEventLoop& loop) : loop_(loop) {}
  bool answered = false;
  uint response = 2;
  QVariantMap results;

 public Q_SLOTS:
  void Response(uint code, const QVariantMap& values) {
    answered = true;
    response = code;
    results = values;
    loop_.quit();
  }

 private:
  QEventLoop& loop_;
};

// The path the portal gives a request: its own prefix, the caller's unique name without ':' and
// with '.' as '_', and the token the caller chose. Known before the call, so the answer cannot
// come before anyone listens for it.
QString RequestPath(const QDBusConnection& bus, const QString& token) {
  QString sender = bus.baseService();
  sender.remove(0, 1).replace('.', '_');
  return QStringLiteral("%1/request/%2/%3").arg(kPath, sender, token);
}

}  // namespace

PortalScreenshot TakePortalScreenshot(std::chrono::milliseconds timeout) {
  PortalScreenshot result;
  // A connection of our own: this may run on a thread of its own, before the toolkit is up.
  const QString name = QStringLiteral("torvo-portal-%1").arg(QRandomGenerator::global()->generate());
  struct Disconnect {
    QString name;
    ~Disconnect() { QDBusConnection::disconnectFromBus(name); }
  } disconnect{name};
  QDBusConnection bus = QDBusConnection::connectToBus(QDBusConnection::SessionBus, name);
  if (!bus.isConnected()) {
    result.detail = bus.lastError().message().toStdString();
    if (result.detail.empty()) result.detail = "no session bus";
    return result;
  }

  QEventLoop loop;
  ResponseCatcher catcher(loop);
  const QString token = QStringLiteral("torvo%1").arg(QRandomGenerator::global()->generate());
  QString requestPath = RequestPath(bus, token);
  auto listen = [&](const QString& path) {
    return bus.connect(kService, path, kRequestInterface, "Response", &catcher, SLOT(Response(uint, QVariantMap)));
  };
  listen(requestPath);

  QDBusMessage call = QDBusMessage::createMethodCall(kService, kPath, kInterface, "Screenshot");
  QVariantMap options{{"handle_token", token}, {"interactive", false}, {"modal", false}};
  call << QString() << options;
  const int callTimeout = static_cast<int>(std::min<std::chrono::milliseconds::rep>(timeout.count(), 25000));
  QDBusReply<QDBusObjectPath> reply = bus.call(call, QDBus::Block, callTimeout);
  if (!reply.isValid()) {
    const QDBusError::ErrorType type = reply.error().type();
    const bool absent = type == QDBusError::ServiceUnknown || type == QDBusError::UnknownObject ||
                        type == QDBusError::UnknownInterface || type == QDBusError::UnknownMethod;
    result.outcome = absent ? PortalScreenshot::Outcome::kNoPortal : PortalScreenshot::Outcome::kFailed;
    result.detail = reply.error().message().toStdString();
    return result;
  }
  // Older portals choose the path themselves.
  if (reply.value().path() != requestPath) {
    bus.disconnect(kService, requestPath, kRequestInterface, "Response", &catcher, SLOT(Response(uint, QVariantMap)));
    requestPath = reply.value().path();
    listen(requestPath);
  }
  if (!catcher.answered) {
    QTimer::singleShot(timeout, &loop, &QEventLoop::quit);
    loop.exec();
  }
  if (!catcher.answered) {
    result.outcome = PortalScreenshot::Outcome::kFailed;
    result.detail = "no answer in time";
    return result;
  }
  if (catcher.response == 1) {
    result.outcome = PortalScreenshot::Outcome::kRefused;
    result.detail = "refused";
    return result;
  }
  const QUrl uri(catcher.results.value("uri").toString());
  if (catcher.response != 0 || !uri.isLocalFile()) {
    result.outcome = catcher.response == 0 ? PortalScreenshot::Outcome::kFailed : PortalScreenshot::Outcome::kRefused;
    result.detail = catcher.response == 0 ? "no picture file in the answer" : "the request ended without a picture";
    return result;
  }
  result.outcome = PortalScreenshot::Outcome::kTaken;
  result.file = uri.toLocalFile().toStdString();
  return result;
}

}  // namespace torvo::desktop

#include "portal_screenshot.moc"
