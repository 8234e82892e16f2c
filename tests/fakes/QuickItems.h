#pragma once

#include <QQuickItem>
#include <QString>

namespace pelk::fakes {

// The item of a view with this objectName. Repeater delegates are not QObject children of
// their window, so this searches the item tree rather than using findChild.
inline QQuickItem *findItem(QQuickItem *root, const QString &name)
{
    if (root->objectName() == name)
        return root;
    for (QQuickItem *child : root->childItems())
        if (QQuickItem *found = findItem(child, name))
            return found;
    return nullptr;
}

} // namespace pelk::fakes
