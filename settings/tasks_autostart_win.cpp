// Start at login on Windows: the value "Ulmora" under the user's Run key,
// which the shell starts when the user logs in. Task Manager switches a
// program off without removing its value: it keeps a record under
// Explorer's StartupApproved key whose first byte is odd while switched off.

#include "settings/tasks_autostart.h"

#include <QDir>

#include <windows.h>

namespace {

const wchar_t* const kRunKey = L"Software\\Microsoft\\Windows\\CurrentVersion\\Run";
const wchar_t* const kApprovedKey =
    L"Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\StartupApproved\\Run";
const wchar_t* const kValueName = L"Ulmora";

QString SystemError(LONG aError)
{
    wchar_t* text = nullptr;
    const DWORD length = FormatMessageW(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
        nullptr, static_cast<DWORD>(aError), 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
    QString message = length > 0 ? QString::fromWCharArray(text, int(length)).trimmed()
                                 : QStringLiteral("error %1").arg(aError);
    LocalFree(text);
    return message;
}

// The value's bytes under aKey of HKEY_CURRENT_USER; empty when either is missing.
QByteArray ReadValue(const wchar_t* aKey)
{
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_CURRENT_USER, aKey, 0, KEY_QUERY_VALUE, &key) != ERROR_SUCCESS)
        return QByteArray();
    DWORD size = 0;
    QByteArray data;
    if (RegQueryValueExW(key, kValueName, nullptr, nullptr, nullptr, &size) == ERROR_SUCCESS &&
        size > 0) {
        data.resize(int(size));
        if (RegQueryValueExW(key, kValueName, nullptr, nullptr,
                             reinterpret_cast<BYTE*>(data.data()), &size) != ERROR_SUCCESS)
            data.clear();
    }
    RegCloseKey(key);
    return data;
}

// The command line of the value: the program quoted, then the option.
QString CommandOf(const QString& aProgram)
{
    return QStringLiteral("\"%1\" %2").arg(QDir::toNativeSeparators(aProgram), kStartHiddenOption);
}

} // namespace

bool StartAtLoginSupported()
{
    return true;
}

QString StartAtLoginEntry()
{
    return QStringLiteral("HKEY_CURRENT_USER\\") + QString::fromWCharArray(kRunKey) +
           QLatin1Char('\\') + QString::fromWCharArray(kValueName);
}

bool StartsAtLogin()
{
    if (ReadValue(kRunKey).isEmpty())
        return false;
    const QByteArray approved = ReadValue(kApprovedKey);
    return approved.isEmpty() || (approved.at(0) & 1) == 0;
}

bool SetStartAtLogin(bool aOn, const QString& aProgram, QString& aError)
{
    aError.clear();
    HKEY key = nullptr;
    LONG result = RegCreateKeyExW(HKEY_CURRENT_USER, kRunKey, 0, nullptr, 0,
                                  KEY_SET_VALUE | KEY_QUERY_VALUE, nullptr, &key, nullptr);
    if (result != ERROR_SUCCESS) {
        aError = QStringLiteral("the key %1 cannot be opened: %2")
                     .arg(QStringLiteral("HKEY_CURRENT_USER\\") + QString::fromWCharArray(kRunKey),
                          SystemError(result));
        return false;
    }
    if (aOn) {
        const std::wstring command = CommandOf(aProgram).toStdWString();
        result = RegSetValueExW(key, kValueName, 0, REG_SZ,
                                reinterpret_cast<const BYTE*>(command.c_str()),
                                DWORD((command.size() + 1) * sizeof(wchar_t)));
    } else {
        result = RegDeleteValueW(key, kValueName);
        if (result == ERROR_FILE_NOT_FOUND)
            result = ERROR_SUCCESS;
    }
    RegCloseKey(key);
    if (result != ERROR_SUCCESS) {
        aError = QStringLiteral("the value %1 cannot be %2: %3")
                     .arg(StartAtLoginEntry(),
                          aOn ? QStringLiteral("written") : QStringLiteral("removed"),
                          SystemError(result));
        return false;
    }
    // A record of Task Manager's that switched the program off would keep
    // the new value from taking effect; a missing record means switched on.
    if (aOn &&
        RegOpenKeyExW(HKEY_CURRENT_USER, kApprovedKey, 0, KEY_SET_VALUE, &key) == ERROR_SUCCESS) {
        RegDeleteValueW(key, kValueName);
        RegCloseKey(key);
    }
    return true;
}
