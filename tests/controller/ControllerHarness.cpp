#include "tests/controller/ControllerHarness.h"

#include <QtGlobal>
#include <chrono>
#include <filesystem>

namespace orvento::test {

using loopback::Script;

std::shared_ptr<EngineServices> nullOutputPlatform() {
    AudioOutputChoice output;
    output.kind = AudioOutputChoice::Kind::Null;
    output.realTime = true;
    return std::make_shared<EngineServices>(output);
}

namespace {
std::string stationRecording() {
    const std::filesystem::path source = qEnvironmentVariable("ORVENTO_SOURCE_DIR").toStdString();
    return (source / "tests/data/mpeg2_l3.mp3").string();
}
}  // namespace

Script liveStation(std::optional<std::uint64_t> bytes) {
    // 32 kbit/s MPEG-2 Layer III: 4000 bytes a second.
    return Script::fromFile(stationRecording(), "audio/mpeg")
        .repeated(bytes)
        .untilClose()
        .paced(4000, 40000);
}

Script droppingStation(std::uint64_t bytesPerConnection, int drops) {
    const std::string talk = *Script::fromFile(stationRecording()).data;
    auto connections = std::make_shared<std::atomic<int>>(0);
    Script script = Script::generated(
        [talk, bytesPerConnection, drops, connections] {
            const int n = connections->fetch_add(1);
            const std::uint64_t from = static_cast<std::uint64_t>(n) * bytesPerConnection;
            const std::uint64_t length = n < drops ? bytesPerConnection : 4000 * 60;
            std::string body;
            for (std::uint64_t at = from; at < from + length; ++at) {
                body += talk[at % talk.size()];
            }
            return body;
        },
        "audio/mpeg");
    script.untilClose().paced(4000, 40000);
    return script;
}

GatedServices::GatedServices()
    : HookedServices([] {
          AudioOutputChoice output;
          output.kind = AudioOutputChoice::Kind::Null;
          output.realTime = true;
          return output;
      }()) {}

std::optional<StatusCode> GatedServices::before(const ServiceCall& call) {
    if (call.op == ServiceOp::AudioFileStreamOpen) {
        beforeOpening.pass();
    }
    return std::nullopt;
}

void GatedServices::interpose(OutputQueue::Listener*& listener) {
    std::lock_guard lock(mutex_);
    listener = &listeners_.emplace_back(*listener, *this);
}

void GatedServices::GatedListener::runningChanged(bool running) {
    if (!running) {
        owner_.beforeStoppedReport.pass();
    }
    engine_.runningChanged(running);
    if (running) {
        std::lock_guard lock(owner_.mutex_);
        ++owner_.runningReports_;
        owner_.reported_.notify_all();
    }
}

bool GatedServices::waitForRunningReports(int count, std::chrono::milliseconds timeout) {
    std::unique_lock lock(mutex_);
    return reported_.wait_for(lock, timeout, [&] { return runningReports_ >= count; });
}

ControllerHarness::ControllerHarness(std::shared_ptr<EngineServices> platform,
                                     PelorinServices engine)
    : log([this](std::string_view text) {
          std::lock_guard lock(logMutex_);
          log_.append(QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size())));
      }) {
    engine.platform = platform ? std::move(platform) : nullOutputPlatform();
    engine.workers = &workers;
    controller = std::make_unique<PlaybackController>(std::move(engine), log);
}

ControllerHarness::~ControllerHarness() {
    controller.reset();
    workers.shutdown(std::chrono::seconds(10));
}

QStringList ControllerHarness::logLines() const {
    std::lock_guard lock(logMutex_);
    return log_;
}

}  // namespace orvento::test
