#include "engine/player/StatusErrorLog.h"

namespace orvento {

std::string formatStatusError(const char* operation, StatusCode status) {
    const auto value = static_cast<std::uint32_t>(status);
    std::string code;
    for (int shift = 24; shift >= 0; shift -= 8) {
        const auto b = static_cast<unsigned char>((value >> shift) & 0xFF);
        if (b == 0 && !code.empty()) {
            break;
        }
        if (b != 0) {
            code.push_back(b >= 0x20 && b < 0x7f ? static_cast<char>(b) : '.');
        }
    }
    std::string line = operation != nullptr ? operation : "";
    line += " err ";
    line.append(4 - code.size(), ' ');
    line += code;
    line += ' ';
    line += std::to_string(status);
    return line;
}

}  // namespace orvento
