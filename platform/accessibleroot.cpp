// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/accessibleroot.h"

#include <QAccessibleApplication>
#include <QGuiApplication>
#include <QWindow>

namespace {

class ApplicationWithPopups : public QAccessibleApplication {
public:
    int childCount() const override { return int(windows().size()); }
    int indexOfChild(const QAccessibleInterface *child) const override
    {
        return child ? int(windows().indexOf(child->object())) : -1;
    }
    QAccessibleInterface *child(int index) const override
    {
        const QObjectList all = windows();
        return index >= 0 && index < all.size() ? QAccessible::queryAccessibleInterface(all[index])
                                                : nullptr;
    }

private:
    // Qt's list of windows, and the popups on show.
    static QObjectList windows()
    {
        QObjectList roots;
        for (QWindow *window : QGuiApplication::topLevelWindows()) {
            const bool listed =
                window->type() == Qt::Popup ? window->isVisible() : window->type() != Qt::Desktop;
            const QAccessibleInterface *root = listed ? window->accessibleRoot() : nullptr;
            if (root && root->object())
                roots.append(root->object());
        }
        return roots;
    }
};

QAccessibleInterface *applicationInterface(const QString &className, QObject *object)
{
    return object == qApp && className == QLatin1String("QApplication") ? new ApplicationWithPopups
                                                                        : nullptr;
}

} // namespace

void listPopupsInAccessibleTree()
{
    QAccessible::installFactory(applicationInterface);
}
