// The desktop's idle timer, as the screen sees it: whether the desktop may
// blank or lock the screen after a while without input. A listener may hear
// the radio for hours without touching anything.
#pragma once

namespace orvento {

class IdleTimer {
  public:
    virtual ~IdleTimer() = default;
    // true: the desktop must not blank or lock the screen until this is
    // called with false or the object goes. Main thread.
    virtual void setIdleTimerDisabled(bool disabled) = 0;
};

}  // namespace orvento
