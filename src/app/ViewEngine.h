#pragma once

#include <memory>

class QQmlEngine;

namespace pelk::app {

// A QML engine that finds this application's view modules (compiled in, never on disk).
std::unique_ptr<QQmlEngine> makeViewEngine();

} // namespace pelk::app
