#include "controller/StationNames.h"

#include <QRegularExpression>
#include <QUrl>
#include <algorithm>

namespace orvento {
namespace {

// Separates a key's folded text from its numbers; a query never holds it
// (folding turns control characters into spaces).
constexpr QChar kNumbersMark(0x1f);

// Letters that neither decompose nor fold to a plain letter but are read as one.
struct Letter {
    char16_t letter;
    const char* plain;
};
constexpr Letter kPlainLetters[] = {
    {u'\u0131', "i"},  {u'\u00f8', "o"},  {u'\u0142', "l"},  {u'\u0111', "d"},
    {u'\u00df', "ss"}, {u'\u00e6', "ae"}, {u'\u0153', "oe"},
};

bool isAscii(QStringView text) {
    return std::all_of(text.begin(), text.end(), [](QChar c) { return c.unicode() < 0x80; });
}

bool isControl(QChar c) {
    return c.unicode() < 0x20 || c.unicode() == 0x7f;
}

// The word's digits when it is a number ("118.1", "118,1"), else empty.
QString numberDigits(const QString& word) {
    QString digits;
    for (const QChar c : word) {
        if (c.isDigit()) {
            digits += c;
        } else if (c != QLatin1Char('.') && c != QLatin1Char(',')) {
            return {};
        }
    }
    return digits;
}

}  // namespace

QString shownName(const QString& name) {
    const QStringView used = QStringView(name).left(kNameCharactersUsed);
    QString line;
    line.reserve(used.size() + 1);
    bool blank = true;  // no space at the start, nor two in a row
    for (const QChar c : used) {
        if (c.category() == QChar::Other_Format) {
            continue;
        }
        if (c.isSpace() || c.category() == QChar::Other_Control) {
            if (!blank) {
                line += QLatin1Char(' ');
            }
            blank = true;
            continue;
        }
        line += c;
        blank = false;
    }
    if (line.endsWith(QLatin1Char(' '))) {
        line.chop(1);
    }
    if (name.size() > used.size()) {
        line += QChar(0x2026);
    }
    return line;
}

QString stationTitle(const QString& name, const QString& url) {
    const QString shown = shownName(name);
    return shown.isEmpty() ? shownName(addressName(url)) : shown;
}

QString addressName(const QString& url) {
    const QUrl parsed(url.trimmed(), QUrl::StrictMode);
    if (!parsed.isValid() || parsed.host().isEmpty() ||
        !url.trimmed().startsWith(parsed.scheme() + QStringLiteral("://"), Qt::CaseInsensitive)) {
        return url;
    }
    QString name = parsed.host(QUrl::FullyDecoded);
    const int port = parsed.port();
    const bool schemesOwn = (port == 80 && parsed.scheme() == QLatin1String("http")) ||
                            (port == 443 && parsed.scheme() == QLatin1String("https"));
    if (port >= 0 && !schemesOwn) {
        name += QLatin1Char(':') + QString::number(port);
    }
    QString path = parsed.path(QUrl::FullyDecoded);
    while (path.endsWith(QLatin1Char('/'))) {
        path.chop(1);
    }
    return name + path;
}

QString fileNamePart(const QString& nameOrUrl) {
    QString part = shownName(addressName(nameOrUrl));
    for (QChar& c : part) {
        if (QStringView(u"<>:\"/\\|?*").contains(c)) {
            c = QLatin1Char('_');
        }
    }
    while (part.endsWith(QLatin1Char('.')) || part.endsWith(QLatin1Char(' '))) {
        part.chop(1);
    }
    if (part.startsWith(QLatin1Char('.'))) {
        part[0] = QLatin1Char('_');
    }
    // Windows keeps these names for devices, with any extension.
    static const QRegularExpression reserved(
        QStringLiteral("^(con|prn|aux|nul|com[1-9]|lpt[1-9])(\\..*)?$"),
        QRegularExpression::CaseInsensitiveOption);
    if (reserved.match(part).hasMatch()) {
        const qsizetype dot = part.indexOf(QLatin1Char('.'));
        part.insert(dot < 0 ? part.size() : dot, QLatin1Char('_'));
    }
    return part;
}

QString foldedForSearch(QStringView text) {
    QString folded;
    folded.reserve(text.size());
    if (isAscii(text)) {
        for (const QChar c : text) {
            folded += isControl(c) ? QLatin1Char(' ') : c.toLower();
        }
        return folded;
    }
    const QString decomposed = text.toString().normalized(QString::NormalizationForm_KD);
    for (const QChar c : decomposed) {
        switch (c.category()) {
            case QChar::Mark_NonSpacing:
            case QChar::Mark_SpacingCombining:
            case QChar::Mark_Enclosing:
            case QChar::Other_Format:
                break;
            case QChar::Other_Control:
                folded += QLatin1Char(' ');
                break;
            default:
                folded += c;
        }
    }
    folded = std::move(folded).toCaseFolded();
    for (const Letter& letter : kPlainLetters) {
        folded.replace(QChar(letter.letter), QLatin1String(letter.plain));
    }
    return folded;
}

QString searchKey(const QString& name) {
    const QString text = foldedForSearch(QStringView(name).left(kNameCharactersUsed));
    QString numbers;
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text[i];
        const bool inNumber =
            i > 0 && text[i - 1].isDigit() && i + 1 < text.size() && text[i + 1].isDigit();
        if (c.isDigit()) {
            numbers += c;
        } else if (!(inNumber && (c == QLatin1Char('.') || c == QLatin1Char(','))) &&
                   !numbers.isEmpty() && !numbers.endsWith(QLatin1Char(' '))) {
            numbers += QLatin1Char(' ');
        }
    }
    return text + kNumbersMark + numbers;
}

StationQuery::StationQuery(const QString& typed) {
    const QString folded = foldedForSearch(typed).simplified();
    for (const QString& word : folded.split(QLatin1Char(' '), Qt::SkipEmptyParts)) {
        words_.append(Word{word, numberDigits(word)});
    }
}

bool StationQuery::matches(const QString& key) const {
    return std::all_of(words_.begin(), words_.end(), [&key](const Word& word) {
        return key.contains(word.text) || (!word.digits.isEmpty() && key.contains(word.digits));
    });
}

bool StationQuery::narrows(const StationQuery& wider) const {
    if (wider.words_.size() > words_.size()) {
        return false;
    }
    for (qsizetype i = 0; i < wider.words_.size(); ++i) {
        const Word& before = wider.words_[i];
        // Dots and commas alone match as text only, while the number typed
        // after them also matches by its digits ("." then ".1").
        const bool marksOnly = std::all_of(before.text.begin(), before.text.end(), [](QChar c) {
            return c == QLatin1Char('.') || c == QLatin1Char(',');
        });
        if (marksOnly || !words_[i].text.startsWith(before.text)) {
            return false;
        }
    }
    return true;
}

}  // namespace orvento
