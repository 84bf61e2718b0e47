// Station names as a list shows them and as a search compares them.
//
// Names come from outside and may hold anything: line breaks, control,
// zero-width and bidirectional-override characters, a megabyte of text.
// shownName makes one short line of a name; searchKey folds a name once, so
// that each keystroke of a search compares plain strings; fileNamePart makes
// a name, or an address, fit to begin a file's name.
//
// Folding: compatibility decomposition with the combining marks dropped
// ("é" -> "e", "İ" -> "I", "ﬁ" -> "fi", full-width digits -> digits), then
// Unicode case folding, which knows no locale; the Turkish dotless "ı" folds
// to "i" as well. So "istanbul", "ISTANBUL", "İSTANBUL" and "Istanbul" all
// find "İstanbul Tower", in any locale.
//
// Pure functions: any thread.
#pragma once

#include <QList>
#include <QString>
#include <QStringView>

namespace orvento {

// The most characters of a name that are shown or searched: its beginning.
inline constexpr qsizetype kNameCharactersUsed = 256;

// One line: line breaks, tabs and other control characters become spaces,
// zero-width, bidirectional-control and other format characters are
// dropped, runs of spaces become one; cut after kNameCharactersUsed
// characters with an ellipsis.
QString shownName(const QString& name);

// A station's title where a list or a file names it: its shown name, or,
// without one, its address as the host and path (addressName).
QString stationTitle(const QString& name, const QString& url);

// An address as a reader names it: the host (with a port other than the
// scheme's own) and the path, without scheme, user, password, query or
// fragment ("http://u:p@127.0.0.1:18700/fmt?p=a1" -> "127.0.0.1:18700/fmt").
// Text that is no "scheme://" address comes back as it is.
QString addressName(const QString& url);

// A name (or address, named as addressName does) as part of a file's name,
// safe on the file systems a recording is carried to (FAT, exFAT, SMB):
// one line as shownName makes it, with no control or bidirectional
// characters; each of < > : " / \ | ? * becomes "_"; no leading dot, no
// trailing dots or spaces; a reserved DOS name ("CON", "com1.x") gets a "_".
// Empty when nothing is left.
QString fileNamePart(const QString& nameOrUrl);

// `text` folded for comparison (see above); blanks and punctuation stay.
QString foldedForSearch(QStringView text);

// What a search compares a name with: its folded text, then a separator that
// no query holds, then its numbers with the dots and commas inside them
// dropped ("118.1" -> "1181"), so that frequencies match with or without
// their dot.
QString searchKey(const QString& name);

// A query as typed: words separated by blanks, each of which must occur
// somewhere in a name (any position, any order) for the name to match. A word
// of digits alone also matches a number written with a dot ("1181" finds
// "118.1"). An empty query matches every name.
class StationQuery {
  public:
    StationQuery() = default;
    explicit StationQuery(const QString& typed);

    bool isEmpty() const { return words_.isEmpty(); }
    bool matches(const QString& key) const;
    // Every name this query matches, `wider` matches too: each of `wider`'s
    // words begins this one's word at the same place (a letter typed at the
    // end), so a search may look among the names `wider` found.
    bool narrows(const StationQuery& wider) const;

  private:
    struct Word {
        QString text;    // folded
        QString digits;  // a number's digits alone; empty for other words
    };
    QList<Word> words_;
};

}  // namespace orvento
