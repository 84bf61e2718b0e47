// StationBrowser: the station list with its search: a search field, the
// scopes (every station, the directory's, the favourites, the stations played
// last, the user's own), the "Add station…" button and the list itself (the
// screen's picker), each row with its star and, for a directory station, what
// the directory says of it. Only the sources there are have their scope
// (setSources); in the directory's, a note says how old its list is and why
// it could not be updated.
//
// The browser shows and hides with its list: the screen's select control
// hides and shows the list, and the search and scopes go with it
// (openChanged). The list grows with the room it is given.
//
// Keys. In the search field: typing filters the list at each keystroke (the
// first match becomes the list's current row); Return chooses the first
// match (firstMatchChosen); Down goes to the list; Escape clears the field,
// or, when it is empty, asks to close (closeRequested). In the list: typing a
// character goes on in the search field; Up on the first row goes back to
// it; Space toggles the current row's star; F2 asks to rename the current
// row and Delete to remove it, when it is one of the user's own (as their
// context menu does). A click on a star toggles it without choosing the row. Return, Enter and
// Escape on the list are the screen's.
//
// Rows are shown as one line each whatever their names hold. The list's
// model stacks the catalogue's StationListModel, the search's
// StationFilterModel and the rows' tooltips (each station's URL, without
// password) and accessible names.
//
// Main thread only.
#pragma once

#include <QButtonGroup>
#include <QIdentityProxyModel>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QToolButton>
#include <QWidget>

#include "controller/StationFilterModel.h"

namespace orvento {

class StationBrowser : public QWidget {
    Q_OBJECT

  public:
    explicit StationBrowser(QWidget* parent = nullptr);

    // The stations shown (outlives this widget).
    void setStations(StationListModel* stations);
    // Which sources there are: a catalogue ("All"), the directory.
    void setSources(bool catalogue, bool directory);
    // The directory scope's note (plain text); empty: none.
    void setDirectoryNote(const QString& text);
    QString directoryNote() const { return directoryNote_->text(); }
    QListView* list() const { return list_; }
    QLineEdit* searchField() const { return search_; }
    StationFilterModel& filter() { return filter_; }
    // The scope buttons, in the order of StationFilterModel::Scope.
    QAbstractButton* scopeButton(StationFilterModel::Scope scope) const;
    // The model the list should have: the rows shown, with tooltips.
    QAbstractItemModel* rows() const { return rows_; }

    // The station (catalogue) row of one of the list's indexes; -1 for none.
    int stationRow(const QModelIndex& index) const;
    // Makes the list's current row that of station `stationRow`, or the
    // first row when it is not shown.
    void setCurrentStation(int stationRow);
    void focusSearch();

  signals:
    // The browser opened or closed (with its list).
    void openChanged(bool open);
    void firstMatchChosen(int stationRow);
    void favouriteToggled(int stationRow);
    // "Add station…"; renaming and removing an own station (by station row).
    void addRequested();
    void renameRequested(int stationRow);
    void removeRequested(int stationRow);
    void closeRequested();

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    bool searchKey(QKeyEvent* event);
    bool listKey(QKeyEvent* event);
    bool starClick(QMouseEvent* event);
    void showRowMenu(const QPoint& at);
    // The station row of `index` when it is one of the user's own; else -1.
    int ownRow(const QModelIndex& index) const;
    void rowsChanged();
    void showDirectoryNote();

    QLineEdit* search_ = nullptr;
    QButtonGroup scopes_;
    QLabel* empty_ = nullptr;  // says why the list is empty
    QToolButton* add_ = nullptr;
    QLabel* directoryNote_ = nullptr;
    QListView* list_ = nullptr;
    StationFilterModel filter_;
    QIdentityProxyModel* rows_ = nullptr;  // over filter_; tooltips and accessible names
};

}  // namespace orvento
