// Playlist: the playlists that stations hand out instead of their stream
// (.pls, .m3u/.m3u8, .xspf, .asx), recognised and read into the addresses
// they list. Plain C++ (no Qt): it sees bytes and gives text.
//
// Recognising (recognisePlaylist) weighs, in this order: a Content-Type that
// names a playlist, the first bytes ("[playlist]", "#EXTM3U", an XML root
// <playlist> or <asx>), then, for text only, the address's extension. A
// Content-Type of audio or video and bytes that hold a NUL are a stream, not
// a playlist, whatever the address is called ("video/x-ms-asf" names both
// ASX playlists and Windows Media streams: it counts only with an <asx>).
//
// Reading (readPlaylist) gives the entries in the playlist's order, each an
// address exactly as written (relative ones too: the caller resolves them
// against where the playlist came from and decides what may be played) and
// its title, and the playlist's own title. An ASX entry's alternative <ref>s
// come one after the other. What is refused is said by an error: no entries,
// binary bytes, more than kPlaylistMaxBytes or kPlaylistMaxEntries, or an HLS
// media playlist (an m3u8 with #EXT-X- lines: segments to be fetched one by
// one, which Orvento does not play).
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace orvento {

inline constexpr std::size_t kPlaylistMaxBytes = 1024 * 1024;
inline constexpr std::size_t kPlaylistMaxEntries = 1000;
// Playlists within playlists: the first is at depth 1.
inline constexpr int kPlaylistMaxDepth = 3;

enum class PlaylistFormat { pls, m3u, xspf, asx };

// The media types of the playlists read here, as the desktop names them (the
// desktop entry declares the same).
inline constexpr std::string_view kPlaylistMediaTypes[] = {
    "audio/x-scpls",
    "audio/x-mpegurl",
    "audio/mpegurl",
    "application/x-mpegurl",
    "application/vnd.apple.mpegurl",
    "application/xspf+xml",
    "audio/x-ms-asx",
};

enum class PlaylistError {
    none,            // entries were read
    empty,           // no entry at all
    binary,          // the bytes are no text
    tooLarge,        // over kPlaylistMaxBytes
    tooManyEntries,  // over kPlaylistMaxEntries
    hls,             // an HLS playlist of segments
};

struct PlaylistEntry {
    std::string address;  // as written
    std::string title;    // may be empty
    bool operator==(const PlaylistEntry&) const = default;
};

struct Playlist {
    PlaylistError error = PlaylistError::none;
    std::string title;  // the playlist's own; may be empty
    std::vector<PlaylistEntry> entries;
};

// What `bytes` (the first bytes, or all of them) of `address`, received with
// `contentType` (empty for a file), are; none: not a playlist.
std::optional<PlaylistFormat> recognisePlaylist(std::string_view contentType,
                                                std::string_view bytes, std::string_view address);

// Whether `address`'s path ends in a playlist's extension.
bool hasPlaylistExtension(std::string_view address);

Playlist readPlaylist(PlaylistFormat format, std::string_view bytes);

}  // namespace orvento
