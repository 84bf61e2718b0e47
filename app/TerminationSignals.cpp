#include "app/TerminationSignals.h"

#include <signal.h>
#include <sys/signalfd.h>
#include <unistd.h>

#include <cstdlib>

namespace orvento {
namespace {

sigset_t terminationSignals() {
    sigset_t set;
    sigemptyset(&set);
    for (const int signalNumber : {SIGTERM, SIGINT, SIGHUP}) {
        sigaddset(&set, signalNumber);
    }
    return set;
}

void unblockInChild() {
    const sigset_t set = terminationSignals();
    pthread_sigmask(SIG_UNBLOCK, &set, nullptr);
}

}  // namespace

void blockTerminationSignals() {
    // SDL_HINT_NO_SIGNAL_HANDLERS, read when the sound library starts.
    setenv("SDL_NO_SIGNAL_HANDLERS", "1", 1);
    const sigset_t set = terminationSignals();
    pthread_sigmask(SIG_BLOCK, &set, nullptr);
    // A program a library forks (a session bus started on demand) gets the
    // signals back.
    pthread_atfork(nullptr, nullptr, &unblockInChild);
}

TerminationSignals::TerminationSignals(QObject* parent) : QObject(parent) {
    const sigset_t set = terminationSignals();
    fd_ = signalfd(-1, &set, SFD_NONBLOCK | SFD_CLOEXEC);
    if (fd_ >= 0) {
        notifier_ = std::make_unique<QSocketNotifier>(fd_, QSocketNotifier::Read);
        connect(notifier_.get(), &QSocketNotifier::activated, this,
                &TerminationSignals::readSignals);
    }
}

TerminationSignals::~TerminationSignals() {
    notifier_.reset();
    if (fd_ >= 0) {
        close(fd_);
    }
}

const char* TerminationSignals::nameOf(int signalNumber) {
    switch (signalNumber) {
        case SIGTERM:
            return "SIGTERM";
        case SIGINT:
            return "SIGINT";
        case SIGHUP:
            return "SIGHUP";
        default:
            return "a signal";
    }
}

void TerminationSignals::readSignals() {
    signalfd_siginfo info{};
    while (read(fd_, &info, sizeof info) == static_cast<ssize_t>(sizeof info)) {
        emit received(static_cast<int>(info.ssi_signo));
    }
}

}  // namespace orvento
