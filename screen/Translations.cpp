#include "screen/Translations.h"

#include <QCoreApplication>
#include <string_view>

#include "engine/player/Pelorin.h"

namespace orvento {
namespace {

constexpr const char* kErrorsContext = "Errors";
static_assert(kErrorsTable == kErrorsContext);

// The alert's keys, spelled out where the translation tools find them.
struct ErrorsEntry {
    const char* key;
    std::string_view engineKey;
};
constexpr ErrorsEntry kErrorsEntries[] = {
    {QT_TRANSLATE_NOOP("Errors", "Audio Error"), kAlertTitleKey},
    {QT_TRANSLATE_NOOP("Errors", "Attempt to play streaming audio failed."), kAlertMessageKey},
    {QT_TRANSLATE_NOOP("Errors", "OK"), kAlertButtonKey},
};
static_assert(std::string_view(kErrorsEntries[0].key) == kAlertTitleKey);
static_assert(std::string_view(kErrorsEntries[1].key) == kAlertMessageKey);
static_assert(std::string_view(kErrorsEntries[2].key) == kAlertButtonKey);

}  // namespace

std::unique_ptr<QTranslator> installTranslation(const QLocale& locale) {
    auto translator = std::make_unique<QTranslator>();
    if (!translator->load(locale, QStringLiteral("orvento"), QStringLiteral("_"),
                          QStringLiteral(":/i18n"))) {
        return nullptr;
    }
    QCoreApplication::installTranslator(translator.get());
    return translator;
}

std::shared_ptr<LocalizedStrings> errorsTable() {
    auto strings = std::make_shared<LocalizedStrings>();
    for (const ErrorsEntry& entry : kErrorsEntries) {
        const QString text = QCoreApplication::translate(kErrorsContext, entry.key);
        strings->setString(kErrorsTable, entry.engineKey, text.toStdString());
    }
    return strings;
}

}  // namespace orvento
