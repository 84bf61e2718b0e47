#include "tools/probe/Probe.h"

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <iomanip>
#include <memory>
#include <ostream>
#include <sstream>

#include "engine/demux/FileTypeHint.h"
#include "engine/net/Url.h"

namespace orvento::probe {

Probe::Probe(AudioFileType hint, PacketObserver* observer, bool keepPacketSizes)
    : parser_(makeStreamParser(*this, hint)),
      observer_(observer),
      keepPacketSizes_(keepPacketSizes) {
    result_.hint = hint;
}

Probe::~Probe() = default;

ParserError Probe::feed(std::span<const std::byte> bytes, Continuity continuity) {
    if (result_.status == ParserError::None) {
        result_.status = parser_->feed(bytes, continuity);
    }
    return result_.status;
}

const ProbeResult& Probe::result() {
    result_.diagnostics = parser_->diagnostics();
    return result_;
}

void Probe::handleStreamProperty(StreamProperty property) {
    if (property != StreamProperty::ReadyToProducePackets) {
        return;
    }
    ProbeResult& r = result_;
    r.ready = true;
    r.format = *parser_->dataFormat();
    r.fileType = *parser_->fileFormat();
    if (const ParserResult<std::span<const std::uint8_t>> cookie = parser_->magicCookie()) {
        r.cookie.assign(cookie->begin(), cookie->end());
        r.hasCookie = true;
    }
    if (observer_ != nullptr) {
        observer_->onReady(r);
    }
}

void Probe::handleStreamPackets(std::span<const std::byte> bytes,
                                std::span<const PacketDescription> descriptions) {
    ProbeResult& r = result_;
    ++r.runs;
    if (descriptions.empty()) {
        // Linear PCM: whole frames.
        r.bytes += bytes.size();
        const std::uint32_t frame = r.format.bytesPerFrame;
        r.packets += frame != 0 ? bytes.size() / frame : 0;
    }
    for (const PacketDescription& d : descriptions) {
        const std::uint32_t size = d.byteSize;
        r.bytes += size;
        r.smallest = r.packets == 0 ? size : std::min(r.smallest, size);
        r.largest = std::max(r.largest, size);
        ++r.packets;
        if (keepPacketSizes_) {
            r.packetSizes.push_back(size);
        }
    }
    if (observer_ != nullptr) {
        observer_->onPackets(bytes, descriptions);
    }
}

bool isUrl(std::string_view source) {
    return source.rfind("http://", 0) == 0 || source.rfind("https://", 0) == 0;
}

AudioFileType hintFor(std::string_view source) {
    if (isUrl(source)) {
        const std::optional<Url> url = Url::parse(source);
        return fileTypeHintForURL(url ? &*url : nullptr);
    }
    return fileTypeHintForFile(source);
}

bool probeFile(const std::string& path, Probe& probe, std::string& error, size_t chunkSize) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        error = "cannot open " + path;
        return false;
    }
    std::vector<char> chunk(std::max<size_t>(chunkSize, 1));
    while (in) {
        in.read(chunk.data(), static_cast<std::streamsize>(chunk.size()));
        auto got = static_cast<size_t>(in.gcount());
        if (got > 0 &&
            probe.feed(std::as_bytes(std::span(chunk.data(), got))) != ParserError::None) {
            break;
        }
    }
    if (in.bad()) {
        error = "read error on " + path;
        return false;
    }
    return true;
}

std::string fourCC(std::uint32_t code) {
    std::string text;
    for (int shift = 24; shift >= 0; shift -= 8) {
        auto c = static_cast<char>((code >> shift) & 0xFF);
        text += (c >= 32 && c < 127) ? c : '.';
    }
    return text;
}

std::string statusText(StatusCode status) {
    std::ostringstream out;
    out << status;
    auto code = static_cast<std::uint32_t>(status);
    bool printable = true;
    for (int shift = 24; shift >= 0; shift -= 8) {
        auto c = static_cast<unsigned char>((code >> shift) & 0xFF);
        printable = printable && c >= 32 && c < 127;
    }
    if (printable) {
        out << " '" << fourCC(code) << "'";
    }
    if (status == kParameterError) {
        out << " (bad parameter)";
    }
    return out.str();
}

std::string statusText(ParserError error) {
    std::string text = statusText(static_cast<StatusCode>(error));
    if (const std::string_view words = parserErrorText(error); !words.empty()) {
        text += " (" + std::string(words) + ")";
    }
    return text;
}

namespace {

const char* methodText(FormatDetection method) {
    switch (method) {
        case FormatDetection::ContainerSignature:
            return "container signature";
        case FormatDetection::ContainerByHint:
            return "box layout, trusting the hint";
        case FormatDetection::FrameSync:
            return "frame sync";
        case FormatDetection::None:
            break;
    }
    return "not detected";
}

// Whether a detected file type is what the hint announced.
bool hintAgrees(AudioFileType hint, AudioFileType type) {
    if (hint == type) {
        return true;
    }
    using T = AudioFileType;
    bool hintMpeg = hint == T::MP3 || hint == T::MP2 || hint == T::MP1;
    bool typeMpeg = type == T::MP3 || type == T::MP2 || type == T::MP1;
    bool hintMp4 = hint == T::M4A || hint == T::MPEG4;
    bool typeMp4 = type == T::M4A || type == T::MPEG4;
    bool hintAiff = hint == T::AIFF || hint == T::AIFC;
    bool typeAiff = type == T::AIFF || type == T::AIFC;
    return (hintMpeg && typeMpeg) || (hintMp4 && typeMp4) || (hintAiff && typeAiff);
}

}  // namespace

void printReport(std::ostream& out, const ProbeResult& r) {
    const ParserDiagnostics& d = r.diagnostics;
    out << "hint:            '" << fourCC(static_cast<std::uint32_t>(r.hint)) << "'\n";
    if (r.ready) {
        out << "detected:        '" << fourCC(static_cast<std::uint32_t>(r.fileType)) << "' by "
            << methodText(d.method)
            << (hintAgrees(r.hint, r.fileType) ? ", as hinted" : ", overriding the hint") << "\n";
        const AudioFormat& f = r.format;
        out << "format:          '" << fourCC(f.formatId) << "' " << f.sampleRate << " Hz, "
            << f.channelsPerFrame << " ch\n";
        out << "  formatFlags      0x" << std::hex << f.formatFlags << std::dec << "\n"
            << "  bytesPerPacket   " << f.bytesPerPacket << "\n"
            << "  framesPerPacket  " << f.framesPerPacket << "\n"
            << "  bytesPerFrame    " << f.bytesPerFrame << "\n"
            << "  channelsPerFrame " << f.channelsPerFrame << "\n"
            << "  bitsPerChannel   " << f.bitsPerChannel << "\n";
        out << "cookie:          ";
        if (r.hasCookie) {
            for (std::uint8_t b : r.cookie) {
                out << std::hex << std::setw(2) << std::setfill('0') << static_cast<int>(b);
            }
            out << std::dec << std::setfill(' ') << " (" << r.cookie.size() << " bytes)\n";
        } else {
            out << "none\n";
        }
        bool pcm = f.formatId == kFormatLinearPcm;
        out << (pcm ? "frames:          " : "packets:         ") << r.packets << "\n";
        out << "audio bytes:     " << r.bytes << "\n";
        if (!pcm && r.packets > 0) {
            out << "smallest packet: " << r.smallest << "\n"
                << "largest packet:  " << r.largest << "\n";
        }
        out << "runs delivered:  " << r.runs << "\n";
        out << "audio starts at: " << d.dataOffset << "\n";
    } else {
        out << "detected:        nothing\n";
    }
    out << "bytes parsed:    " << d.bytesParsed << "\n"
        << "tags skipped:    " << d.skippedTagBytes << " bytes\n"
        << "junk skipped:    " << d.skippedJunkBytes << " bytes\n"
        << "sync lost:       " << d.resyncs << " times\n";
    if (!r.sourceError.empty()) {
        out << "source error:    " << r.sourceError << "\n";
    }
    out << "status:          "
        << (r.status == ParserError::None ? std::string("0 (ok)") : statusText(r.status)) << "\n";
}

}  // namespace orvento::probe
