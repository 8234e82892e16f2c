#pragma once

#include <QLocale>
#include <QTranslator>

namespace pelk::app {

// The application's catalog and Qt's own for the first of a locale's languages that has a
// catalog, installed in the running application for as long as this object lives. English,
// the language of the sources, needs none: a language list that reaches it first stops there.
class Translations {
public:
    // Where the catalogs are embedded, named "pelk-agent_<language>.qm".
    static constexpr QLatin1StringView kCatalogDirectory { ":/i18n" };

    explicit Translations(const QLocale &locale);
    ~Translations();
    Translations(const Translations &) = delete;
    Translations &operator=(const Translations &) = delete;

private:
    QTranslator m_own;
    QTranslator m_qt;
};

} // namespace pelk::app
