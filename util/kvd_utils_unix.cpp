// The platform part of the utilities on Linux: the POSIX stand-ins for the
// Windows folder variables, the version compiled into the program, elevation
// through pkexec, and files and folders for the user alone (modes 0600/0700).

#include "util/kvd_utils.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>

namespace {

// What stands in on Linux for a Windows folder variable that is not set.
QString PosixFallback(const QString& aName)
{
    const QString home = qEnvironmentVariable("HOME");
    if (aName == QLatin1String("APPDATA")) {
        const QString config = qEnvironmentVariable("XDG_CONFIG_HOME");
        return !config.isEmpty() ? config : (home.isEmpty() ? QString() : home + "/.config");
    }
    if (aName == QLatin1String("TEMP")) {
        const QString tmp = qEnvironmentVariable("TMPDIR");
        return tmp.isEmpty() ? QStringLiteral("/tmp") : tmp;
    }
    if (aName == QLatin1String("USERPROFILE") || aName == QLatin1String("HOMEPATH"))
        return home;
    return QString();
}

} // namespace

QString GetFileVersion(const QString& aFileName)
{
    // The version lives in the program itself rather than in a resource of the
    // file, so only the running program's own file has one.
    const QString self = QCoreApplication::applicationFilePath();
    if (!self.isEmpty() && QFileInfo(aFileName) == QFileInfo(self))
        return QStringLiteral(ULMORA_VERSION_TEXT);
    return QString();
}

QString GetAppVersion()
{
    return QStringLiteral(ULMORA_VERSION_TEXT);
}

QString GetEnvVar(const QString& aName)
{
    const QString value = qEnvironmentVariable(aName.toLocal8Bit().constData());
    return value.isEmpty() ? PosixFallback(aName) : value;
}

bool RunElevated(quintptr aWnd, const QString& aFileName, const QString& aParams)
{
    Q_UNUSED(aWnd);
    QString command = qEnvironmentVariable("ULMORA_ELEVATE");
    if (command.isEmpty())
        command = QStringLiteral("pkexec");
    QStringList arguments{NativePath(aFileName)};
    if (!aParams.isEmpty())
        arguments << QProcess::splitCommand(aParams);
    return QProcess::startDetached(command, arguments);
}

QString NativePath(const QString& aPath)
{
    QString path = aPath;
    path.replace(QLatin1Char('\\'), QLatin1Char('/'));
    return path;
}

bool CreatePrivateFolder(const QString& aPath)
{
    const QString path = QDir::cleanPath(QFileInfo(aPath).absoluteFilePath());
    // The missing folders, outermost first: on a fresh account even the one
    // that stands in for APPDATA (~/.config) may be among them.
    QStringList missing;
    for (QString folder = path; !QFileInfo::exists(folder);) {
        missing.prepend(folder);
        const QString parent = QFileInfo(folder).path();
        if (parent == folder)
            break;
        folder = parent;
    }
    for (const QString& folder : missing) {
        // Another process may have made it in the meantime, which is as good.
        if (!QDir().mkdir(folder, QFileDevice::ReadOwner | QFileDevice::WriteOwner |
                                      QFileDevice::ExeOwner) &&
            !QFileInfo(folder).isDir())
            return false;
    }
    return QFileInfo(path).isDir();
}

bool OpenPrivateFile(QFile& aFile, QIODevice::OpenMode aMode)
{
    // The mode applies only when the file is created.
    return aFile.open(aMode, QFileDevice::ReadOwner | QFileDevice::WriteOwner);
}
