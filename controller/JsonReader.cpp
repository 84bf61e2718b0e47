#include "controller/JsonReader.h"

#include <cassert>
#include <charconv>
#include <cstring>

#include "engine/HexDigit.h"

namespace orvento {
namespace {

bool isDigit(char c) {
    return c >= '0' && c <= '9';
}

void appendUtf8(std::string& out, char32_t point) {
    if (point < 0x80) {
        out += static_cast<char>(point);
    } else if (point < 0x800) {
        out += static_cast<char>(0xc0 | (point >> 6));
        out += static_cast<char>(0x80 | (point & 0x3f));
    } else if (point < 0x10000) {
        out += static_cast<char>(0xe0 | (point >> 12));
        out += static_cast<char>(0x80 | ((point >> 6) & 0x3f));
        out += static_cast<char>(0x80 | (point & 0x3f));
    } else {
        out += static_cast<char>(0xf0 | (point >> 18));
        out += static_cast<char>(0x80 | ((point >> 12) & 0x3f));
        out += static_cast<char>(0x80 | ((point >> 6) & 0x3f));
        out += static_cast<char>(0x80 | (point & 0x3f));
    }
}

constexpr char32_t kReplacement = 0xfffd;

}  // namespace

JsonReader::JsonReader(QByteArrayView text) : pos_(text.data()), end_(text.data() + text.size()) {}

bool JsonReader::fail() {
    failed_ = true;
    return false;
}

void JsonReader::blanks() {
    while (pos_ < end_ && (*pos_ == ' ' || *pos_ == '\n' || *pos_ == '\r' || *pos_ == '\t')) {
        ++pos_;
    }
}

bool JsonReader::at(char c) {
    blanks();
    return pos_ < end_ && *pos_ == c;
}

JsonReader::Type JsonReader::peek() {
    blanks();
    if (failed_ || pos_ >= end_) {
        return Type::error;
    }
    switch (*pos_) {
        case '{':
            return Type::object;
        case '[':
            return Type::array;
        case '"':
            return Type::string;
        case 't':
        case 'f':
        case 'n':
            return Type::literal;
        default:
            return *pos_ == '-' || isDigit(*pos_) ? Type::number : Type::error;
    }
}

bool JsonReader::enterArray() {
    if (failed_ || !at('[')) {
        return false;
    }
    ++pos_;
    levels_.push_back(Level::arrayFirst);
    return true;
}

bool JsonReader::enterObject() {
    if (failed_ || !at('{')) {
        return false;
    }
    ++pos_;
    levels_.push_back(Level::objectFirst);
    return true;
}

bool JsonReader::next(Level first, Level further, char close) {
    if (failed_ || levels_.empty() || (levels_.back() != first && levels_.back() != further)) {
        return fail();
    }
    blanks();
    if (pos_ >= end_) {
        return fail();
    }
    if (*pos_ == close) {
        ++pos_;
        levels_.pop_back();
        return false;
    }
    if (levels_.back() == further) {
        if (*pos_ != ',') {
            return fail();
        }
        ++pos_;
    }
    levels_.back() = further;
    return true;
}

bool JsonReader::nextElement() {
    return next(Level::arrayFirst, Level::arrayNext, ']');
}

bool JsonReader::nextMember() {
    if (!next(Level::objectFirst, Level::objectNext, '}')) {
        return false;
    }
    if (!at('"') || !string(&keyBuffer_, &key_) || !at(':')) {
        return fail();
    }
    ++pos_;
    return true;
}

bool JsonReader::readString(QString& out) {
    if (peek() != Type::string) {
        return false;
    }
    QByteArrayView text;
    if (!string(&textBuffer_, &text)) {
        return false;
    }
    out = QString::fromUtf8(text);
    return true;
}

bool JsonReader::readNumber(double& out) {
    return peek() == Type::number && number(&out);
}

bool JsonReader::skip() {
    return !failed_ && skipValue(0);
}

bool JsonReader::finish() {
    blanks();
    return !failed_ && levels_.empty() && pos_ == end_;
}

bool JsonReader::string(std::string* buffer, QByteArrayView* text) {
    assert(pos_ < end_ && *pos_ == '"');
    const char* const start = ++pos_;
    // Most strings hold no escape: they are taken as they stand.
    while (pos_ < end_ && *pos_ != '"' && *pos_ != '\\') {
        if (static_cast<unsigned char>(*pos_) < 0x20) {
            return fail();
        }
        ++pos_;
    }
    if (pos_ >= end_) {
        return fail();
    }
    if (*pos_ == '"') {
        if (text != nullptr) {
            *text = QByteArrayView(start, pos_ - start);
        }
        ++pos_;
        return true;
    }
    const bool decode = text != nullptr;
    if (decode) {
        buffer->assign(start, pos_);
    }
    char32_t high = 0;  // a high surrogate waiting for its low half
    const auto point = [&](char32_t p) {
        if (high != 0 && p >= 0xdc00 && p <= 0xdfff) {
            p = 0x10000 + ((high - 0xd800) << 10) + (p - 0xdc00);
            high = 0;
        } else if (high != 0) {
            appendUtf8(*buffer, kReplacement);
            high = 0;
        }
        if (p >= 0xd800 && p <= 0xdbff) {
            high = p;
        } else if (p >= 0xdc00 && p <= 0xdfff) {
            appendUtf8(*buffer, kReplacement);
        } else {
            appendUtf8(*buffer, p);
        }
    };
    while (pos_ < end_) {
        const char c = *pos_++;
        if (c != '\\' && high != 0 && decode) {
            appendUtf8(*buffer, kReplacement);
            high = 0;
        }
        if (c == '"') {
            if (decode) {
                *text = QByteArrayView(*buffer);
            }
            return true;
        }
        if (static_cast<unsigned char>(c) < 0x20) {
            return fail();
        }
        if (c != '\\') {
            if (decode) {
                *buffer += c;
            }
            continue;
        }
        if (pos_ >= end_) {
            return fail();
        }
        const char escape = *pos_++;
        char32_t p = 0;
        switch (escape) {
            case '"':
            case '\\':
            case '/':
                p = static_cast<char32_t>(escape);
                break;
            case 'b':
                p = '\b';
                break;
            case 'f':
                p = '\f';
                break;
            case 'n':
                p = '\n';
                break;
            case 'r':
                p = '\r';
                break;
            case 't':
                p = '\t';
                break;
            case 'u':
                if (end_ - pos_ < 4) {
                    return fail();
                }
                for (int i = 0; i < 4; ++i) {
                    const int digit = hexDigitValue(*pos_++);
                    if (digit < 0) {
                        return fail();
                    }
                    p = (p << 4) | static_cast<char32_t>(digit);
                }
                break;
            default:
                return fail();
        }
        if (decode) {
            point(p);
        }
    }
    return fail();
}

bool JsonReader::number(double* out) {
    const char* const start = pos_;
    if (pos_ < end_ && *pos_ == '-') {
        ++pos_;
    }
    if (pos_ >= end_ || !isDigit(*pos_)) {
        return fail();
    }
    if (*pos_ == '0') {
        ++pos_;
    } else {
        while (pos_ < end_ && isDigit(*pos_)) {
            ++pos_;
        }
    }
    if (pos_ < end_ && *pos_ == '.') {
        ++pos_;
        if (pos_ >= end_ || !isDigit(*pos_)) {
            return fail();
        }
        while (pos_ < end_ && isDigit(*pos_)) {
            ++pos_;
        }
    }
    if (pos_ < end_ && (*pos_ == 'e' || *pos_ == 'E')) {
        ++pos_;
        if (pos_ < end_ && (*pos_ == '+' || *pos_ == '-')) {
            ++pos_;
        }
        if (pos_ >= end_ || !isDigit(*pos_)) {
            return fail();
        }
        while (pos_ < end_ && isDigit(*pos_)) {
            ++pos_;
        }
    }
    if (out != nullptr && std::from_chars(start, pos_, *out).ec != std::errc()) {
        *out = 0;  // out of range: no number a reader of ours takes
    }
    return true;
}

bool JsonReader::literal() {
    for (const char* word : {"true", "false", "null"}) {
        const auto length = static_cast<std::ptrdiff_t>(std::strlen(word));
        if (end_ - pos_ >= length &&
            std::memcmp(pos_, word, static_cast<std::size_t>(length)) == 0) {
            pos_ += length;
            return true;
        }
    }
    return fail();
}

bool JsonReader::skipValue(int depth) {
    if (depth > kMaxDepth) {
        return fail();
    }
    switch (peek()) {
        case Type::string:
            return string(nullptr, nullptr);
        case Type::number:
            return number(nullptr);
        case Type::literal:
            return literal();
        case Type::error:
            return fail();
        case Type::array:
            ++pos_;
            if (at(']')) {
                ++pos_;
                return true;
            }
            while (true) {
                if (!skipValue(depth + 1)) {
                    return false;
                }
                if (at(']')) {
                    ++pos_;
                    return true;
                }
                if (!at(',')) {
                    return fail();
                }
                ++pos_;
            }
        case Type::object:
            ++pos_;
            if (at('}')) {
                ++pos_;
                return true;
            }
            while (true) {
                if (!at('"') || !string(nullptr, nullptr) || !at(':')) {
                    return fail();
                }
                ++pos_;
                if (!skipValue(depth + 1)) {
                    return false;
                }
                if (at('}')) {
                    ++pos_;
                    return true;
                }
                if (!at(',')) {
                    return fail();
                }
                ++pos_;
            }
    }
    return fail();
}

}  // namespace orvento
