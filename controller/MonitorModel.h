// MonitorModel: the monitor's feeds as a list model, a row a feed in the
// monitor's order, for the monitor's panel. It reads everything from its
// MonitorController, which tells it of every change.
//
// Roles: Qt::DisplayRole the station's name as one short line (its URL when
// it has none), UrlRole its URL, StatusRole the feed's status line (the
// cause of its failure, when it failed), PlayStateRole its
// PlaybackController::PlayState, LevelRole its level in dBFS, KeyedRole
// whether it transmits, and the controls: GainRole (dB), PanRole (-1 to 1),
// MutedRole, SoloedRole, PriorityRole.
//
// Main thread.
#pragma once

#include <QAbstractListModel>
#include <QList>

namespace orvento {

class MonitorController;

class MonitorModel : public QAbstractListModel {
    Q_OBJECT

  public:
    enum Role {
        UrlRole = Qt::UserRole + 1,
        StatusRole,
        PlayStateRole,
        LevelRole,
        KeyedRole,
        GainRole,
        PanRole,
        MutedRole,
        SoloedRole,
        PriorityRole,
    };

    explicit MonitorModel(const MonitorController& monitor);

    int rowCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QHash<int, QByteArray> roleNames() const override;

  private:
    friend class MonitorController;
    // Row `row` changed in `roles` (all of them when empty).
    void rowChanged(int row, const QList<int>& roles = {});

    const MonitorController& monitor_;
};

}  // namespace orvento
