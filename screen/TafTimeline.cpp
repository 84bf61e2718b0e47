#include "screen/TafTimeline.h"

#include <QPainter>
#include <QPainterPath>
#include <algorithm>

#include "controller/WeatherTexts.h"
#include "screen/FlightCategoryColours.h"

namespace orvento {
namespace {

constexpr int kRowHeight = 18;
constexpr int kBarHeight = 13;
constexpr int kAxisHeight = 16;
constexpr int kNameWidth = 96;
constexpr int kTickHours = 6;
const QColor kNoCategory(0x4a, 0x5d, 0x7a);
const QColor kAxis(0x7f, 0x95, 0xb3);

}  // namespace

TafTimeline::TafTimeline(QWidget* parent) : QWidget(parent) {
    setObjectName(QStringLiteral("tafTimeline"));
}

void TafTimeline::setTaf(const std::optional<weather::Taf>& taf, const QDateTime& now) {
    rows_.clear();
    periods_.clear();
    validHours_ = 0;
    if (taf) {
        const QDateTime start = nearestDayTime(taf->validFrom, now);
        const auto hoursAfterStart = [&start](const weather::DayTime& t) -> std::optional<double> {
            const QDateTime at = nearestDayTime(t, start);
            if (!start.isValid() || !at.isValid()) {
                return std::nullopt;
            }
            return static_cast<double>(start.secsTo(at)) / 3600.0;
        };
        validHours_ = std::max(hoursAfterStart(taf->validTo).value_or(0), 1.0);
        firstHour_ = taf->validFrom.hour;
        for (const weather::TafGroup& group : taf->groups) {
            Row row{tafGroupName(group), std::nullopt, std::nullopt, group.category};
            if (group.from && group.to) {
                row.from = std::clamp(hoursAfterStart(*group.from).value_or(0), 0.0, validHours_);
                row.to = std::clamp(hoursAfterStart(*group.to).value_or(0), 0.0, validHours_);
            }
            rows_.append(row);
            periods_.append(QStringLiteral("%1 %2 %3")
                                .arg(row.name,
                                     group.from && group.to ? QStringLiteral("%1\u2013%2")
                                                                  .arg(dayTimeText(*group.from),
                                                                       dayTimeText(*group.to))
                                                            : QStringLiteral("\u2013"),
                                     categoryText(group.category)));
        }
    }
    setToolTip(periods_.join(QLatin1Char('\n')));
    setAccessibleDescription(toolTip());
    updateGeometry();
    update();
}

QSize TafTimeline::sizeHint() const {
    return {kNameWidth + 120,
            rows_.isEmpty() ? 0 : static_cast<int>(rows_.size()) * kRowHeight + kAxisHeight};
}

void TafTimeline::paintEvent(QPaintEvent* /*event*/) {
    if (rows_.isEmpty()) {
        return;
    }
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    QFont small = font();
    small.setPixelSize(10);
    const int left = kNameWidth;
    const double width = std::max(1, this->width() - left - 4);
    const auto x = [&](double hours) { return left + hours / validHours_ * width; };

    for (qsizetype i = 0; i < rows_.size(); ++i) {
        const Row& row = rows_[i];
        const int top = static_cast<int>(i) * kRowHeight;
        painter.setPen(palette().color(QPalette::WindowText));
        painter.setFont(small);
        painter.drawText(QRect(0, top, kNameWidth - 6, kRowHeight),
                         Qt::AlignLeft | Qt::AlignVCenter, row.name);
        if (!row.from || !row.to) {
            continue;
        }
        const QRectF bar(x(*row.from), top + (kRowHeight - kBarHeight) / 2.0,
                         std::max(x(*row.to) - x(*row.from), 3.0), kBarHeight);
        QPainterPath path;
        path.addRoundedRect(bar, 3, 3);
        painter.fillPath(path, row.category ? flightCategoryColour(*row.category) : kNoCategory);
        const QString category = row.category
                                     ? QString::fromLatin1(weather::categoryName(*row.category))
                                     : QStringLiteral("?");
        painter.setPen(Qt::white);
        if (painter.fontMetrics().horizontalAdvance(category) + 6 < bar.width()) {
            painter.drawText(bar, Qt::AlignCenter, category);
        }
    }
    // Ticks at the UTC hours that are multiples of kTickHours.
    const int axisTop = static_cast<int>(rows_.size()) * kRowHeight;
    painter.setPen(kAxis);
    painter.drawLine(QPointF(left, axisTop + 1), QPointF(left + width, axisTop + 1));
    for (int h = (kTickHours - firstHour_ % kTickHours) % kTickHours; h <= validHours_;
         h += kTickHours) {
        const double tickX = x(h);
        painter.drawLine(QPointF(tickX, axisTop + 1), QPointF(tickX, axisTop + 4));
        const QString label =
            QStringLiteral("%1Z").arg((firstHour_ + h) % 24, 2, 10, QLatin1Char('0'));
        const int labelWidth = painter.fontMetrics().horizontalAdvance(label);
        if (tickX + labelWidth / 2.0 <= this->width()) {
            painter.drawText(
                QRectF(tickX - labelWidth / 2.0, axisTop + 4, labelWidth, kAxisHeight - 4),
                Qt::AlignCenter, label);
        }
    }
}

}  // namespace orvento
