// StationFilterModel: the station list as a search shows it: the rows of a
// StationListModel that match a query (StationQuery, against each row's
// search key) within a scope: every station, the directory's, the favourites,
// the stations played last (latest first), or the user's own stations.
// Otherwise in the list's order.
//
// A change of query or scope resets the model: filtering 20,000 rows is a
// pass over their keys, and a view lays out only the rows it shows. A query
// that narrows the last one (StationQuery::narrows: a letter typed) looks
// among the rows shown only. Marks that change in the source (a star) are
// passed on as they are, without filtering again, so a row does not vanish
// from under the pointer; the next change of query or scope takes them into
// account (the whole list again). Any other change of the source filters
// again.
//
// Main thread.
#pragma once

#include <QAbstractProxyModel>
#include <vector>

#include "controller/StationListModel.h"
#include "controller/StationNames.h"

namespace orvento {

class StationFilterModel : public QAbstractProxyModel {
    Q_OBJECT

  public:
    enum class Scope { all, directory, favourites, recent, mine };

    explicit StationFilterModel(QObject* parent = nullptr);

    // The model filtered: a StationListModel (others are refused).
    void setSourceModel(QAbstractItemModel* source) override;
    void setQuery(const QString& typed);
    void setScope(Scope scope);
    Scope scope() const { return scope_; }

    // The source row shown at `row`; -1 outside the rows.
    int sourceRow(int row) const;

    QModelIndex mapToSource(const QModelIndex& proxy) const override;
    QModelIndex mapFromSource(const QModelIndex& source) const override;
    QModelIndex index(int row, int column, const QModelIndex& parent = {}) const override;
    QModelIndex parent(const QModelIndex& child) const override;
    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    bool hasChildren(const QModelIndex& parent = {}) const override;

  private:
    // The rows in scope that match; with `amongShown`, looked for among the
    // rows shown only (the query has narrowed, nothing else changed).
    void filter(bool amongShown = false);
    // Resets this model between the source's signals `before` and `after`.
    template <typename Before, typename After>
    void filterAgainAround(Before before, After after);
    void passOnMarks(const QModelIndex& first, const QModelIndex& last, const QList<int>& roles);

    StationListModel* stations_ = nullptr;
    StationQuery query_;
    Scope scope_ = Scope::all;
    std::vector<int> rows_;      // the source rows shown, in order
    std::vector<int> shownAt_;   // a source row each: where it is shown, or -1
    bool marksChanged_ = false;  // since the last filter (the rows may be out of scope)
    QList<QMetaObject::Connection> connections_;
};

}  // namespace orvento
