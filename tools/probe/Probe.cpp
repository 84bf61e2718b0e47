#include "tools/probe/Probe.h"

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <iomanip>
#include <memory>
#include <ostream>
#include <sstream>

#include "engine/net/Url.h"
#include "engine/platform/parser/FileTypeHint.h"

namespace orvento::probe {

Probe::Probe(AudioFileTypeID hint, PacketObserver* observer, bool keepPacketSizes)
    : observer_(observer), keepPacketSizes_(keepPacketSizes) {
    result_.hint = hint;
    result_.status =
        AudioFileStreamOpen(this, &Probe::onProperty, &Probe::onPackets, hint, &stream_);
}

Probe::~Probe() {
    if (stream_ != nullptr) {
        AudioFileStreamClose(stream_);
    }
}

OSStatus Probe::feed(const void* data, size_t size, AudioFileStreamParseFlags flags) {
    if (stream_ == nullptr || result_.status != noErr) {
        return result_.status;
    }
    while (size > 0 && result_.status == noErr) {
        auto piece = static_cast<std::uint32_t>(std::min<size_t>(size, 1u << 30));
        result_.status = AudioFileStreamParseBytes(stream_, piece, data, flags);
        data = static_cast<const std::uint8_t*>(data) + piece;
        size -= piece;
    }
    return result_.status;
}

const ProbeResult& Probe::result() {
    if (stream_ != nullptr) {
        AudioFileStreamGetDiagnostics(stream_, &result_.diagnostics);
    }
    return result_;
}

void Probe::onProperty(void* self, AudioFileStreamID stream, AudioFileStreamPropertyID id,
                       AudioFileStreamPropertyFlags*) {
    auto& probe = *static_cast<Probe*>(self);
    if (id != kAudioFileStreamProperty_ReadyToProducePackets) {
        return;
    }
    ProbeResult& r = probe.result_;
    r.ready = true;
    std::uint32_t size = sizeof r.format;
    AudioFileStreamGetProperty(stream, kAudioFileStreamProperty_DataFormat, &size, &r.format);
    size = sizeof r.fileType;
    AudioFileStreamGetProperty(stream, kAudioFileStreamProperty_FileFormat, &size, &r.fileType);
    std::uint32_t cookieSize = 0;
    if (AudioFileStreamGetPropertyInfo(stream, kAudioFileStreamProperty_MagicCookieData,
                                       &cookieSize, nullptr) == noErr) {
        r.cookie.resize(cookieSize);
        r.hasCookie = AudioFileStreamGetProperty(stream, kAudioFileStreamProperty_MagicCookieData,
                                                 &cookieSize, r.cookie.data()) == noErr;
    }
    if (probe.observer_ != nullptr) {
        probe.observer_->onReady(r);
    }
}

void Probe::onPackets(void* self, std::uint32_t numberBytes, std::uint32_t numberPackets,
                      const void* data, AudioStreamPacketDescription* descriptions) {
    auto& probe = *static_cast<Probe*>(self);
    ProbeResult& r = probe.result_;
    ++r.runs;
    r.bytes += descriptions == nullptr ? numberBytes : 0;
    r.packets += numberPackets;
    if (descriptions != nullptr) {
        for (std::uint32_t i = 0; i < numberPackets; ++i) {
            std::uint32_t size = descriptions[i].mDataByteSize;
            r.bytes += size;
            r.smallest = r.packets == numberPackets && i == 0 ? size : std::min(r.smallest, size);
            r.largest = std::max(r.largest, size);
            if (probe.keepPacketSizes_) {
                r.packetSizes.push_back(size);
            }
        }
    }
    if (probe.observer_ != nullptr) {
        probe.observer_->onPackets(numberBytes, numberPackets, data, descriptions);
    }
}

bool isUrl(std::string_view source) {
    return source.rfind("http://", 0) == 0 || source.rfind("https://", 0) == 0;
}

AudioFileTypeID hintFor(std::string_view source) {
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
        if (got > 0 && probe.feed(chunk.data(), got) != noErr) {
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

std::string statusText(OSStatus status) {
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
    struct Meaning {
        OSStatus status;
        const char* text;
    };
    static constexpr Meaning kMeanings[] = {
        {kAudioFileStreamError_UnsupportedFileType, "no supported audio format found"},
        {kAudioFileStreamError_UnsupportedDataFormat, "audio encoding not supported"},
        {kAudioFileStreamError_NotOptimized,
         "file keeps its index after the audio: cannot be streamed"},
        {kAudioFileStreamError_InvalidFile, "malformed data, or frame sync lost for good"},
        {kAudioFileStreamError_UnspecifiedError, "internal parser error"},
        {kAudio_ParamError, "bad parameter"},
    };
    for (const auto& m : kMeanings) {
        if (m.status == status) {
            out << " (" << m.text << ")";
        }
    }
    return out.str();
}

namespace {

const char* methodText(AudioFileStreamDetection method) {
    switch (method) {
        case AudioFileStreamDetection::ContainerSignature:
            return "container signature";
        case AudioFileStreamDetection::ContainerByHint:
            return "box layout, trusting the hint";
        case AudioFileStreamDetection::FrameSync:
            return "frame sync";
        case AudioFileStreamDetection::None:
            break;
    }
    return "not detected";
}

// Whether a detected file type is what the hint announced.
bool hintAgrees(AudioFileTypeID hint, AudioFileTypeID type) {
    if (hint == type) {
        return true;
    }
    bool hintMpeg =
        hint == kAudioFileMP3Type || hint == kAudioFileMP2Type || hint == kAudioFileMP1Type;
    bool typeMpeg =
        type == kAudioFileMP3Type || type == kAudioFileMP2Type || type == kAudioFileMP1Type;
    bool hintMp4 = hint == kAudioFileM4AType || hint == kAudioFileMPEG4Type;
    bool typeMp4 = type == kAudioFileM4AType || type == kAudioFileMPEG4Type;
    bool hintAiff = hint == kAudioFileAIFFType || hint == kAudioFileAIFCType;
    bool typeAiff = type == kAudioFileAIFFType || type == kAudioFileAIFCType;
    return (hintMpeg && typeMpeg) || (hintMp4 && typeMp4) || (hintAiff && typeAiff);
}

}  // namespace

void printReport(std::ostream& out, const ProbeResult& r) {
    const AudioFileStreamDiagnostics& d = r.diagnostics;
    out << "hint:            '" << fourCC(r.hint) << "'\n";
    if (r.ready) {
        out << "detected:        '" << fourCC(r.fileType) << "' by " << methodText(d.method)
            << (hintAgrees(r.hint, r.fileType) ? ", as hinted" : ", overriding the hint") << "\n";
        const AudioStreamBasicDescription& f = r.format;
        out << "format:          '" << fourCC(f.mFormatID) << "' " << f.mSampleRate << " Hz, "
            << f.mChannelsPerFrame << " ch\n";
        out << "  mFormatFlags      0x" << std::hex << f.mFormatFlags << std::dec << "\n"
            << "  mBytesPerPacket   " << f.mBytesPerPacket << "\n"
            << "  mFramesPerPacket  " << f.mFramesPerPacket << "\n"
            << "  mBytesPerFrame    " << f.mBytesPerFrame << "\n"
            << "  mChannelsPerFrame " << f.mChannelsPerFrame << "\n"
            << "  mBitsPerChannel   " << f.mBitsPerChannel << "\n";
        out << "cookie:          ";
        if (r.hasCookie) {
            for (std::uint8_t b : r.cookie) {
                out << std::hex << std::setw(2) << std::setfill('0') << static_cast<int>(b);
            }
            out << std::dec << std::setfill(' ') << " (" << r.cookie.size() << " bytes)\n";
        } else {
            out << "none\n";
        }
        bool pcm = f.mFormatID == kAudioFormatLinearPCM;
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
    out << "status:          " << (r.status == noErr ? std::string("0 (ok)") : statusText(r.status))
        << "\n";
}

}  // namespace orvento::probe
