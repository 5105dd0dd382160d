#pragma once

// Rules of the windows' look and placement that several windows share: how
// light a colour is, how well two colours stand apart, and where a dialog opens.

#include <QColor>

class QWidget;

// Relative luminance of an sRGB colour, 0 for black to 1 for white.
double Luminance(const QColor& aColor);
// Contrast ratio of two colours, from 1 (the same) to 21 (black on white).
double ContrastRatio(const QColor& aFirst, const QColor& aSecond);
// Dark is an HSL lightness below 128, light one above 128; the middle gray
// is neither.
bool IsDark(const QColor& aColor);
bool IsLight(const QColor& aColor);
// Black or white, whichever stands out more on aBackground.
QColor ReadableOn(const QColor& aBackground);

// Moves aWidget so that its frame is centred on the available area of the
// primary screen; nothing without a screen.
void CenterOnScreen(QWidget* aWidget);
