#pragma once

// The finder that the GUI tests share: a window or dialog keeps its widgets
// to itself, and a test reaches one by its object name.

#include <QLatin1String>
#include <QObject>
#include <QWidget>
#include <QtGlobal>

// The window's widget, action or other object of that name and class. A test
// that asks for one the window does not have stops there.
template <typename T = QWidget> T* W(const QObject& aWindow, const char* aName)
{
    T* found = aWindow.findChild<T*>(QLatin1String(aName));
    if (!found)
        qFatal("The window has no %s named \"%s\"", T::staticMetaObject.className(), aName);
    return found;
}
