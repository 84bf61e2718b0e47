#include "screen/StationRowDelegate.h"

#include <QApplication>
#include <QPainter>

#include "controller/StationListModel.h"

namespace orvento {
namespace {

constexpr int kStarWidth = 32;
// The item's own padding on both sides, and a little air before the star.
constexpr int kTextMargins = 24;
constexpr int kDetailGap = 12;  // between the name and the details
const QColor kStarOn(0xf5, 0xc5, 0x42);
const QColor kStarOff(0x6b, 0x7f, 0x9c);

}  // namespace

QRect StationRowDelegate::starRect(const QRect& row) {
    return QRect(row.right() - kStarWidth + 1, row.top(), kStarWidth, row.height());
}

void StationRowDelegate::paint(QPainter* painter, const QStyleOptionViewItem& option,
                               const QModelIndex& index) const {
    QStyleOptionViewItem item(option);
    initStyleOption(&item, index);
    // The name never runs under the star, nor under the details. The name
    // comes first: the details take what it leaves, and where it must be cut
    // too, a third of the row.
    const int room = item.rect.width() - kStarWidth - kTextMargins;
    QString detail = index.data(StationListModel::DetailRole).toString();
    int detailWidth = 0;
    if (!detail.isEmpty()) {
        const int nameWidth = item.fontMetrics.horizontalAdvance(item.text);
        const int detailRoom = std::max(room - nameWidth, room / 3) - kDetailGap;
        detail = item.fontMetrics.elidedText(detail, Qt::ElideRight, std::max(detailRoom, 0));
        detailWidth = item.fontMetrics.horizontalAdvance(detail) + kDetailGap;
    }
    item.text =
        item.fontMetrics.elidedText(item.text, Qt::ElideRight, std::max(room - detailWidth, 0));
    const QWidget* view = item.widget;
    QStyle* style = view != nullptr ? view->style() : QApplication::style();
    style->drawControl(QStyle::CE_ItemViewItem, &item, painter, view);

    const bool favourite = index.data(StationListModel::FavouriteRole).toBool();
    painter->save();
    const bool selected = (item.state & QStyle::State_Selected) != 0;
    if (!detail.isEmpty()) {
        painter->setPen(selected ? QColor(Qt::white) : kStarOff);
        const QRect star = starRect(item.rect);
        painter->drawText(QRect(item.rect.left(), item.rect.top(),
                                star.left() - item.rect.left() - 4, item.rect.height()),
                          Qt::AlignRight | Qt::AlignVCenter, detail);
    }
    painter->setPen(favourite ? kStarOn : selected ? QColor(Qt::white) : kStarOff);
    QFont font = item.font;
    font.setPixelSize(18);
    painter->setFont(font);
    painter->drawText(starRect(item.rect), Qt::AlignCenter,
                      favourite ? QStringLiteral("\u2605") : QStringLiteral("\u2606"));
    painter->restore();
}

}  // namespace orvento
