#include "engine/demux/FileTypeHint.h"

#include "engine/net/Url.h"

namespace orvento {
namespace {

struct HintRow {
    std::string_view extension;
    AudioFileType hint;
};

constexpr HintRow kHintRows[] = {
    {"mp3", AudioFileType::MP3},   {"wav", AudioFileType::WAVE},     {"aifc", AudioFileType::AIFC},
    {"aiff", AudioFileType::AIFF}, {"m4a", AudioFileType::M4A},      {"mp4", AudioFileType::MPEG4},
    {"caf", AudioFileType::CAF},   {"aac", AudioFileType::AAC_ADTS},
};

}  // namespace

AudioFileType fileTypeHintForExtension(std::string_view extension) {
    for (const HintRow& row : kHintRows) {
        if (row.extension == extension) {
            return row.hint;
        }
    }
    return AudioFileType::MP3;
}

AudioFileType fileTypeHintForFile(const std::filesystem::path& file) {
    const std::string extension = file.extension().string();  // with its dot, or empty
    return fileTypeHintForExtension(std::string_view(extension).substr(extension.empty() ? 0 : 1));
}

AudioFileType fileTypeHintForURL(const Url* url) {
    return url == nullptr ? AudioFileType::MP3 : fileTypeHintForExtension(url->pathExtension());
}

}  // namespace orvento
