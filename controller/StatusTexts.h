// What the player writes for the user: the listening time and the status line
// under the play button. Every text here is plain text; outside text in it
// (a typed address, a server's words) is shown as it came, never as markup.
#pragma once

#include <QString>
#include <chrono>
#include <cstdint>
#include <string>

#include "controller/StationCatalogue.h"
#include "controller/StationDirectory.h"

namespace orvento {

// Listening time as hours, minutes and seconds, "HH:MM:SS": whole elapsed
// seconds (59.9 s reads "00:00:59", 60 s "00:01:00"); the hours are not
// wrapped and grow past two digits (360000 s reads "100:00:00"). Negative
// values read as 0.
QString elapsedTimeText(double seconds);

// A URL, or text typed as one, fit to be shown or logged: the password of a
// "user:password@" part replaced by "***".
QString withoutPassword(const QString& text);

// How one player's run ended, as the controller saw it.
struct PlayerEnding {
    QString text;                // the address pressed, as typed
    bool hadUrl = true;          // that text made a URL
    bool heard = false;          // the player reported playing audio
    bool stopRequested = false;  // the user asked it to stop
    std::string cause;           // the player's own short cause of a failure; may be empty
};

// "Stopped.", "Playback ended.", "The stream could not be opened: <cause>"
// (never heard), "Playback failed: <cause>" (heard, then failed), or why the
// text is no address (it has no "scheme://", so no password to hide).
QString endingText(const PlayerEnding& ending);

// The status line while a player connects, while it plays, and before the
// first press; for an address too long for the address field to hold.
QString connectingText();
QString playingText();
// A station that plays close to live: how far behind it is, once clearly
// past the target; otherwise "Live".
QString behindLiveText(double seconds);
QString liveText();
QString readyText();
QString addressTooLongText(qsizetype limit);

// News the user asked for (a file saved) with the station's own words beside
// it: "Saved to a.mp3 · Reconnecting in 8 s (attempt 4): <why>".
QString besideNewsText(const QString& news, const QString& station);

// While a station that played comes back after a drop: "Reconnecting: <why>"
// for the attempt made at once (attempt 0), "Reconnecting in 8 s (attempt 4):
// <why>" while a later one waits, the wait in whole seconds rounded up, and
// "Reconnecting (attempt 4): <why>" once it has started. `cause`: the
// ended player's own words; none means the server ended the stream.
QString reconnectingText(std::chrono::milliseconds wait, int attempt, const std::string& cause);

// While playing, the output has had no audio for `starved`: "Waiting for the
// station: no audio for 4 s".
QString waitingForAudioText(std::chrono::seconds starved);
// Why the controller stopped a player itself: nothing played `limit` after
// its start ("the station sent 27 bytes in 20 s, too little to play"), or no
// audio for `limit` while it played ("the station sent no audio for 10 s").
QString tooLittleAudioCause(std::uint64_t bytes, std::chrono::seconds limit);
QString noAudioCause(std::chrono::seconds limit);

// The status line while set-up loads the stations and the weather, and after
// it when there are no stations to choose from: the catalogue at `server`
// (its host and port) could not be loaded, was over its size limit, was not a
// station list, or held no station.
QString loadingText();
QString catalogueText(CatalogueOutcome outcome, const QString& server);

// The status line while the stations are reloaded, and after: how many
// stations there are now, or why the list from `server` was not taken (with
// the download's `cause` when it failed) and that the list stays as it was.
QString reloadingText();
QString reloadText(CatalogueOutcome outcome, const QString& server, const QString& cause,
                   qsizetype stations);

// The directory scope's note: how many stations and how old the list is, that
// a fetch is under way, or why the latest failed (the list shown stays).
QString directoryNoteText(const DirectoryList& list, bool fetching, const QString& error,
                          const QDateTime& now);
// The status line while the directory is updated at the user's request, and
// after: how many stations it lists now, or why it could not be updated.
QString directoryUpdatingText();
QString directoryUpdatedText(bool ok, const QString& error, qsizetype stations);

}  // namespace orvento
