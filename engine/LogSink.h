// Where log lines go: one call per line, with the line's text only (no
// timestamp, no line end), on whichever thread writes it. The engine's
// services write what they cannot return (an error line, a failure seen on
// their own thread); the application adds its diagnostic lines.
#pragma once

#include <functional>
#include <string_view>

namespace orvento {

using LogSink = std::function<void(std::string_view line)>;

}  // namespace orvento
