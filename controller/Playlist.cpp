#include "controller/Playlist.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <map>

namespace orvento {
namespace {

char lower(char c) {
    return static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
}

std::string lowered(std::string_view text) {
    std::string out(text);
    std::transform(out.begin(), out.end(), out.begin(), lower);
    return out;
}

bool startsWithNoCase(std::string_view text, std::string_view prefix) {
    return text.size() >= prefix.size() && lowered(text.substr(0, prefix.size())) == prefix;
}

std::string_view trimmed(std::string_view text) {
    const auto space = [](char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; };
    while (!text.empty() && space(text.front())) {
        text.remove_prefix(1);
    }
    while (!text.empty() && space(text.back())) {
        text.remove_suffix(1);
    }
    return text;
}

// The text after a UTF-8 byte order mark and leading blanks.
std::string_view content(std::string_view bytes) {
    if (bytes.starts_with("\xEF\xBB\xBF")) {
        bytes.remove_prefix(3);
    }
    return trimmed(bytes);
}

bool isBinary(std::string_view bytes) {
    return bytes.find('\0') != std::string_view::npos;
}

std::vector<std::string_view> lines(std::string_view text) {
    std::vector<std::string_view> out;
    while (!text.empty()) {
        const std::size_t end = text.find('\n');
        out.push_back(trimmed(text.substr(0, end)));
        text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
    }
    return out;
}

// ---- XML, tolerantly: ASX files in the wild are seldom well formed.

std::string unescapeXml(std::string_view text) {
    static const std::pair<std::string_view, char> kNamed[] = {
        {"&amp;", '&'}, {"&lt;", '<'}, {"&gt;", '>'}, {"&quot;", '"'}, {"&apos;", '\''}};
    std::string out;
    for (std::size_t i = 0; i < text.size();) {
        bool replaced = false;
        if (text[i] == '&') {
            for (const auto& [name, c] : kNamed) {
                if (startsWithNoCase(text.substr(i), name)) {
                    out += c;
                    i += name.size();
                    replaced = true;
                    break;
                }
            }
            if (!replaced && text.substr(i).starts_with("&#")) {
                const std::size_t end = text.find(';', i);
                const bool hex = i + 2 < text.size() && lower(text[i + 2]) == 'x';
                const std::string digits(text.substr(i + (hex ? 3 : 2), end - i - (hex ? 3 : 2)));
                const long code = std::strtol(digits.c_str(), nullptr, hex ? 16 : 10);
                if (end != std::string_view::npos && code > 0 && code < 0x80) {
                    out += static_cast<char>(code);
                    i = end + 1;
                    replaced = true;
                }
            }
        }
        if (!replaced) {
            out += text[i++];
        }
    }
    return out;
}

// The elements named `name` (lower case) of `xml` (lowered alongside),
// each as the text between its start tag's end and its end tag, and its
// start tag.
struct Element {
    std::string_view tag;
    std::string_view inner;
};

std::vector<Element> elements(std::string_view xml, std::string_view low, std::string_view name) {
    std::vector<Element> out;
    const std::string open = "<" + std::string(name);
    const std::string close = "</" + std::string(name);
    for (std::size_t at = low.find(open); at != std::string_view::npos; at = low.find(open, at)) {
        const std::size_t after = at + open.size();
        if (after < low.size() && std::isalnum(static_cast<unsigned char>(low[after]))) {
            at = after;  // a longer name: <entryref> is no <entry>
            continue;
        }
        const std::size_t tagEnd = low.find('>', at);
        if (tagEnd == std::string_view::npos) {
            break;
        }
        const std::string_view tag = xml.substr(at, tagEnd + 1 - at);
        if (tag.ends_with("/>")) {
            out.push_back({tag, {}});
            at = tagEnd + 1;
            continue;
        }
        const std::size_t end = low.find(close, tagEnd);
        if (end == std::string_view::npos) {
            // Never closed (<REF HREF="..."> in old ASX files): the tag alone.
            out.push_back({tag, {}});
            at = tagEnd + 1;
            continue;
        }
        out.push_back({tag, xml.substr(tagEnd + 1, end - tagEnd - 1)});
        at = end;
    }
    return out;
}

// An attribute's value in a start tag, as written between its quotes.
std::string attribute(std::string_view tag, std::string_view name) {
    const std::string low = lowered(tag);
    for (std::size_t at = low.find(name); at != std::string::npos; at = low.find(name, at + 1)) {
        if (at == 0 || !std::isspace(static_cast<unsigned char>(low[at - 1]))) {
            continue;
        }
        std::size_t i = at + name.size();
        while (i < low.size() && std::isspace(static_cast<unsigned char>(low[i]))) {
            ++i;
        }
        if (i >= low.size() || low[i] != '=') {
            continue;
        }
        ++i;
        while (i < low.size() && std::isspace(static_cast<unsigned char>(low[i]))) {
            ++i;
        }
        if (i < low.size() && (low[i] == '"' || low[i] == '\'')) {
            const std::size_t end = low.find(low[i], i + 1);
            return unescapeXml(tag.substr(i + 1, end - i - 1));
        }
    }
    return {};
}

std::string firstText(std::string_view xml, std::string_view name) {
    const std::string low = lowered(xml);
    const std::vector<Element> found = elements(xml, low, name);
    if (found.empty()) {
        return {};
    }
    std::string_view inner = found.front().inner;
    if (inner.starts_with("<![CDATA[")) {
        inner = inner.substr(9, inner.find("]]>") - 9);
        return std::string(trimmed(inner));
    }
    return unescapeXml(trimmed(inner));
}

// The text before the first `name` element: where a playlist's own title is.
std::string_view before(std::string_view xml, std::string_view name) {
    return xml.substr(0, lowered(xml).find("<" + std::string(name)));
}

void readXspf(std::string_view xml, Playlist& out) {
    const std::string low = lowered(xml);
    out.title = firstText(before(xml, "tracklist"), "title");
    for (const Element& track : elements(xml, low, "track")) {
        if (std::string location = firstText(track.inner, "location"); !location.empty()) {
            out.entries.push_back({std::move(location), firstText(track.inner, "title")});
        }
    }
}

void readAsx(std::string_view xml, Playlist& out) {
    const std::string low = lowered(xml);
    out.title = firstText(before(xml, "entry"), "title");
    const auto add = [&out](std::string address, const std::string& title) {
        if (!address.empty()) {
            out.entries.push_back({std::move(address), title});
        }
    };
    for (const Element& entry : elements(xml, low, "entry")) {
        const std::string title = firstText(entry.inner, "title");
        const std::string lowInner = lowered(entry.inner);
        for (const Element& ref : elements(entry.inner, lowInner, "ref")) {
            add(attribute(ref.tag, "href"), title);
        }
    }
    for (const Element& entryRef : elements(xml, low, "entryref")) {
        add(attribute(entryRef.tag, "href"), {});
    }
}

void readPls(std::string_view text, Playlist& out) {
    // FileN and TitleN, by N: the numbers need not come in order.
    std::map<long, PlaylistEntry> numbered;
    for (std::string_view line : lines(text)) {
        const std::size_t equals = line.find('=');
        if (equals == std::string_view::npos) {
            continue;
        }
        const std::string key = lowered(trimmed(line.substr(0, equals)));
        const std::string_view value = trimmed(line.substr(equals + 1));
        const bool file = key.starts_with("file");
        const bool title = key.starts_with("title");
        if (!file && !title) {
            continue;
        }
        const std::string number = key.substr(file ? 4 : 5);
        if (number.empty() || !std::all_of(number.begin(), number.end(), [](char c) {
                return std::isdigit(static_cast<unsigned char>(c));
            })) {
            continue;
        }
        PlaylistEntry& entry = numbered[std::strtol(number.c_str(), nullptr, 10)];
        (file ? entry.address : entry.title) = std::string(value);
        if (numbered.size() > kPlaylistMaxEntries) {
            break;
        }
    }
    for (auto& [number, entry] : numbered) {
        if (!entry.address.empty()) {
            out.entries.push_back(std::move(entry));
        }
    }
}

void readM3u(std::string_view text, Playlist& out) {
    std::string title;  // of the next entry, from its #EXTINF
    for (std::string_view line : lines(text)) {
        if (line.empty()) {
            continue;
        }
        if (line.front() == '#') {
            if (startsWithNoCase(line, "#ext-x-")) {
                out.error = PlaylistError::hls;
                return;
            }
            if (startsWithNoCase(line, "#extinf:")) {
                const std::size_t comma = line.find(',');
                title = comma == std::string_view::npos
                            ? std::string()
                            : std::string(trimmed(line.substr(comma + 1)));
            } else if (startsWithNoCase(line, "#playlist:")) {
                out.title = std::string(trimmed(line.substr(10)));
            }
            continue;
        }
        out.entries.push_back({std::string(line), std::move(title)});
        title.clear();
        if (out.entries.size() > kPlaylistMaxEntries) {
            return;
        }
    }
}

}  // namespace

bool hasPlaylistExtension(std::string_view address) {
    std::string path = lowered(address.substr(0, address.find_first_of("?#")));
    for (std::string_view extension :
         {".pls", ".m3u", ".m3u8", ".xspf", ".asx", ".wax", ".wvx", ".wmx"}) {
        if (path.ends_with(extension)) {
            return true;
        }
    }
    return false;
}

std::optional<PlaylistFormat> recognisePlaylist(std::string_view contentType,
                                                std::string_view bytes, std::string_view address) {
    const std::string type = lowered(trimmed(contentType.substr(0, contentType.find(';'))));
    const std::string_view text = content(bytes);
    const std::string head = lowered(text.substr(0, 1024));
    const bool xml = head.starts_with("<");
    const bool asxRoot = xml && head.find("<asx") != std::string::npos;
    const bool xspfRoot = xml && head.find("<playlist") != std::string::npos;

    if (type == "audio/x-scpls" || type == "application/pls+xml") {
        return PlaylistFormat::pls;
    }
    if (type == "audio/x-mpegurl" || type == "audio/mpegurl" || type == "application/x-mpegurl" ||
        type == "application/vnd.apple.mpegurl" || type == "application/mpegurl") {
        return PlaylistFormat::m3u;
    }
    if (type == "application/xspf+xml") {
        return PlaylistFormat::xspf;
    }
    if (type == "audio/x-ms-asx" || type == "application/x-ms-asx" || type == "video/x-ms-asx" ||
        type == "audio/x-ms-wax" || type == "video/x-ms-wvx" || type == "video/x-ms-wmx" ||
        (type == "video/x-ms-asf" && asxRoot)) {
        return PlaylistFormat::asx;
    }
    if (head.starts_with("[playlist]")) {
        return PlaylistFormat::pls;
    }
    if (head.starts_with("#extm3u")) {
        return PlaylistFormat::m3u;
    }
    if (asxRoot) {
        return PlaylistFormat::asx;
    }
    if (xspfRoot) {
        return PlaylistFormat::xspf;
    }
    if (type.starts_with("audio/") || type.starts_with("video/") || isBinary(bytes) ||
        !hasPlaylistExtension(address)) {
        return std::nullopt;
    }
    const std::string path = lowered(address.substr(0, address.find_first_of("?#")));
    if (path.ends_with(".pls")) {
        return PlaylistFormat::pls;
    }
    if (path.ends_with(".xspf")) {
        return PlaylistFormat::xspf;
    }
    if (path.ends_with(".asx") || path.ends_with(".wax") || path.ends_with(".wvx") ||
        path.ends_with(".wmx")) {
        return PlaylistFormat::asx;
    }
    return PlaylistFormat::m3u;
}

Playlist readPlaylist(PlaylistFormat format, std::string_view bytes) {
    Playlist out;
    if (bytes.size() > kPlaylistMaxBytes) {
        out.error = PlaylistError::tooLarge;
        return out;
    }
    if (isBinary(bytes)) {
        out.error = PlaylistError::binary;
        return out;
    }
    const std::string_view text = content(bytes);
    switch (format) {
        case PlaylistFormat::pls:
            readPls(text, out);
            break;
        case PlaylistFormat::m3u:
            readM3u(text, out);
            break;
        case PlaylistFormat::xspf:
            readXspf(text, out);
            break;
        case PlaylistFormat::asx:
            readAsx(text, out);
            break;
    }
    if (out.error != PlaylistError::none) {
        out.entries.clear();
    } else if (out.entries.size() > kPlaylistMaxEntries) {
        out.error = PlaylistError::tooManyEntries;
        out.entries.clear();
    } else if (out.entries.empty()) {
        out.error = PlaylistError::empty;
    }
    return out;
}

}  // namespace orvento
