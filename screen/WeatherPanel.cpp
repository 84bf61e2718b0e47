#include "screen/WeatherPanel.h"

#include <QCoreApplication>
#include <QHBoxLayout>
#include <QScrollArea>
#include <QToolButton>
#include <QVBoxLayout>
#include <chrono>

#include "controller/WeatherTexts.h"

namespace orvento {
namespace {

constexpr std::chrono::minutes kAgeInterval{1};
constexpr int kReportTextHeight = 170;

QString translate(const char* text) {
    return QCoreApplication::translate("OrventoViewController", text);
}

QLabel* caption(const char* objectName, const QString& text, QWidget* parent) {
    auto* label = new QLabel(text, parent);
    label->setObjectName(QLatin1String(objectName));
    label->setTextFormat(Qt::PlainText);
    return label;
}

}  // namespace

WeatherPanel::WeatherPanel(QWidget* parent) : QWidget(parent) {
    airport_ = new QLineEdit(this);
    airport_->setObjectName(QStringLiteral("airportField"));
    airport_->setMaxLength(16);
    airport_->setFixedWidth(84);
    airport_->setAccessibleName(translate(QT_TRANSLATE_NOOP("OrventoViewController", "Airport")));
    airport_->setToolTip(translate(QT_TRANSLATE_NOOP(
        "OrventoViewController", "The ICAO code of an airport, four letters such as LTFM")));
    auto* refresh = new QToolButton(this);
    refresh->setObjectName(QStringLiteral("refreshWeather"));
    refresh->setText(translate(QT_TRANSLATE_NOOP("OrventoViewController", "Refresh")));
    refresh->setToolTip(translate(
        QT_TRANSLATE_NOOP("OrventoViewController", "Fetch the latest METAR and TAF again")));
    refresh_ = refresh;
    auto* airportCaption = caption(
        "airportCaption", translate(QT_TRANSLATE_NOOP("OrventoViewController", "AIR&PORT")), this);
    airportCaption->setTextFormat(Qt::AutoText);
    airportCaption->setBuddy(airport_);
    message_ = caption("weatherMessage", {}, this);
    message_->setWordWrap(true);
    message_->hide();
    source_ = caption("weatherSource", {}, this);
    source_->setWordWrap(true);
    source_->hide();

    auto* top = new QHBoxLayout;
    top->setSpacing(8);
    top->addWidget(airportCaption);
    top->addWidget(airport_);
    top->addWidget(refresh_);
    top->addStretch();

    // Decoded above raw, in one column that scrolls as a whole; the raw text
    // keeps its own lazy list.
    auto* content = new QWidget;
    content->setObjectName(QStringLiteral("weatherContent"));
    metarView_ = new MetarView(content);
    tafHeading_ = caption("tafHeading", {}, content);
    tafHeading_->setWordWrap(true);
    timeline_ = new TafTimeline(content);
    reportText_ = new ReportTextView(content);
    reportText_->setObjectName(QStringLiteral("metar"));
    reportText_->setAccessibleName(
        translate(QT_TRANSLATE_NOOP("OrventoViewController", "Weather report")));
    reportText_->setFrameShape(QFrame::NoFrame);
    reportText_->setFixedHeight(kReportTextHeight);
    auto* column = new QVBoxLayout(content);
    column->setContentsMargins(0, 0, 6, 0);
    column->setSpacing(8);
    column->addWidget(metarView_);
    column->addWidget(tafHeading_);
    column->addWidget(timeline_);
    column->addWidget(caption("reportsCaption",
                              translate(QT_TRANSLATE_NOOP("OrventoViewController", "AS ISSUED")),
                              content));
    column->addWidget(reportText_);
    column->addStretch();
    auto* scroll = new QScrollArea(this);
    scroll->setObjectName(QStringLiteral("weatherScroll"));
    scroll->setWidget(content);
    scroll->setWidgetResizable(true);
    scroll->setFrameShape(QFrame::NoFrame);
    scroll->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(14, 10, 6, 10);
    layout->setSpacing(6);
    layout->addLayout(top);
    layout->addWidget(message_);
    layout->addWidget(source_);
    layout->addWidget(scroll, 1);

    connect(airport_, &QLineEdit::returnPressed, this,
            [this] { emit airportEntered(airport_->text()); });
    connect(refresh_, &QAbstractButton::clicked, this, &WeatherPanel::refreshRequested);
    ageTimer_.setInterval(kAgeInterval);
    connect(&ageTimer_, &QTimer::timeout, this, &WeatherPanel::showAges);
    tafHeading_->hide();
}

void WeatherPanel::setAirport(const QString& code) {
    airport_->setText(code);
}

void WeatherPanel::setSource(const QString& text) {
    source_->setText(text);
    source_->setVisible(!text.isEmpty());
}

void WeatherPanel::setMessage(const QString& text) {
    message_->setText(text);
    message_->setVisible(!text.isEmpty());
}

void WeatherPanel::showDecoded(const AirportWeather& weather) {
    const QDateTime now = QDateTime::currentDateTimeUtc();
    metarShown_ = weather.metar();
    showAges();
    const AirportWeather::Report& taf = weather.taf();
    QString heading;
    if (taf.taf) {
        const weather::Taf& t = *taf.taf;
        heading = translate(QT_TRANSLATE_NOOP("OrventoViewController",
                                              "TAF %1 \u00b7 %2 \u00b7 valid %3 to %4 UTC"))
                      .arg(QString::fromStdString(t.station),
                           t.issued ? issuedText(*t.issued, now)
                                    : translate(QT_TRANSLATE_NOOP("OrventoViewController",
                                                                  "issue time not given")),
                           dayTimeText(t.validFrom), dayTimeText(t.validTo));
    } else if (taf.isReport) {
        heading =
            translate(QT_TRANSLATE_NOOP("OrventoViewController", "Could not decode the TAF: %1."))
                .arg(taf.decodeError);
    } else if (taf.arrived) {
        heading = translate(QT_TRANSLATE_NOOP("OrventoViewController", "No TAF to decode."));
    }
    tafHeading_->setText(heading);
    tafHeading_->setVisible(!heading.isEmpty());
    timeline_->setTaf(taf.taf, now);
    ageTimer_.start();
}

void WeatherPanel::showAges() {
    metarView_->showReport(metarShown_, QDateTime::currentDateTimeUtc());
}

}  // namespace orvento
