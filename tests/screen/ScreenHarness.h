// The screen's tests' harness: the real window (delegate, screen, layout)
// over the real engine, playing into a null output in real time, against a
// loopback station; a platform with gates that hold a player.
#pragma once

#include <QMainWindow>
#include <QStringList>
#include <QTest>
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

// A barrier a test closes and opens; open at first.
class Gate {
  public:
    void close();
    void open();
    void pass();  // returns once the gate is open
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
    // The window shown and set up. Defaults: the null-output platform,
    // untranslated alerts, and a catalogue and weather server of its own with
    // no station and a line of weather each (`site`: both servers' base URL).
    explicit ScreenHarness(std::shared_ptr<EnginePlatform> platform = nullptr,
                           std::shared_ptr<const LocalizedStrings> strings = nullptr,
                           const QString& site = {});
    ~ScreenHarness();
    ScreenHarness(const ScreenHarness&) = delete;
    ScreenHarness& operator=(const ScreenHarness&) = delete;

    OrventoViewController& screen() const { return *delegate_->viewController(); }
    SpinningButton& button() const { return *screen().button; }
    QMainWindow& window() const { return *delegate_->window(); }

    void setUrlText(const QString& text) const { screen().textField->setText(text); }
    void press() const { QTest::mouseClick(screen().button, Qt::LeftButton); }
    // Every image the button was given, in order, from set-up on.
    const QStringList& images() const { return images_; }
    QStringList logLines() const;
    QString status() const { return screen().statusLabel->text(); }

    loopback::LoopbackServer server;
    WorkerRegistry workers;
    const std::shared_ptr<QtAlertService> alerts = std::make_shared<QtAlertService>();

  private:
    mutable std::mutex logMutex_;
    QStringList log_;  // guarded by logMutex_
    QStringList images_;
    loopback::LoopbackServer site_;
    std::unique_ptr<OrventoAppDelegate> delegate_;
};

}  // namespace orvento::test
