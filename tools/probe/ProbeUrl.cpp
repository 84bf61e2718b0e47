#include "tools/probe/Probe.h"

namespace orvento::probe {

bool probeUrl(const std::string& url, Probe&, std::string& error, double) {
    error = "reading " + url + ": HTTP streams are not supported by this build";
    return false;
}

}  // namespace orvento::probe
