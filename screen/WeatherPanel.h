// WeatherPanel: the weather of one airport, the "Weather" tab of the screen:
// the airport's code, which the user may change, and a refresh button; the
// latest METAR decoded (MetarView); the TAF, when it was issued and for when,
// and its periods on a timeline (TafTimeline); and both reports as the server
// gave them (ReportTextView, the screen's `metar`), which can be selected and
// copied. A line under the code says what is going on (a wrong code, the
// reports on their way), another where the reports came from and when.
//
// The panel shows what it is given; the screen decides what to fetch and
// when. Return in the code's field asks for that airport (airportEntered,
// with the text as typed), the refresh button for the same airport's reports
// again (refreshRequested). The decoded METAR's age is brought up to date
// every minute.
//
// Main thread only.
#pragma once

#include <QAbstractButton>
#include <QLabel>
#include <QLineEdit>
#include <QTimer>
#include <QWidget>

#include "controller/AirportWeather.h"
#include "screen/MetarView.h"
#include "screen/ReportTextView.h"
#include "screen/TafTimeline.h"

namespace orvento {

class WeatherPanel : public QWidget {
    Q_OBJECT

  public:
    explicit WeatherPanel(QWidget* parent = nullptr);

    ReportTextView* reportText() const { return reportText_; }
    QLineEdit* airportField() const { return airport_; }
    QAbstractButton* refreshButton() const { return refresh_; }
    MetarView* metarView() const { return metarView_; }
    TafTimeline* timeline() const { return timeline_; }
    QString message() const { return message_->text(); }
    QString source() const { return source_->text(); }

    // The code the field shows.
    void setAirport(const QString& code);
    // One line under the code; empty: none.
    void setMessage(const QString& text);
    // Where the reports shown came from and when (weatherSourceText); empty: none.
    void setSource(const QString& text);
    // The decoded reports of `weather`'s latest whole fetch, as of now.
    void showDecoded(const AirportWeather& weather);

  signals:
    void airportEntered(const QString& typed);
    void refreshRequested();

  private:
    void showAges();

    QLineEdit* airport_ = nullptr;
    QAbstractButton* refresh_ = nullptr;
    QLabel* message_ = nullptr;
    QLabel* source_ = nullptr;
    MetarView* metarView_ = nullptr;
    QLabel* tafHeading_ = nullptr;
    TafTimeline* timeline_ = nullptr;
    ReportTextView* reportText_ = nullptr;
    AirportWeather::Report metarShown_;
    QTimer ageTimer_;
};

}  // namespace orvento
