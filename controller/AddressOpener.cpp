#include "controller/AddressOpener.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QUrl>

#include "controller/MainThread.h"
#include "controller/StatusTexts.h"

namespace orvento {
namespace {

using PlayState = PlaybackController::PlayState;

constexpr std::chrono::seconds kLookConnectLimit{10};
constexpr std::chrono::seconds kLookLimit{20};

bool isHttp(const QUrl& url) {
    const QString scheme = url.scheme().toLower();
    return scheme == QLatin1String("http") || scheme == QLatin1String("https");
}

// An address as the user may see it: a file by its path, a URL without its password.
QString shown(const QString& address) {
    const QUrl url(address);
    return url.isLocalFile() ? url.toLocalFile() : withoutPassword(address);
}

}  // namespace

AddressOpener::AddressOpener(PlaybackController& controller, LogSink log, QObject* parent)
    : QObject(parent), controller_(controller), log_(std::move(log)) {
    connect(&controller_, &PlaybackController::playStateChanged, this,
            &AddressOpener::stateChanged);
    // The user pressed for a station of their own while a playlist was looked at.
    connect(&controller_, &PlaybackController::attemptStarted, this, [this] {
        if (!pressing_ && stage_ != Stage::idle) {
            end(false);
        }
    });
}

AddressOpener::~AddressOpener() = default;

void AddressOpener::open(const QString& address) {
    const QString absolute = absoluteAddress(address);
    if (absolute.isEmpty()) {
        return;
    }
    download_.reset();
    candidates_.clear();
    playlistsRead_.clear();
    title_.clear();
    problem_.clear();
    pressedAny_ = false;
    writeLogLine(log_, (QStringLiteral("open;") + logField(shown(absolute))).toStdString());
    candidates_.push_back({absolute, {}, 0, false});
    controller_.setStatusText(tr("Opening %1\u2026").arg(shown(absolute)));
    next();
}

QString AddressOpener::absoluteAddress(const QString& address) {
    const QString text = address.trimmed();
    if (text.isEmpty()) {
        return {};
    }
    const QUrl url(text, QUrl::TolerantMode);
    // A path (no scheme, or a one-letter one that is no scheme) is a file of this computer.
    return url.scheme().size() <= 1
               ? QUrl::fromLocalFile(QFileInfo(text).absoluteFilePath()).toString()
               : url.toString();
}

void AddressOpener::next() {
    if (candidates_.empty()) {
        end(false);
        return;
    }
    const Candidate candidate = candidates_.front();
    candidates_.pop_front();
    const QUrl url(candidate.address);
    if (isHttp(url)) {
        look(candidate);
    } else if (url.isLocalFile() && candidate.fromRemote) {
        refuse(tr("%1 is not played: a playlist from the network may not open files of this "
                  "computer.")
                   .arg(shown(candidate.address)));
    } else if (url.isLocalFile()) {
        readFile(candidate);
    } else {
        refuse(tr("%1 is not played: Orvento plays http and https addresses and playlist files.")
                   .arg(withoutPassword(candidate.address)));
    }
}

void AddressOpener::refuse(const QString& why) {
    writeLogLine(log_, (QStringLiteral("refused;") + logField(why)).toStdString());
    problem_ = why;
    next();
}

void AddressOpener::readFile(const Candidate& candidate) {
    stage_ = Stage::looking;
    const QString path = QUrl(candidate.address).toLocalFile();
    QFile file(path);
    // Only a file: a folder has no bytes, and reading a device or a pipe
    // (/dev/stdin, a FIFO) could wait for ever.
    if (QFileInfo(path).isDir() || (file.open(QIODevice::ReadOnly) && file.isSequential())) {
        refuse(tr("%1 could not be read: %2").arg(path, tr("it is not a file")));
        return;
    }
    if (!file.isOpen()) {
        refuse(tr("%1 could not be read: %2").arg(path, file.errorString()));
        return;
    }
    const QByteArray bytes = file.read(static_cast<qint64>(kPlaylistMaxBytes) + 1);
    const std::string content = bytes.toStdString();
    if (!recognisePlaylist({}, content, path.toStdString())) {
        refuse(tr("%1 is not a playlist (.pls, .m3u, .xspf or .asx); Orvento plays streams from "
                  "http and https addresses.")
                   .arg(path));
        return;
    }
    expand(candidate, {}, content);
}

void AddressOpener::look(const Candidate& candidate) {
    stage_ = Stage::looking;
    HttpDownloadOptions options;
    options.maxBytes = kPlaylistMaxBytes;
    options.connectTimeout = kLookConnectLimit;
    options.totalTimeout = kLookLimit;
    const std::string address = candidate.address.toStdString();
    options.wanted = [address](std::string_view contentType, std::string_view firstBytes) {
        return recognisePlaylist(contentType, firstBytes, address).has_value();
    };
    download_ = std::make_unique<BackgroundDownload>(
        address, options, this,
        BackgroundDownload::deliver(
            [this, candidate](const HttpDownloadResult& result) { looked(candidate, result); }));
}

void AddressOpener::looked(const Candidate& candidate, const HttpDownloadResult& result) {
    if (result.declined) {
        play(candidate);
    } else if (result.tooLarge) {
        refuse(tr("The playlist %1 is larger than 1 MiB.").arg(shown(candidate.address)));
    } else if (!result.body) {
        refuse(tr("%1 could not be read: %2")
                   .arg(shown(candidate.address),
                        withoutPassword(QString::fromStdString(result.error))));
    } else {
        expand(candidate, result.contentType, *result.body);
    }
}

void AddressOpener::expand(const Candidate& candidate, const std::string& contentType,
                           const std::string& bytes) {
    const QString where = shown(candidate.address);
    if (candidate.depth >= kPlaylistMaxDepth) {
        refuse(tr("The playlist %1 is inside playlists more than %2 deep.")
                   .arg(where)
                   .arg(kPlaylistMaxDepth));
        return;
    }
    if (playlistsRead_.contains(candidate.address)) {
        refuse(tr("The playlist %1 lists itself.").arg(where));
        return;
    }
    playlistsRead_.insert(candidate.address);
    const std::optional<PlaylistFormat> format =
        recognisePlaylist(contentType, bytes, candidate.address.toStdString());
    const Playlist playlist = readPlaylist(format.value_or(PlaylistFormat::m3u), bytes);
    switch (playlist.error) {
        case PlaylistError::none:
            break;
        case PlaylistError::empty:
            refuse(tr("The playlist %1 lists no station.").arg(where));
            return;
        case PlaylistError::binary:
            refuse(tr("%1 is no playlist: it is not text.").arg(where));
            return;
        case PlaylistError::tooLarge:
            refuse(tr("The playlist %1 is larger than 1 MiB.").arg(where));
            return;
        case PlaylistError::tooManyEntries:
            refuse(tr("The playlist %1 lists more than %2 entries.")
                       .arg(where)
                       .arg(kPlaylistMaxEntries));
            return;
        case PlaylistError::hls:
            refuse(tr("%1 is an HLS stream (an .m3u8 of segments), which Orvento does not play.")
                       .arg(where));
            return;
    }
    if (title_.isEmpty()) {
        title_ = QString::fromStdString(playlist.title).trimmed();
    }
    const QUrl base(candidate.address);
    const bool remote = candidate.fromRemote || isHttp(base);
    for (auto entry = playlist.entries.rbegin(); entry != playlist.entries.rend(); ++entry) {
        const QUrl listed(QString::fromStdString(entry->address), QUrl::TolerantMode);
        // An entry without a title of its own goes by the one that listed its playlist.
        const QString title = QString::fromStdString(entry->title).trimmed();
        candidates_.push_front({base.resolved(listed).toString(),
                                title.isEmpty() ? candidate.title : title, candidate.depth + 1,
                                remote});
    }
    next();
}

void AddressOpener::play(const Candidate& candidate) {
    chosen_ = Station{title_.isEmpty() ? candidate.title : title_, candidate.address};
    if (controller_.playState() == PlayState::Idle) {
        pressChosen();
        return;
    }
    // The station on stops first; the press follows when it has.
    stage_ = Stage::stopping;
    if (controller_.playState() != PlayState::Stopping) {
        controller_.stopToSwitch();
    }
}

void AddressOpener::pressChosen() {
    stage_ = Stage::playing;
    pressedAny_ = true;
    // One alert at most: of the last address tried; the ones before it fail
    // on the status line, and the next is tried.
    controller_.holdFailureAlerts(!candidates_.empty());
    controller_.chooseStation(chosen_);
    pressing_ = true;
    controller_.press();
    pressing_ = false;
    if (controller_.playState() == PlayState::Idle) {
        next();  // refused at once (an address too long)
    }
}

void AddressOpener::stateChanged(PlayState state) {
    // Posted: the controller is still inside its own change.
    if (stage_ == Stage::stopping && state == PlayState::Idle) {
        postToMainThread(this, [this] {
            if (stage_ == Stage::stopping) {
                pressChosen();
            }
        });
    } else if (stage_ == Stage::playing) {
        if (state == PlayState::Playing && controller_.heard()) {
            end(true);
        } else if (state == PlayState::Stopping) {
            end(false);  // the user stopped it
        } else if (state == PlayState::Idle) {
            // Ended before it played: the next one, if any.
            stage_ = Stage::advancing;
            postToMainThread(this, [this] {
                if (stage_ == Stage::advancing) {
                    next();
                }
            });
        }
    }
}

void AddressOpener::end(bool played) {
    const bool said = pressedAny_;
    stage_ = Stage::idle;
    controller_.holdFailureAlerts(false);
    candidates_.clear();
    download_.reset();
    if (!played && !said && !problem_.isEmpty()) {
        // Nothing was tried: the status line says why.
        controller_.setStatusText(problem_);
    }
    emit finished(played);
}

}  // namespace orvento
