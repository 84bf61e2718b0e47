// StationListModel: the stations to choose from, in catalogue order
// (duplicates kept), then the directory's (StationDirectory), as a list model
// that views (the station picker) and proxies (the search filter) sit on.
//
// Roles: Qt::DisplayRole gives the station's name as one short line
// (shownName: a name can hold line breaks, control and bidirectional
// characters, a megabyte of text), NameRole the name as the catalogue gave
// it, UrlRole its stream URL as the catalogue gave it, FavouriteRole whether
// the user starred it, RecentRole its place among the stations played last (0
// the latest; -1 when not among them), OwnRole whether it is one of the
// user's own stations, DetailRole what the directory says of a directory
// station (directoryDetails; empty for others). Names and URLs are plain text
// from outside: a view shows them as text, never as markup.
//
// Each row's search key (searchKey) is made when the rows are set, so that a
// search compares plain strings at each keystroke. The marks (favourite,
// recent) follow stations by name and URL, also across a new set of rows.
//
// Main thread.
#pragma once

#include <QAbstractListModel>
#include <QHash>
#include <QList>
#include <QSet>
#include <QStringList>
#include <vector>

#include "controller/StationCatalogue.h"
#include "controller/StationDirectory.h"

namespace orvento {

class StationListModel : public QAbstractListModel {
    Q_OBJECT

  public:
    enum Role {
        NameRole = Qt::UserRole + 1,
        UrlRole,
        FavouriteRole,
        RecentRole,
        OwnRole,
        DetailRole
    };

    explicit StationListModel(QObject* parent = nullptr);

    // Replaces the catalogue's rows, or both the catalogue's and the
    // directory's, in one model reset. A directory station's search key is
    // taken as it brings it.
    void setStations(QList<Station> stations);
    void setStations(QList<Station> stations, QList<DirectoryStation> directory);
    // The rows before the directory's, as setStations gave them.
    const QList<Station>& catalogueStations() const { return catalogue_; }
    // Row `row` is a directory station's (after the catalogue's rows).
    bool isDirectory(int row) const { return row >= catalogueRows_; }
    // The directory's id of `station`; empty when it is none of its.
    QString directoryId(const Station& station) const;
    const QList<Station>& stations() const { return stations_; }
    // Row `row`; an empty station outside the rows.
    Station station(qsizetype row) const { return stations_.value(row); }
    // The names and the URLs, in row order.
    QStringList names() const;
    QStringList urls() const;

    // The marks: the starred stations, and the stations played last, the
    // latest first. Rows that change say so (dataChanged).
    void setFavourites(const QSet<Station>& favourites);
    void setRecent(const QList<Station>& recent);
    void setOwn(const QSet<Station>& own);
    // Row `row`'s search key and marks; the row must exist.
    const QString& searchKey(int row) const { return keys_[static_cast<std::size_t>(row)]; }
    bool isFavourite(int row) const { return favourite_[static_cast<std::size_t>(row)]; }
    int recentRank(int row) const { return recentRank_[static_cast<std::size_t>(row)]; }
    bool isOwn(int row) const { return own_[static_cast<std::size_t>(row)]; }

    int rowCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QHash<int, QByteArray> roleNames() const override;

  private:
    void setRows();
    // Recomputes every row's marks; announces the rows whose marks changed.
    void markRows(bool announce);

    QList<Station> stations_;  // the catalogue's, then the directory's
    int catalogueRows_ = 0;
    QList<Station> catalogue_;
    QList<DirectoryStation> directory_;
    std::vector<QString> keys_;  // a row each
    QSet<Station> favourites_;
    QHash<Station, int> recent_;   // station -> rank
    std::vector<bool> favourite_;  // a row each
    std::vector<int> recentRank_;  // a row each
    QSet<Station> ownStations_;
    std::vector<bool> own_;  // a row each
};

}  // namespace orvento
