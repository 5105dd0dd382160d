// Start at login on a platform that has no form of it yet: there is no
// entry, and the settings dialog does not offer one.

#include "settings/tasks_autostart.h"

bool StartAtLoginSupported()
{
    return false;
}

QString StartAtLoginEntry()
{
    return QString();
}

bool StartsAtLogin()
{
    return false;
}

bool SetStartAtLogin(bool aOn, const QString& aProgram, QString& aError)
{
    Q_UNUSED(aProgram);
    if (!aOn)
        return true;
    aError = QStringLiteral("starting at login is not available on this system");
    return false;
}
