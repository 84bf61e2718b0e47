// The audio file types the parser knows, and the hint a parser is created
// with, from the extension of a file's name or of a URL's path. The hint only
// decides between equally plausible readings of the bytes (see
// StreamParser.h), so a wrong or unknown extension does no harm.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string_view>

#include "engine/base/StatusCode.h"

namespace orvento {

class Url;

// A hint, and what the bytes turned out to be (StreamParser::fileFormat).
// The values are the types' four-character codes, as the probe prints them.
enum class AudioFileType : std::uint32_t {
    None = 0,  // no hint; not known yet
    MP3 = fourCharCode("MPG3"),
    MP2 = fourCharCode("MPG2"),
    MP1 = fourCharCode("MPG1"),
    WAVE = fourCharCode("WAVE"),
    AIFC = fourCharCode("AIFC"),
    AIFF = fourCharCode("AIFF"),
    M4A = fourCharCode("m4af"),
    MPEG4 = fourCharCode("mp4f"),
    CAF = fourCharCode("caff"),
    AAC_ADTS = fourCharCode("adts"),
};

// The hint for a file-name extension without its dot: "mp3", "wav", "aifc",
// "aiff", "m4a", "mp4", "caf" or "aac", compared exactly (case-sensitive);
// anything else gives the MP3 hint.
AudioFileType fileTypeHintForExtension(std::string_view extension);

// The hint for a file, from its name's extension.
AudioFileType fileTypeHintForFile(const std::filesystem::path& file);

// The hint for a stream URL, from its path's extension (Url::pathExtension);
// no URL gives the MP3 hint.
AudioFileType fileTypeHintForURL(const Url* url);

}  // namespace orvento
