#include "app/BrandLook.h"

#include <QFontDatabase>
#include <QGuiApplication>
#include <QHash>

namespace pelk::app {

using namespace Qt::StringLiterals;

namespace {

struct Face {
    QLatin1StringView style;
    QFont::Weight weight;
};

constexpr Face kFaces[] = {
    { "Regular"_L1, QFont::Normal },
    { "Medium"_L1, QFont::Medium },
    { "SemiBold"_L1, QFont::DemiBold },
    { "Bold"_L1, QFont::Bold },
};

// Style word -> family name Qt reports for the registered file.
QHash<QString, QString> &registeredFamilies()
{
    static QHash<QString, QString> families;
    return families;
}

const Face &faceFor(QFont::Weight weight)
{
    for (const Face &face : kFaces) {
        if (face.weight == weight)
            return face;
    }
    return kFaces[0];
}

} // namespace

void registerBrandFonts(const QString &directory)
{
    for (const Face &face : kFaces) {
        const QString path = directory + u"/HankenGrotesk-"_s + face.style + u".ttf"_s;
        const int id = QFontDatabase::addApplicationFont(path);
        if (id < 0)
            continue;
        const QStringList families = QFontDatabase::applicationFontFamilies(id);
        if (!families.isEmpty())
            registeredFamilies().insert(QString(face.style), families.first());
    }
}

QFont pelkFont(qreal size, QFont::Weight weight)
{
    const Face &face = faceFor(weight);
    const QString family = registeredFamilies().value(QString(face.style));
    QFont font = QGuiApplication::font();
    if (!family.isEmpty()) {
        font = QFont(family);
        font.setStyleName(QString(face.style));
        font.setWeight(face.weight);
    }
    font.setPixelSize(qMax(1, qRound(size)));
    return font;
}

QColor brandColor(const SrgbColor &color)
{
    return QColor::fromRgbF(static_cast<float>(color.red), static_cast<float>(color.green),
        static_cast<float>(color.blue), static_cast<float>(color.opacity));
}

} // namespace pelk::app
