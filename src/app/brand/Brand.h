#pragma once

#include "app/ProcessValues.h"

#include <QColor>
#include <QFont>
#include <QObject>
#include <QtQml/qqmlregistration.h>

namespace pelk::app {

// The brand look as QML sees it: the one brand colour and the brand font helper.
class Brand : public QObject {
    Q_OBJECT
    QML_ELEMENT
    QML_SINGLETON
    Q_PROPERTY(QColor terracotta READ terracotta CONSTANT)

public:
    explicit Brand(QObject *parent = nullptr);

    // Set once at start from the process-wide values, before any view is made.
    static void setProcessValues(const ProcessValues &values);

    QColor terracotta() const;
    Q_INVOKABLE QFont font(qreal size, int weight = QFont::Normal) const;
};

} // namespace pelk::app
