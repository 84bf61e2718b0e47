// ReportTextView: plain text of any length (the raw weather reports), shown
// line by line in a list view that lays its lines out lazily, in batches
// between other events, so that a report of tens of thousands of lines shows
// at once and the window stays responsive. Lines wrap at word boundaries; the
// text is never markup.
//
// The text can be copied: select lines with the mouse or the keyboard (Ctrl+A
// for all) and copy them with Ctrl+C or the context menu; the copy holds the
// selected lines as they are, joined by line feeds.
//
// Main thread only, like every widget.
#pragma once

#include <QListView>
#include <QString>
#include <QStringListModel>

namespace orvento {

class ReportTextView : public QListView {
    Q_OBJECT

  public:
    explicit ReportTextView(QWidget* parent = nullptr);

    // The whole text, its lines separated by line feeds.
    void setPlainText(const QString& text);
    QString toPlainText() const;
    // The selected lines, in order, joined by line feeds.
    QString selectedText() const;
    void copy() const;

  protected:
    void keyPressEvent(QKeyEvent* event) override;

  private:
    QStringListModel lines_;
};

}  // namespace orvento
