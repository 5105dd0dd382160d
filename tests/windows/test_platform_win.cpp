// The platform part of the core on Windows semantics (run under wine by the
// Windows build): the folder variables and placeholders, the version
// resource, elevation through the shell, backslash paths, and the settings
// file under %APPDATA%\BEXO replaced in place with every other line kept.

#include "settings/kvd_ini.h"
#include "util/kvd_utils.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <windows.h>

namespace {

QString ReadUtf16File(const QString& aPath)
{
    QFile file(aPath);
    if (!file.open(QIODevice::ReadOnly))
        return QString();
    const QByteArray bytes = file.readAll();
    return QString::fromWCharArray(reinterpret_cast<const wchar_t*>(bytes.constData()),
                                   bytes.size() / 2);
}

} // namespace

class TestPlatformWin : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir FDir;

private Q_SLOTS:
    void init()
    {
        QVERIFY(FDir.isValid());
        ResetEnvTableForTesting();
    }
    void cleanup() { ResetEnvTableForTesting(); }

    // The placeholders come from the environment as the system set it.
    void placeholdersFromTheEnvironment()
    {
        for (const char* name : {"APPDATA", "SYSTEMROOT", "TEMP", "USERPROFILE", "WINDIR",
                                 "PROGRAMFILES", "COMSPEC", "ALLUSERSPROFILE", "SYSTEMDRIVE"})
            QVERIFY2(!GetEnvVar(QLatin1String(name)).isEmpty(), name);
        qputenv("APPDATA", "C:\\Users\\u\\AppData\\Roaming");
        ResetEnvTableForTesting();
        QCOMPARE(GetEnvVar("APPDATA"), QStringLiteral("C:\\Users\\u\\AppData\\Roaming"));
        QCOMPARE(ExpandEnvVars("%APPDATA%\\BEXO\\config.ini"),
                 QStringLiteral("C:\\Users\\u\\AppData\\Roaming\\BEXO\\config.ini"));
        QCOMPARE(ExpandEnvVars("%WINDIR%\\x"), GetEnvVar("WINDIR") + QStringLiteral("\\x"));
    }

    // Without APPDATA in the environment, the user's roaming folder.
    void appDataFromTheShell()
    {
        const QByteArray saved = qgetenv("APPDATA");
        qunsetenv("APPDATA");
        const QString folder = GetEnvVar("APPDATA");
        qputenv("APPDATA", saved);
        QVERIFY2(folder.endsWith(QLatin1String("\\AppData\\Roaming"), Qt::CaseInsensitive),
                 qPrintable(folder));
    }

    void backslashPaths()
    {
        QCOMPARE(NativePath("C:/a/b\\c"), QStringLiteral("C:\\a\\b\\c"));
        QCOMPARE(FileBeside("C:\\Program Files\\Ulmora\\ulmora.exe", "updater.exe"),
                 QStringLiteral("C:\\Program Files\\Ulmora\\updater.exe"));
    }

    // Every program of the build carries the version resource written from
    // the project's version; other files have none.
    void versionResource()
    {
        QCOMPARE(GetFileVersion(QCoreApplication::applicationFilePath()),
                 QStringLiteral(ULMORA_VERSION_TEXT));
        QCOMPARE(GetAppVersion(), QStringLiteral(ULMORA_VERSION_TEXT));
        QFile plain(FDir.filePath("plain.txt"));
        QVERIFY(plain.open(QIODevice::WriteOnly));
        plain.write("no resource");
        plain.close();
        QCOMPARE(GetFileVersion(plain.fileName()), QString());
        QCOMPARE(GetFileVersion(FDir.filePath("missing.exe")), QString());
    }

    // "runas" starts the program (wine does not prompt: its user is an
    // administrator already); a missing program is not started.
    void runElevated_data()
    {
        QTest::addColumn<bool>("throughStandIn");
        QTest::newRow("runas") << false;
        QTest::newRow("ULMORA_ELEVATE") << true;
    }
    void runElevated()
    {
        QFETCH(bool, throughStandIn);
        const QString standIn =
            QCoreApplication::applicationDirPath() + QStringLiteral("/standin_updater.exe");
        QVERIFY(QFile::exists(standIn));
        const QString out = QDir::toNativeSeparators(FDir.filePath("cmdline.txt"));
        QFile::remove(out);
        qputenv("ULMORA_STANDIN_OUT", out.toUtf8());
        QString file = standIn;
        if (throughStandIn) {
            qputenv("ULMORA_ELEVATE", QDir::toNativeSeparators(standIn).toUtf8());
            file = QStringLiteral("C:\\Program Files\\Ulmora\\updater.exe");
        }
        const bool started = RunElevated(0, file, "appid=kvd_bexo");
        qunsetenv("ULMORA_ELEVATE");
        QVERIFY(started);
        QTRY_VERIFY(QFile::exists(out) && !ReadUtf16File(out).isEmpty());
        const QString line = ReadUtf16File(out);
        QVERIFY2(line.endsWith(QLatin1String("appid=kvd_bexo")), qPrintable(line));
        if (throughStandIn)
            QVERIFY2(line.contains(QLatin1String("\"C:\\Program Files\\Ulmora\\updater.exe\"")),
                     qPrintable(line));
        QVERIFY(!RunElevated(0, FDir.filePath("missing\\updater.exe"), QString()));
    }

    // The settings file is replaced whole by each write; the lines of other
    // sections, comments and Windows line ends stay byte for byte.
    void iniFileReplacedInPlace()
    {
        const QString folder = FDir.filePath("BEXO");
        QVERIFY(QDir().mkpath(folder));
        const QString path = QDir::toNativeSeparators(folder + "/config.ini");
        const QByteArray before = "; kept\r\n[main]\r\nwidth=10\r\n[other]\r\nx=1\r\n";
        {
            QFile file(path);
            QVERIFY(file.open(QIODevice::WriteOnly));
            file.write(before);
        }
        TkvdIniFile ini(path);
        QCOMPARE(ini.ReadString("main", "width", ""), QStringLiteral("10"));
        QVERIFY(ini.WriteString("main", "width", "640"));
        QVERIFY(ini.WriteString("main", "height", "480"));
        QFile file(path);
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QByteArray after = file.readAll();
        QVERIFY2(after.startsWith("; kept\r\n[main]\r\nwidth=640\r\n"), after.constData());
        QVERIFY2(after.contains("height=480"), after.constData());
        QVERIFY2(after.contains("[other]\r\nx=1\r\n"), after.constData());
        QCOMPARE(TkvdIniFile(path).ReadString("main", "height", ""), QStringLiteral("480"));
    }

    // A file marked read-only is left as it is and the write reports it.
    void readOnlyIniFileIsKept()
    {
        const QString path = QDir::toNativeSeparators(FDir.filePath("ro.ini"));
        {
            QFile file(path);
            QVERIFY(file.open(QIODevice::WriteOnly));
            file.write("[main]\r\nwidth=10\r\n");
        }
        QVERIFY(::SetFileAttributesW(path.toStdWString().c_str(), FILE_ATTRIBUTE_READONLY));
        TkvdIniFile ini(path);
        const bool written = ini.WriteString("main", "width", "640");
        ::SetFileAttributesW(path.toStdWString().c_str(), FILE_ATTRIBUTE_NORMAL);
        QVERIFY(!written);
        QVERIFY(!ini.WriteProblem().isEmpty());
        QCOMPARE(TkvdIniFile(path).ReadString("main", "width", ""), QStringLiteral("10"));
    }
};

QTEST_GUILESS_MAIN(TestPlatformWin)
#include "test_platform_win.moc"
