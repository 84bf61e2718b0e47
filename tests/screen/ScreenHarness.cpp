#include "tests/screen/ScreenHarness.h"

#include <QApplication>
#include <QMessageBox>
#include <QTest>
#include <chrono>
#include <filesystem>

#include "screen/StationCatalogue.h"
#include "screen/WeatherReport.h"

namespace orvento::test {

using loopback::Script;

std::shared_ptr<EnginePlatform> nullOutputPlatform() {
    AudioOutputChoice output;
    output.kind = AudioOutputChoice::Kind::Null;
    output.realTime = true;
    return std::make_shared<EnginePlatform>(output);
}

Script liveStation() {
    const std::filesystem::path source = qEnvironmentVariable("ORVENTO_SOURCE_DIR").toStdString();
    // 32 kbit/s MPEG-2 Layer III: 4000 bytes a second.
    return Script::fromFile((source / "tests/data/mpeg2_l3.mp3").string(), "audio/mpeg")
        .repeated()
        .untilClose()
        .paced(4000, 40000);
}

void Gate::close() {
    std::lock_guard lock(mutex_);
    closed_ = true;
}

void Gate::open() {
    {
        std::lock_guard lock(mutex_);
        closed_ = false;
    }
    opened_.notify_all();
}

void Gate::pass() {
    std::unique_lock lock(mutex_);
    ++waiting_;
    opened_.wait(lock, [this] { return !closed_; });
    --waiting_;
}

int Gate::waiting() const {
    std::lock_guard lock(mutex_);
    return waiting_;
}

GatedPlatform::GatedPlatform()
    : EnginePlatform([] {
          AudioOutputChoice output;
          output.kind = AudioOutputChoice::Kind::Null;
          output.realTime = true;
          return output;
      }()) {}

std::optional<OSStatus> GatedPlatform::before(const PlatformCall& call) {
    if (call.op == PlatformOp::AudioSessionInitialize) {
        beforeOpening.pass();
    }
    return std::nullopt;
}

void GatedPlatform::interpose(AudioQueuePropertyListenerProc& proc, void*& userData) {
    std::lock_guard lock(mutex_);
    userData = &listeners_.emplace_back(Listener{proc, userData, this, 0});
    proc = &reportRunning;
}

void GatedPlatform::reportRunning(void* data, AudioQueueRef queue, AudioQueuePropertyID id) {
    auto* listener = static_cast<Listener*>(data);
    // Reports alternate, "running" first: every second one is "stopped".
    if (++listener->reports % 2 == 0) {
        listener->owner->beforeStoppedReport.pass();
    }
    listener->proc(listener->userData, queue, id);
}

ScreenHarness::ScreenHarness(std::shared_ptr<EnginePlatform> platform,
                             std::shared_ptr<const LocalizedStrings> strings, const QString& site) {
    site_.setScript(kCataloguePath, Script::fixed("[]"));
    site_.setScript(kMetarPath, Script::fixed("LTBA 141220Z 34012KT"));
    site_.setScript(kTafPath, Script::fixed("TAF LTBA 141100Z"));
    ScreenServices services;
    services.catalogueBaseUrl = services.weatherBaseUrl =
        site.isEmpty() ? QString::fromStdString(site_.url("")) : site;
    services.engine.platform = platform ? std::move(platform) : nullOutputPlatform();
    services.engine.alerts = alerts;
    services.engine.strings = strings ? std::move(strings) : std::make_shared<LocalizedStrings>();
    services.engine.workers = &workers;
    services.log = [this](std::string_view text) {
        std::lock_guard lock(logMutex_);
        log_.append(QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size())));
    };
    delegate_ = std::make_unique<OrventoAppDelegate>(std::move(services));
    QObject::connect(screen().button, &SpinningButton::imageChanged, screen().button,
                     [this](const QString& name) { images_.append(name); });
    alerts->setParentWindow(delegate_->window());
    delegate_->applicationDidFinishLaunching();
    QVERIFY(QTest::qWaitForWindowExposed(delegate_->window()));
}

ScreenHarness::~ScreenHarness() {
    delegate_.reset();
    alerts->close();
    for (QWidget* widget : QApplication::topLevelWidgets()) {
        if (qobject_cast<QMessageBox*>(widget) != nullptr) {
            widget->close();
        }
    }
    workers.shutdown(std::chrono::seconds(10));
}

QStringList ScreenHarness::logLines() const {
    std::lock_guard lock(logMutex_);
    return log_;
}

}  // namespace orvento::test
