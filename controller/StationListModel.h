// StationListModel: the stations to choose from, in catalogue order
// (duplicates kept), as a list model that views (the station picker) and
// proxies (a search filter) sit on.
//
// Roles: Qt::DisplayRole and NameRole give the station's name, UrlRole its
// stream URL as the catalogue gave it; other roles are free for what later
// rows carry. Names and URLs are plain text from outside: a view shows them as
// text, never as markup.
//
// Main thread.
#pragma once

#include <QAbstractListModel>
#include <QList>
#include <QStringList>

#include "controller/StationCatalogue.h"

namespace orvento {

class StationListModel : public QAbstractListModel {
    Q_OBJECT

  public:
    enum Role { NameRole = Qt::UserRole + 1, UrlRole };

    explicit StationListModel(QObject* parent = nullptr);

    // Replaces every row (a model reset).
    void setStations(QList<Station> stations);
    const QList<Station>& stations() const { return stations_; }
    // Row `row`; an empty station outside the rows.
    Station station(qsizetype row) const { return stations_.value(row); }
    // The names and the URLs, in row order.
    QStringList names() const;
    QStringList urls() const;

    int rowCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QHash<int, QByteArray> roleNames() const override;

  private:
    QList<Station> stations_;
};

}  // namespace orvento
