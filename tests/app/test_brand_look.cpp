#include "app/BrandLook.h"

#include <QFile>
#include <QFontInfo>
#include <QGuiApplication>
#include <QTemporaryDir>
#include <QTest>

using namespace pelk::app;
using namespace Qt::StringLiterals;

class TestBrandLook : public QObject {
    Q_OBJECT

    static QString styleOf(const QFont &font) { return QFontInfo(font).styleName(); }
    static QString familyOf(const QFont &font) { return QFontInfo(font).family(); }

private Q_SLOTS:
    // Runs first, while nothing is registered yet: the process registry is global.
    void missingFileFallsBackToTheDefaultFace()
    {
        QTemporaryDir dir;
        for (const QString &style : { u"Regular"_s, u"SemiBold"_s, u"Bold"_s }) {
            const QString name = u"/HankenGrotesk-"_s + style + u".ttf"_s;
            QVERIFY(QFile::copy(QString(kBrandFontDirectory) + name, dir.path() + name));
        }
        registerBrandFonts(dir.path());
        registerBrandFonts(dir.path() + u"/nowhere"_s);

        QCOMPARE(familyOf(pelkFont(13, QFont::Bold)), u"Hanken Grotesk"_s);
        const QFont medium = pelkFont(13, QFont::Medium);
        QVERIFY(familyOf(medium) != u"Hanken Grotesk"_s);
        QCOMPARE(QFontInfo(medium).pixelSize(), 13);
    }

    void faceByWeight_data()
    {
        QTest::addColumn<int>("weight");
        QTest::addColumn<QString>("style");
        QTest::newRow("regular") << int(QFont::Normal) << u"Regular"_s;
        QTest::newRow("medium") << int(QFont::Medium) << u"Medium"_s;
        QTest::newRow("semibold") << int(QFont::DemiBold) << u"SemiBold"_s;
        QTest::newRow("bold") << int(QFont::Bold) << u"Bold"_s;
        QTest::newRow("light") << int(QFont::Light) << u"Regular"_s;
    }
    void faceByWeight()
    {
        QFETCH(int, weight);
        QFETCH(QString, style);
        registerBrandFonts(); // again: harmless
        const QFont font = pelkFont(14, static_cast<QFont::Weight>(weight));
        QCOMPARE(familyOf(font), u"Hanken Grotesk"_s);
        QCOMPARE(styleOf(font), style);
        QCOMPARE(QFontInfo(font).pixelSize(), 14);
    }
};

QTEST_MAIN(TestBrandLook)
#include "test_brand_look.moc"
