#include "engine/net/UrlEscaping.h"

#include <cstring>

#include "engine/net/Url.h"

namespace orvento {
namespace {

bool isHexDigit(char c) {
    return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}

bool isKept(char c) {
    if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9')) {
        return true;
    }
    return c != '\0' && std::strchr("-_.!~*'();/?:@&=+$,", c) != nullptr;
}

}  // namespace

std::string percentEscapeUrlText(std::string_view text) {
    static constexpr char kHex[] = "0123456789ABCDEF";
    // The host stays as typed where escaping would break it: an IP literal's
    // brackets, and the letters of an internationalised name.
    const std::optional<TextRange> host = hostRangeOf(text);
    const auto keptInHost = [&](std::size_t i) {
        if (!host || i < host->begin || i >= host->end) {
            return false;
        }
        const bool literal = text[host->begin] == '[';
        return static_cast<unsigned char>(text[i]) >= 0x80 || (literal && i == host->begin) ||
               (literal && i + 1 == host->end && text[i] == ']');
    };
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        const bool escapedAlready =
            c == '%' && i + 2 < text.size() && isHexDigit(text[i + 1]) && isHexDigit(text[i + 2]);
        if (isKept(c) || escapedAlready || keptInHost(i)) {
            out.push_back(c);
            continue;
        }
        const auto byte = static_cast<unsigned char>(c);
        out.push_back('%');
        out.push_back(kHex[byte >> 4]);
        out.push_back(kHex[byte & 0x0F]);
    }
    return out;
}

}  // namespace orvento
