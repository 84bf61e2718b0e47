// orvento_desktop_stand_in: the desktop services a test needs on its private
// session bus, as small as they can be: a notification server
// (org.freedesktop.Notifications, --notifications) and a tray host's
// StatusNotifierWatcher (org.kde.StatusNotifierWatcher, --watcher). Each call
// it takes is written to standard output as one line, fields split by tabs:
//   notify <app> <icon> <summary> <body>
//   item <service>
// "ready" follows once every name asked for is owned.
#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusError>
#include <QDBusVariant>
#include <QStringList>
#include <QVariantMap>
#include <cstdio>

namespace {

void say(const QStringList& fields) {
    std::printf("%s\n", fields.join(QLatin1Char('\t')).toUtf8().constData());
    std::fflush(stdout);
}

class Notifications : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.Notifications")

  public slots:
    QStringList GetCapabilities() { return {QStringLiteral("body")}; }
    uint Notify(const QString& app, uint /*replaces*/, const QString& icon, const QString& summary,
                const QString& body, const QStringList& /*actions*/, const QVariantMap& /*hints*/,
                int /*timeout*/) {
        say({QStringLiteral("notify"), app, icon, summary, body});
        return ++last_;
    }
    QString GetServerInformation(QString& vendor, QString& version, QString& protocol) {
        vendor = QStringLiteral("Orvento tests");
        version = QStringLiteral("1");
        protocol = QStringLiteral("1.2");
        return QStringLiteral("stand-in");
    }

  private:
    uint last_ = 0;
};

class Watcher : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.kde.StatusNotifierWatcher")
    Q_PROPERTY(bool IsStatusNotifierHostRegistered READ hostRegistered)
    Q_PROPERTY(int ProtocolVersion READ protocolVersion)
    Q_PROPERTY(QStringList RegisteredStatusNotifierItems READ items)

  public:
    bool hostRegistered() const { return true; }
    int protocolVersion() const { return 0; }
    QStringList items() const { return items_; }

  public slots:
    void RegisterStatusNotifierItem(const QString& service) {
        items_.append(service);
        say({QStringLiteral("item"), service});
    }
    void RegisterStatusNotifierHost(const QString& /*service*/) {}

  private:
    QStringList items_;
};

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const QStringList arguments = QCoreApplication::arguments();
    QDBusConnection bus = QDBusConnection::sessionBus();
    Notifications notifications;
    Watcher watcher;
    const auto offer = [&bus](QObject* object, const char* path, const char* service) {
        if (!bus.registerObject(QLatin1String(path), object, QDBusConnection::ExportAllContents) ||
            !bus.registerService(QLatin1String(service))) {
            std::fprintf(stderr, "cannot offer %s: %s\n", service,
                         qPrintable(bus.lastError().message()));
            std::exit(1);
        }
    };
    if (arguments.contains(QStringLiteral("--notifications"))) {
        offer(&notifications, "/org/freedesktop/Notifications", "org.freedesktop.Notifications");
    }
    if (arguments.contains(QStringLiteral("--watcher"))) {
        offer(&watcher, "/StatusNotifierWatcher", "org.kde.StatusNotifierWatcher");
    }
    say({QStringLiteral("ready")});
    return QCoreApplication::exec();
}

#include "DesktopStandIn.moc"
