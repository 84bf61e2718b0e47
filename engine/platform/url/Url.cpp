#include "engine/platform/url/Url.h"

#include <cctype>
#include <string>
#include <utility>

namespace orvento {
namespace {

bool isAlpha(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}
bool isDigit(char c) {
    return c >= '0' && c <= '9';
}

int hexValue(char c) {
    if (isDigit(c)) {
        return c - '0';
    }
    if (c >= 'a' && c <= 'f') {
        return c - 'a' + 10;
    }
    if (c >= 'A' && c <= 'F') {
        return c - 'A' + 10;
    }
    return -1;
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

// Checks the character set and every "%" escape of the whole text.
bool hasValidCharacters(std::string_view text) {
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (!isUrlCharacter(text[i])) {
            return false;
        }
        if (text[i] == '%' &&
            (i + 2 >= text.size() || hexValue(text[i + 1]) < 0 || hexValue(text[i + 2]) < 0)) {
            return false;
        }
    }
    return true;
}

// Only called on text whose escapes hasValidCharacters accepted.
std::string percentDecode(std::string_view text) {
    std::string decoded;
    decoded.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '%') {
            decoded.push_back(
                static_cast<char>(hexValue(text[i + 1]) * 16 + hexValue(text[i + 2])));
            i += 2;
        } else {
            decoded.push_back(text[i]);
        }
    }
    return decoded;
}

// The host of an authority: without "userinfo@" and ":port"; an IP literal
// loses its brackets.
std::string_view hostOf(std::string_view authority) {
    if (const std::size_t at = authority.rfind('@'); at != std::string_view::npos) {
        authority.remove_prefix(at + 1);
    }
    if (!authority.empty() && authority.front() == '[') {
        const std::size_t close = authority.find(']');
        return close == std::string_view::npos ? authority.substr(1)
                                               : authority.substr(1, close - 1);
    }
    return authority.substr(0, authority.find(':'));
}

}  // namespace

std::shared_ptr<const Url> Url::fromString(std::string_view text) {
    const std::size_t colon = text.find(':');
    if (colon == std::string_view::npos || colon == 0 || !isAlpha(text[0]) ||
        !hasValidCharacters(text)) {
        return nullptr;
    }
    for (std::size_t i = 1; i < colon; ++i) {
        if (!isSchemeCharacter(text[i])) {
            return nullptr;
        }
    }

    std::string_view rest = text.substr(colon + 1);
    const std::size_t hash = rest.find('#');
    if (hash != std::string_view::npos) {
        if (rest.find('#', hash + 1) != std::string_view::npos) {
            return nullptr;
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
    if (rest.substr(0, 2) == "//") {
        rest.remove_prefix(2);
        const std::size_t pathStart = rest.find('/');
        url.host_ = std::string(hostOf(rest.substr(0, pathStart)));
        rest = pathStart == std::string_view::npos ? std::string_view{} : rest.substr(pathStart);
    }
    url.path_ = percentDecode(rest);
    return std::make_shared<const Url>(std::move(url));
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
