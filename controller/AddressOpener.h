// AddressOpener: plays an address handed in from outside (the command line,
// MPRIS OpenUri, a drop on the window): a stream's http or https URL, a
// playlist at such a URL, or a playlist file of this computer (a path, or a
// file: URL).
//
// open() takes the address as the first of the candidates to try, and tries
// them in turn:
//   - A file is read (at most kPlaylistMaxBytes); it must be a playlist.
//   - An http or https address is looked at (BackgroundDownload, with a
//     `wanted` check): a playlist by its Content-Type or first bytes is
//     downloaded whole (at most kPlaylistMaxBytes); anything else is a stream,
//     and the look ends after its first bytes.
//   - A playlist's entries (Playlist.h) take its place among the candidates,
//     in order, resolved against where it came from. Playlists nest at most
//     kPlaylistMaxDepth deep, and none is read twice in one open().
//   - An entry of a playlist from the network that names a file of this
//     computer is refused, as is any address that is neither http, https nor
//     (from a file) a file.
//   - A stream is played with the controller: chosen as the station (named
//     by the outermost playlist title, else its entry's title) and pressed;
//     a station already on is stopped first. Should it end before it
//     played, the next candidate is tried, and its failure alert is held
//     while there is a next one (one alert at most, of the last tried); once
//     it plays, the rest are dropped (a drop after that is the controller's
//     to bring back). A stop the user asks for ends the opening.
// What cannot be played is said on the controller's status line, never
// quoting a password; a station playing when open() was called plays on
// until a candidate is found to be a stream. A new open() replaces one under
// way.
//
// Main thread only. The controller outlives the opener.
#pragma once

#include <QObject>
#include <QSet>
#include <QString>
#include <deque>
#include <memory>
#include <string>

#include "controller/BackgroundDownload.h"
#include "controller/DiagnosticLog.h"
#include "controller/PlaybackController.h"
#include "controller/Playlist.h"

namespace orvento {

class AddressOpener : public QObject {
    Q_OBJECT

  public:
    // `log`: a line for each candidate refused (empty: standard error).
    explicit AddressOpener(PlaybackController& controller, LogSink log = {},
                           QObject* parent = nullptr);
    ~AddressOpener() override;

    // Plays `address` (see above); a relative path is taken from the
    // process's working folder.
    void open(const QString& address);
    // `address` as open() takes it: a URL as it is, a path as a file: URL
    // (relative to the working folder); empty for blank text.
    static QString absoluteAddress(const QString& address);
    // Whether an open() is still under way: looking, or trying a candidate
    // that has not yet played.
    bool opening() const { return stage_ != Stage::idle; }

  signals:
    // The open() under way has ended: a candidate plays (true) or none could
    // (false; the status line says why).
    void finished(bool played);

  private:
    struct Candidate {
        QString address;          // absolute: http(s) or file
        QString title;            // its entry's title
        int depth = 0;            // playlists above it
        bool fromRemote = false;  // listed by a playlist from the network
    };
    enum class Stage { idle, looking, stopping, playing, advancing };

    void next();
    void readFile(const Candidate& candidate);
    void look(const Candidate& candidate);
    void looked(const Candidate& candidate, const HttpDownloadResult& result);
    // A playlist's bytes, read from `candidate`.
    void expand(const Candidate& candidate, const std::string& contentType,
                const std::string& bytes);
    void play(const Candidate& candidate);
    void pressChosen();
    void stateChanged(PlaybackController::PlayState state);
    void refuse(const QString& why);
    void end(bool played);

    PlaybackController& controller_;
    const LogSink log_;
    Stage stage_ = Stage::idle;
    std::deque<Candidate> candidates_;
    QSet<QString> playlistsRead_;
    QString title_;            // the outermost playlist's title
    QString problem_;          // the last refusal, said when nothing plays
    Station chosen_;           // the candidate being played
    bool pressing_ = false;    // the opener's own press is under way
    bool pressedAny_ = false;  // a candidate was played in this open()
    std::unique_ptr<BackgroundDownload> download_;
};

}  // namespace orvento
