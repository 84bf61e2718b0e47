// The application's own handling of SIGTERM, SIGINT and SIGHUP: they arrive
// as a signal of the main thread's event loop, so that the application can
// end in order (stop playback, give back the desktop's idle timer, exit 0)
// whatever it is doing.
//
// blockTerminationSignals() blocks the three signals in the calling thread
// and asks the sound library (SDL) to install no handlers of its own. Call it
// first in main, before any other thread exists: every thread started later
// inherits the block, so no thread is interrupted by them and no handler
// (ours or a library's) ever runs; a process forked from the application
// gets them back. A TerminationSignals object then reads them from a
// signalfd on the main thread and emits received().
//
// Main thread only.
#pragma once

#include <QObject>
#include <QSocketNotifier>
#include <memory>

namespace orvento {

void blockTerminationSignals();

class TerminationSignals : public QObject {
    Q_OBJECT

  public:
    explicit TerminationSignals(QObject* parent = nullptr);
    ~TerminationSignals() override;
    TerminationSignals(const TerminationSignals&) = delete;
    TerminationSignals& operator=(const TerminationSignals&) = delete;

    // "SIGTERM", "SIGINT", "SIGHUP".
    static const char* nameOf(int signalNumber);

  signals:
    void received(int signalNumber);

  private:
    void readSignals();

    int fd_ = -1;
    std::unique_ptr<QSocketNotifier> notifier_;
};

}  // namespace orvento
