// A parsed absolute URL, a value: what a stream player is created for.
//
// Urls are made only by parse(), so every Url holds a valid URL. Const
// members only: a Url may be read from any thread.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace orvento {

class Url {
  public:
    // Parses `text` as an absolute URL (scheme ":" rest, RFC 3986 syntax).
    // Returns nullopt when the text is not one: no scheme, a character outside
    // the URL character set (a space, a control or non-ASCII byte, or one of
    // " < > \ ^ ` { | }), a "#" inside the fragment, or a "%" not followed by
    // two hexadecimal digits. The one exception is an internationalised host
    // name: the host may hold non-ASCII characters as well-formed UTF-8 (the
    // HTTP stream converts it to its ASCII form when it connects). The text
    // is kept as given.
    static std::optional<Url> parse(std::string_view text);

    const std::string& string() const { return text_; }
    // Lower-cased scheme, without the ":".
    const std::string& scheme() const { return scheme_; }
    // Host, as written (without user info and port; an IP literal without its
    // brackets; an internationalised name in UTF-8); empty when the URL has no
    // "//" authority.
    const std::string& host() const { return host_; }
    // The path, percent-decoded; the query and fragment are not part of it.
    const std::string& path() const { return path_; }
    // Text after the last "." of the path's last component, without the dot;
    // empty when that component has no ".". Trailing "/" are not a component:
    // "/live.mp3/" has the extension "mp3".
    std::string pathExtension() const;

  private:
    Url() = default;
    std::string text_;
    std::string scheme_;
    std::string host_;
    std::string path_;
};

// Where the host stands in `text`, a URL or text typed as one: after
// "scheme://" and any "userinfo@", up to the ":port" or the end of the
// authority (the first "/", "?" or "#"); an IP literal with its brackets.
// Nullopt when the text has no "scheme://" authority.
struct TextRange {
    std::size_t begin = 0;
    std::size_t end = 0;
};
std::optional<TextRange> hostRangeOf(std::string_view text);

// `text` (a URL, or text typed as one) fit to be shown: the password of a
// "user:password@" part is replaced by "***".
std::string withoutPassword(std::string_view text);

}  // namespace orvento
