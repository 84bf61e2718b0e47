#include "screen/ReportTextView.h"

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QCoreApplication>
#include <QKeyEvent>
#include <algorithm>

namespace orvento {

ReportTextView::ReportTextView(QWidget* parent) : QListView(parent) {
    setModel(&lines_);
    setLayoutMode(QListView::Batched);
    setResizeMode(QListView::Adjust);
    setWordWrap(true);
    setTextElideMode(Qt::ElideNone);
    setSelectionMode(QAbstractItemView::ExtendedSelection);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setVerticalScrollMode(QAbstractItemView::ScrollPerPixel);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    auto* copyAction =
        new QAction(QCoreApplication::translate("OrventoViewController", "&Copy"), this);
    connect(copyAction, &QAction::triggered, this, &ReportTextView::copy);
    auto* selectAll =
        new QAction(QCoreApplication::translate("OrventoViewController", "Select &All"), this);
    connect(selectAll, &QAction::triggered, this, &QAbstractItemView::selectAll);
    addActions({copyAction, selectAll});
    setContextMenuPolicy(Qt::ActionsContextMenu);
}

void ReportTextView::setPlainText(const QString& text) {
    lines_.setStringList(text.split(QLatin1Char('\n')));
}

QString ReportTextView::toPlainText() const {
    return lines_.stringList().join(QLatin1Char('\n'));
}

QString ReportTextView::selectedText() const {
    QModelIndexList selected = selectionModel()->selectedRows();
    std::sort(selected.begin(), selected.end(),
              [](const QModelIndex& a, const QModelIndex& b) { return a.row() < b.row(); });
    QStringList lines;
    for (const QModelIndex& index : selected) {
        lines.append(index.data().toString());
    }
    return lines.join(QLatin1Char('\n'));
}

void ReportTextView::copy() const {
    if (selectionModel()->hasSelection()) {
        QApplication::clipboard()->setText(selectedText());
    }
}

void ReportTextView::keyPressEvent(QKeyEvent* event) {
    if (event->matches(QKeySequence::Copy)) {
        copy();
        return;
    }
    QListView::keyPressEvent(event);
}

}  // namespace orvento
