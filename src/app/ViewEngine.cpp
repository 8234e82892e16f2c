#include "app/ViewEngine.h"

#include <QQmlEngine>
#include <QtQml/qqmlextensionplugin.h>

// Static view modules: their plugins are linked into pelk-ui and must be imported by name.
Q_IMPORT_QML_PLUGIN(Pelk_BrandPlugin)
Q_IMPORT_QML_PLUGIN(Pelk_LockPlugin)
Q_IMPORT_QML_PLUGIN(Pelk_SupportPlugin)
Q_IMPORT_QML_PLUGIN(Pelk_AgentPlugin)

namespace pelk::app {

using namespace Qt::StringLiterals;

std::unique_ptr<QQmlEngine> makeViewEngine()
{
    auto engine = std::make_unique<QQmlEngine>();
    engine->addImportPath(u"qrc:/qt/qml"_s);
    return engine;
}

} // namespace pelk::app
