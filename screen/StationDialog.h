// StationDialog: the name and address of a station of one's own, to add one
// ("Add station") or to change one ("Rename station"). OK is offered only
// while the address is an http or https URL; the name may stay empty (the
// address then names the station). Opened window-modal with open(); the
// caller reads station() once it is accepted.
//
// Main thread only.
#pragma once

#include <QDialog>
#include <QDialogButtonBox>
#include <QLineEdit>

#include "controller/StationCatalogue.h"

namespace orvento {

class StationDialog : public QDialog {
    Q_OBJECT

  public:
    // `station`: the one to change; empty: a new one.
    explicit StationDialog(const Station& station, QWidget* parent = nullptr);

    Station station() const;
    QLineEdit* nameField() const { return name_; }
    QLineEdit* addressField() const { return address_; }
    QDialogButtonBox* buttons() const { return buttons_; }

  private:
    void addressEdited();

    QLineEdit* name_ = nullptr;
    QLineEdit* address_ = nullptr;
    QDialogButtonBox* buttons_ = nullptr;
};

}  // namespace orvento
