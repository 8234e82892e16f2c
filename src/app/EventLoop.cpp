#include "app/EventLoop.h"

#include <QApplication>

namespace pelk::app {

int runEventLoop(LaunchMode mode, const ProcessValues &values, int &argc, char **argv)
{
    Q_UNUSED(mode);
    Q_UNUSED(values);
    QApplication application(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Pelk Agent"));
    QApplication::setQuitOnLastWindowClosed(false);
    return QApplication::exec();
}

} // namespace pelk::app
