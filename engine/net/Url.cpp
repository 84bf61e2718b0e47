#include "engine/net/Url.h"

#include <algorithm>
#include <cctype>
#include <string>
#include <utility>

#include "engine/HexDigit.h"

namespace orvento {
namespace {

bool isAlpha(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}
bool isDigit(char c) {
    return c >= '0' && c <= '9';
}

// RFC 3986: unreserved, gen-delims, sub-delims and "%".
bool isUrlCharacter(char c) {
    if (isAlpha(c) || isDigit(c)) {
        return true;
    }
    constexpr std::string_view allowed = "-._~:/?#[]@!$&'()*+,;=%";
    return allowed.find(c) != std::string_view::npos;
}

bool isSchemeCharacter(char c) {
    return isAlpha(c) || isDigit(c) || c == '+' || c == '-' || c == '.';
}

bool isHighByte(char c) {
    return static_cast<unsigned char>(c) >= 0x80;
}

// True when `text` is well-formed UTF-8: no stray or missing continuation
// bytes, no overlong forms, no surrogates, nothing above U+10FFFF.
bool isUtf8(std::string_view text) {
    for (std::size_t i = 0; i < text.size();) {
        const auto lead = static_cast<unsigned char>(text[i]);
        if (lead < 0x80) {
            ++i;
            continue;
        }
        std::size_t length = 0;
        char32_t minimum = 0;
        if (lead >= 0xC2 && lead <= 0xDF) {
            length = 2;
            minimum = 0x80;
        } else if (lead >= 0xE0 && lead <= 0xEF) {
            length = 3;
            minimum = 0x800;
        } else if (lead >= 0xF0 && lead <= 0xF4) {
            length = 4;
            minimum = 0x10000;
        } else {
            return false;
        }
        char32_t code = lead & (0x7Fu >> length);  // the lead byte's payload bits
        if (text.size() - i < length) {
            return false;
        }
        for (std::size_t k = 1; k < length; ++k) {
            const auto next = static_cast<unsigned char>(text[i + k]);
            if ((next & 0xC0u) != 0x80u) {
                return false;
            }
            code = (code << 6) | (next & 0x3Fu);
        }
        if (code < minimum || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) {
            return false;
        }
        i += length;
    }
    return true;
}

// Checks the character set and every "%" escape of the whole text. Inside
// `host` non-ASCII bytes are allowed too, as well-formed UTF-8.
bool hasValidCharacters(std::string_view text, std::optional<TextRange> host) {
    for (std::size_t i = 0; i < text.size(); ++i) {
        const bool inHost = host && i >= host->begin && i < host->end;
        if (!isUrlCharacter(text[i]) && !(inHost && isHighByte(text[i]))) {
            return false;
        }
        if (text[i] == '%' && (i + 2 >= text.size() || hexDigitValue(text[i + 1]) < 0 ||
                               hexDigitValue(text[i + 2]) < 0)) {
            return false;
        }
    }
    return !host || isUtf8(text.substr(host->begin, host->end - host->begin));
}

// Only called on text whose escapes hasValidCharacters accepted.
std::string percentDecode(std::string_view text) {
    std::string decoded;
    decoded.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '%') {
            decoded.push_back(
                static_cast<char>(hexDigitValue(text[i + 1]) * 16 + hexDigitValue(text[i + 2])));
            i += 2;
        } else {
            decoded.push_back(text[i]);
        }
    }
    return decoded;
}

// The colon that ends a valid scheme (a letter, then letters, digits, "+",
// "-" or ".").
std::optional<std::size_t> schemeColonOf(std::string_view text) {
    const std::size_t colon = text.find(':');
    if (colon == std::string_view::npos || colon == 0 || !isAlpha(text[0])) {
        return std::nullopt;
    }
    for (std::size_t i = 1; i < colon; ++i) {
        if (!isSchemeCharacter(text[i])) {
            return std::nullopt;
        }
    }
    return colon;
}

// After "scheme://", up to the first "/", "?" or "#".
std::optional<TextRange> authorityRangeOf(std::string_view text) {
    const std::optional<std::size_t> schemeColon = schemeColonOf(text);
    if (!schemeColon) {
        return std::nullopt;
    }
    const std::size_t colon = *schemeColon;
    if (text.substr(colon + 1, 2) != "//") {
        return std::nullopt;
    }
    const std::size_t begin = colon + 3;
    return TextRange{begin, std::min(text.find_first_of("/?#", begin), text.size())};
}

}  // namespace

std::optional<TextRange> hostRangeOf(std::string_view text) {
    const std::optional<TextRange> authority = authorityRangeOf(text);
    if (!authority) {
        return std::nullopt;
    }
    std::size_t begin = authority->begin;
    std::string_view rest = text.substr(begin, authority->end - begin);
    if (const std::size_t at = rest.rfind('@'); at != std::string_view::npos) {
        begin += at + 1;
        rest.remove_prefix(at + 1);
    }
    std::size_t length = std::min(rest.find(':'), rest.size());
    if (!rest.empty() && rest.front() == '[') {
        const std::size_t close = rest.find(']');
        length = close == std::string_view::npos ? rest.size() : close + 1;
    }
    return TextRange{begin, begin + length};
}

std::string withoutPassword(std::string_view text) {
    const std::optional<TextRange> authority = authorityRangeOf(text);
    if (!authority) {
        return std::string(text);
    }
    const std::string_view within =
        text.substr(authority->begin, authority->end - authority->begin);
    const std::size_t at = within.rfind('@');
    const std::size_t colon = within.substr(0, at == std::string_view::npos ? 0 : at).find(':');
    if (at == std::string_view::npos || colon == std::string_view::npos) {
        return std::string(text);
    }
    std::string shown(text.substr(0, authority->begin + colon + 1));
    shown += "***";
    shown += text.substr(authority->begin + at);
    return shown;
}

std::optional<Url> Url::parse(std::string_view text) {
    const std::optional<std::size_t> schemeColon = schemeColonOf(text);
    if (!schemeColon) {
        return std::nullopt;
    }
    const std::size_t colon = *schemeColon;
    const std::optional<TextRange> host = hostRangeOf(text);
    if (!hasValidCharacters(text, host)) {
        return std::nullopt;
    }

    std::string_view rest = text.substr(colon + 1);
    const std::size_t hash = rest.find('#');
    if (hash != std::string_view::npos) {
        if (rest.find('#', hash + 1) != std::string_view::npos) {
            return std::nullopt;
        }
        rest = rest.substr(0, hash);
    }
    rest = rest.substr(0, rest.find('?'));

    Url url;
    url.text_ = std::string(text);
    url.scheme_.reserve(colon);
    for (std::size_t i = 0; i < colon; ++i) {
        url.scheme_.push_back(static_cast<char>(std::tolower(static_cast<unsigned char>(text[i]))));
    }
    if (host) {
        std::string_view name = text.substr(host->begin, host->end - host->begin);
        if (name.starts_with('[')) {
            name.remove_prefix(1);
            if (name.ends_with(']')) {
                name.remove_suffix(1);
            }
        }
        url.host_ = std::string(name);
        rest = rest.substr(std::min(rest.find('/', 2), rest.size()));
    }
    url.path_ = percentDecode(rest);
    return url;
}

std::string Url::pathExtension() const {
    std::string_view path = path_;
    while (!path.empty() && path.back() == '/') {
        path.remove_suffix(1);
    }
    const std::string_view component = path.substr(path.rfind('/') + 1);
    const std::size_t dot = component.rfind('.');
    return dot == std::string_view::npos ? std::string() : std::string(component.substr(dot + 1));
}

}  // namespace orvento
