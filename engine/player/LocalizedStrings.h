// Localised texts: named tables of key -> text, looked up the way the
// application's user-visible strings are ("Errors" holds the engine's alert
// texts). A key the table lacks, or a table that was never loaded, yields the
// default value given, or the key itself when that default is empty, so an
// application without translations still shows readable English.
//
// Tables are loaded once, before players start; lookups may then come from any
// thread at the same time (a player looks its alert texts up on its worker).
#pragma once

#include <filesystem>
#include <map>
#include <mutex>
#include <string>
#include <string_view>

namespace orvento {

class LocalizedStrings {
  public:
    // The text for `key` in `table`; `value` when the table lacks the key and
    // `value` is not empty; otherwise the key.
    std::string localizedStringForKey(std::string_view key, std::string_view value,
                                      std::string_view table) const;

    // Adds or replaces one entry.
    void setString(std::string_view table, std::string_view key, std::string_view text);

    // Loads a table from a strings file: one `"key" = "text";` entry per line,
    // with \" \\ and \n escapes; blank lines and lines starting with // are
    // skipped. Returns false (and changes nothing) when the file cannot be
    // read or a line is malformed.
    bool loadTable(std::string_view table, const std::filesystem::path& file);

    // The same from text already in memory.
    bool loadTableFromText(std::string_view table, std::string_view text);

  private:
    mutable std::mutex mutex_;
    std::map<std::string, std::map<std::string, std::string, std::less<>>, std::less<>>
        tables_;  // guarded by mutex_
};

}  // namespace orvento
