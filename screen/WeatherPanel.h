// The weather panel: plain text of any length, shown line by line in a list
// view that lays its lines out lazily, in batches between other events, so
// that a report of tens of thousands of lines shows at once and the window
// stays responsive. Lines wrap at word boundaries; the text is never markup.
//
// Main thread only, like every widget.
#pragma once

#include <QListView>
#include <QString>
#include <QStringListModel>

namespace orvento {

class WeatherPanel : public QListView {
    Q_OBJECT

  public:
    explicit WeatherPanel(QWidget* parent = nullptr);

    // The whole text, its lines separated by line feeds.
    void setPlainText(const QString& text);
    QString toPlainText() const;

  private:
    QStringListModel lines_;
};

}  // namespace orvento
