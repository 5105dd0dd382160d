#include "resources/tasks_themes.h"

#include "util/kvd_dialogs.h"
#include "util/kvd_widgets.h"

#include <QApplication>
#include <QStyle>
#include <QStyleFactory>
#include <memory>

namespace {

// A theme as data: six colours from which the whole palette is derived, and
// how the push and tool buttons are drawn.
enum class TButtonShape
{
    Native,  // the Fusion buttons, in the palette's colours
    Rounded, // soft, rounded buttons
    Flat     // square, flat buttons with an accent border on hover
};

struct TThemeData
{
    const char* Name;
    QRgb Window;
    QRgb Base;
    QRgb Text;
    QRgb Button;
    QRgb Highlight;
    TButtonShape Shape;
};

// clang-format off
const TThemeData kThemes[] = {
    {"Amakrits",            0x3a3632, 0x2b2825, 0xece4d8, 0x4d4741, 0xc47a2c, TButtonShape::Rounded},
    {"Amethyst Kamri",      0xe9e3f0, 0xffffff, 0x2a1f36, 0xd9cfe6, 0x8a5bb8, TButtonShape::Rounded},
    {"Aqua Graphite",       0x33373b, 0x26292c, 0xe6eef0, 0x464b50, 0x1aa7b8, TButtonShape::Native},
    {"Aqua Light Slate",    0xdfe5ea, 0xf7fafb, 0x1e2a33, 0xcbd5dd, 0x1f8fa3, TButtonShape::Native},
    {"Auric",               0xf1e7cf, 0xfffaf0, 0x3a2e12, 0xe4d3a8, 0xb8870f, TButtonShape::Rounded},
    {"Carbon",              0x2a2a2a, 0x1e1e1e, 0xe0e0e0, 0x3a3a3a, 0x5a8bd6, TButtonShape::Native},
    {"Charcoal Dark Slate", 0x2f343a, 0x24282d, 0xd8dee4, 0x3e454c, 0x6b8fb3, TButtonShape::Native},
    {"Cobalt XEMedia",      0x1f2a44, 0x17203a, 0xe2e8f5, 0x2d3c5f, 0x3a7bd5, TButtonShape::Rounded},
    {"Cyan Dusk",           0x2c4a52, 0x22393f, 0xe0f2f4, 0x3a636d, 0x29b6c6, TButtonShape::Native},
    {"Cyan Night",          0x16252b, 0x0f1b20, 0xcfe9ee, 0x223a43, 0x00acc1, TButtonShape::Flat},
    {"Emerald Light Slate", 0xdfe7e3, 0xf8fbf9, 0x1d2b24, 0xcbd9d1, 0x2e8b5e, TButtonShape::Native},
    {"Golden Graphite",     0x35322c, 0x27251f, 0xefe6cf, 0x48443b, 0xd4a628, TButtonShape::Native},
    {"Iceberg Classico",    0xe4eef5, 0xffffff, 0x1b2d3c, 0xcfe0ec, 0x3f83bd, TButtonShape::Native},
    {"Lavender Classico",   0xebe8f3, 0xffffff, 0x2b2840, 0xdcd7ea, 0x6f63b5, TButtonShape::Native},
    {"Metro Black",         0x1d1d1d, 0x111111, 0xf2f2f2, 0x2d2d2d, 0x1ba1e2, TButtonShape::Flat},
    {"Metro Blue",          0xf2f6fb, 0xffffff, 0x1a1a1a, 0xe1ebf7, 0x1e73c8, TButtonShape::Flat},
    {"Metro Green",         0xf1f7f2, 0xffffff, 0x1a1a1a, 0xdff0e2, 0x2f8f2f, TButtonShape::Flat},
    {"Ruby Graphite",       0x363133, 0x282426, 0xf0e4e7, 0x4a4144, 0xc0304a, TButtonShape::Native},
    {"Sapphire Kamri",      0xe2e7f2, 0xffffff, 0x1c2440, 0xcdd6ea, 0x2f55a8, TButtonShape::Rounded},
    {"Slate Classico",      0xe3e6e9, 0xffffff, 0x24292e, 0xd1d6db, 0x5c6f82, TButtonShape::Native},
    {"Smokey Quartz Kamri", 0xe6e1dd, 0xfbf9f7, 0x2f2a26, 0xd6cfc9, 0x8d7b6e, TButtonShape::Rounded},
    {"Turquoise Gray",      0xe3e8e8, 0xffffff, 0x1f2d2d, 0xd0dbdb, 0x2b9a9a, TButtonShape::Native},
};
// clang-format on

const TThemeData* FindTheme(const QString& aName)
{
    for (const TThemeData& theme : kThemes) {
        if (aName == QLatin1String(theme.Name))
            return &theme;
    }
    return nullptr;
}

QColor Mix(const QColor& aA, const QColor& aB, qreal aB_share)
{
    const qreal a = 1.0 - aB_share;
    return QColor::fromRgbF(aA.redF() * a + aB.redF() * aB_share,
                            aA.greenF() * a + aB.greenF() * aB_share,
                            aA.blueF() * a + aB.blueF() * aB_share);
}

QPalette PaletteOf(const TThemeData& aTheme)
{
    const QColor window(aTheme.Window), base(aTheme.Base), text(aTheme.Text);
    const QColor button(aTheme.Button), highlight(aTheme.Highlight);
    const bool dark = IsDark(window);
    const QColor highlightedText = ReadableOn(highlight);
    const QColor disabledText = Mix(text, window, 0.55);

    QPalette palette;
    palette.setColor(QPalette::Window, window);
    palette.setColor(QPalette::WindowText, text);
    palette.setColor(QPalette::Base, base);
    palette.setColor(QPalette::AlternateBase, Mix(base, window, 0.5));
    palette.setColor(QPalette::Text, text);
    palette.setColor(QPalette::Button, button);
    palette.setColor(QPalette::ButtonText, text);
    palette.setColor(QPalette::BrightText, Qt::red);
    palette.setColor(QPalette::Highlight, highlight);
    palette.setColor(QPalette::HighlightedText, highlightedText);
    palette.setColor(QPalette::ToolTipBase, dark ? button : QColor(0xffffdc));
    palette.setColor(QPalette::ToolTipText, text);
    palette.setColor(QPalette::PlaceholderText, disabledText);
    palette.setColor(QPalette::Link, dark ? highlight.lighter(140) : highlight.darker(120));
    palette.setColor(QPalette::LinkVisited, palette.color(QPalette::Link).darker(115));
    palette.setColor(QPalette::Light, button.lighter(130));
    palette.setColor(QPalette::Midlight, button.lighter(115));
    palette.setColor(QPalette::Mid, button.darker(130));
    palette.setColor(QPalette::Dark, button.darker(160));
    palette.setColor(QPalette::Shadow, QColor(Qt::black));
    for (QPalette::ColorRole role : {QPalette::WindowText, QPalette::Text, QPalette::ButtonText})
        palette.setColor(QPalette::Disabled, role, disabledText);
    palette.setColor(QPalette::Disabled, QPalette::Highlight, Mix(highlight, window, 0.6));
    return palette;
}

QString StyleSheetOf(const TThemeData& aTheme)
{
    const QColor window(aTheme.Window), button(aTheme.Button), highlight(aTheme.Highlight);
    const QColor text(aTheme.Text);
    const QColor disabled = Mix(text, window, 0.55);
    const QString border = Mix(button, text, 0.35).name();
    switch (aTheme.Shape) {
    case TButtonShape::Native:
        return QString();
    case TButtonShape::Rounded:
        return QStringLiteral(
                   "QPushButton, QToolButton { background: qlineargradient(x1:0, y1:0, x2:0, "
                   "y2:1, stop:0 %1, stop:1 %2); border: 1px solid %3; border-radius: 6px; "
                   "padding: 3px 8px; color: %6; }"
                   "QToolButton { padding: 2px 1px; }"
                   "QPushButton:hover, QToolButton:hover { border-color: %4; }"
                   "QPushButton:pressed, QToolButton:pressed { background: %2; }"
                   "QPushButton:disabled, QToolButton:disabled { color: %5; }")
            .arg(button.lighter(112).name(), button.darker(108).name(), border, highlight.name(),
                 disabled.name(), text.name());
    case TButtonShape::Flat:
        return QStringLiteral("QPushButton, QToolButton { background: %1; border: 1px solid %1; "
                              "padding: 3px 8px; color: %5; }"
                              "QToolButton { padding: 2px 1px; }"
                              "QPushButton:hover, QToolButton:hover { border-color: %2; }"
                              "QPushButton:pressed, QToolButton:pressed { background: %3; }"
                              "QPushButton:disabled, QToolButton:disabled { color: %4; }")
            .arg(button.name(), highlight.name(), Mix(button, highlight, 0.35).name(),
                 disabled.name(), text.name());
    }
    return QString();
}

// The desktop's own look, remembered before the first theme replaces it.
struct TDesktopLook
{
    QString StyleName;
    bool Taken = false;
};

TDesktopLook& DesktopLook()
{
    static TDesktopLook look;
    if (!look.Taken && qApp) {
        look.StyleName = QApplication::style()->name();
        look.Taken = true;
    }
    return look;
}

QString& CurrentName()
{
    static QString name;
    return name;
}

} // namespace

QStringList TasksThemeNames()
{
    QStringList names;
    for (const TThemeData& theme : kThemes)
        names << QString::fromLatin1(theme.Name);
    return names;
}

bool ThemeExists(const QString& aName)
{
    return aName == kDesktopThemeName || FindTheme(aName) != nullptr;
}

QPalette ThemePalette(const QString& aName)
{
    if (const TThemeData* theme = FindTheme(aName))
        return PaletteOf(*theme);
    if (aName == kDesktopThemeName) {
        std::unique_ptr<QStyle> style(QStyleFactory::create(DesktopLook().StyleName));
        if (style)
            return style->standardPalette();
    }
    return QPalette();
}

bool ApplyTheme(const QString& aName)
{
    if (!ThemeExists(aName)) {
        TkvdMessageBox::Error(nullptr,
                              QStringLiteral("There is no theme named \"%1\".").arg(aName));
        return false;
    }
    const TDesktopLook& desktop = DesktopLook();
    const TThemeData* theme = FindTheme(aName);
    const QString styleName = theme ? QStringLiteral("Fusion") : desktop.StyleName;
    if (QStyle* style =
            QStyleFactory::create(styleName.isEmpty() ? QStringLiteral("Fusion") : styleName))
        QApplication::setStyle(style); // the application takes ownership
    QApplication::setPalette(theme ? PaletteOf(*theme) : QApplication::style()->standardPalette());
    qApp->setStyleSheet(theme ? StyleSheetOf(*theme) : QString());
    CurrentName() = aName;
    return true;
}

QString CurrentThemeName()
{
    return CurrentName();
}
