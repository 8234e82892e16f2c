// The yardstick of the cost-at-rest benchmark: a bare Qt Quick application (a QML engine with
// one QtQuick item, no window) with the same three repeating timers as Pelk Agent (3 s, 1 s,
// 0.5 s), each reading one small file. Usage: bench-bare-quick-app FILE
#include <QFile>
#include <QGuiApplication>
#include <QQmlComponent>
#include <QQmlEngine>
#include <QTimer>

#include <memory>

using namespace Qt::StringLiterals;

int main(int argc, char **argv)
{
    QGuiApplication application(argc, argv);
    const QString path = QCoreApplication::arguments().value(1);
    QQmlEngine engine;
    QQmlComponent component(&engine);
    component.setData("import QtQuick\nItem {}\n", QUrl(u"qrc:/bench/Bare.qml"_s));
    const std::unique_ptr<QObject> root(component.create());
    if (!root) {
        qWarning("%s", qPrintable(component.errorString()));
        return 1;
    }
    qint64 bytes = 0;
    const auto readFile = [&path, &bytes] {
        QFile file(path);
        if (file.open(QIODevice::ReadOnly))
            bytes += file.readAll().size();
    };
    for (const int interval : { 3000, 1000, 500 }) {
        auto *timer = new QTimer(&application);
        QObject::connect(timer, &QTimer::timeout, &application, readFile);
        timer->start(interval);
    }
    return QGuiApplication::exec();
}
