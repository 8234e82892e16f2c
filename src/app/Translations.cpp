#include "app/Translations.h"

#include <QCoreApplication>
#include <QLibraryInfo>

namespace pelk::app {

using namespace Qt::StringLiterals;

Translations::Translations(const QLocale &locale)
{
    // uiLanguages lists the session's preferences in order (LANGUAGE, then LC_ALL, LC_MESSAGES, LANG).
    for (const QString &tag : locale.uiLanguages()) {
        const QLocale language(tag);
        if (language.language() == QLocale::English || language.language() == QLocale::C)
            return;
        if (!m_own.load(language, u"pelk-agent"_s, u"_"_s, QString(kCatalogDirectory)))
            continue;
        QCoreApplication::installTranslator(&m_own);
        // Qt's own texts (file dialogs, text context menus), where the system ships them.
        if (m_qt.load(language, u"qtbase"_s, u"_"_s, QLibraryInfo::path(QLibraryInfo::TranslationsPath)))
            QCoreApplication::installTranslator(&m_qt);
        return;
    }
}

Translations::~Translations()
{
    QCoreApplication::removeTranslator(&m_qt);
    QCoreApplication::removeTranslator(&m_own);
}

} // namespace pelk::app
