#include "screen/WeatherPanel.h"

namespace orvento {

WeatherPanel::WeatherPanel(QWidget* parent) : QListView(parent) {
    setModel(&lines_);
    setLayoutMode(QListView::Batched);
    setResizeMode(QListView::Adjust);
    setWordWrap(true);
    setTextElideMode(Qt::ElideNone);
    setSelectionMode(QAbstractItemView::NoSelection);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setVerticalScrollMode(QAbstractItemView::ScrollPerPixel);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
}

void WeatherPanel::setPlainText(const QString& text) {
    lines_.setStringList(text.split(QLatin1Char('\n')));
}

QString WeatherPanel::toPlainText() const {
    return lines_.stringList().join(QLatin1Char('\n'));
}

}  // namespace orvento
