#include "engine/HookedParser.h"

#include <utility>

namespace orvento {

StreamParserCreation HookedParser::open(EnginePlatform& platform, StreamParser::Listener& listener,
                                        AudioFileType hint) {
    PlatformCall call{PlatformOp::AudioFileStreamOpen, static_cast<std::uint32_t>(hint)};
    const std::optional<OSStatus> faked = platform.before(call);
    if (faked && *faked != noErr) {
        platform.after(call, *faked);
        return {nullptr, static_cast<ParserError>(*faked)};
    }
    StreamParser::Listener* heard = &listener;
    platform.interpose(heard);
    auto parser = std::make_unique<HookedParser>(platform, makeStreamParser(*heard, hint));
    call.parser = parser.get();
    platform.after(call, noErr);
    return {std::move(parser), ParserError::None};
}

HookedParser::HookedParser(EnginePlatform& platform, std::unique_ptr<StreamParser> parser)
    : platform_(platform), parser_(std::move(parser)) {}

HookedParser::~HookedParser() {
    PlatformCall call{PlatformOp::AudioFileStreamClose, 0, this};
    platform_.before(call);
    parser_.reset();
    platform_.after(call, noErr);
}

ParserError HookedParser::feed(std::span<const std::byte> bytes, Continuity continuity) {
    PlatformCall call{PlatformOp::AudioFileStreamParseBytes, static_cast<std::uint32_t>(continuity),
                      this};
    const std::optional<OSStatus> faked = platform_.before(call);
    const OSStatus result =
        faked ? *faked : static_cast<OSStatus>(parser_->feed(bytes, continuity));
    platform_.after(call, result);
    return static_cast<ParserError>(result);
}

template <typename T, typename Getter>
ParserResult<T> HookedParser::get(StreamProperty property, Getter&& getter) const {
    PlatformCall call{PlatformOp::AudioFileStreamGetProperty, static_cast<std::uint32_t>(property),
                      this};
    if (const std::optional<OSStatus> faked = platform_.before(call); faked && *faked != noErr) {
        platform_.after(call, *faked);
        return static_cast<ParserError>(*faked);
    }
    ParserResult<T> result = getter();
    platform_.after(call, result ? noErr : static_cast<OSStatus>(result.error()));
    return result;
}

ParserResult<AudioFileType> HookedParser::fileFormat() const {
    return get<AudioFileType>(StreamProperty::FileFormat, [&] { return parser_->fileFormat(); });
}

ParserResult<AudioStreamBasicDescription> HookedParser::dataFormat() const {
    return get<AudioStreamBasicDescription>(StreamProperty::DataFormat,
                                            [&] { return parser_->dataFormat(); });
}

ParserResult<std::span<const std::uint8_t>> HookedParser::magicCookie() const {
    return get<std::span<const std::uint8_t>>(StreamProperty::MagicCookie,
                                              [&] { return parser_->magicCookie(); });
}

}  // namespace orvento
