#include "screen/StationBrowser.h"

#include <QCoreApplication>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QMenu>
#include <QVBoxLayout>

#include "controller/StatusTexts.h"
#include "screen/FlowLayout.h"
#include "screen/StationRowDelegate.h"

namespace orvento {
namespace {

using Scope = StationFilterModel::Scope;
constexpr int kScopes = 5;

QString translate(const char* text) {
    return QCoreApplication::translate("OrventoViewController", text);
}

// The rows as the list shows them: each station's URL as its tooltip,
// escaped (a tooltip would render markup), and a name for screen readers that
// says whether the station is a favourite.
class StationRowsModel : public QIdentityProxyModel {
  public:
    using QIdentityProxyModel::QIdentityProxyModel;
    QVariant data(const QModelIndex& index, int role) const override {
        if (role == Qt::ToolTipRole) {
            const QString url =
                QIdentityProxyModel::data(index, StationListModel::UrlRole).toString();
            const QString detail =
                QIdentityProxyModel::data(index, StationListModel::DetailRole).toString();
            return detail.isEmpty()
                       ? QStringLiteral("<p>%1</p>").arg(withoutPassword(url).toHtmlEscaped())
                       : QStringLiteral("<p>%1<br>%2</p>")
                             .arg(withoutPassword(url).toHtmlEscaped(), detail.toHtmlEscaped());
        }
        if (role == Qt::AccessibleTextRole) {
            QString name = QIdentityProxyModel::data(index, Qt::DisplayRole).toString();
            if (const QString detail =
                    QIdentityProxyModel::data(index, StationListModel::DetailRole).toString();
                !detail.isEmpty()) {
                name += QStringLiteral(", ") + detail;
            }
            return QIdentityProxyModel::data(index, StationListModel::FavouriteRole).toBool()
                       ? translate(QT_TRANSLATE_NOOP("OrventoViewController", "%1, favourite"))
                             .arg(name)
                       : name;
        }
        return QIdentityProxyModel::data(index, role);
    }
};

}  // namespace

StationBrowser::StationBrowser(QWidget* parent) : QWidget(parent) {
    search_ = new QLineEdit(this);
    search_->setObjectName(QStringLiteral("searchField"));
    search_->setPlaceholderText(
        translate(QT_TRANSLATE_NOOP("OrventoViewController", "Search: name, frequency, airport")));
    search_->setAccessibleName(
        translate(QT_TRANSLATE_NOOP("OrventoViewController", "Search stations")));
    search_->setClearButtonEnabled(true);

    // Wraps rather than squeezes: five scopes and their texts do not fit a
    // narrow window on one line in every language and font.
    auto* scopeRow = new FlowLayout(6);
    const char* kScopeNames[] = {
        QT_TRANSLATE_NOOP("OrventoViewController", "All"),
        QT_TRANSLATE_NOOP("OrventoViewController", "Directory"),
        QT_TRANSLATE_NOOP("OrventoViewController", "\u2605 Favourites"),
        QT_TRANSLATE_NOOP("OrventoViewController", "Recent"),
        QT_TRANSLATE_NOOP("OrventoViewController", "My stations"),
    };
    for (int scope = 0; scope < kScopes; ++scope) {
        auto* button = new QToolButton(this);
        button->setObjectName(QStringLiteral("scopeButton"));
        button->setText(translate(kScopeNames[scope]));
        button->setCheckable(true);
        button->setChecked(scope == 0);
        scopes_.addButton(button, scope);
        scopeRow->addWidget(button);
    }
    // Under the list: beside the scopes it would squeeze them in a narrow window.
    auto* addRow = new QHBoxLayout;
    addRow->addStretch();
    add_ = new QToolButton(this);
    add_->setObjectName(QStringLiteral("addStationButton"));
    add_->setText(translate(QT_TRANSLATE_NOOP("OrventoViewController", "Add station\u2026")));
    addRow->addWidget(add_);
    connect(add_, &QToolButton::clicked, this, &StationBrowser::addRequested);
    empty_ = new QLabel(this);
    empty_->setObjectName(QStringLiteral("emptyLabel"));
    empty_->setTextFormat(Qt::PlainText);
    empty_->setWordWrap(true);
    empty_->hide();
    directoryNote_ = new QLabel(this);
    directoryNote_->setObjectName(QStringLiteral("directoryNote"));
    directoryNote_->setTextFormat(Qt::PlainText);
    directoryNote_->setWordWrap(true);
    directoryNote_->hide();

    list_ = new QListView(this);
    list_->setObjectName(QStringLiteral("picker"));
    list_->setAccessibleName(translate(QT_TRANSLATE_NOOP("OrventoViewController", "Stations")));
    list_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    list_->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    list_->setUniformItemSizes(true);
    list_->setWordWrap(false);
    list_->setTextElideMode(Qt::ElideRight);
    list_->setMinimumHeight(120);
    list_->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
    list_->setItemDelegate(new StationRowDelegate(list_));
    list_->setToolTip({});
    rows_ = new StationRowsModel(this);
    rows_->setSourceModel(&filter_);
    // Before the connections below: the list resets before they run.
    list_->setModel(rows_);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(6);
    layout->addWidget(search_);
    layout->addLayout(scopeRow);
    layout->addWidget(directoryNote_);
    layout->addWidget(empty_);
    layout->addWidget(list_);
    layout->addLayout(addRow);
    setTabOrder(search_, scopes_.button(0));
    setTabOrder(scopes_.button(kScopes - 1), add_);
    setTabOrder(add_, list_);
    list_->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(list_, &QWidget::customContextMenuRequested, this, &StationBrowser::showRowMenu);

    connect(search_, &QLineEdit::textChanged, &filter_, &StationFilterModel::setQuery);
    connect(&scopes_, &QButtonGroup::idClicked, this,
            [this](int scope) { filter_.setScope(static_cast<Scope>(scope)); });
    connect(&filter_, &QAbstractItemModel::modelReset, this, &StationBrowser::rowsChanged);
    search_->installEventFilter(this);
    list_->installEventFilter(this);
    list_->viewport()->installEventFilter(this);
}

void StationBrowser::setStations(StationListModel* stations) {
    filter_.setSourceModel(stations);
}

void StationBrowser::setSources(bool catalogue, bool directory) {
    scopeButton(Scope::all)->setVisible(catalogue);
    scopeButton(Scope::directory)->setVisible(directory);
    const Scope scope = filter_.scope();
    if ((scope == Scope::all && !catalogue) || (scope == Scope::directory && !directory)) {
        const Scope shown = catalogue   ? Scope::all
                            : directory ? Scope::directory
                                        : Scope::favourites;
        scopeButton(shown)->setChecked(true);
        filter_.setScope(shown);
    }
}

void StationBrowser::setDirectoryNote(const QString& text) {
    directoryNote_->setText(text);
    showDirectoryNote();
}

void StationBrowser::showDirectoryNote() {
    directoryNote_->setVisible(filter_.scope() == Scope::directory &&
                               !directoryNote_->text().isEmpty());
}

QAbstractButton* StationBrowser::scopeButton(Scope scope) const {
    return scopes_.button(static_cast<int>(scope));
}

int StationBrowser::stationRow(const QModelIndex& index) const {
    if (index.model() == rows_) {
        return filter_.sourceRow(index.row());
    }
    return index.model() == &filter_ ? filter_.sourceRow(index.row()) : -1;
}

void StationBrowser::setCurrentStation(int stationRow) {
    const QModelIndex shown = filter_.mapFromSource(
        filter_.sourceModel() != nullptr ? filter_.sourceModel()->index(stationRow, 0)
                                         : QModelIndex());
    const QModelIndex current = rows_->index(shown.isValid() ? shown.row() : 0, 0);
    list_->setCurrentIndex(current);
    list_->scrollTo(current);
}

void StationBrowser::focusSearch() {
    search_->setFocus(Qt::ShortcutFocusReason);
    search_->selectAll();
}

void StationBrowser::rowsChanged() {
    const bool none = filter_.rowCount() == 0;
    if (none && filter_.scope() == Scope::favourites) {
        empty_->setText(translate(QT_TRANSLATE_NOOP(
            "OrventoViewController", "No favourites here. Star a station with \u2606 or Space.")));
    } else if (none && filter_.scope() == Scope::mine) {
        empty_->setText(translate(
            QT_TRANSLATE_NOOP("OrventoViewController",
                              "No station of your own yet: \"Add station\u2026\" adds one.")));
    } else if (none && filter_.scope() == Scope::recent) {
        empty_->setText(
            translate(QT_TRANSLATE_NOOP("OrventoViewController", "No station played here yet.")));
    } else if (none && filter_.scope() == Scope::directory && search_->text().isEmpty()) {
        empty_->setText(translate(
            QT_TRANSLATE_NOOP("OrventoViewController", "The directory has not been fetched yet.")));
    } else if (none) {
        empty_->setText(
            translate(QT_TRANSLATE_NOOP("OrventoViewController", "No station matches.")));
    }
    empty_->setVisible(none);
    showDirectoryNote();
    // What Return in the search field plays.
    list_->setCurrentIndex(rows_->index(0, 0));
}

bool StationBrowser::eventFilter(QObject* watched, QEvent* event) {
    if (watched == list_ &&
        (event->type() == QEvent::ShowToParent || event->type() == QEvent::HideToParent)) {
        // The search and scopes show and hide with the list.
        const bool open = event->type() == QEvent::ShowToParent;
        if (open == isHidden()) {
            setVisible(open);
            emit openChanged(open);
        }
    } else if (event->type() == QEvent::KeyPress) {
        auto* key = static_cast<QKeyEvent*>(event);
        if (watched == search_) {
            return searchKey(key);
        }
        if (watched == list_) {
            return listKey(key);
        }
    } else if (watched == list_->viewport() && (event->type() == QEvent::MouseButtonPress ||
                                                event->type() == QEvent::MouseButtonRelease ||
                                                event->type() == QEvent::MouseButtonDblClick)) {
        return starClick(static_cast<QMouseEvent*>(event));
    }
    return QWidget::eventFilter(watched, event);
}

bool StationBrowser::searchKey(QKeyEvent* event) {
    switch (event->key()) {
        case Qt::Key_Return:
        case Qt::Key_Enter:
            if (filter_.rowCount() > 0) {
                emit firstMatchChosen(filter_.sourceRow(0));
            }
            return true;
        case Qt::Key_Down:
        case Qt::Key_PageDown:
            list_->setFocus(Qt::OtherFocusReason);
            return true;
        case Qt::Key_Escape:
            if (search_->text().isEmpty()) {
                emit closeRequested();
            } else {
                search_->clear();
            }
            return true;
        default:
            return false;
    }
}

bool StationBrowser::listKey(QKeyEvent* event) {
    const QModelIndex current = list_->currentIndex();
    if (event->key() == Qt::Key_Space && current.isValid()) {
        emit favouriteToggled(stationRow(current));
        return true;
    }
    if ((event->key() == Qt::Key_F2 || event->key() == Qt::Key_Delete) && ownRow(current) >= 0) {
        if (event->key() == Qt::Key_F2) {
            emit renameRequested(ownRow(current));
        } else {
            emit removeRequested(ownRow(current));
        }
        return true;
    }
    if (event->key() == Qt::Key_Up && (!current.isValid() || current.row() == 0)) {
        search_->setFocus(Qt::OtherFocusReason);
        return true;
    }
    const QString text = event->text();
    const bool typed =
        !text.isEmpty() && text.front().isPrint() &&
        !(event->modifiers() & (Qt::ControlModifier | Qt::AltModifier | Qt::MetaModifier));
    if (typed) {
        search_->setFocus(Qt::OtherFocusReason);
        search_->end(false);
        search_->insert(text);
        return true;
    }
    return false;
}

int StationBrowser::ownRow(const QModelIndex& index) const {
    return index.isValid() && index.data(StationListModel::OwnRole).toBool() ? stationRow(index)
                                                                             : -1;
}

void StationBrowser::showRowMenu(const QPoint& at) {
    const int row = ownRow(list_->indexAt(at));
    if (row < 0) {
        return;
    }
    QMenu menu(this);
    connect(menu.addAction(translate(QT_TRANSLATE_NOOP("OrventoViewController", "Rename\u2026"))),
            &QAction::triggered, this, [this, row] { emit renameRequested(row); });
    connect(menu.addAction(translate(QT_TRANSLATE_NOOP("OrventoViewController", "Remove"))),
            &QAction::triggered, this, [this, row] { emit removeRequested(row); });
    menu.exec(list_->viewport()->mapToGlobal(at));
}

bool StationBrowser::starClick(QMouseEvent* event) {
    const QModelIndex index = list_->indexAt(event->position().toPoint());
    if (!index.isValid() || !StationRowDelegate::starRect(list_->visualRect(index))
                                 .contains(event->position().toPoint())) {
        return false;
    }
    if (event->type() == QEvent::MouseButtonRelease && event->button() == Qt::LeftButton) {
        emit favouriteToggled(stationRow(index));
    }
    // Neither chooses the row nor selects it.
    return true;
}

}  // namespace orvento
