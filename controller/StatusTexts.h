// What the player screen writes for the user: the listening time and the
// status line under the play button.
#pragma once

#include <QString>
#include <string>

namespace orvento {

// Listening time as hours, minutes and seconds, "HH:MM:SS": whole elapsed
// seconds (59.9 s reads "00:00:59", 60 s "00:01:00"); the hours are not
// wrapped and grow past two digits (360000 s reads "100:00:00"). Negative
// values read as 0.
QString elapsedTimeText(double seconds);

// How one player's run ended, as the screen saw it: what the status line says
// once the player has reported that it is not playing, or has ended without
// ever reporting.
struct PlayerEnding {
    QString text;                  // the URL field's text at the press
    bool hadUrl = true;            // that text made a URL
    bool reportedPlaying = false;  // the player reported playing at least once
    bool stopRequested = false;    // the user pressed the button to stop it
    std::string cause;             // the player's own short cause of a failure; may be empty
};

QString endingText(const PlayerEnding& ending);

// The status line while a player connects, while it plays, and before the
// first press.
QString connectingText();
QString playingText();
QString readyText();

// The status line while set-up loads the stations and the weather, and after
// it when there are no stations to choose from: the catalogue at `server`
// (its host and port) could not be loaded, was not a station list, or held
// no station.
QString loadingText();
enum class CatalogueOutcome { loaded, failed, unreadable, empty };
QString catalogueText(CatalogueOutcome outcome, const QString& server);

}  // namespace orvento
