#include "screen/MetarView.h"

#include <QCoreApplication>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QVBoxLayout>

#include "controller/WeatherTexts.h"
#include "screen/FlightCategoryColours.h"

namespace orvento {
namespace {

QString translate(const char* text) {
    return QCoreApplication::translate("OrventoViewController", text);
}

QLabel* plainLabel(QWidget* parent, const char* objectName) {
    auto* label = new QLabel(parent);
    label->setObjectName(QLatin1String(objectName));
    label->setTextFormat(Qt::PlainText);
    return label;
}

}  // namespace

MetarView::MetarView(QWidget* parent) : QWidget(parent) {
    badge_ = plainLabel(this, "categoryBadge");
    heading_ = plainLabel(this, "metarHeading");
    heading_->setWordWrap(true);
    old_ = plainLabel(this, "oldBadge");
    old_->setText(translate(QT_TRANSLATE_NOOP("OrventoViewController", "OLD")));
    old_->setToolTip(translate(
        QT_TRANSLATE_NOOP("OrventoViewController", "This METAR is more than 90 minutes old.")));
    old_->hide();
    auto* head = new QHBoxLayout;
    head->setSpacing(8);
    head->addWidget(badge_, 0, Qt::AlignTop);
    head->addWidget(heading_, 1);
    head->addWidget(old_, 0, Qt::AlignTop);

    lines_ = new QWidget(this);
    auto* grid = new QGridLayout(lines_);
    grid->setContentsMargins(0, 0, 0, 0);
    grid->setHorizontalSpacing(10);
    grid->setVerticalSpacing(2);
    grid->setColumnStretch(1, 1);
    static constexpr const char* kNames[] = {
        QT_TRANSLATE_NOOP("OrventoViewController", "Wind"),
        QT_TRANSLATE_NOOP("OrventoViewController", "Visibility"),
        QT_TRANSLATE_NOOP("OrventoViewController", "RVR"),
        QT_TRANSLATE_NOOP("OrventoViewController", "Weather"),
        QT_TRANSLATE_NOOP("OrventoViewController", "Clouds"),
        QT_TRANSLATE_NOOP("OrventoViewController", "Ceiling"),
        QT_TRANSLATE_NOOP("OrventoViewController", "Temperature"),
        QT_TRANSLATE_NOOP("OrventoViewController", "QNH"),
    };
    for (const char* name : kNames) {
        Line line{plainLabel(lines_, "weatherName"), plainLabel(lines_, "weatherValue")};
        line.name->setText(translate(name));
        line.value->setWordWrap(true);
        line.value->setTextInteractionFlags(Qt::TextSelectableByMouse);
        const int row = static_cast<int>(lineLabels_.size());
        grid->addWidget(line.name, row, 0, Qt::AlignTop);
        grid->addWidget(line.value, row, 1);
        lineLabels_.append(line);
    }

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(6);
    layout->addLayout(head);
    layout->addWidget(lines_);
    showReport({}, QDateTime::currentDateTimeUtc());
}

void MetarView::setLine(LineId id, const QString& value) {
    const Line& line = lineLabels_[id];
    line.value->setText(value);
    // The runway visual range and the weather only when there are some.
    const bool shown = !value.isEmpty();
    line.name->setVisible(shown);
    line.value->setVisible(shown);
}

void MetarView::showReport(const AirportWeather::Report& report, const QDateTime& now) {
    const std::optional<weather::Metar>& metar = report.metar;
    lines_->setVisible(metar.has_value());
    old_->setVisible(metar && isOldMetar(metar->issued, now));
    if (!metar) {
        badge_->hide();
        heading_->setText(
            !report.arrived ? translate(QT_TRANSLATE_NOOP("OrventoViewController",
                                                          "The decoded METAR appears here."))
            : !report.isReport
                ? translate(QT_TRANSLATE_NOOP("OrventoViewController", "No METAR to decode."))
                : translate(
                      QT_TRANSLATE_NOOP("OrventoViewController", "Could not decode the METAR: %1."))
                      .arg(report.decodeError));
        return;
    }
    badge_->show();
    badge_->setText(categoryText(metar->category));
    badge_->setProperty("category", metar->category ? categoryName(*metar->category) : "");
    badge_->setStyleSheet(
        metar->category ? QStringLiteral("background: %1; color: #ffffff; border-radius: 5px; "
                                         "padding: 1px 7px; font-weight: 700;")
                              .arg(flightCategoryColour(*metar->category).name())
                        : QStringLiteral("color: #a9bbd3; font-style: italic;"));
    badge_->setWordWrap(!metar->category);
    heading_->setText(
        QStringLiteral("%1 \u00b7 %2")
            .arg(QString::fromStdString(metar->station), issuedText(metar->issued, now)));
    const weather::Conditions& c = metar->conditions;
    setLine(kWind, windText(c.wind));
    setLine(kVisibility, visibilityText(c));
    setLine(kRunwayVisualRange, runwayVisualRangeText(c.runwayVisualRanges));
    setLine(kWeather, presentWeatherText(c.weather));
    setLine(kClouds, cloudsText(c.sky));
    setLine(kCeiling, ceilingText(c.sky));
    setLine(kTemperature, temperatureText(metar->temperatures));
    setLine(kQnh, qnhText(metar->qnh));
}

QString MetarView::text() const {
    QStringList lines{badge_->isHidden() ? heading_->text()
                                         : badge_->text() + QLatin1Char(' ') + heading_->text()};
    if (!lines_->isHidden()) {
        for (const Line& line : lineLabels_) {
            if (!line.value->isHidden()) {
                lines.append(line.name->text() + QStringLiteral(": ") + line.value->text());
            }
        }
    }
    return lines.join(QLatin1Char('\n'));
}

}  // namespace orvento
