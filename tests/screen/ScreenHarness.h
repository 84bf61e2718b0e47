// The pieces the screen's tests share: the real application window (delegate,
// screen, layout and actions) over the real engine, playing into a null
// output in real time, against a loopback station; a platform with gates that
// hold a player at chosen moments.
#pragma once

#include <QMainWindow>
#include <QStringList>
#include <condition_variable>
#include <list>
#include <memory>
#include <mutex>

#include "app/OrventoAppDelegate.h"
#include "engine/EnginePlatform.h"
#include "engine/WorkerRegistry.h"
#include "screen/QtAlertService.h"
#include "tools/loopback/LoopbackServer.h"

namespace orvento::test {

// The real platform playing into nothing, in real time.
std::shared_ptr<EnginePlatform> nullOutputPlatform();

// A live station: a short MP3 repeated for ever; its first 40000 bytes at
// once (the player's first buffer fills at once), then in real time.
loopback::Script liveStation();

// A barrier a test closes and opens by hand. Open at first.
class Gate {
  public:
    void close();
    void open();
    // Returns once the gate is open.
    void pass();
    // Threads waiting at the gate now.
    int waiting() const;

  private:
    mutable std::mutex mutex_;
    std::condition_variable opened_;
    bool closed_ = false;
    int waiting_ = 0;
};

// The real platform (null output) with two gates: one holds a player's worker
// before it opens anything (its stream does not exist yet), one holds each
// output queue's report that it stopped running.
class GatedPlatform : public EnginePlatform {
  public:
    GatedPlatform();
    Gate beforeOpening;
    Gate beforeStoppedReport;

  private:
    std::optional<OSStatus> before(const PlatformCall& call) override;
    void interpose(AudioQueuePropertyListenerProc& proc, void*& userData) override;

    struct Listener {
        AudioQueuePropertyListenerProc proc;
        void* userData;
        GatedPlatform* owner;
        int reports;  // the queue's thread only
    };
    static void reportRunning(void* data, AudioQueueRef queue, AudioQueuePropertyID id);

    std::mutex mutex_;
    std::list<Listener> listeners_;  // guarded by mutex_; never shrinks
};

class ScreenHarness {
  public:
    // The window shown, set up, with its URL field empty. Empty arguments:
    // the null-output platform and the untranslated alert texts.
    explicit ScreenHarness(std::shared_ptr<EnginePlatform> platform = nullptr,
                           std::shared_ptr<const LocalizedStrings> strings = nullptr);
    // Closes the window and any alert, and waits for every player to end.
    ~ScreenHarness();
    ScreenHarness(const ScreenHarness&) = delete;
    ScreenHarness& operator=(const ScreenHarness&) = delete;

    OrventoViewController& screen() const { return *delegate_->viewController(); }
    SpinningButton& button() const { return *screen().button; }
    QMainWindow& window() const { return *delegate_->window(); }

    // Types `text` into the URL field (replacing what it held).
    void setUrlText(const QString& text) const;
    // Clicks the play button with the mouse.
    void press() const;
    // Every image the button was given, in order, from set-up on.
    const QStringList& images() const { return images_; }
    // The screen's diagnostic lines so far.
    QStringList logLines() const;
    QString status() const;

    loopback::LoopbackServer server;
    WorkerRegistry workers;
    const std::shared_ptr<QtAlertService> alerts = std::make_shared<QtAlertService>();

  private:
    mutable std::mutex logMutex_;
    QStringList log_;  // guarded by logMutex_
    QStringList images_;
    std::unique_ptr<OrventoAppDelegate> delegate_;
};

}  // namespace orvento::test
