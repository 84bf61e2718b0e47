#include "engine/StatusErrorLog.h"

#include <cstdio>
#include <cstring>

namespace orvento {

std::string formatStatusError(const char* operation, OSStatus status) {
    unsigned char bytes[sizeof status];
    std::memcpy(bytes, &status, sizeof status);
    std::string code;
    for (unsigned char b : bytes) {
        if (b == 0) {
            break;
        }
        code.push_back(b >= 0x20 && b < 0x7f ? static_cast<char>(b) : '.');
    }
    std::string line = operation != nullptr ? operation : "";
    line += " err ";
    line.append(4 - code.size(), ' ');
    line += code;
    line += ' ';
    line += std::to_string(status);
    line += '\n';
    return line;
}

void logStatusError(const char* operation, OSStatus status) {
    const std::string line = formatStatusError(operation, status);
    // One stdio call holds the stream's lock for the whole line.
    std::fwrite(line.data(), 1, line.size(), stdout);
    std::fflush(stdout);
}

}  // namespace orvento
