// MetarView: a METAR decoded, for people who do not read the codes: the
// flight category as a coloured badge (or, when the report does not give
// the visibility or the sky, the words "no category" and no badge), the
// station and when it was issued, flagged when older than kOldMetarAge, then
// one line each for the wind, the visibility, the runway visual range and
// the weather (when reported), the clouds, the ceiling, the temperature and
// dew point, and the QNH. A report that could not be decoded says so
// instead, with the decoder's reason. Every text is plain text.
//
// Main thread only.
#pragma once

#include <QDateTime>
#include <QLabel>
#include <QWidget>

#include "controller/AirportWeather.h"

namespace orvento {

class MetarView : public QWidget {
    Q_OBJECT

  public:
    explicit MetarView(QWidget* parent = nullptr);

    // The METAR of an AirportWeather; its age as of `now`.
    void showReport(const AirportWeather::Report& report, const QDateTime& now);
    // Every line shown, in order, one a line ("Wind: 340° at 12 kt").
    QString text() const;
    // The badge's text: the category, or the words for none.
    QString badgeText() const { return badge_->text(); }
    bool flaggedOld() const { return !old_->isHidden(); }

  private:
    // One line of the decoding: its name and its value.
    struct Line {
        QLabel* name;
        QLabel* value;
    };
    enum LineId {
        kWind,
        kVisibility,
        kRunwayVisualRange,
        kWeather,
        kClouds,
        kCeiling,
        kTemperature,
        kQnh
    };
    void setLine(LineId id, const QString& value);

    QLabel* badge_ = nullptr;
    QLabel* heading_ = nullptr;  // the station and when it was issued, or why there is no decoding
    QLabel* old_ = nullptr;
    QWidget* lines_ = nullptr;
    QList<Line> lineLabels_;  // in LineId order
};

}  // namespace orvento
