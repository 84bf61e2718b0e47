#include "screen/FlowLayout.h"

#include <QWidget>
#include <algorithm>

namespace orvento {

FlowLayout::FlowLayout(int spacing) {
    setSpacing(spacing);
    setContentsMargins(0, 0, 0, 0);
}

FlowLayout::~FlowLayout() {
    while (QLayoutItem* item = takeAt(0)) {
        delete item;  // the layout owns its items; their widgets belong to the parent
    }
}

void FlowLayout::addItem(QLayoutItem* item) {
    items_.append(item);
}

QLayoutItem* FlowLayout::takeAt(int index) {
    return index >= 0 && index < items_.size() ? items_.takeAt(index) : nullptr;
}

QSize FlowLayout::minimumSize() const {
    // The widest single item: narrower than that, nothing can wrap any more.
    QSize size;
    for (const QLayoutItem* item : items_) {
        if (!item->isEmpty()) {
            size = size.expandedTo(item->minimumSize().expandedTo(item->sizeHint()));
        }
    }
    return size;
}

QSize FlowLayout::sizeHint() const {
    // All on one line.
    int width = 0;
    int height = 0;
    int shown = 0;
    for (const QLayoutItem* item : items_) {
        if (!item->isEmpty()) {
            width += item->sizeHint().width();
            height = std::max(height, item->sizeHint().height());
            ++shown;
        }
    }
    return {width + spacing() * std::max(shown - 1, 0), height};
}

void FlowLayout::setGeometry(const QRect& rect) {
    QLayout::setGeometry(rect);
    arrange(rect, true);
}

int FlowLayout::arrange(const QRect& rect, bool place) const {
    int x = rect.x();
    int y = rect.y();
    int lineHeight = 0;
    for (QLayoutItem* item : items_) {
        if (item->isEmpty()) {
            continue;  // a hidden button takes no room
        }
        const QSize size = item->sizeHint();
        if (x > rect.x() && x + size.width() > rect.right() + 1) {
            x = rect.x();
            y += lineHeight + spacing();
            lineHeight = 0;
        }
        if (place) {
            item->setGeometry(QRect(QPoint(x, y), size));
        }
        x += size.width() + spacing();
        lineHeight = std::max(lineHeight, size.height());
    }
    return y + lineHeight - rect.y();
}

}  // namespace orvento
