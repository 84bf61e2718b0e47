#include "engine/player/AlertService.h"

#include <cstdio>

namespace orvento {

void StandardErrorAlertService::showAlert(const std::string& title, const std::string& message,
                                          const std::string& /*button*/) {
    const std::string line = title + ": " + message + "\n";
    std::fwrite(line.data(), 1, line.size(), stderr);
    std::fflush(stderr);
}

}  // namespace orvento
