// TafTimeline: a TAF's periods on a simple timeline: one row per group (the
// base forecast, then FM, BECMG, TEMPO, PROB30/40 and INTER groups in the
// order written), each a bar over its period, coloured by the flight
// category of the conditions in force during it (grey and "no category" when
// the forecast leaves the visibility or sky unknown), on an axis of UTC hours
// over the forecast's validity.
//
// Main thread only.
#pragma once

#include <QDateTime>
#include <QStringList>
#include <QWidget>
#include <optional>

#include "weather/Taf.h"

namespace orvento {

class TafTimeline : public QWidget {
    Q_OBJECT

  public:
    explicit TafTimeline(QWidget* parent = nullptr);

    // The forecast's groups; none: an empty timeline. `now` places the days.
    void setTaf(const std::optional<weather::Taf>& taf, const QDateTime& now);
    // One line per group, in order: "BECMG 7 10:00–7 12:00 VFR".
    const QStringList& periods() const { return periods_; }

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override { return sizeHint(); }

  protected:
    void paintEvent(QPaintEvent* event) override;

  private:
    struct Row {
        QString name;                // "PROB30 TEMPO"
        std::optional<double> from;  // hours after the validity's start
        std::optional<double> to;
        std::optional<weather::FlightCategory> category;
    };
    double validHours_ = 0;
    int firstHour_ = 0;  // UTC hour of the validity's start
    QList<Row> rows_;
    QStringList periods_;
};

}  // namespace orvento
