// A stand-in for the desktop portal's screenshot service, on the session bus the test starts:
//   stand_in_portal --picture FILE | --refuse   [--log FILE]
// Answers org.freedesktop.portal.Screenshot.Screenshot as the real portal does: the request's
// object path at once, then its Response signal (0 with the picture's file address, or 1 for a
// refusal). Each call is written to the log as "parent interactive=... token=...".
#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QFile>
#include <QTimer>
#include <QUrl>
#include <QVariantMap>
#include <cstdio>

class ScreenshotService : public QObject {
  Q_OBJECT
  Q_CLASSINFO("D-Bus Interface", "org.freedesktop.portal.Screenshot")
  Q_PROPERTY(uint version READ version)

 public:
  ScreenshotService(QString picture, QString log) : picture_(std::move(picture)), log_(std::move(log)) {}
  uint version() const { return 2; }

 public Q_SLOTS:
  QDBusObjectPath Screenshot(const QString& parent, const QVariantMap& options, const QDBusMessage& message) {
    QString sender = message.service();
    sender.remove(0, 1).replace('.', '_');
    const QString token = options.value("handle_token", "t").toString();
    const QString path = QStringLiteral("/org/freedesktop/portal/desktop/request/%1/%2").arg(sender, token);
    if (!log_.isEmpty()) {
      QFile file(log_);
      if (file.open(QIODevice::Append)) {
        file.write(QStringLiteral("%1 interactive=%2 token=%3\n")
                       .arg(parent.isEmpty() ? "-" : parent, options.value("interactive").toBool() ? "true" : "false", token)
                       .toUtf8());
      }
    }
    // The answer comes after the reply, as a signal on the request's own object.
    QTimer::singleShot(50, this, [this, path] {
      QDBusMessage response = QDBusMessage::createSignal(path, "org.freedesktop.portal.Request", "Response");
      QVariantMap results;
      if (!picture_.isEmpty()) results.insert("uri", QUrl::fromLocalFile(picture_).toString());
      response << uint(picture_.isEmpty() ? 1 : 0) << results;
      QDBusConnection::sessionBus().send(response);
    });
    return QDBusObjectPath(path);
  }

 private:
  QString picture_;
  QString log_;
};

int main(int argc, char** argv) {
  QCoreApplication app(argc, argv);
  QString picture, log;
  bool refuse = false;
  const QStringList args = app.arguments();
  for (int i = 1; i < args.size(); ++i) {
    if (args[i] == "--picture" && i + 1 < args.size()) picture = args[++i];
    else if (args[i] == "--log" && i + 1 < args.size()) log = args[++i];
    else if (args[i] == "--refuse") refuse = true;
    else {
      std::fprintf(stderr, "usage: stand_in_portal --picture FILE | --refuse [--log FILE]\n");
      return 2;
    }
  }
  if (picture.isEmpty() == !refuse) {
    std::fprintf(stderr, "stand_in_portal: give either --picture or --refuse\n");
    return 2;
  }
  ScreenshotService service(picture, log);
  QDBusConnection bus = QDBusConnection::sessionBus();
  if (!bus.registerObject("/org/freedesktop/portal/desktop", &service,
                          QDBusConnection::ExportAllSlots | QDBusConnection::ExportAllProperties) ||
      !bus.registerService("org.freedesktop.portal.Desktop")) {
    std::fprintf(stderr, "stand_in_portal: cannot register on the session bus\n");
    return 1;
  }
  std::printf("ready\n");
  std::fflush(stdout);
  return app.exec();
}

#include "stand_in_portal.moc"
