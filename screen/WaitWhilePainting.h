// Blocking work on the main thread without a frozen window.
#pragma once

#include <functional>

namespace orvento {

// Runs `work` on a thread of its own and returns once it has returned. The
// main thread meanwhile runs a local event loop that leaves out user input:
// windows are shown and repainted, timers and posted calls run, while keys,
// mouse and touch events wait in the queue until the event loop runs without
// this one. Main thread only; `work` must not touch widgets.
void waitWhilePainting(const std::function<void()>& work);

}  // namespace orvento
