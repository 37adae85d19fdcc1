#include "language.h"

#include <QCoreApplication>
#include <QLibraryInfo>
#include <QTranslator>
#include <memory>

namespace lumeno::app {

namespace {

// Where the build puts the compiled Japanese translation.
constexpr const char* kJapaneseTranslation = ":/i18n/lumeno_ja.qm";

struct InstalledLanguage {
    Language language = Language::English;
    std::unique_ptr<QTranslator> program;
    std::unique_ptr<QTranslator> toolkit;
};

InstalledLanguage& Installed() {
    static InstalledLanguage installed;
    return installed;
}

void Remove(std::unique_ptr<QTranslator>& translator) {
    if (translator != nullptr) {
        QCoreApplication::removeTranslator(translator.get());
        translator.reset();
    }
}

}  // namespace

std::optional<Language> LanguageFromCode(QStringView code) {
    if (code == u"en") {
        return Language::English;
    }
    if (code == u"ja") {
        return Language::Japanese;
    }
    return std::nullopt;
}

Language LanguageFromLocaleName(QStringView name) {
    // language[_territory][.codeset][@modifier]
    qsizetype end = 0;
    while (end < name.size() && name[end] != u'_' && name[end] != u'.' && name[end] != u'@') {
        ++end;
    }
    return name.first(end) == u"ja" ? Language::Japanese : Language::English;
}

Language LanguageFromEnvironment() {
    for (const char* variable : {"LC_ALL", "LC_MESSAGES", "LANG"}) {
        QString value = qEnvironmentVariable(variable);
        if (!value.isEmpty()) {
            return LanguageFromLocaleName(value);
        }
    }
    return Language::English;
}

bool ApplyLanguage(Language language) {
    InstalledLanguage& installed = Installed();
    Remove(installed.program);
    Remove(installed.toolkit);
    installed.language = Language::English;
    if (language == Language::English) {
        return true;  // the source texts are English
    }

    auto program = std::make_unique<QTranslator>();
    if (!program->load(QString::fromLatin1(kJapaneseTranslation))) {
        return false;
    }
    QCoreApplication::installTranslator(program.get());
    installed.program = std::move(program);
    installed.language = language;

    // Qt's own buttons and dialogs (OK, Cancel, the folder chooser), when
    // the system has Qt's translations; without them those stay English.
    auto toolkit = std::make_unique<QTranslator>();
    if (toolkit->load(QStringLiteral("qtbase_ja"),
                      QLibraryInfo::path(QLibraryInfo::TranslationsPath))) {
        QCoreApplication::installTranslator(toolkit.get());
        installed.toolkit = std::move(toolkit);
    }
    return true;
}

Language CurrentLanguage() {
    return Installed().language;
}

}  // namespace lumeno::app
