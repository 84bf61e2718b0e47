#include "screen/StationDialog.h"

#include <QCoreApplication>
#include <QFormLayout>
#include <QPushButton>
#include <QUrl>

namespace orvento {
namespace {

QString translate(const char* text) {
    return QCoreApplication::translate("OrventoViewController", text);
}

}  // namespace

StationDialog::StationDialog(const Station& station, QWidget* parent) : QDialog(parent) {
    setObjectName(QStringLiteral("stationDialog"));
    setWindowTitle(station.url.isEmpty()
                       ? translate(QT_TRANSLATE_NOOP("OrventoViewController", "Add station"))
                       : translate(QT_TRANSLATE_NOOP("OrventoViewController", "Rename station")));
    name_ = new QLineEdit(station.name, this);
    name_->setObjectName(QStringLiteral("stationName"));
    address_ = new QLineEdit(station.url, this);
    address_->setObjectName(QStringLiteral("stationAddress"));
    address_->setPlaceholderText(QStringLiteral("https://"));
    buttons_ = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    auto* form = new QFormLayout(this);
    form->addRow(translate(QT_TRANSLATE_NOOP("OrventoViewController", "&Name:")), name_);
    form->addRow(translate(QT_TRANSLATE_NOOP("OrventoViewController", "&Address:")), address_);
    form->addRow(buttons_);
    connect(buttons_, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons_, &QDialogButtonBox::rejected, this, &QDialog::reject);
    connect(address_, &QLineEdit::textChanged, this, &StationDialog::addressEdited);
    addressEdited();
    (station.url.isEmpty() ? address_ : name_)->setFocus(Qt::OtherFocusReason);
}

Station StationDialog::station() const {
    return {name_->text().trimmed(), address_->text().trimmed()};
}

void StationDialog::addressEdited() {
    const QString scheme = QUrl(address_->text().trimmed()).scheme().toLower();
    buttons_->button(QDialogButtonBox::Ok)
        ->setEnabled(scheme == QLatin1String("http") || scheme == QLatin1String("https"));
}

}  // namespace orvento
