#include "engine/platform/parser/FileTypeHint.h"

#include "engine/net/Url.h"

namespace orvento {
namespace {

struct HintRow {
    std::string_view extension;
    AudioFileTypeID hint;
};

constexpr HintRow kHintRows[] = {
    {"mp3", kAudioFileMP3Type},   {"wav", kAudioFileWAVEType},     {"aifc", kAudioFileAIFCType},
    {"aiff", kAudioFileAIFFType}, {"m4a", kAudioFileM4AType},      {"mp4", kAudioFileMPEG4Type},
    {"caf", kAudioFileCAFType},   {"aac", kAudioFileAAC_ADTSType},
};

}  // namespace

AudioFileTypeID fileTypeHintForExtension(std::string_view extension) {
    for (const HintRow& row : kHintRows) {
        if (row.extension == extension) {
            return row.hint;
        }
    }
    return kAudioFileMP3Type;
}

AudioFileTypeID fileTypeHintForFile(const std::filesystem::path& file) {
    const std::string extension = file.extension().string();  // with its dot, or empty
    return fileTypeHintForExtension(std::string_view(extension).substr(extension.empty() ? 0 : 1));
}

AudioFileTypeID fileTypeHintForURL(const Url* url) {
    return url == nullptr ? kAudioFileMP3Type : fileTypeHintForExtension(url->pathExtension());
}

}  // namespace orvento
