#include "engine/player/LocalizedStrings.h"

#include <fstream>
#include <optional>
#include <sstream>

namespace orvento {
namespace {

// Reads one quoted string starting at `pos` (which must be a '"'); advances
// `pos` past the closing quote.
std::optional<std::string> readQuoted(std::string_view line, std::size_t& pos) {
    if (pos >= line.size() || line[pos] != '"') {
        return std::nullopt;
    }
    std::string out;
    for (++pos; pos < line.size(); ++pos) {
        const char c = line[pos];
        if (c == '"') {
            ++pos;
            return out;
        }
        if (c == '\\') {
            if (++pos == line.size()) {
                return std::nullopt;
            }
            const char e = line[pos];
            out.push_back(e == 'n' ? '\n' : e);
        } else {
            out.push_back(c);
        }
    }
    return std::nullopt;
}

void skipBlanks(std::string_view line, std::size_t& pos) {
    while (pos < line.size() && (line[pos] == ' ' || line[pos] == '\t' || line[pos] == '\r')) {
        ++pos;
    }
}

}  // namespace

std::string LocalizedStrings::localizedStringForKey(std::string_view key, std::string_view value,
                                                    std::string_view table) const {
    {
        std::lock_guard lock(mutex_);
        if (auto t = tables_.find(table); t != tables_.end()) {
            if (auto e = t->second.find(key); e != t->second.end()) {
                return e->second;
            }
        }
    }
    return std::string(value.empty() ? key : value);
}

void LocalizedStrings::setString(std::string_view table, std::string_view key,
                                 std::string_view text) {
    std::lock_guard lock(mutex_);
    tables_[std::string(table)][std::string(key)] = std::string(text);
}

bool LocalizedStrings::loadTable(std::string_view table, const std::filesystem::path& file) {
    std::ifstream in(file, std::ios::binary);
    if (!in) {
        return false;
    }
    std::ostringstream text;
    text << in.rdbuf();
    return loadTableFromText(table, text.str());
}

bool LocalizedStrings::loadTableFromText(std::string_view table, std::string_view text) {
    std::map<std::string, std::string, std::less<>> entries;
    std::size_t start = 0;
    while (start <= text.size()) {
        std::size_t end = text.find('\n', start);
        if (end == std::string_view::npos) {
            end = text.size();
        }
        const std::string_view line = text.substr(start, end - start);
        start = end + 1;
        std::size_t pos = 0;
        skipBlanks(line, pos);
        if (pos == line.size() || line.substr(pos, 2) == "//") {
            continue;
        }
        auto key = readQuoted(line, pos);
        skipBlanks(line, pos);
        if (!key || pos == line.size() || line[pos] != '=') {
            return false;
        }
        ++pos;
        skipBlanks(line, pos);
        auto value = readQuoted(line, pos);
        skipBlanks(line, pos);
        if (!value || pos == line.size() || line[pos] != ';') {
            return false;
        }
        entries[*key] = *value;
    }
    std::lock_guard lock(mutex_);
    auto& target = tables_[std::string(table)];
    for (auto& [k, v] : entries) {
        target[k] = std::move(v);
    }
    return true;
}

}  // namespace orvento
