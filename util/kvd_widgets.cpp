#include "util/kvd_widgets.h"

#include <QGuiApplication>
#include <QScreen>
#include <QWidget>
#include <algorithm>
#include <cmath>

double Luminance(const QColor& aColor)
{
    auto channel = [](double aValue) {
        return aValue <= 0.03928 ? aValue / 12.92 : std::pow((aValue + 0.055) / 1.055, 2.4);
    };
    return 0.2126 * channel(aColor.redF()) + 0.7152 * channel(aColor.greenF()) +
           0.0722 * channel(aColor.blueF());
}

double ContrastRatio(const QColor& aFirst, const QColor& aSecond)
{
    const double first = Luminance(aFirst), second = Luminance(aSecond);
    return (std::max(first, second) + 0.05) / (std::min(first, second) + 0.05);
}

bool IsDark(const QColor& aColor)
{
    return aColor.lightness() < 128;
}

bool IsLight(const QColor& aColor)
{
    return aColor.lightness() > 128;
}

QColor ReadableOn(const QColor& aBackground)
{
    // The contrast ratios with black (luminance 0) and white (luminance 1).
    const double background = Luminance(aBackground);
    const double onBlack = (background + 0.05) / 0.05;
    const double onWhite = 1.05 / (background + 0.05);
    return onWhite >= onBlack ? QColor(Qt::white) : QColor(Qt::black);
}

void CenterOnScreen(QWidget* aWidget)
{
    const QScreen* screen = QGuiApplication::primaryScreen();
    if (!screen)
        return;
    QRect frame = aWidget->frameGeometry();
    frame.moveCenter(screen->availableGeometry().center());
    aWidget->move(frame.topLeft());
}
