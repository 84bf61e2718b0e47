// The file-type hint a parser is opened with, from the extension of a file's
// name or of a URL's path. The hint only decides between equally plausible
// readings of the bytes (see AudioFileStream.h), so a wrong or unknown
// extension does no harm.
#pragma once

#include <filesystem>
#include <string_view>

#include "engine/platform/parser/AudioFileStream.h"

namespace orvento {

class Url;

// The hint for a file-name extension without its dot: "mp3", "wav", "aifc",
// "aiff", "m4a", "mp4", "caf" or "aac", compared exactly (case-sensitive);
// anything else gives the MP3 hint.
AudioFileTypeID fileTypeHintForExtension(std::string_view extension);

// The hint for a file, from its name's extension.
AudioFileTypeID fileTypeHintForFile(const std::filesystem::path& file);

// The hint for a stream URL, from its path's extension (Url::pathExtension);
// no URL gives the MP3 hint.
AudioFileTypeID fileTypeHintForURL(const Url* url);

}  // namespace orvento
