// The application's translations: Qt translation files built into the
// program (":/i18n/orvento_<language>.qm"), one per language shipped. Turkish
// ships; every other language keeps the English texts the code is written in.
//
// Contexts: "Errors" holds the stream player's alert texts (the engine looks
// them up in its own "Errors" table, which errorsTable fills from here);
// "OrventoViewController" holds the screen's own texts.
#pragma once

#include <QLocale>
#include <QTranslator>
#include <memory>

#include "engine/player/LocalizedStrings.h"

namespace orvento {

// Loads and installs the translation for `locale`'s languages. Null when none
// is shipped for them; otherwise the caller keeps the translator for as long
// as it should stay installed (the application's lifetime). Main thread.
std::unique_ptr<QTranslator> installTranslation(const QLocale& locale);

// The player's alert texts as the translations installed now give them, in an
// "Errors" table for the engine: each key maps to its translation, or to
// itself where there is none.
std::shared_ptr<LocalizedStrings> errorsTable();

}  // namespace orvento
