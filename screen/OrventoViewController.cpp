#include "screen/OrventoViewController.h"

#include <QCoreApplication>
#include <QIdentityProxyModel>
#include <QKeyEvent>
#include <QUrl>
#include <algorithm>
#include <string>
#include <utility>

#include "controller/WeatherReport.h"

namespace orvento {
namespace {

constexpr const char* kImageFolder = ":/images/";

QString translate(const char* text) {
    return QCoreApplication::translate("OrventoViewController", text);
}

// What a screen reader says for each image of the button.
QString buttonNameFor(const QString& image) {
    if (image == QLatin1String(OrventoViewController::kStopImage)) {
        return translate(QT_TRANSLATE_NOOP("OrventoViewController", "Stop"));
    }
    if (image == QLatin1String(OrventoViewController::kLoadingImage)) {
        return translate(QT_TRANSLATE_NOOP("OrventoViewController", "Connecting, press to stop"));
    }
    return translate(QT_TRANSLATE_NOOP("OrventoViewController", "Play"));
}

// The host and port of a base URL, for the status line; a password in it is
// not shown.
QString serverName(const QString& baseUrl) {
    const QString shown = withoutPassword(baseUrl);
    const QUrl url(shown);
    return url.authority().isEmpty() ? shown : url.authority();
}

// A base URL without trailing slashes: the paths bring their own.
QString joined(const QString& baseUrl, const char* path) {
    QString base = baseUrl;
    while (base.endsWith(QLatin1Char('/'))) {
        base.chop(1);
    }
    return base + QLatin1String(path);
}

// The station list as the picker shows it: names, and each station's URL as
// its tooltip, escaped (a tooltip would render markup).
class StationPickerModel : public QIdentityProxyModel {
  public:
    using QIdentityProxyModel::QIdentityProxyModel;
    QVariant data(const QModelIndex& index, int role) const override {
        if (role == Qt::ToolTipRole) {
            const QString url =
                QIdentityProxyModel::data(index, StationListModel::UrlRole).toString();
            return QStringLiteral("<p>%1</p>").arg(withoutPassword(url).toHtmlEscaped());
        }
        if (role == Qt::AccessibleTextRole) {
            return QIdentityProxyModel::data(index, Qt::DisplayRole);
        }
        return QIdentityProxyModel::data(index, role);
    }
};

}  // namespace

OrventoViewController::OrventoViewController(PlaybackController& controller,
                                             StationListModel& stations, ScreenServices services,
                                             QWidget* parent)
    : QWidget(parent),
      controller_(controller),
      stations_(stations),
      services_(std::move(services)) {
    ui_.setupUi(this);
    textField = ui_.textField;
    button = ui_.button;
    metar = ui_.metar;
    selectButton = ui_.selectButton;
    statusLabel = ui_.statusLabel;
    setPicker(ui_.picker);
    setMyTextField2(ui_.myTextField2);
    setTimerLabel(ui_.timerLabel);
    metar->setPlainText(translate(QT_TRANSLATE_NOOP(
        "OrventoViewController", "The latest METAR observation and TAF forecast appear here.")));
    // Hidden until the select control shows it (set-up hides it again).
    picker()->setHidden(true);
    picker()->installEventFilter(this);
    // One character more than the controller plays: an address too long
    // shows as too long instead of being cut to one that is not.
    textField->setMaxLength(static_cast<int>(PlaybackController::kAddressLengthLimit) + 1);
    // The layout's actions; the screen is the delegate of the button's spin.
    connect(button, &QAbstractButton::clicked, this, &OrventoViewController::buttonPressed);
    connect(textField, &QLineEdit::returnPressed, this,
            [this] { textFieldShouldReturn(textField); });
    connect(selectButton, &QAbstractButton::clicked, this,
            [this] { SelectbuttonClick(selectButton); });
    connect(button, &SpinningButton::animationDidStop, this,
            &OrventoViewController::animationDidStop);

    connect(&controller_, &PlaybackController::attemptStarted, this, [this] {
        setButtonImage(QLatin1String(kLoadingImage));
        spinButton();
    });
    connect(&controller_, &PlaybackController::stopRequested, button,
            &SpinningButton::removeAllAnimations);
    connect(&controller_, &PlaybackController::reportedPlaying, this,
            [this] { setButtonImage(QLatin1String(kStopImage)); });
    connect(&controller_, &PlaybackController::reportedEnded, this,
            [this] { setButtonImage(QLatin1String(kPlayImage)); });
    connect(&controller_, &PlaybackController::statusTextChanged, statusLabel, &QLabel::setText);
    connect(&controller_, &PlaybackController::listeningTimeChanged, this, [this](double seconds) {
        if (QLabel* label = timerLabel();
            label != nullptr && label->text() != elapsedTimeText(seconds)) {
            label->setText(elapsedTimeText(seconds));
        }
    });
    connect(&controller_, &PlaybackController::selectedStationChanged, this,
            &OrventoViewController::showSelectedStation);
    connect(textField, &QLineEdit::textChanged, this, &OrventoViewController::addressChanged);
    statusLabel->setText(controller_.statusText());
    showSelectedStation();
}

OrventoViewController::~OrventoViewController() = default;

void OrventoViewController::log(const QString& text) const {
    writeLogLine(services_.log, text.toStdString());
}

// ---- Set-up

void OrventoViewController::viewDidLoad() {
    stations_.setStations({});
    controller_.setStatusText(loadingText());
    startDownload(catalogue_, services_.catalogueBaseUrl, kCataloguePath, kCatalogueMaxBytes);
    picker()->setHidden(true);
    setButtonImage(QLatin1String(kPlayImage));
    ikiyegec();
    // QWidget has no set-up of its own to run here.
    if (services_.idleTimer) {
        services_.idleTimer->setIdleTimerDisabled(true);
    }
    applySetUpResults();
}

void OrventoViewController::startDownload(SetUpResult& slot, const QString& baseUrl,
                                          const char* path, std::size_t maxBytes) {
    slot = SetUpResult{};
    if (baseUrl.isEmpty()) {
        slot.arrived = true;
        return;
    }
    HttpDownloadOptions options;
    options.maxBytes = maxBytes;
    slot.download =
        std::make_unique<BackgroundDownload>(joined(baseUrl, path).toStdString(), options, this,
                                             [this, &slot](const HttpDownloadResult& result) {
                                                 slot.arrived = true;
                                                 slot.result = result;
                                                 emit setUpDownloadArrived();
                                                 applySetUpResults();
                                             });
}

void OrventoViewController::applySetUpResults() {
    if (!catalogueApplied_ && catalogue_.arrived) {
        catalogueApplied_ = true;
        applyCatalogue(catalogue_.result);
    }
    if (catalogueApplied_ && !weatherApplied_ && metarReport_.arrived && tafReport_.arrived) {
        weatherApplied_ = true;
        metar->setPlainText(weatherPanelText(weatherSectionText(metarReport_.result),
                                             weatherSectionText(tafReport_.result)));
    }
}

void OrventoViewController::applyCatalogue(const std::optional<HttpDownloadResult>& download) {
    const QString where = withoutPassword(joined(services_.catalogueBaseUrl, kCataloguePath));
    CatalogueOutcome outcome = CatalogueOutcome::failed;
    Catalogue catalogue;
    if (download && !download->body) {
        log(QStringLiteral("catalogue: %1: %2")
                .arg(logField(where), QString::fromStdString(download->error)));
        outcome = download->tooLarge ? CatalogueOutcome::tooLarge : CatalogueOutcome::failed;
    } else if (download) {
        catalogue = parseCatalogue(QByteArray::fromStdString(*download->body));
        for (const QString& problem : catalogue.problems) {
            log(QStringLiteral("catalogue: ") + problem);
        }
        outcome = !catalogue.readable            ? CatalogueOutcome::unreadable
                  : catalogue.stations.isEmpty() ? CatalogueOutcome::empty
                                                 : CatalogueOutcome::loaded;
    }
    const QList<Station>& stations = catalogue.stations;
    for (qsizetype i = 0; i < stations.size() && i < kLoggedStationsLimit; ++i) {
        log(QStringLiteral("adi=%1,url=%2")
                .arg(logField(stations[i].name), logField(withoutPassword(stations[i].url))));
    }
    if (stations.size() > kLoggedStationsLimit) {
        log(QStringLiteral("adi: %1 more stations, not logged")
                .arg(stations.size() - kLoggedStationsLimit));
    }
    // The first station, unless the user has typed an address meanwhile.
    if (!stations.isEmpty() && !textField->isModified()) {
        controller_.chooseStation(stations.front());
    }
    stations_.setStations(stations);
    selectButton->setEnabled(!stations.isEmpty());
    // Playback's news, once there is any, is worth more than set-up's.
    if (controller_.attempts() == 0) {
        controller_.setStatusText(catalogueText(outcome, serverName(services_.catalogueBaseUrl)));
    }
}

void OrventoViewController::addressChanged(const QString& text) {
    if (text == controller_.selectedStation().url) {
        return;
    }
    // A station's own URL brings its name with it.
    const QList<Station>& stations = stations_.stations();
    const auto listed =
        std::find_if(stations.begin(), stations.end(),
                     [&text](const Station& station) { return station.url == text; });
    if (listed != stations.end()) {
        controller_.chooseStation(*listed);
    } else {
        controller_.setAddressText(text);
    }
}

void OrventoViewController::showSelectedStation() {
    const Station& station = controller_.selectedStation();
    if (textField->text() != station.url) {
        textField->setText(station.url);
        // A long URL shows its beginning, the scheme and host.
        textField->setCursorPosition(0);
    }
    myTextField2()->setText(station.name);
    myTextField2()->setCursorPosition(0);
}

// ---- Play/stop button

void OrventoViewController::buttonPressed() {
    controller_.press();
}

void OrventoViewController::setButtonImage(const QString& name) {
    button->removeAllAnimations();
    button->setImage(QLatin1String(kImageFolder) + name);
    button->setAccessibleName(buttonNameFor(name));
    button->setToolTip(button->accessibleName());
}

void OrventoViewController::spinButton() {
    // One turn about the button's centre; animationDidStop starts the next.
    button->addRotationAnimation(0.0f, kFullTurn, kSpinDuration);
}

void OrventoViewController::animationDidStop(bool finished) {
    if (finished) {
        spinButton();
    }
}

bool OrventoViewController::textFieldShouldReturn(QLineEdit* /*field*/) {
    buttonPressed();
    return false;
}

// ---- Station picker

void OrventoViewController::SelectbuttonClick(QObject* /*sender*/) {
    // The screen is the picker's data source and delegate.
    if (pickerDataSource_ == nullptr) {
        auto* source = new StationPickerModel(this);
        source->setSourceModel(&stations_);
        pickerDataSource_ = source;
    }
    if (picker()->model() != pickerDataSource_) {
        picker()->setModel(pickerDataSource_);
    }
    connect(picker(), &QAbstractItemView::clicked, this, &OrventoViewController::pickerRowChosen,
            Qt::UniqueConnection);

    picker()->setHidden(!picker()->isHidden());
    if (!picker()->isHidden()) {
        // Opens at the station selected, ready for the keyboard.
        const int row =
            static_cast<int>(stations_.stations().indexOf(controller_.selectedStation()));
        const QModelIndex current = pickerDataSource_->index(std::max(row, 0), 0);
        picker()->setCurrentIndex(current);
        picker()->scrollTo(current);
        picker()->setFocus(Qt::OtherFocusReason);
    }
    log(QStringLiteral("count;%1").arg(pickerViewNumberOfRowsInComponent(picker(), 0)));
}

int OrventoViewController::numberOfComponentsInPickerView(QListView* /*picker*/) const {
    return 1;
}

qsizetype OrventoViewController::pickerViewNumberOfRowsInComponent(QListView* /*picker*/,
                                                                   int /*component*/) const {
    return stations_.rowCount();
}

QString OrventoViewController::pickerViewTitleForRow(QListView* /*picker*/, qsizetype row,
                                                     int /*component*/) const {
    return stations_.station(row).name;
}

void OrventoViewController::pickerViewDidSelectRow(QListView* picker, qsizetype row,
                                                   int /*component*/) {
    log(QStringLiteral("ppp;%1").arg(row));
    if (row < 0 || row >= stations_.rowCount()) {
        return;
    }
    controller_.chooseStation(stations_.station(row));
    if (picker != nullptr) {
        const bool hadFocus = picker->hasFocus();
        picker->setHidden(!picker->isHidden());
        // The next step is most likely play: Return on the button.
        if (hadFocus) {
            button->setFocus(Qt::OtherFocusReason);
        }
    }
}

void OrventoViewController::pickerRowChosen(const QModelIndex& index) {
    pickerViewDidSelectRow(picker(), index.row(), 0);
}

bool OrventoViewController::eventFilter(QObject* watched, QEvent* event) {
    if (watched == picker() && event->type() == QEvent::KeyPress) {
        const int key = static_cast<QKeyEvent*>(event)->key();
        if ((key == Qt::Key_Return || key == Qt::Key_Enter) && picker()->currentIndex().isValid()) {
            pickerRowChosen(picker()->currentIndex());
            return true;
        }
        if (key == Qt::Key_Escape) {
            picker()->setHidden(true);
            selectButton->setFocus(Qt::OtherFocusReason);
            return true;
        }
    }
    return QWidget::eventFilter(watched, event);
}

// ---- Weather panel

void OrventoViewController::ikiyegec() {
    startDownload(metarReport_, services_.weatherBaseUrl, kMetarPath, kWeatherMaxBytes);
    startDownload(tafReport_, services_.weatherBaseUrl, kTafPath, kWeatherMaxBytes);
}

}  // namespace orvento
