// Start at login on Linux and other XDG desktops: a desktop entry in the
// user's autostart folder, which those desktops start when the user logs in.

#include "settings/tasks_autostart.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

namespace {

// $XDG_CONFIG_HOME, or ~/.config when it is unset or not absolute (a
// relative one is to be ignored).
QString ConfigHome()
{
    const QString config = qEnvironmentVariable("XDG_CONFIG_HOME");
    if (!config.isEmpty() && QDir::isAbsolutePath(config))
        return config;
    return QDir::homePath() + QStringLiteral("/.config");
}

// One argument of an Exec line: quoted when it holds a reserved character,
// with '"', '`', '$' and '\' escaped inside the quotes, and '%' doubled, since
// a single one would start a field code.
QString ExecArgument(const QString& aArgument)
{
    static const QString reserved = QStringLiteral(" \t\n\"'\\><~|&;$*?#()`");
    QString argument = aArgument;
    argument.replace(QLatin1Char('%'), QStringLiteral("%%"));
    bool quote = argument.isEmpty();
    for (const QChar c : argument)
        quote = quote || reserved.contains(c);
    if (!quote)
        return argument;
    QString quoted = QStringLiteral("\"");
    for (const QChar c : argument) {
        if (c == QLatin1Char('"') || c == QLatin1Char('`') || c == QLatin1Char('$') ||
            c == QLatin1Char('\\'))
            quoted += QLatin1Char('\\');
        quoted += c;
    }
    return quoted + QLatin1Char('"');
}

// A value of the type string: backslashes and control characters escaped.
// Applied to the Exec line after its quoting, so a backslash inside quotes
// is written as four.
QString StringValue(const QString& aText)
{
    QString value;
    for (const QChar c : aText) {
        if (c == QLatin1Char('\\'))
            value += QStringLiteral("\\\\");
        else if (c == QLatin1Char('\n'))
            value += QStringLiteral("\\n");
        else if (c == QLatin1Char('\t'))
            value += QStringLiteral("\\t");
        else if (c == QLatin1Char('\r'))
            value += QStringLiteral("\\r");
        else
            value += c;
    }
    return value;
}

QByteArray EntryText(const QString& aProgram)
{
    const QString exec = ExecArgument(aProgram) + QLatin1Char(' ') + kStartHiddenOption;
    return QStringLiteral("[Desktop Entry]\n"
                          "Type=Application\n"
                          "Name=Ulmora\n"
                          "Comment=To-do list in the tray\n"
                          "Exec=%1\n"
                          "Icon=%2\n"
                          "Terminal=false\n")
        .arg(StringValue(exec), kTasksAppId)
        .toUtf8();
}

} // namespace

bool StartAtLoginSupported()
{
    return true;
}

QString StartAtLoginEntry()
{
    return ConfigHome() + QStringLiteral("/autostart/") + kTasksAppId + QStringLiteral(".desktop");
}

bool StartsAtLogin()
{
    QFile file(StartAtLoginEntry());
    if (!file.open(QIODevice::ReadOnly))
        return false;
    // A desktop switches an entry off with Hidden=true (or, on GNOME,
    // X-GNOME-Autostart-enabled=false) instead of removing it; an entry
    // without its group is no entry at all.
    bool inEntry = false;
    bool hasEntry = false;
    while (!file.atEnd()) {
        const QString line = QString::fromUtf8(file.readLine()).trimmed();
        if (line.startsWith(QLatin1Char('['))) {
            inEntry = line == QLatin1String("[Desktop Entry]");
            hasEntry = hasEntry || inEntry;
            continue;
        }
        const qsizetype equals = line.indexOf(QLatin1Char('='));
        if (!inEntry || equals < 0)
            continue;
        const QString key = line.left(equals).trimmed();
        const QString value = line.mid(equals + 1).trimmed();
        if ((key == QLatin1String("Hidden") && value == QLatin1String("true")) ||
            (key == QLatin1String("X-GNOME-Autostart-enabled") && value == QLatin1String("false")))
            return false;
    }
    return hasEntry;
}

bool SetStartAtLogin(bool aOn, const QString& aProgram, QString& aError)
{
    const QString entry = StartAtLoginEntry();
    if (!aOn) {
        QFile file(entry);
        if (!QFileInfo::exists(entry) && !QFileInfo(entry).isSymLink())
            return true;
        if (file.remove())
            return true;
        aError = QStringLiteral("could not remove \"%1\": %2").arg(entry, file.errorString());
        return false;
    }
    const QString folder = QFileInfo(entry).absolutePath();
    if (!QDir().mkpath(folder)) {
        aError = QStringLiteral("could not make the folder \"%1\"").arg(folder);
        return false;
    }
    // Written beside and renamed into place: an entry is whole or not there.
    QSaveFile file(entry);
    if (!file.open(QIODevice::WriteOnly) || file.write(EntryText(aProgram)) < 0 || !file.commit()) {
        aError = QStringLiteral("could not write \"%1\": %2").arg(entry, file.errorString());
        return false;
    }
    return true;
}
