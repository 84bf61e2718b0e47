#include "screen/ScreenLayouts.h"

#include <QAbstractButton>
#include <QApplication>
#include <QButtonGroup>
#include <QListView>
#include <QLocale>
#include <QVBoxLayout>
#include <algorithm>
#include <utility>

namespace orvento {
namespace {

constexpr int kColumnSpacing = 16;
constexpr int kCardSpacing = 12;
// A panel's card, as the station card.
constexpr QMargins kCardMargins{14, 12, 14, 14};
constexpr int kInCardSpacing = 8;

// Stops that Tab reaches in `widget` itself (a widget with a focus proxy is
// reached through the proxy; of a group of exclusive buttons, the checked
// one is the stop and the arrows move among them).
bool tabStop(const QWidget* widget) {
    const auto* button = qobject_cast<const QAbstractButton*>(widget);
    const bool groupedOut = button != nullptr && button->group() != nullptr &&
                            button->group()->exclusive() && !button->isChecked();
    return (widget->focusPolicy() & Qt::TabFocus) != 0 && widget->focusProxy() == nullptr &&
           !groupedOut;
}

}  // namespace

ScreenLayout ScreenLayouts::layoutFor(QSize size) {
    if (size.width() >= kWideFromWidth) {
        return ScreenLayout::Wide;
    }
    return size.height() < kShortBelowHeight ? ScreenLayout::Short : ScreenLayout::Narrow;
}

int ScreenLayouts::panelColumnsFor(int width) {
    if (width >= kThreeColumnsFromWidth) {
        return 3;
    }
    return width >= kTwoColumnsFromWidth ? 2 : 1;
}

ScreenLayouts::ScreenLayouts(QWidget& screen, const ScreenParts& parts)
    : QObject(&screen), screen_(screen), parts_(parts) {}

ScreenLayouts::~ScreenLayouts() {
    // The column's own items that are in no layout now; the description's
    // sub-layouts are in the arrangement's, which the screen deletes.
    if (shown_ != ScreenLayout::Narrow) {
        for (const NarrowItem& kept : std::as_const(narrow_)) {
            if (kept.item->layout() == nullptr) {
                delete kept.item;
            }
        }
    }
}

void ScreenLayouts::arrange(QSize size) {
    const ScreenLayout next = layoutFor(size);
    const int columns = next == ScreenLayout::Wide ? panelColumnsFor(size.width()) : 1;
    if (next == shown_ && columns == columns_) {
        return;
    }
    QWidget* focus = QApplication::focusWidget();
    if (focus != nullptr && !screen_.isAncestorOf(focus)) {
        focus = nullptr;
    }

    restoreColumn();
    shown_ = next;
    columns_ = columns;
    if (next == ScreenLayout::Short) {
        buildShort();
    } else if (next == ScreenLayout::Wide) {
        buildWide();
    }
    if (next != ScreenLayout::Wide) {
        browserOpenChanged(!parts_.stationBrowser->list()->isHidden());
    }
    parts_.screenLayout->activate();

    if (focus != nullptr && focus->isVisible() && QApplication::focusWidget() != focus) {
        focus->setFocus(Qt::OtherFocusReason);
    }
}

void ScreenLayouts::setListOpen(bool open) {
    if (listIsSidebar()) {
        listOpenInColumn_ = open;
    } else {
        parts_.stationBrowser->list()->setHidden(!open);
    }
}

void ScreenLayouts::browserOpenChanged(bool open) {
    if (listIsSidebar()) {
        return;
    }
    parts_.bottomTabs->setHidden(open);
    parts_.screenLayout->setStretchFactor(parts_.stationCard, open ? 1 : 0);
}

void ScreenLayouts::pageAdded() {
    if (shown_ == ScreenLayout::Wide && columns_ > 1) {
        parts_.bottomTabs->show();
    }
}

void ScreenLayouts::restoreColumn() {
    if (shown_ == ScreenLayout::Narrow) {
        return;
    }
    const bool wasWide = shown_ == ScreenLayout::Wide;
    shown_ = ScreenLayout::Narrow;
    columns_ = 1;

    // Empty every layout of the arrangement: the widgets stay the screen's,
    // the description's sub-layouts go back to the column below.
    const auto takeApart = [this](auto& self, QLayout* layout) -> void {
        while (QLayoutItem* item = layout->takeAt(0)) {
            if (QLayout* inner = item->layout()) {
                if (built_.contains(inner)) {
                    self(self, inner);
                }
            } else {
                delete item;
            }
        }
    };
    takeApart(takeApart, parts_.screenLayout);
    qDeleteAll(built_);
    built_.clear();

    // The pages go back to the tab card, in their order.
    for (qsizetype i = 0; i < pages_.size(); ++i) {
        QWidget* page = pages_[i].widget;
        if (page == nullptr || parts_.bottomTabs->indexOf(page) >= 0) {
            continue;
        }
        if (QLayout* holder = page->parentWidget()->layout()) {
            holder->removeWidget(page);
        }
        parts_.bottomTabs->insertTab(static_cast<int>(i), page, pages_[i].title);
    }
    if (currentPage_ != nullptr) {
        parts_.bottomTabs->setCurrentWidget(currentPage_);
    }
    pages_.clear();
    qDeleteAll(cards_);
    cards_.clear();

    for (qsizetype i = 0; i < narrow_.size(); ++i) {
        const auto index = static_cast<int>(i);
        if (QLayout* inner = narrow_[i].item->layout()) {
            parts_.screenLayout->insertLayout(index, inner, narrow_[i].stretch);
        } else {
            parts_.screenLayout->insertItem(index, narrow_[i].item);
            parts_.screenLayout->setStretch(index, narrow_[i].stretch);
        }
    }
    narrow_.clear();
    parts_.button->setMinimumSize(0, 0);
    parts_.button->setMaximumSize(QWIDGETSIZE_MAX, QWIDGETSIZE_MAX);
    parts_.statusLabel->setAlignment(statusAlignment_);
    if (wasWide) {
        parts_.stationCard->setMinimumWidth(0);
        parts_.stationCard->setMaximumWidth(QWIDGETSIZE_MAX);
        parts_.selectButton->show();
        parts_.stationBrowser->list()->setHidden(!listOpenInColumn_);
    }
}

void ScreenLayouts::buildShort() {
    QBoxLayout& column = *parts_.screenLayout;
    for (int i = 0; i < column.count(); ++i) {
        narrow_.append({nullptr, column.stretch(i)});
    }
    for (NarrowItem& kept : narrow_) {
        kept.item = column.takeAt(0);
    }
    column.addLayout(parts_.headerRow);
    column.addWidget(parts_.stationCard);
    column.addLayout(playerRow());
    column.addWidget(parts_.bottomTabs, 1);
}

void ScreenLayouts::buildWide() {
    QBoxLayout& column = *parts_.screenLayout;
    for (int i = 0; i < column.count(); ++i) {
        narrow_.append({nullptr, column.stretch(i)});
    }
    for (NarrowItem& kept : narrow_) {
        kept.item = column.takeAt(0);
    }
    // The sidebar: the header and the station card, its list open.
    listOpenInColumn_ = !parts_.stationBrowser->list()->isHidden();
    parts_.selectButton->hide();
    parts_.stationBrowser->list()->show();
    // Narrow, but as wide as the scopes' words in the language shown.
    parts_.stationCard->setFixedWidth(
        std::max(kSidebarWidth, parts_.stationCard->sizeHint().width()));
    auto* sidebar = new QVBoxLayout;
    built_.append(sidebar);
    sidebar->setSpacing(kCardSpacing);
    sidebar->addLayout(parts_.headerRow);
    sidebar->addWidget(parts_.stationCard, 1);

    auto* main = new QVBoxLayout;
    built_.append(main);
    main->setSpacing(kCardSpacing);
    main->addLayout(playerRow());
    if (columns_ == 1) {
        main->addWidget(parts_.bottomTabs, 1);
        parts_.bottomTabs->show();
    } else {
        for (int i = 0; i < parts_.bottomTabs->count(); ++i) {
            pages_.append({parts_.bottomTabs->widget(i), parts_.bottomTabs->tabText(i)});
        }
        currentPage_ = parts_.bottomTabs->currentWidget();
        auto* panels = new QHBoxLayout;
        auto* first = new QVBoxLayout;
        built_.append(panels);
        built_.append(first);
        panels->setSpacing(kColumnSpacing);
        first->setSpacing(kCardSpacing);
        first->addWidget(cardFor(parts_.transmissions), 3);
        if (columns_ == 2 && parts_.monitor != nullptr) {
            first->addWidget(cardFor(parts_.monitor), 2);
        }
        panels->addLayout(first, 1);
        panels->addWidget(cardFor(parts_.weather), 1);
        if (columns_ == 3 && parts_.monitor != nullptr) {
            panels->addWidget(cardFor(parts_.monitor), 1);
        }
        // What has no card of its own stays in the tab card.
        first->addWidget(parts_.bottomTabs, 2);
        parts_.bottomTabs->setVisible(parts_.bottomTabs->count() > 0);
        main->addLayout(panels, 1);
    }

    auto* root = new QHBoxLayout;
    built_.append(root);
    root->setSpacing(kColumnSpacing);
    root->addLayout(sidebar);
    root->addLayout(main, 1);
    column.addLayout(root);
}

QBoxLayout* ScreenLayouts::playerRow() {
    auto* row = new QHBoxLayout;
    built_.append(row);
    row->setSpacing(kColumnSpacing);
    parts_.button->setFixedSize(kRowButtonSide, kRowButtonSide);
    row->addWidget(parts_.button);
    statusAlignment_ = parts_.statusLabel->alignment();
    parts_.statusLabel->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    row->addWidget(parts_.statusLabel, 1);
    row->addLayout(parts_.timerLayout);
    return row;
}

QWidget* ScreenLayouts::cardFor(QWidget* panel) {
    QString title;
    for (const Page& page : std::as_const(pages_)) {
        if (page.widget == panel) {
            title = page.title;
        }
    }
    parts_.bottomTabs->removeTab(parts_.bottomTabs->indexOf(panel));
    auto* card = new QFrame(&screen_);
    card->setObjectName(QStringLiteral("panelCard"));
    cards_.append(card);
    auto* layout = new QVBoxLayout(card);
    layout->setContentsMargins(kCardMargins);
    layout->setSpacing(kInCardSpacing);
    auto* caption = new QLabel(QLocale().toUpper(title), card);
    caption->setObjectName(QStringLiteral("panelCaption"));
    layout->addWidget(caption);
    layout->addWidget(panel, 1);
    panel->show();
    card->show();
    return card;
}

QList<QWidget*> ScreenLayouts::focusable(QWidget* root) const {
    QList<QWidget*> found;
    if (root == nullptr) {
        return found;
    }
    if (tabStop(root)) {
        found.append(root);
    }
    // Inside a part, the order its own widgets set.
    for (QWidget* widget = root->nextInFocusChain(); widget != root && widget != nullptr;
         widget = widget->nextInFocusChain()) {
        if (root->isAncestorOf(widget) && tabStop(widget)) {
            found.append(widget);
        }
    }
    return found;
}

QList<QWidget*> ScreenLayouts::tabStops() const {
    QList<QWidget*> order;
    const auto add = [this, &order](QWidget* part) { order.append(focusable(part)); };
    if (shown_ == ScreenLayout::Wide) {
        add(parts_.menuButton);
        add(parts_.nameField);
        add(parts_.stationBrowser);
        add(parts_.addressField);
        add(parts_.button);
        for (QFrame* card : std::as_const(cards_)) {
            add(card);
        }
        add(parts_.bottomTabs);
    } else {
        add(parts_.addressField);
        add(parts_.button);
        add(parts_.selectButton);
        add(parts_.nameField);
        add(parts_.stationBrowser);
        add(parts_.bottomTabs);
        add(parts_.menuButton);
    }
    order.removeIf(
        [](const QWidget* widget) { return !widget->isVisible() || !widget->isEnabled(); });
    return order;
}

bool ScreenLayouts::focusNext(bool next) const {
    const QList<QWidget*> stops = tabStops();
    const qsizetype at = stops.indexOf(QApplication::focusWidget());
    if (at < 0) {
        return false;
    }
    const qsizetype count = stops.size();
    QWidget* target = stops[(at + (next ? 1 : count - 1)) % count];
    target->setFocus(next ? Qt::TabFocusReason : Qt::BacktabFocusReason);
    return true;
}

}  // namespace orvento
