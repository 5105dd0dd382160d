#pragma once

#include <QPalette>
#include <QString>
#include <QStringList>

// The named looks of the program: "Windows", the desktop's own style and
// palette, and the 22 themes the program carries, each the "Fusion" style with
// a palette of its own and, where a palette cannot say it, a short style sheet.

// Name of the desktop's own look.
inline const QString kDesktopThemeName = QStringLiteral("Windows");

// The names of the themes the program carries (not "Windows"), in table order.
QStringList TasksThemeNames();

// True for "Windows" and for every carried theme; names are compared exactly.
bool ThemeExists(const QString& aName);

// Switches every window of the program to the named look. A name without a
// theme is reported in an error box and the look stays as it was; the result
// then is false.
bool ApplyTheme(const QString& aName);

// The name of the look applied last, empty before the first ApplyTheme.
QString CurrentThemeName();

// The palette of a carried theme (the desktop's palette for "Windows"); a
// default palette for an unknown name.
QPalette ThemePalette(const QString& aName);
