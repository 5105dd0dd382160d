// Start at login through the Run key and the one-instance lock through a
// named mutex, on Windows semantics.

#include "cli/tasks_instance.h"
#include "settings/tasks_autostart.h"

#include <QTest>

#include <windows.h>

namespace {

const wchar_t* const kRunKey = L"Software\\Microsoft\\Windows\\CurrentVersion\\Run";
const wchar_t* const kApprovedKey =
    L"Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\StartupApproved\\Run";

QString RunValue()
{
    wchar_t data[1024] = {};
    DWORD size = sizeof(data) - sizeof(wchar_t);
    if (RegGetValueW(HKEY_CURRENT_USER, kRunKey, L"Ulmora", RRF_RT_REG_SZ, nullptr, data, &size) !=
        ERROR_SUCCESS)
        return QStringLiteral("<none>");
    return QString::fromWCharArray(data);
}

// Task Manager's record for the value: first byte 2 switched on, 3 off.
void SetApproved(BYTE aFirstByte)
{
    HKEY key = nullptr;
    QCOMPARE(RegCreateKeyExW(HKEY_CURRENT_USER, kApprovedKey, 0, nullptr, 0, KEY_SET_VALUE, nullptr,
                             &key, nullptr),
             LONG(ERROR_SUCCESS));
    const BYTE record[12] = {aFirstByte};
    QCOMPARE(RegSetValueExW(key, L"Ulmora", 0, REG_BINARY, record, sizeof(record)),
             LONG(ERROR_SUCCESS));
    RegCloseKey(key);
}

void RemoveApproved()
{
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_CURRENT_USER, kApprovedKey, 0, KEY_SET_VALUE, &key) == ERROR_SUCCESS) {
        RegDeleteValueW(key, L"Ulmora");
        RegCloseKey(key);
    }
}

} // namespace

class TestLoginInstanceWin : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init()
    {
        QString error;
        QVERIFY(SetStartAtLogin(false, QString(), error));
        RemoveApproved();
    }
    void cleanup() { init(); }

    void startAtLoginWritesTheRunValue()
    {
        QVERIFY(StartAtLoginSupported());
        QCOMPARE(
            StartAtLoginEntry(),
            QStringLiteral(
                "HKEY_CURRENT_USER\\Software\\Microsoft\\Windows\\CurrentVersion\\Run\\Ulmora"));
        QVERIFY(!StartsAtLogin());
        QString error;
        QVERIFY(
            SetStartAtLogin(true, QStringLiteral("C:/Program Files/Ulmora 1/ulmora.exe"), error));
        QVERIFY2(error.isEmpty(), qPrintable(error));
        QCOMPARE(RunValue(),
                 QStringLiteral("\"C:\\Program Files\\Ulmora 1\\ulmora.exe\" --hidden"));
        QVERIFY(StartsAtLogin());
        QVERIFY(SetStartAtLogin(false, QString(), error));
        QCOMPARE(RunValue(), QStringLiteral("<none>"));
        QVERIFY(!StartsAtLogin());
        // Removing what is not there is no error.
        QVERIFY(SetStartAtLogin(false, QString(), error));
        QVERIFY(error.isEmpty());
    }

    // A value that Task Manager switched off is not in effect; switching it
    // on from the settings drops that record.
    void switchedOffInTaskManager_data()
    {
        QTest::addColumn<int>("record");
        QTest::addColumn<bool>("inEffect");
        QTest::newRow("no record") << -1 << true;
        QTest::newRow("switched on") << 2 << true;
        QTest::newRow("switched on, other form") << 6 << true;
        QTest::newRow("switched off") << 3 << false;
    }
    void switchedOffInTaskManager()
    {
        QFETCH(int, record);
        QFETCH(bool, inEffect);
        QString error;
        QVERIFY(SetStartAtLogin(true, QStringLiteral("C:\\u\\ulmora.exe"), error));
        if (record >= 0)
            SetApproved(BYTE(record));
        QCOMPARE(StartsAtLogin(), inEffect);
        QVERIFY(SetStartAtLogin(true, QStringLiteral("C:\\u\\ulmora.exe"), error));
        QVERIFY(StartsAtLogin());
    }

    void oneInstancePerChannel()
    {
        TInstanceLock::TState state = TInstanceLock::TState::Failed;
        QString error;
        const QString channel = QStringLiteral("C:\\Users\\u\\AppData\\Roaming\\BEXO\\config.ini");
        auto first = TInstanceLock::TryAcquire(channel, state, error);
        QCOMPARE(state, TInstanceLock::TState::Acquired);
        QVERIFY(first);
        QVERIFY2(error.isEmpty(), qPrintable(error));

        auto second = TInstanceLock::TryAcquire(channel, state, error);
        QCOMPARE(state, TInstanceLock::TState::Held);
        QVERIFY(!second);

        // Another settings file is another instance.
        auto other = TInstanceLock::TryAcquire(channel + QStringLiteral(".2"), state, error);
        QCOMPARE(state, TInstanceLock::TState::Acquired);
        QVERIFY(other);

        // Released with the holder: the next start becomes the instance.
        first.reset();
        auto third = TInstanceLock::TryAcquire(channel, state, error);
        QCOMPARE(state, TInstanceLock::TState::Acquired);
        QVERIFY(third);
    }
};

QTEST_GUILESS_MAIN(TestLoginInstanceWin)
#include "test_login_instance_win.moc"
