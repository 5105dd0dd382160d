// The platform part of the utilities on Windows: the folder variables from the
// environment, the version resource of a program file, elevation through the
// shell's "runas" verb, and backslash paths.

#include "util/kvd_utils.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <vector>

#include <windows.h>

#include <knownfolders.h>
#include <shellapi.h>
#include <shlobj.h>

namespace {

// The roaming application data folder of the user, from the shell, for a
// process started without APPDATA in its environment.
QString KnownRoamingAppData()
{
    PWSTR path = nullptr;
    QString result;
    if (SUCCEEDED(::SHGetKnownFolderPath(FOLDERID_RoamingAppData, 0, nullptr, &path)))
        result = QString::fromWCharArray(path);
    ::CoTaskMemFree(path);
    return result;
}

QString ModuleFileName()
{
    std::vector<wchar_t> buffer(MAX_PATH);
    for (;;) {
        const DWORD length =
            ::GetModuleFileNameW(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
        if (length == 0)
            return QString();
        if (length < buffer.size())
            return QString::fromWCharArray(buffer.data(), static_cast<qsizetype>(length));
        buffer.resize(buffer.size() * 2);
    }
}

} // namespace

QString GetFileVersion(const QString& aFileName)
{
    const std::wstring file = NativePath(aFileName).toStdWString();
    DWORD ignored = 0;
    const DWORD size = ::GetFileVersionInfoSizeW(file.c_str(), &ignored);
    if (size == 0)
        return QString();
    std::vector<char> data(size);
    if (!::GetFileVersionInfoW(file.c_str(), 0, size, data.data()))
        return QString();
    VS_FIXEDFILEINFO* info = nullptr;
    UINT length = 0;
    if (!::VerQueryValueW(data.data(), L"\\", reinterpret_cast<void**>(&info), &length) || !info ||
        length < sizeof(VS_FIXEDFILEINFO))
        return QString();
    return QStringLiteral("%1.%2.%3.%4")
        .arg(HIWORD(info->dwFileVersionMS))
        .arg(LOWORD(info->dwFileVersionMS))
        .arg(HIWORD(info->dwFileVersionLS))
        .arg(LOWORD(info->dwFileVersionLS));
}

QString GetAppVersion()
{
    return GetFileVersion(ModuleFileName());
}

QString GetEnvVar(const QString& aName)
{
    const std::wstring name = aName.toStdWString();
    std::vector<wchar_t> buffer(256);
    for (;;) {
        const DWORD length = ::GetEnvironmentVariableW(name.c_str(), buffer.data(),
                                                       static_cast<DWORD>(buffer.size()));
        if (length == 0)
            break;
        if (length < buffer.size())
            return QString::fromWCharArray(buffer.data(), static_cast<qsizetype>(length));
        buffer.resize(length);
    }
    // Every session of the desktop sets APPDATA; a process started with a
    // bare environment still finds the user's folder.
    if (aName.compare(QLatin1String("APPDATA"), Qt::CaseInsensitive) == 0)
        return KnownRoamingAppData();
    return QString();
}

// ULMORA_ELEVATE names a program that is started (without elevation) in
// place of the shell's prompt, with the file and its parameters; tests use
// it, as on Linux.
bool RunElevated(quintptr aWnd, const QString& aFileName, const QString& aParams)
{
    const QString standIn = qEnvironmentVariable("ULMORA_ELEVATE");
    QString file = NativePath(aFileName);
    QString params = aParams;
    if (!standIn.isEmpty()) {
        params = QLatin1Char('"') + file + QLatin1Char('"') +
                 (aParams.isEmpty() ? QString() : QLatin1Char(' ') + aParams);
        file = NativePath(standIn);
    }
    const std::wstring fileText = file.toStdWString();
    const std::wstring paramsText = params.toStdWString();
    SHELLEXECUTEINFOW info = {};
    info.cbSize = sizeof(info);
    // The prompt belongs to the calling thread's window; no waiting on the
    // started program, whose process handle is not wanted.
    info.fMask = SEE_MASK_NOASYNC | SEE_MASK_FLAG_NO_UI;
    info.hwnd = reinterpret_cast<HWND>(aWnd);
    info.lpVerb = standIn.isEmpty() ? L"runas" : L"open";
    info.lpFile = fileText.c_str();
    info.lpParameters = paramsText.empty() ? nullptr : paramsText.c_str();
    info.nShow = SW_SHOWNORMAL;
    return ::ShellExecuteExW(&info) != FALSE;
}

QString NativePath(const QString& aPath)
{
    return QDir::toNativeSeparators(aPath);
}

bool CreatePrivateFolder(const QString& aPath)
{
    const QString path = QDir::cleanPath(QFileInfo(aPath).absoluteFilePath());
    // A new folder inherits the access list of the user's profile, which is
    // the user's alone already.
    return QDir().mkpath(path);
}

bool OpenPrivateFile(QFile& aFile, QIODevice::OpenMode aMode)
{
    // A new file inherits the access list of its folder in the user's profile.
    return aFile.open(aMode);
}
