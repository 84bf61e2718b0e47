#include "engine/net/RunLoop.h"

#include <sys/eventfd.h>
#include <unistd.h>

#include <algorithm>
#include <cassert>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <ctime>
#include <stdexcept>
#include <string>
#include <system_error>
#include <utility>

namespace orvento {

struct RunLoop::Source {
    enum class Kind { fd, timer, signalled };

    Kind kind;
    bool removed = false;
    bool running = false;  // its callback is on the stack: never re-entered

    int fd = -1;
    short events = 0;
    std::function<void(short)> onReady;

    bool armed = false;
    Clock::time_point due;
    std::function<void()> onFire;

    bool signalled = false;
    std::function<void()> perform;
    std::function<void()> cancel;

    bool served() const { return !removed && !running; }

    // Marks the source as running for the duration of its callback, also when
    // the callback throws.
    class RunningMark {
      public:
        explicit RunningMark(Source& source) : source_(source) { source_.running = true; }
        ~RunningMark() { source_.running = false; }
        RunningMark(const RunningMark&) = delete;
        RunningMark& operator=(const RunningMark&) = delete;

      private:
        Source& source_;
    };
};

namespace {

int makeWakeFd() {
    const int fd = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    if (fd < 0) {
        throw std::system_error(errno, std::generic_category(), "eventfd");
    }
    return fd;
}

// Owns the thread's loop and shuts it down when the thread exits. Other
// threads may still hold the loop object for a while; they then find it shut
// down.
struct ThreadLoop {
    std::shared_ptr<RunLoop> loop;
    ThreadLoop() = default;
    ThreadLoop(const ThreadLoop&) = delete;
    ThreadLoop& operator=(const ThreadLoop&) = delete;
    ~ThreadLoop() {
        if (loop) {
            loop->shutDown();
        }
    }
};

thread_local ThreadLoop threadLoop;

}  // namespace

RunLoop::RunLoop() : thread_(std::this_thread::get_id()), wakeFd_(makeWakeFd()) {}

RunLoop::~RunLoop() {
    ::close(wakeFd_);
}

bool RunLoop::post(std::function<void()> work) {
    const std::shared_ptr<RunLoop> keep = weak_from_this().lock();
    bool accepted = false;
    {
        std::lock_guard lock(mutex_);
        accepted = acceptingWork_;
        if (accepted) {
            posted_.push_back(std::move(work));
        }
    }
    if (!accepted) {
        return false;  // `work` is destroyed here, outside the lock
    }
    wakeUp();
    return true;
}

void RunLoop::signal(SourceId id) {
    const std::shared_ptr<RunLoop> keep = weak_from_this().lock();
    if (isCurrent()) {
        if (const SourcePtr source = find(id); source && source->kind == Source::Kind::signalled) {
            source->signalled = true;
        }
        return;
    }
    {
        std::lock_guard lock(mutex_);
        if (!acceptingWork_) {
            return;
        }
        foreignSignals_.push_back(id);
    }
    wakeUp();
}

void RunLoop::wakeUp() {
    const std::shared_ptr<RunLoop> keep = weak_from_this().lock();
    const std::uint64_t one = 1;
    // EAGAIN means the counter is already non-zero: the loop is awake anyway.
    [[maybe_unused]] const ssize_t written = ::write(wakeFd_, &one, sizeof one);
}

void RunLoop::stop() {
    // Once the flag is set the loop may return and its thread exit: the loop
    // object must outlive the wake-up that follows.
    const std::shared_ptr<RunLoop> keep = weak_from_this().lock();
    stopRequested_.store(true);
    wakeUp();
}

bool RunLoop::isShutDown() const {
    std::lock_guard lock(mutex_);
    return !acceptingWork_;
}

RunLoop::SourcePtr RunLoop::find(SourceId id) const {
    const auto it = sources_.find(id);
    return it != sources_.end() ? it->second : nullptr;
}

RunLoop::SourceId RunLoop::add(SourcePtr source) {
    assert(isCurrent());
    if (shutDownDone_) {
        return 0;
    }
    const SourceId id = nextId_++;
    sources_.emplace(id, std::move(source));
    return id;
}

RunLoop::SourceId RunLoop::addFdWatch(int fd, short events, std::function<void(short)> onReady) {
    auto source = std::make_shared<Source>();
    source->kind = Source::Kind::fd;
    source->fd = fd;
    source->events = events;
    source->onReady = std::move(onReady);
    return add(std::move(source));
}

void RunLoop::setFdWatchEvents(SourceId id, short events) {
    if (const SourcePtr source = find(id); source && source->kind == Source::Kind::fd) {
        source->events = events;
    }
}

RunLoop::SourceId RunLoop::addTimer(std::function<void()> onFire) {
    auto source = std::make_shared<Source>();
    source->kind = Source::Kind::timer;
    source->onFire = std::move(onFire);
    return add(std::move(source));
}

void RunLoop::armTimer(SourceId id, Seconds delay) {
    const SourcePtr source = find(id);
    if (!source || source->kind != Source::Kind::timer) {
        return;
    }
    // NaN and negative delays fire on the next pass; absurdly long ones are
    // capped so the time arithmetic cannot overflow.
    const double seconds = std::isnan(delay.count()) ? 0.0 : std::clamp(delay.count(), 0.0, 1e9);
    source->armed = true;
    source->due = Clock::now() + std::chrono::duration_cast<Clock::duration>(
                                     std::chrono::duration<double>(seconds));
}

void RunLoop::disarmTimer(SourceId id) {
    if (const SourcePtr source = find(id); source && source->kind == Source::Kind::timer) {
        source->armed = false;
    }
}

RunLoop::SourceId RunLoop::addSignalledSource(std::function<void()> perform,
                                              std::function<void()> cancel) {
    auto source = std::make_shared<Source>();
    source->kind = Source::Kind::signalled;
    source->perform = std::move(perform);
    source->cancel = std::move(cancel);
    return add(std::move(source));
}

void RunLoop::removeSource(SourceId id) {
    const auto it = sources_.find(id);
    if (it == sources_.end()) {
        return;
    }
    // The callbacks stay alive while a pass still holds the source: a
    // callback may remove its own source.
    it->second->removed = true;
    sources_.erase(it);
}

void RunLoop::takeForeignWork(std::vector<std::function<void()>>& work) {
    std::vector<SourceId> signals;
    {
        std::lock_guard lock(mutex_);
        work.swap(posted_);
        signals.swap(foreignSignals_);
    }
    for (const SourceId id : signals) {
        if (const SourcePtr source = find(id); source && source->kind == Source::Kind::signalled) {
            source->signalled = true;
        }
    }
}

RunLoop::Clock::duration RunLoop::waitTime(Clock::time_point deadline) {
    {
        std::lock_guard lock(mutex_);
        if (!posted_.empty() || !foreignSignals_.empty()) {
            return Clock::duration::zero();
        }
    }
    Clock::time_point wakeAt = deadline;
    for (const auto& [id, source] : sources_) {
        if (!source->served()) {
            continue;
        }
        if (source->kind == Source::Kind::signalled && source->signalled) {
            return Clock::duration::zero();
        }
        if (source->kind == Source::Kind::timer && source->armed && source->due < wakeAt) {
            wakeAt = source->due;
        }
    }
    return std::max(Clock::duration::zero(), wakeAt - Clock::now());
}

// One pass (see the header). Returns whether any source was served.
bool RunLoop::pass(Clock::time_point deadline) {
    passes_.fetch_add(1, std::memory_order_relaxed);

    std::vector<pollfd> fds{{wakeFd_, POLLIN, 0}};
    std::vector<SourcePtr> watched;
    for (const auto& [id, source] : sources_) {
        if (source->kind == Source::Kind::fd && source->events != 0 && source->served()) {
            fds.push_back({source->fd, source->events, 0});
            watched.push_back(source);
        }
    }

    const auto wait = std::chrono::duration_cast<std::chrono::nanoseconds>(waitTime(deadline));
    const timespec timeout{static_cast<time_t>(wait.count() / 1'000'000'000),
                           static_cast<long>(wait.count() % 1'000'000'000)};
    const int ready = ::ppoll(fds.data(), fds.size(), &timeout, nullptr);
    if (ready < 0 && errno != EINTR) {
        throw std::system_error(errno, std::generic_category(), "ppoll");
    }

    bool served = false;
    if (ready > 0) {
        if ((fds[0].revents & POLLIN) != 0) {
            std::uint64_t count = 0;
            [[maybe_unused]] const ssize_t got = ::read(wakeFd_, &count, sizeof count);
        }
        for (std::size_t i = 1; i < fds.size(); ++i) {
            Source& source = *watched[i - 1];
            if (fds[i].revents == 0 || !source.served()) {
                continue;  // removed or disarmed by an earlier callback of this pass
            }
            const Source::RunningMark mark(source);
            source.onReady(fds[i].revents);
            served = true;
        }
    }

    std::vector<std::function<void()>> work;
    takeForeignWork(work);
    for (auto& item : work) {
        item();
        served = true;
    }
    work.clear();

    std::vector<SourcePtr> due;
    for (const auto& [id, source] : sources_) {
        if (source->kind == Source::Kind::signalled && source->signalled && source->served()) {
            due.push_back(source);
        }
    }
    for (const SourcePtr& source : due) {
        if (!source->signalled || !source->served()) {
            continue;
        }
        source->signalled = false;
        const Source::RunningMark mark(*source);
        source->perform();
        served = true;
    }

    due.clear();
    const Clock::time_point now = Clock::now();
    for (const auto& [id, source] : sources_) {
        if (source->kind == Source::Kind::timer && source->armed && source->due <= now &&
            source->served()) {
            due.push_back(source);
        }
    }
    // A pass that comes late finds several due: they fire as they fell due.
    std::stable_sort(due.begin(), due.end(),
                     [](const SourcePtr& a, const SourcePtr& b) { return a->due < b->due; });
    for (const SourcePtr& source : due) {
        if (!source->armed || source->due > now || !source->served()) {
            continue;
        }
        source->armed = false;
        const Source::RunningMark mark(*source);
        source->onFire();
        served = true;
    }
    return served;
}

RunLoop::RunResult RunLoop::run(Seconds time, bool returnAfterSourceHandled) {
    assert(isCurrent());
    const double limit = std::isnan(time.count()) ? 0.0 : std::clamp(time.count(), 0.0, 1e9);
    const Clock::time_point deadline = Clock::now() + std::chrono::duration_cast<Clock::duration>(
                                                          std::chrono::duration<double>(limit));
    stopRequested_.store(false);
    for (;;) {
        const bool served = pass(deadline);
        if (stopRequested_.exchange(false)) {
            return RunResult::stopped;
        }
        if (served && returnAfterSourceHandled) {
            return RunResult::handledSource;
        }
        if (Clock::now() >= deadline) {
            return RunResult::timedOut;
        }
    }
}

void RunLoop::shutDown() {
    assert(isCurrent());
    if (shutDownDone_) {
        return;
    }
    shutDownDone_ = true;
    std::vector<std::function<void()>> dropped;
    {
        std::lock_guard lock(mutex_);
        acceptingWork_ = false;
        dropped.swap(posted_);
        foreignSignals_.clear();
    }
    const std::map<SourceId, SourcePtr> sources = std::exchange(sources_, {});
    for (const auto& [id, source] : sources) {
        source->removed = true;
    }
    for (const auto& [id, source] : sources) {
        if (source->cancel) {
            source->cancel();
        }
    }
}

RunLoop& RunLoop::current() {
    if (!threadLoop.loop) {
        threadLoop.loop = std::make_shared<RunLoop>();
    }
    return *threadLoop.loop;
}

}  // namespace orvento
