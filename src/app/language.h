// The language of the user interface. The shell's texts are written in
// English; the Japanese texts come from a translation compiled into the
// program. A Japanese messages locale gets Japanese, every other locale
// English, and the command line's --lang overrides the locale. Window titles
// that are program output (the preview's size title, the pass counter) are
// the same in both.
#pragma once

#include <QString>
#include <QStringView>
#include <optional>

namespace lumeno::app {

enum class Language { English, Japanese };

// "en" or "ja", as --lang takes them; nothing for any other code.
std::optional<Language> LanguageFromCode(QStringView code);

// The language for a locale name such as "ja_JP.UTF-8", "de_DE@euro" or "C".
Language LanguageFromLocaleName(QStringView name);

// The language of the messages locale the environment names: LC_ALL, else
// LC_MESSAGES, else LANG (empty values count as unset), as the C library
// chooses the locale of messages.
Language LanguageFromEnvironment();

// Installs the translation of language into the application, replacing the
// one installed before: widgets made afterwards speak it. Qt's own dialog
// texts follow where the system has Qt's translations. Returns false when
// the program's translation could not be loaded (English stays then).
bool ApplyLanguage(Language language);

// The language last applied (English before any).
Language CurrentLanguage();

}  // namespace lumeno::app
