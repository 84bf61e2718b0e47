// StationRowDelegate: how the station list draws a row: the station's name
// on one line, cut with an ellipsis where it does not fit, a directory
// station's details (country, codec, bit rate, up) before the end, and a
// star at the row's end, filled for a favourite. The star's place (starRect) is where a
// click toggles it (StationBrowser handles the clicks).
//
// Main thread only.
#pragma once

#include <QStyledItemDelegate>

namespace orvento {

class StationRowDelegate : public QStyledItemDelegate {
    Q_OBJECT

  public:
    using QStyledItemDelegate::QStyledItemDelegate;

    // The star's place in a row drawn at `row`.
    static QRect starRect(const QRect& row);

    void paint(QPainter* painter, const QStyleOptionViewItem& option,
               const QModelIndex& index) const override;
};

}  // namespace orvento
