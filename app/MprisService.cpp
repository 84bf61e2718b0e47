#include "app/MprisService.h"

#include <QCoreApplication>
#include <QCryptographicHash>
#include <QDBusAbstractAdaptor>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QStringList>
#include <string>

#include "app/ApplicationId.h"
#include "controller/StatusTexts.h"
#include "engine/net/UrlEscaping.h"

namespace orvento {
namespace {

constexpr const char* kIdentity = "Orvento";
constexpr const char* kStationPathPrefix = "/org/orvento/Orvento/station/";
constexpr double kMicroseconds = 1e6;

// org.mpris.MediaPlayer2: the application.
class MprisRootAdaptor : public QDBusAbstractAdaptor {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.mpris.MediaPlayer2")
    Q_PROPERTY(bool CanQuit READ canQuit)
    Q_PROPERTY(bool CanRaise READ canRaise)
    Q_PROPERTY(bool HasTrackList READ hasTrackList)
    Q_PROPERTY(QString Identity READ identity)
    Q_PROPERTY(QString DesktopEntry READ desktopEntry)
    Q_PROPERTY(QStringList SupportedUriSchemes READ supportedUriSchemes)
    Q_PROPERTY(QStringList SupportedMimeTypes READ supportedMimeTypes)

  public:
    explicit MprisRootAdaptor(MprisService* service)
        : QDBusAbstractAdaptor(service), service_(*service) {}

    bool canQuit() const { return true; }
    bool canRaise() const { return true; }
    bool hasTrackList() const { return false; }
    QString identity() const { return QLatin1String(kIdentity); }
    QString desktopEntry() const { return QLatin1String(kApplicationId); }
    QStringList supportedUriSchemes() const {
        return {QStringLiteral("http"), QStringLiteral("https"), QStringLiteral("file")};
    }
    QStringList supportedMimeTypes() const {
        QStringList types;
        for (std::string_view type : kPlaylistMediaTypes) {
            types << QString::fromLatin1(type.data(), static_cast<qsizetype>(type.size()));
        }
        return types;
    }

  public slots:
    void Raise() { emit service_.raiseRequested(); }
    void Quit() { emit service_.quitRequested(); }

  private:
    MprisService& service_;
};

// org.mpris.MediaPlayer2.Player: the play/stop button.
class MprisPlayerAdaptor : public QDBusAbstractAdaptor {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.mpris.MediaPlayer2.Player")
    Q_PROPERTY(QString PlaybackStatus READ playbackStatus)
    Q_PROPERTY(double Rate READ rate)
    Q_PROPERTY(double MinimumRate READ rate)
    Q_PROPERTY(double MaximumRate READ rate)
    Q_PROPERTY(double Volume READ volume)
    Q_PROPERTY(QVariantMap Metadata READ metadata)
    Q_PROPERTY(qlonglong Position READ position)
    Q_PROPERTY(bool CanGoNext READ no)
    Q_PROPERTY(bool CanGoPrevious READ yes)
    Q_PROPERTY(bool CanPlay READ canPlay)
    Q_PROPERTY(bool CanPause READ yes)
    Q_PROPERTY(bool CanSeek READ no)
    Q_PROPERTY(bool CanControl READ yes)

  public:
    explicit MprisPlayerAdaptor(MprisService* service)
        : QDBusAbstractAdaptor(service), service_(*service) {}

    QString playbackStatus() const { return service_.playbackStatus(); }
    double rate() const { return 1.0; }
    double volume() const { return 1.0; }
    QVariantMap metadata() const { return service_.metadata(); }
    qlonglong position() const { return service_.position(); }
    bool canPlay() const { return service_.canPlay(); }
    bool yes() const { return true; }
    bool no() const { return false; }

  public slots:
    void Play() { service_.play(); }
    void Pause() { service_.pause(); }
    void PlayPause() { service_.playPause(); }
    void Stop() { service_.stop(); }
    // Live streams: there is no next station and no seeking; the previous one
    // is the last transmission, said again.
    void Next() {}
    void Previous() { service_.previous(); }
    void Seek(qlonglong /*offset*/) {}
    void SetPosition(const QDBusObjectPath& /*trackId*/, qlonglong /*position*/) {}
    void OpenUri(const QString& uri) { service_.openUri(uri); }

  signals:
    void Seeked(qlonglong position);

  private:
    MprisService& service_;
};

}  // namespace

MprisService::MprisService(PlaybackController& controller, LogSink log)
    : controller_(controller), log_(std::move(log)) {
    new MprisRootAdaptor(this);
    new MprisPlayerAdaptor(this);
    connect(&controller_, &PlaybackController::playStateChanged, this,
            &MprisService::announceChanges);
    connect(&controller_, &PlaybackController::selectedStationChanged, this,
            &MprisService::announceChanges);
}

MprisService::~MprisService() {
    if (bus_) {
        bus_->unregisterObject(QLatin1String(kObjectPath));
        bus_->unregisterService(serviceName_);
    }
}

void MprisService::log(const QString& text) const {
    writeLogLine(log_, text.toStdString());
}

bool MprisService::registerOn(const QDBusConnection& bus) {
    const QString without =
        QStringLiteral("; the media keys and the desktop's media controls will not reach Orvento");
    if (!bus.isConnected()) {
        log(QStringLiteral("mpris: no D-Bus session bus (%1)%2")
                .arg(bus.lastError().message(), without));
        return false;
    }
    QDBusConnection connection(bus);
    if (!connection.registerObject(QLatin1String(kObjectPath), this,
                                   QDBusConnection::ExportAdaptors)) {
        log(QStringLiteral("mpris: the object %1 is taken on the session bus%2")
                .arg(QLatin1String(kObjectPath), without));
        return false;
    }
    // Another Orvento may hold the plain name already.
    const QString plain = QLatin1String(kServiceName);
    const QString instance =
        plain + QStringLiteral(".instance%1").arg(QCoreApplication::applicationPid());
    for (const QString& name : {plain, instance}) {
        if (connection.registerService(name)) {
            serviceName_ = name;
            break;
        }
    }
    if (serviceName_.isEmpty()) {
        connection.unregisterObject(QLatin1String(kObjectPath));
        log(QStringLiteral("mpris: the session bus gave neither %1 nor %2 (%3)%4")
                .arg(plain, instance, connection.lastError().message(), without));
        return false;
    }
    bus_ = connection;
    announcedStatus_ = playbackStatus();
    announcedStation_ = station();
    announcedCanPlay_ = canPlay();
    return true;
}

Station MprisService::station() const {
    Station shown = idle() ? controller_.selectedStation() : controller_.stationOn();
    // Plain texts: no control characters (a line break could forge a line of
    // what a desktop shows).
    shown.name = shown.name.trimmed();
    shown.name.removeIf([](QChar c) { return c.category() == QChar::Other_Control; });
    shown.url = shown.url.trimmed().isEmpty() ? QString()
                                              : withoutPassword(QString::fromStdString(
                                                    percentEscapeUrlText(shown.url.toStdString())));
    return shown;
}

void MprisService::setMonitor(MonitorController* monitor) {
    monitor_ = monitor;
    if (monitor_ != nullptr) {
        connect(monitor_, &MonitorController::playingChanged, this, &MprisService::announceChanges);
    }
}

bool MprisService::idle() const {
    return controller_.playState() == PlaybackController::PlayState::Idle;
}

bool MprisService::monitorPlays() const {
    return monitor_ != nullptr && monitor_->playing();
}

QString MprisService::playbackStatus() const {
    return idle() && !monitorPlays() ? QStringLiteral("Stopped") : QStringLiteral("Playing");
}

QVariantMap MprisService::metadata() const {
    const Station shown = station();
    if (shown.url.isEmpty()) {
        return {{QStringLiteral("mpris:trackid"),
                 QVariant::fromValue(QDBusObjectPath(QLatin1String(kNoTrack)))}};
    }
    // An object path of its own for each station, the same every time.
    const QByteArray digest =
        QCryptographicHash::hash((shown.name + QLatin1Char('\n') + shown.url).toUtf8(),
                                 QCryptographicHash::Sha1)
            .toHex()
            .left(16);
    return {
        {QStringLiteral("mpris:trackid"),
         QVariant::fromValue(
             QDBusObjectPath(QLatin1String(kStationPathPrefix) + QString::fromLatin1(digest)))},
        {QStringLiteral("xesam:title"), shown.name.isEmpty() ? shown.url : shown.name},
        {QStringLiteral("xesam:url"), shown.url},
    };
}

bool MprisService::canPlay() const {
    return controller_.canPlay();
}

qlonglong MprisService::position() const {
    return static_cast<qlonglong>(controller_.listenedToStationOn() * kMicroseconds);
}

void MprisService::play() {
    if (idle() && canPlay() && !monitorPlays()) {
        controller_.press();
    }
}

void MprisService::pause() {
    stop();
}

void MprisService::stop() {
    if (monitorPlays()) {
        monitor_->stop();
    }
    if (!idle()) {
        controller_.press();
    }
}

void MprisService::previous() {
    controller_.replay().sayAgain();
}

void MprisService::openUri(const QString& uri) {
    if (opener_ != nullptr) {
        opener_->open(uri);
    }
}

void MprisService::playPause() {
    if (monitorPlays()) {
        stop();
    } else if (canPlay()) {
        controller_.press();
    }
}

void MprisService::announceChanges() {
    if (!bus_) {
        return;
    }
    QVariantMap changed;
    if (const QString status = playbackStatus(); status != announcedStatus_) {
        announcedStatus_ = status;
        changed.insert(QStringLiteral("PlaybackStatus"), status);
    }
    if (const Station shown = station(); shown != announcedStation_) {
        announcedStation_ = shown;
        changed.insert(QStringLiteral("Metadata"), metadata());
    }
    if (const bool can = canPlay(); can != announcedCanPlay_) {
        announcedCanPlay_ = can;
        changed.insert(QStringLiteral("CanPlay"), can);
    }
    if (changed.isEmpty()) {
        return;
    }
    QDBusMessage signal = QDBusMessage::createSignal(
        QLatin1String(kObjectPath), QStringLiteral("org.freedesktop.DBus.Properties"),
        QStringLiteral("PropertiesChanged"));
    signal << QString::fromLatin1(kPlayerInterface) << changed << QStringList();
    bus_->send(signal);
}

}  // namespace orvento

#include "MprisService.moc"
