// The application's look: the Fusion style with a dark palette, shared by
// every window and box. Main thread, once the application object exists.
#pragma once

#include <QApplication>

namespace orvento {

void applyOrventoLook(QApplication& app);

}  // namespace orvento
