// The members of the player screen that nothing in the application calls or
// reads: the orientation policy (the window is always upright), the
// auxiliary timers, the notifications of an asynchronous download nothing
// starts, and the station lists' setters. They keep the screen's interface
// whole for code that drives it.
#include <algorithm>

#include "screen/OrventoViewController.h"

namespace orvento {
namespace {

// Auxiliary timers: a one-shot after 10 s and two repeating ones.
constexpr std::chrono::seconds kTimer0Interval{10};
constexpr std::chrono::seconds kTimer2Interval{55};
constexpr std::chrono::seconds kTimer3Interval{60};

}  // namespace

bool OrventoViewController::shouldAutorotateToInterfaceOrientation(int orientation) const {
    return orientation == kPortraitOrientation;
}

void OrventoViewController::startTimerAdMob() {
    const auto make = [this](std::unique_ptr<QTimer>& field, std::chrono::seconds interval,
                             bool repeats, void (OrventoViewController::*action)()) {
        if (field) {
            return;
        }
        field = std::make_unique<QTimer>();
        field->setInterval(interval);
        field->setSingleShot(!repeats);
        connect(field.get(), &QTimer::timeout, this, action);
        field->start();
    };
    make(_timer0, kTimer0Interval, false, &OrventoViewController::timerTickA0);
    make(_timer2, kTimer2Interval, true, &OrventoViewController::timerTickA2);
    make(_timer3, kTimer3Interval, true, &OrventoViewController::timerTickA3);
}

void OrventoViewController::timerTickA0() {}

void OrventoViewController::timerTickA2() {
    log(QStringLiteral("timer2"));
}

void OrventoViewController::timerTickA3() {}

void OrventoViewController::connectionDidReceiveResponse(QObject* /*connection*/) {
    if (receivedData_) {
        receivedData_->clear();
    }
}

void OrventoViewController::connectionDidReceiveData(QObject* /*connection*/,
                                                     const QByteArray& data) {
    if (receivedData_) {
        receivedData_->append(data);
    }
}

void OrventoViewController::connectionDidFinishLoading(QObject* connection) {
    const QByteArray bytes = receivedData_ ? *receivedData_ : QByteArray();
    log(QStringLiteral("Succeeded! Received %1 bytes of data")
            .arg(static_cast<qint32>(bytes.size())));
    // As ASCII: bytes outside it leave the text empty.
    const bool ascii = std::all_of(bytes.begin(), bytes.end(),
                                   [](char c) { return static_cast<unsigned char>(c) < 0x80; });
    log(QStringLiteral("finalResponse;") +
        logField(ascii ? QString::fromLatin1(bytes) : QString()));
    receivedData_.reset();
    if (connection != nullptr) {
        connection->deleteLater();
    }
}

void OrventoViewController::connectionDidFailWithError(QObject* connection,
                                                       const QString& description,
                                                       const QString& failingUrl) {
    if (connection != nullptr) {
        connection->deleteLater();
    }
    receivedData_.reset();
    log(QStringLiteral("Connection failed! Error - %1 %2")
            .arg(description, logField(withoutPassword(failingUrl))));
}

// The lists are one station list: each setter replaces its column, keeping
// the other's entries where there are.
void OrventoViewController::setTableData1(const QStringList& names) {
    const QStringList urls = tableData2();
    QList<Station> stations;
    for (qsizetype i = 0; i < names.size(); ++i) {
        stations.append(Station{names[i], urls.value(i)});
    }
    stations_.setStations(stations);
}

void OrventoViewController::setTableData2(const QStringList& urls) {
    const QStringList names = tableData1();
    QList<Station> stations;
    for (qsizetype i = 0; i < urls.size(); ++i) {
        stations.append(Station{names.value(i), urls[i]});
    }
    stations_.setStations(stations);
}

}  // namespace orvento
