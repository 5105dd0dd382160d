// The task bar on Linux: what the primary screen keeps free at its bottom
// edge for the desktop's panel.

#include "util/kvd_desktop.h"

#include <QCoreApplication>
#include <QGuiApplication>
#include <QScreen>

int TaskbarHeight()
{
    if (!qobject_cast<QGuiApplication*>(QCoreApplication::instance()))
        return 0;
    const QScreen* screen = QGuiApplication::primaryScreen();
    if (!screen)
        return 0;
    const int height = screen->geometry().bottom() - screen->availableGeometry().bottom();
    return height > 0 ? height : 0;
}
