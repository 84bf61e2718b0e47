// ScreenLayouts: arranges the player screen's widgets for the window's size,
// again each time the window crosses a breakpoint.
//
// - Narrow: the column of the interface description, as it is (a phone's
//   screen, and any window narrower than kWideFromWidth and at least
//   kShortBelowHeight high).
// - Short (lower than kShortBelowHeight): the same column with the play
//   button, the status line and the listening time in one row, so that the
//   bottom card keeps its height.
// - Wide (from kWideFromWidth): a sidebar with the header and the station
//   card, whose list is always open there; beside it the player row and the
//   panels. From kTwoColumnsFromWidth the transmissions (over the monitor)
//   and the weather stand side by side, each in a card of its own, and from
//   kThreeColumnsFromWidth the monitor has a column too; the tab card keeps
//   the pages that have no card (all of them below kTwoColumnsFromWidth) and
//   hides when it has none.
//
// The widgets are moved, never copied or rebuilt, so they keep what they
// hold (rows, selections, scroll positions, the station playing); the focus,
// which a widget leaving the tab card loses, is put back after a switch. The keyboard order (the
// screen's Tab and Shift+Tab) follows the reading order of each arrangement: in the column, the
// description's (the address, the button, the station card, the bottom card with its page, the
// menu); in the wide one, the sidebar from the top, then the button and the panels column by
// column.
//
// While the list is the sidebar, closing it (setListOpen(false)) is only
// remembered for the column: the list stays where it is.
//
// Main thread only.
#pragma once

#include <QBoxLayout>
#include <QFrame>
#include <QLabel>
#include <QList>
#include <QObject>
#include <QPointer>
#include <QSize>
#include <QTabWidget>

#include "screen/StationBrowser.h"

namespace orvento {

enum class ScreenLayout { Narrow, Short, Wide };

// The widgets and layouts of the screen that the arrangements place; the
// panels may be null (a screen without a monitor).
struct ScreenParts {
    QBoxLayout* screenLayout = nullptr;  // the screen's own, the description's column
    QLayout* headerRow = nullptr;
    QWidget* stationCard = nullptr;
    StationBrowser* stationBrowser = nullptr;
    QWidget* selectButton = nullptr;
    QWidget* nameField = nullptr;
    QWidget* addressField = nullptr;
    QWidget* button = nullptr;
    QLabel* statusLabel = nullptr;
    QLayout* timerLayout = nullptr;
    QTabWidget* bottomTabs = nullptr;
    QWidget* menuButton = nullptr;
    QWidget* transmissions = nullptr;
    QWidget* weather = nullptr;
    QWidget* monitor = nullptr;
};

class ScreenLayouts : public QObject {
    Q_OBJECT

  public:
    static constexpr int kWideFromWidth = 900;
    // The column's least height: it is never squeezed below it.
    static constexpr int kShortBelowHeight = 640;
    static constexpr int kTwoColumnsFromWidth = 1200;
    static constexpr int kThreeColumnsFromWidth = 1600;
    static constexpr int kSidebarWidth = 300;  // at least
    static constexpr int kRowButtonSide = 84;  // the play button in a row

    static ScreenLayout layoutFor(QSize size);
    // The panel columns of a wide window `width` wide: 1 (the tab card
    // alone), 2 or 3.
    static int panelColumnsFor(int width);

    // `screen` holds the parts (and outlives this object).
    ScreenLayouts(QWidget& screen, const ScreenParts& parts);
    ~ScreenLayouts() override;

    ScreenLayout shown() const { return shown_; }
    int panelColumns() const { return columns_; }
    // Arranges the widgets for a screen of `size`; nothing when the
    // arrangement is already that one.
    void arrange(QSize size);

    // The station list as the sidebar: always shown.
    bool listIsSidebar() const { return shown_ == ScreenLayout::Wide; }
    // Opens or closes the station list of the column (see above).
    void setListOpen(bool open);
    // The station browser opened or closed: in the column it takes the
    // bottom card's room.
    void browserOpenChanged(bool open);
    // A page was added to the tab card.
    void pageAdded();

    // The controls Tab reaches now, in the reading order of the arrangement.
    QList<QWidget*> tabStops() const;
    // Moves the focus to the next (or previous) of them; false when the
    // focus is not on one.
    bool focusNext(bool next) const;

  private:
    struct Page {
        QPointer<QWidget> widget;
        QString title;
    };
    struct NarrowItem {
        QLayoutItem* item;
        int stretch;
    };

    // Takes the arrangement apart and puts the description's column back.
    void restoreColumn();
    void buildShort();
    void buildWide();
    QBoxLayout* playerRow();
    // A card of its own for a panel taken out of the tab card.
    QWidget* cardFor(QWidget* panel);
    // The stops Tab reaches in `root`, in the order the chain has them.
    QList<QWidget*> focusable(QWidget* root) const;

    QWidget& screen_;
    const ScreenParts parts_;
    ScreenLayout shown_ = ScreenLayout::Narrow;
    int columns_ = 1;

    // What the column holds while another arrangement is shown.
    QList<NarrowItem> narrow_;
    Qt::Alignment statusAlignment_;
    bool listOpenInColumn_ = false;
    // The tab card's pages in order, and its current one, while some of
    // them have cards of their own.
    QList<Page> pages_;
    QPointer<QWidget> currentPage_;
    // The layouts and cards an arrangement built; gone with it.
    QList<QLayout*> built_;
    QList<QFrame*> cards_;
};

}  // namespace orvento
